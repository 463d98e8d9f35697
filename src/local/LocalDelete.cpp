#include "local/LocalDelete.h"

#include "common/FileSystemError.h"
#include "local/PosixDir.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Lets the owner read, enter and change a folder whose permissions would stop the delete;
// a folder of someone else is left as it is and its delete fails as it should.
void makeOwnedFolderWritable(int fd, const struct stat& st)
{
    const mode_t needed = S_IRUSR | S_IWUSR | S_IXUSR;
    if ((st.st_mode & needed) != needed && st.st_uid == geteuid())
        (void)fchmod(fd, (st.st_mode & 07777) | needed);
}

void emptyFolder(int dirFd, dev_t device);

// Removes the subfolder `name` of `parentFd` and returns the errno of a failed removal.
// A failure below it ends the work at this level too, as the enclosing levels would: the
// folder is still tried, and its own failure is the one passed on.
int removeSubfolder(int parentFd, const char* name, dev_t device)
{
    std::optional<int> deeper;
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st = {};
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_dev == device) {
        makeOwnedFolderWritable(fd, st);
        try {
            emptyFolder(fd, device); // takes over fd
        } catch (const FileSystemError& e) {
            deeper = e.code();
        }
    } else if (fd >= 0) {
        ::close(fd); // another file system is mounted here: its files are not ours to delete
    }
    if (unlinkat(parentFd, name, AT_REMOVEDIR) != 0)
        return errno;
    return deeper.value_or(0);
}

// Deletes every entry of the folder open as `dirFd` (taken over and closed here).
void emptyFolder(int dirFd, dev_t device)
{
    PosixDir dir = PosixDir::fromFd(dirFd);
    if (!dir)
        return; // nothing to enumerate: the folder's own removal decides
    while (const dirent* entry = dir.next()) {
        if (isDotOrDotDot(entry->d_name))
            continue;
        struct stat st = {};
        if (fstatat(dir.fd(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            if (const int err = removeSubfolder(dir.fd(), entry->d_name, device))
                throw FileSystemError(err);
        } else {
            (void)unlinkat(dir.fd(), entry->d_name, 0);
        }
    }
}

} // namespace

int deleteLocalFile(const QString& path)
{
    return ::unlink(QFile::encodeName(path).constData()) == 0 ? 0 : errno;
}

void DeleteLocalFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st = {};
    if (lstat(native.constData(), &st) != 0)
        throw FileSystemError(errno);
    if (S_ISLNK(st.st_mode)) {
        // A link listed as a folder: the link goes, what it points to stays.
        if (::unlink(native.constData()) != 0)
            throw FileSystemError(errno);
        return;
    }
    std::optional<int> deeper;
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        makeOwnedFolderWritable(fd, st);
        try {
            emptyFolder(fd, st.st_dev);
        } catch (const FileSystemError& e) {
            deeper = e.code();
        }
    }
    if (::rmdir(native.constData()) != 0)
        throw FileSystemError(errno);
    if (deeper)
        throw FileSystemError(*deeper);
}
