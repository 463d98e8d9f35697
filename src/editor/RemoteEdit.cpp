#include "editor/RemoteEdit.h"

#include "common/CancelFlag.h"
#include "common/FileListRows.h"
#include "common/FileSystemError.h"
#include "common/ProgressSink.h"
#include "remote/ServerSession.h"
#include "transfer/BatchHost.h"
#include "transfer/RemoteReplace.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"

#include "fileapi.h"
#include "lasterror.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString folderOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// Removes the temporary copy when the opening does not get as far as the editor.
class TemporaryCopy
{
public:
    explicit TemporaryCopy(QString path) : m_path(std::move(path)) {}
    ~TemporaryCopy()
    {
        if (!m_path.isEmpty())
            RemoveTemporaryCopy(m_path);
    }
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    QString release() { return std::exchange(m_path, QString()); }

private:
    QString m_path;
};

class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    // Closes now; a failing close can be the first report of a write the disk refused.
    bool close() { return ::close(std::exchange(m_fd, -1)) == 0 || errno == EINTR; }

private:
    int m_fd;
};

void writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    auto left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t put = ::write(fd, data, left);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            throw FileSystemError(errno);
        data += put;
        left -= static_cast<size_t>(put);
    }
}

// The permissions a replaced file keeps; a new file gets the ordinary ones.
mode_t modeFor(const QByteArray& target)
{
    struct stat info
    {};
    if (::lstat(target.constData(), &info) == 0 && S_ISREG(info.st_mode))
        return info.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}
} // namespace

QString TooLargeToEditText(const QString& name, qint64 size)
{
    return QStringLiteral("\"%1\" is %2 bytes long. The editor opens files of up to %3 MiB; "
                          "download the file to work with it.")
        .arg(name)
        .arg(size)
        .arg(kEditorMaxBytes / (1024 * 1024));
}

namespace {
// The entry of `name` in a listing of the current remote directory, for a server without SIZE
// or MDTM: its size and time at whatever precision the listing gives.
void ListedVersion(TransferHost& host, const QByteArray& name, RemoteVersion& version)
{
    ServerSession& session = host.session();
    RemoteListing listing;
    session.list(session.knownFolder(), listing);
    for (const RemoteEntry& entry : listing.entries) {
        if (entry.serverName != name)
            continue;
        if (version.size < 0)
            version.size = entry.size;
        if (version.time.isEmpty())
            version.time = "listed " + QByteArray::number(entry.modifiedTime);
        break;
    }
}
} // namespace

RemoteVersion AskRemoteVersion(TransferHost& host, const QByteArray& name)
{
    ServerSession& session = host.session();
    const QByteArray path = RemotePath::here(session, name);
    RemoteVersion version;
    RemoteEntry entry;
    const RemoteResult sized = session.stat(path, entry);
    if (sized)
        version.size = entry.size;
    const RemoteResult timed = session.statTime(path, entry);
    if (timed)
        version.time = QByteArray::number(entry.modifiedTime);
    if (sized.failure == RemoteFailure::Unsupported || timed.failure == RemoteFailure::Unsupported)
        ListedVersion(host, name, version);
    return version;
}

QString ChangedOnServerText(const QByteArray& name)
{
    return QStringLiteral("\"%1\" was changed on the server after you opened it. Saving "
                          "replaces those changes with your text.\n\nOverwrite \"%1\" on the "
                          "server? Choose No to keep the server's file; your text stays here.")
        .arg(ServerNameText(name));
}

QString NotSavedText(const QByteArray& name, const QString& tempPath)
{
    return QStringLiteral("\"%1\" was not replaced on the server by your text. Your text is "
                          "still in the editor and in \"%2\".")
        .arg(ServerNameText(name), tempPath);
}

std::optional<QString> FetchForEditing(BatchHost& outerHost, const FileListRow& row,
                                       RemoteVersion* opened)
{
    if (row.size > kEditorMaxBytes) {
        outerHost.warn(TooLargeToEditText(row.name, row.size));
        return std::nullopt;
    }
    // The copy and the download stay in the folder that was current when Open was chosen.
    FixedFolderHost host(outerHost, outerHost.localFolder());
    const QString folder = host.localFolder();
    char buffer[kTempFileNameBytes];
    if (GetTempFileNameA(QFile::encodeName(folder).constData(), "zul", 0, buffer) == 0) {
        host.showFileError(
            QStringLiteral("No temporary copy of \"%1\" could be created in \"%2\".  (%3)")
                .arg(row.name, folder)
                .arg(GetLastError()));
        return std::nullopt;
    }
    TemporaryCopy copy(QFile::decodeName(buffer));
    const QString tempName = FileNamePart(QFile::decodeName(buffer));
    host.progress().SetProgressPosition(0);
    host.progress().ShowProgress(QStringLiteral("Retrieving ") + row.name,
                                 QStringLiteral("Retrieving"), true, true);
    bool fetched = false;
    try {
        fetched =
            // What arrived of a failed or cancelled copy is of no use to anyone.
            DownloadFile(host, row.serverName(), tempName, row.size, TransferMode::Binary,
                         PartialData::Discard) &&
            !CancelRequested;
    } catch (const FileSystemError& error) {
        host.progress().CloseProgress();
        host.showFileError(error.text());
        return std::nullopt;
    }
    host.progress().CloseProgress();
    // A copy that is not the whole file must not reach the editor: saving it would replace
    // the server's file with the part that arrived.
    if (!fetched)
        return std::nullopt;
    // The listing may have understated the size.
    const qint64 size = QFile(QFile::decodeName(buffer)).size();
    if (size > kEditorMaxBytes) {
        host.warn(TooLargeToEditText(row.name, size));
        return std::nullopt;
    }
    if (opened)
        *opened = AskRemoteVersion(host, row.serverName());
    return copy.release();
}

RemoteSave StoreOnServer(BatchHost& host, const QString& tempPath, const QByteArray& remoteName,
                         const QByteArray& bytes, RemoteVersion& opened)
{
    ReplaceLocalFile(tempPath, bytes);
    // Someone else's changes made while the file was open would be lost without a word. A
    // file that is gone from the server is no one's changes to lose.
    const RemoteVersion now = AskRemoteVersion(host, remoteName);
    if (now != opened && now.size >= 0 && !host.askYesNo(ChangedOnServerText(remoteName)))
        return RemoteSave::Cancelled;
    // The copy goes up under a name of its own beside the edited file, which keeps its name.
    const QByteArray temporaryName = TemporaryRemoteName(remoteName);
    const bool uploaded =
        UploadReplacing(host, tempPath, remoteName, temporaryName, TransferMode::Binary);
    if (uploaded && !CancelRequested) {
        opened = AskRemoteVersion(host, remoteName);
        return RemoteSave::Stored;
    }
    if (uploaded)
        return RemoteSave::Cancelled;
    host.warn(NotSavedText(remoteName, tempPath));
    return RemoteSave::Failed;
}

void ReplaceLocalFile(const QString& path, const QByteArray& bytes)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray pattern = QFile::encodeName(folderOf(path)) + "/.zulftp-save-XXXXXX";
    Descriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
    if (file.get() < 0)
        throw FileSystemError(errno);
    try {
        writeAll(file.get(), bytes);
        if (::fchmod(file.get(), modeFor(target)) != 0 || !file.close())
            throw FileSystemError(errno);
        if (::rename(pattern.constData(), target.constData()) != 0)
            throw FileSystemError(errno);
    } catch (const FileSystemError&) {
        ::unlink(pattern.constData());
        throw;
    }
}

bool RemoveTemporaryCopy(const QString& tempPath)
{
    const QByteArray path = QFile::encodeName(tempPath);
    return DeleteFileA(path.constData()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}
