#include "ftp/RemoteDelete.h"

#include "common/OperationLock.h"
#include "common/ProgressSink.h"
#include "common/Prompter.h"
#include "ftp/DeleteQuestion.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteHost.h"
#include "ftp/RemoteListing.h"
#include "remote/FtpServerSession.h"
#include "wininet.h"

#include <cstring>
#include <memory>

namespace {

HINTERNET connection()
{
    return FtpConnectionHandle(FtpConnection.session());
}

// A refusal in the server's own words (a 4xx or 5xx reply) leaves the connection usable;
// anything else (time-out, dropped connection, a name the service won't send) does not
// promise that the next command reaches the server.
bool serverRefused(const FtpFailure& failure)
{
    return failure.code == ERROR_INTERNET_EXTENDED_ERROR;
}

std::optional<QByteArray> currentDirectory()
{
    char buffer[4096] = {};
    DWORD length = sizeof buffer;
    if (!FtpGetCurrentDirectoryA(connection(), buffer, &length))
        return std::nullopt;
    return QByteArray(buffer, static_cast<qsizetype>(::strnlen(buffer, sizeof buffer)));
}

} // namespace

bool RemoteDeleter::DeleteRemoteFile(const QByteArray& name)
{
    if (FtpDeleteFileA(connection(), name.constData()))
        return true;
    m_failure = LastFtpFailure();
    return false;
}

bool RemoteDeleter::DeleteRemoteFolder(const QByteArray& name)
{
    m_firstFailure.reset();
    m_stopped = false;
    m_lost = false;
    if (!m_start)
        m_start = currentDirectory().value_or(QByteArray());
    m_walk.emplace(connection(), *m_start);
    const bool gone = deleteFolderAt(name);
    if (m_lost)
        returnToStart();
    if (!gone)
        m_failure = m_firstFailure.value_or(FtpFailure{});
    return gone;
}

void RemoteDeleter::noteFailure(const FtpFailure& failure)
{
    if (!m_firstFailure)
        m_firstFailure = failure;
    if (!serverRefused(failure))
        m_stopped = true;
}

bool RemoteDeleter::deleteFolderAt(const QByteArray& name)
{
    // Some servers list a link to a folder as the folder it points to (MLSD's "type" fact
    // follows links). Deleting the name as a file removes a link and nothing else, and
    // servers refuse it for a real folder; so it goes first, and a delete never walks
    // through a link into a folder elsewhere on the server.
    if (FtpDeleteFileA(connection(), name.constData()))
        return true;
    if (const FtpFailure probe = LastFtpFailure(); !serverRefused(probe)) {
        noteFailure(probe);
        return false;
    }
    switch (m_walk->enter(name)) {
    case RemoteTreeWalk::Step::Entered:
        break;
    case RemoteTreeWalk::Step::PassedOver:
        // Left as it is, and named in the report; the folder around it stays too.
        return false;
    case RemoteTreeWalk::Step::Lost:
        noteFailure();
        m_lost = true;
        return false;
    case RemoteTreeWalk::Step::Refused:
        noteFailure();
        return false;
    }
    const std::optional<FtpFailure> failureBefore = m_firstFailure;
    // Each entry is tried once from one listing: listing again after every subfolder would
    // find a subfolder the server refused to remove, and try it for ever.
    const qsizetype passedOverBefore = m_walk->passedOver().size();
    std::vector<Entry> entries;
    if (readEntries(entries))
        deleteEntries(entries);
    if (!leaveFolder() || m_stopped)
        return false;
    // Something inside was left alone on purpose: some servers remove a folder with whatever
    // it still holds, so the folder is not even asked to go.
    if (m_walk->passedOver().size() > passedOverBefore)
        return false;
    if (!FtpRemoveDirectoryA(connection(), name.constData())) {
        noteFailure();
        return false;
    }
    // Gone after all (an entry that could not be deleted had vanished by itself): what went
    // wrong inside no longer explains anything.
    m_firstFailure = failureBefore;
    return true;
}

bool RemoteDeleter::readEntries(std::vector<Entry>& entries)
{
    ServerSession& session = FtpConnection.session();
    RemoteListing listing;
    const RemoteResult listed =
        session.list(session.knownFolder(), listing, ListPurpose::Walk, [&](RemoteEntry&& entry) {
            // "." and ".." name this folder and its parent: entering either would delete far
            // more than the folder the user chose.
            if (entry.serverName != "." && entry.serverName != "..")
                entries.push_back(Entry{std::move(entry.serverName), entry.isFolder, entry.isLink});
        });
    if (listed)
        return true;
    // A listing cut short is no basis for deleting: the folder stays as it is.
    noteFailure();
    return false;
}

void RemoteDeleter::deleteEntries(const std::vector<Entry>& entries)
{
    for (const Entry& entry : entries) {
        if (m_stopped || m_lost)
            return;
        if (entry.link)
            deleteLink(entry.name);
        else if (entry.folder)
            deleteFolderAt(entry.name);
        else if (!FtpDeleteFileA(connection(), entry.name.constData()))
            noteFailure(); // the folder's removal will fail too and report the folder
        m_host.processEvents(true);
    }
}

void RemoteDeleter::deleteLink(const QByteArray& name)
{
    // DELE removes the link itself wherever it points; a link that stays is never entered.
    if (FtpDeleteFileA(connection(), name.constData()))
        return;
    noteFailure();
    m_walk->passOver(name, QStringLiteral("a link the server would not delete; it was not "
                                          "followed"));
}

bool RemoteDeleter::leaveFolder()
{
    if (m_lost)
        return false;
    if (FtpSetCurrentDirectoryA(connection(), "..")) {
        m_walk->left();
        return true;
    }
    // Every later name would be taken as one of this folder's: nothing more is sent from
    // here but the way back to the start.
    noteFailure();
    m_lost = true;
    return false;
}

void RemoteDeleter::returnToStart()
{
    if (!m_start->isEmpty() && FtpSetCurrentDirectoryA(connection(), m_start->constData()))
        m_lost = false;
}

void RemoteDeleteSelection(RemoteHost& host, const std::vector<FileListRow>& selectedRows)
{
    if (OperationRunning())
        return;
    Prompter& prompter = host.prompter();
    if (selectedRows.empty()) {
        prompter.messageBeep(MB_ICONEXCLAMATION);
        prompter.message(QStringLiteral("Warning"), QStringLiteral("No files were selected."),
                         MessageIcon::Warning);
        return;
    }
    prompter.messageBeep(MB_ICONQUESTION);
    const QString question = DeleteQuestionText(QStringLiteral("Remote Files"), selectedRows);
    const QString caption = QString::fromLatin1(kAppTitle);
    if (!(DeleteTakesFolder(selectedRows) ? prompter.askYesNoDefaultNo(caption, question)
                                          : prompter.askYesNo(caption, question)))
        return;

    const OperationLock lock;
    host.setCursor(RemoteHost::Cursor::Hourglass);
    host.progress().SetProgressPosition(0);
    RemoteDeleter deleter(host);
    const auto total = static_cast<qint64>(selectedRows.size());
    qint64 count = 0;
    for (const FileListRow& row : selectedRows) {
        host.progress().ShowProgress(QStringLiteral("Deleting ") + row.name,
                                     QStringLiteral("Deleting"), true, false);
        const QByteArray name = row.serverName();
        const bool deleted =
            row.isFolder() ? deleter.DeleteRemoteFolder(name) : deleter.DeleteRemoteFile(name);
        if (!deleted) {
            // Rows deleted before this one stay in the list until the next listing.
            if (const QString left = deleter.passedOver(); !left.isEmpty()) {
                host.progress().CloseProgress();
                host.setCursor(RemoteHost::Cursor::Default);
                prompter.message(QString::fromLatin1(kAppTitle),
                                 QString::fromLatin1(kFolderLeftText).arg(row.name, left),
                                 MessageIcon::Warning);
            } else {
                ReportFtpError(host, QString::fromLatin1(kDeleteFailedText), deleter.failure());
            }
            // Stranded in a folder of the tree: the list and header must show where the
            // server now is, or the next upload would land somewhere the user can't see.
            if (deleter.lost() && FtpConnection.Connected)
                ListRemoteFiles(host);
            return;
        }
        ++count;
        host.progress().UpdateProgress(static_cast<int>(count * 100 / total), 0, 0, 0);
        host.processEvents(true);
    }
    ListRemoteFiles(host);
    host.setCursor(RemoteHost::Cursor::Default);
}
