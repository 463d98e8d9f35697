#include "ftp/RemoteDelete.h"

#include "common/OperationLock.h"
#include "common/ProgressSink.h"
#include "common/Prompter.h"
#include "ftp/DeleteQuestion.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteHost.h"
#include "ftp/RemoteListing.h"
#include "remote/ServerSession.h"

#include <memory>

namespace {

// A refusal in the server's own words (a 4xx or 5xx reply) leaves the connection usable;
// anything else (time-out, dropped connection, a name the service won't send) does not
// promise that the next command reaches the server.
bool serverRefused(const RemoteResult& failure)
{
    return failure.failure == RemoteFailure::Refused;
}

FtpFailure failureOf(const RemoteResult& result)
{
    return FtpFailure{result.code, result.reply};
}

} // namespace

QByteArray RemoteDeleter::path(const QByteArray& name) const
{
    return RemotePath::here(m_session, name);
}

bool RemoteDeleter::DeleteRemoteFile(const QByteArray& name)
{
    const RemoteResult deleted = m_session.removeFile(path(name));
    if (deleted)
        return true;
    m_failure = failureOf(deleted);
    return false;
}

bool RemoteDeleter::DeleteRemoteFolder(const QByteArray& name)
{
    m_firstFailure.reset();
    m_stopped = false;
    m_lost = false;
    if (!m_start) {
        QByteArray start;
        m_start = m_session.currentFolder(start) ? start : QByteArray();
    }
    m_walk.emplace(m_session, *m_start);
    const bool gone = deleteFolderAt(name);
    if (m_lost)
        returnToStart();
    if (!gone)
        m_failure = m_firstFailure.value_or(FtpFailure{});
    return gone;
}

void RemoteDeleter::noteFailure(const RemoteResult& failure)
{
    if (!m_firstFailure)
        m_firstFailure = failureOf(failure);
    if (!serverRefused(failure))
        m_stopped = true;
}

bool RemoteDeleter::deleteFolderAt(const QByteArray& name)
{
    // Some servers list a link to a folder as the folder it points to (MLSD's "type" fact
    // follows links). Deleting the name as a file removes a link and nothing else, and
    // servers refuse it for a real folder; so it goes first, and a delete never walks
    // through a link into a folder elsewhere on the server.
    const RemoteResult probe = m_session.removeFile(path(name));
    if (probe)
        return true;
    if (!serverRefused(probe)) {
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
        noteFailure(m_walk->failure());
        m_lost = true;
        return false;
    case RemoteTreeWalk::Step::Refused:
        noteFailure(m_walk->failure());
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
    if (const RemoteResult removed = m_session.removeFolder(path(name)); !removed) {
        noteFailure(removed);
        return false;
    }
    // Gone after all (an entry that could not be deleted had vanished by itself): what went
    // wrong inside no longer explains anything.
    m_firstFailure = failureBefore;
    return true;
}

bool RemoteDeleter::readEntries(std::vector<Entry>& entries)
{
    RemoteListing listing;
    const RemoteResult listed = m_session.list(
        m_session.knownFolder(), listing, ListPurpose::Walk, [&](RemoteEntry&& entry) {
            // "." and ".." name this folder and its parent: entering either would delete far
            // more than the folder the user chose.
            if (entry.serverName != "." && entry.serverName != "..")
                entries.push_back(Entry{std::move(entry.serverName), entry.isFolder, entry.isLink});
        });
    if (listed)
        return true;
    // A listing cut short is no basis for deleting: the folder stays as it is.
    noteFailure(listed);
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
        else if (const RemoteResult deleted = m_session.removeFile(path(entry.name)); !deleted)
            noteFailure(deleted); // the folder's removal will fail too and report the folder
        m_host.processEvents(true);
    }
}

void RemoteDeleter::deleteLink(const QByteArray& name)
{
    // DELE removes the link itself wherever it points; a link that stays is never entered.
    const RemoteResult deleted = m_session.removeFile(path(name));
    if (deleted)
        return;
    noteFailure(deleted);
    m_walk->passOver(name, QStringLiteral("a link the server would not delete; it was not "
                                          "followed"));
}

bool RemoteDeleter::leaveFolder()
{
    if (m_lost)
        return false;
    if (m_walk->leave())
        return true;
    // Every later name would be taken as one of this folder's: nothing more is sent from
    // here but the way back to the start.
    noteFailure(m_walk->failure());
    m_lost = true;
    return false;
}

void RemoteDeleter::returnToStart()
{
    if (!m_start->isEmpty() && m_session.changeFolder(*m_start))
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
    RemoteDeleter deleter(host, FtpConnection.session());
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
