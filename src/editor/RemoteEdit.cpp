#include "editor/RemoteEdit.h"

#include "local/FileSystemError.h"
#include "transfer/BatchHost.h"
#include "transfer/CancelFlag.h"
#include "transfer/ProgressSink.h"
#include "transfer/RemoteReplace.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"

#include "fileapi.h"
#include "lasterror.h"
#include "wininet.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
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

std::optional<QString> FetchForEditing(BatchHost& outerHost, const FileListRow& row)
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
            DownloadFile(host, row.serverName(), tempName, row.size, FTP_TRANSFER_TYPE_BINARY,
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
    return copy.release();
}

bool StoreOnServer(BatchHost& host, const QString& tempPath, const QByteArray& remoteName,
                   const QByteArray& bytes)
{
    ReplaceLocalFile(tempPath, bytes);
    // The copy goes up under the temporary copy's own name, lower-cased as every upload is
    // when the user asks for it; the edited file keeps the name it has. Should the folder
    // already hold a file of that name, a name of its own keeps that file from being replaced.
    QByteArray temporaryName = RemoteNameFor(tempPath, host.lowerCaseUpload()).toUtf8();
    RemoteFolderNames names(host.connectionHandle());
    if (names.mayExist(temporaryName))
        temporaryName = TemporaryRemoteName(remoteName);
    // Delete first, then rename: a server that refuses to rename over a file still gets the
    // text in place, and one where the file is gone already (deleted by someone else) too.
    return UploadReplacing(host, tempPath, remoteName, temporaryName, PutInPlace::DeleteThenRename,
                           FTP_TRANSFER_TYPE_BINARY) &&
           !CancelRequested;
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
