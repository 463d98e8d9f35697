#include "transfer/RemoteReplace.h"

#include "common/CancelFlag.h"
#include "common/FileListRows.h"
#include "common/FileSystemError.h"
#include "remote/ServerSession.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferHost.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cstring>

namespace {
constexpr char kTemporaryEnding[] = ".zulftp-upload";

// What most server file systems allow for one name, in bytes.
constexpr qsizetype kRemoteNameMax = 255;

QByteArray FoldedName(const QByteArray& name)
{
    return name.toLower(); // ASCII letters only, as a case-blind server compares them
}

QString Shown(const QByteArray& name)
{
    return ServerNameText(name); // the server's bytes as the file list shows them
}

// The target written straight from the local file, for a server that will not rename. Only
// after the server confirmed that write does the whole copy go: until then one of the two
// always holds the whole file.
bool WriteDirectly(TransferHost& host, LocalFileReader& source, const QByteArray& temporaryName,
                   const QByteArray& targetName, TransferMode mode)
{
    UploadOutcome outcome = UploadOutcome::Failed;
    try {
        source.skipTo(0);
        outcome = SendFrom(host, source, targetName, mode, 0);
    } catch (const FileSystemError&) {
        host.warn(DirectWriteBrokeText(targetName, temporaryName));
        throw;
    }
    switch (outcome) {
    case UploadOutcome::Stored:
        RemovePartialCopy(host, temporaryName);
        return true;
    case UploadOutcome::Refused:
    case UploadOutcome::CannotResume:
        host.warn(NotReplacedText(targetName, temporaryName));
        return false;
    case UploadOutcome::Cancelled:
        host.warn(DirectWriteBrokeText(targetName, temporaryName));
        return true;
    case UploadOutcome::Failed:
        break;
    }
    host.warn(DirectWriteBrokeText(targetName, temporaryName));
    return false;
}
} // namespace

QString NotReplacedText(const QByteArray& targetName, const QByteArray& temporaryName)
{
    return QStringLiteral("\"%1\" was not replaced on the server. The whole new copy is there "
                          "as \"%2\".")
        .arg(Shown(targetName), Shown(temporaryName));
}

QString DirectWriteBrokeText(const QByteArray& targetName, const QByteArray& temporaryName)
{
    return QStringLiteral("The server would not rename the new copy over \"%1\", and writing "
                          "\"%1\" directly stopped early, so it may hold only part of the new "
                          "data. The whole new copy is on the server as \"%2\".")
        .arg(Shown(targetName), Shown(temporaryName));
}

void RemovePartialCopy(TransferHost& host, const QByteArray& temporaryName)
{
    ServerSession& session = host.session();
    session.removeFile(RemotePath::here(session, temporaryName));
}

bool PutCopyInPlace(TransferHost& host, LocalFileReader& source, const QByteArray& temporaryName,
                    const QByteArray& targetName, TransferMode mode)
{
    ServerSession& session = host.session();
    const RemoteResult renamed = session.rename(RemotePath::here(session, temporaryName),
                                                RemotePath::here(session, targetName));
    if (renamed)
        return true;
    // A refusal ("550 Permission denied." where the user may write but not rename, "553 File
    // exists." where a rename never goes over a file) leaves the connection usable. Deleting
    // the target first would leave its name without any file should the next step fail.
    if (renamed.failure == RemoteFailure::Refused)
        return WriteDirectly(host, source, temporaryName, targetName, mode);
    // The report of a lost connection says only that; what is where is said on its own.
    host.reportFtpError(QStringLiteral("FTP Rename Failed."), renamed);
    host.warn(NotReplacedText(targetName, temporaryName));
    return false;
}

QByteArray TemporaryRemoteName(const QByteArray& targetName)
{
    const QByteArray ending =
        "." +
        QByteArray::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0') +
        kTemporaryEnding;
    QByteArray stem = targetName.left(std::max<qsizetype>(0, kRemoteNameMax - ending.size()));
    // Cut at a character's start, so a UTF-8 name keeps whole characters.
    if (stem.size() < targetName.size()) {
        while (!stem.isEmpty() && (uchar(targetName[stem.size()]) & 0xC0) == 0x80)
            stem.chop(1);
    }
    return stem + ending;
}

bool IsTemporaryRemoteNameOf(const QByteArray& name, const QByteArray& targetName)
{
    // "." + 8 hexadecimal digits + the ending, after a non-empty start of the target's name.
    const qsizetype tail = 9 + qsizetype(sizeof kTemporaryEnding) - 1;
    if (name.size() <= tail || name.size() > std::max(kRemoteNameMax, targetName.size() + tail) ||
        !name.endsWith(kTemporaryEnding))
        return false;
    const qsizetype stem = name.size() - tail;
    if (name[stem] != '.' || !targetName.startsWith(name.first(stem)))
        return false;
    const QByteArray digits = name.sliced(stem + 1, 8);
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool UploadReplacing(TransferHost& host, const LocalSource& localFile, const QByteArray& targetName,
                     const QByteArray& temporaryName, TransferMode mode)
{
    if (CancelRequested)
        return true;
    LocalFileReader source(localFile);
    return UploadReplacing(host, source, targetName, temporaryName, mode);
}

bool UploadReplacing(TransferHost& host, LocalFileReader& source, const QByteArray& targetName,
                     const QByteArray& temporaryName, TransferMode mode)
{
    if (CancelRequested)
        return true;
    UploadOutcome outcome = UploadOutcome::Failed;
    try {
        outcome = SendFrom(host, source, temporaryName, mode, 0);
    } catch (const FileSystemError&) {
        RemovePartialCopy(host, temporaryName);
        throw;
    }
    if (outcome != UploadOutcome::Stored) {
        RemovePartialCopy(host, temporaryName);
        return outcome == UploadOutcome::Cancelled;
    }
    return PutCopyInPlace(host, source, temporaryName, targetName, mode);
}

RemoteFolderNames::RemoteFolderNames(ServerSession* session)
    : m_session(session), m_state(State::NotRead)
{}

RemoteFolderNames RemoteFolderNames::emptyFolder()
{
    RemoteFolderNames names(nullptr);
    names.m_state = State::Known;
    return names;
}

bool RemoteFolderNames::mayExist(const QByteArray& bytes)
{
    if (m_state == State::NotRead)
        read();
    // A listing entry holds at most MAX_PATH - 1 bytes of a name, so a longer one cannot be
    // told apart from another that begins the same way.
    if (m_state == State::Unknown || bytes.size() >= qsizetype(MAX_PATH) - 1)
        return true;
    return m_names.contains(FoldedName(bytes));
}

void RemoteFolderNames::add(const QByteArray& name)
{
    m_names.insert(FoldedName(name));
}

std::optional<QByteArray> RemoteFolderNames::directory(ServerSession& session)
{
    if (!m_directory) {
        QByteArray path;
        if (session.currentFolder(path))
            m_directory.emplace(path);
        else
            m_directory.emplace(std::nullopt);
    }
    return *m_directory;
}

void RemoteFolderNames::read()
{
    m_state = State::Unknown;
    RemoteListing listing;
    const RemoteResult listed =
        m_session->list(m_session->knownFolder(), listing, ListPurpose::Show,
                        [&](RemoteEntry&& entry) { m_names.insert(FoldedName(entry.serverName)); });
    // A listing with lines that were not understood (a form we do not know, an error text in
    // place of an entry) may lack any name at all, so it proves no name free.
    if (listed && listing.unknownLines == 0)
        m_state = State::Known;
}
