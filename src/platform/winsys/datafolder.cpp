#include "datafolder.h"

#include "lasterror.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<DWORD> lockWaitMs{kDefaultFolderLockWaitMs};
// Between two tries for a busy lock: short against a write that takes milliseconds.
constexpr auto kLockRetryInterval = std::chrono::milliseconds(20);

// Owns a file descriptor.
class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now, reporting whether the last buffered writes reached the file.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

std::string withTrailingSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// mkdir -p, private to the owner: the folder holds passwords.
bool makeFolders(const std::string& folder)
{
    std::string partial;
    for (size_t i = 0; i < folder.size(); ++i) {
        partial += folder[i];
        const bool atEnd = i + 1 == folder.size();
        if ((folder[i] == '/' || atEnd) && partial != "/") {
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st = {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string configHomeFolder()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // The base directory specification says a relative path is to be ignored.
    if (xdg && xdg[0] == '/')
        return withTrailingSlash(xdg) + "zulftp/";
    const char* home = std::getenv("HOME");
    return withTrailingSlash(home && home[0] ? home : "/tmp") + ".config/zulftp/";
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// Follows a symbolic link at `path` so that a replace writes the link's target.
std::string resolvedTarget(const std::string& path)
{
    char buffer[PATH_MAX];
    std::string current = path;
    for (int hops = 0; hops < 16; ++hops) {
        const ssize_t n = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
        if (n < 0)
            return current;
        std::string target(buffer, static_cast<size_t>(n));
        current = target.front() == '/' ? target : folderOf(current) + target;
    }
    return current;
}

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

BOOL failWithErrno()
{
    SetLastError(Win32ErrorFromErrno(errno));
    return FALSE;
}

} // namespace

std::string GetExecutableFolder()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return "./";
    return folderOf(std::string(buffer, static_cast<size_t>(n)));
}

namespace {

// <prefix>/share/zulftp/ seen from <prefix>/bin/, as the build's install rules lay it out.
#ifndef ZUL_INSTALLED_FILES_FROM_BIN
#define ZUL_INSTALLED_FILES_FROM_BIN "../share/zulftp/"
#endif

// The installed copy's shared-files folder beside `exeFolder`, or empty when there is none.
std::string installedFilesFolder(const std::string& exeFolder)
{
    char resolved[PATH_MAX];
    const std::string share = exeFolder + ZUL_INSTALLED_FILES_FROM_BIN;
    if (!::realpath(share.c_str(), resolved))
        return {};
    struct stat st = {};
    if (::stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode))
        return {};
    return withTrailingSlash(resolved);
}

} // namespace

bool IsInstalledCopy()
{
    return !installedFilesFolder(GetExecutableFolder()).empty();
}

std::string GetProgramFilesFolder()
{
    const std::string exeFolder = GetExecutableFolder();
    const std::string share = installedFilesFolder(exeFolder);
    return share.empty() ? exeFolder : share;
}

std::string GetDataFolder()
{
    const char* home = std::getenv("ZULFTP_HOME");
    if (home && home[0]) {
        const std::string folder = withTrailingSlash(home);
        makeFolders(folder);
        return folder;
    }
    const std::string exeFolder = GetExecutableFolder();
    if (installedFilesFolder(exeFolder).empty() && ::access(exeFolder.c_str(), W_OK) == 0)
        return exeFolder;
    const std::string folder = configHomeFolder();
    makeFolders(folder);
    return folder;
}

BOOL ReplaceFileContents(const std::string& path, std::string_view contents)
{
    const std::string target = resolvedTarget(path);
    const std::string folder = folderOf(target);
    // Renaming over a file needs only the folder's permission; a file its owner made
    // read-only must still refuse to change.
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0)
        return failWithErrno();

    std::string temp = target + ".XXXXXX";
    Fd fd(::mkstemp(temp.data()));
    if (fd.get() < 0)
        return failWithErrno();
    // Owner only, also when an older file was readable by others: a password is written into
    // it. mkstemp's 0600 is set again in case the process umask is unusual.
    const bool written = ::fchmod(fd.get(), S_IRUSR | S_IWUSR) == 0 &&
                         writeAll(fd.get(), contents) && ::fsync(fd.get()) == 0;
    if (!written || !fd.close() || ::rename(temp.c_str(), target.c_str()) != 0) {
        const int savedErrno = errno;
        ::unlink(temp.c_str());
        errno = savedErrno;
        return failWithErrno();
    }
    // The rename itself is only durable once the folder entry is on disk.
    Fd dirFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0)
        ::fsync(dirFd.get());
    return TRUE;
}

FolderWriteLock::FolderWriteLock(const std::string& filePath)
{
    const std::string folder = folderOf(resolvedTarget(filePath));
    m_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(lockWaitMs.load());
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kLockRetryInterval);
            continue;
        }
        SetLastError(ERROR_LOCK_VIOLATION);
        ::close(m_fd);
        m_fd = -1;
        return;
    }
}

DWORD folderLockWaitMs()
{
    return lockWaitMs.load();
}

void setFolderLockWaitMs(DWORD milliseconds)
{
    lockWaitMs.store(milliseconds);
}

FolderWriteLock::~FolderWriteLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing the descriptor releases the lock
}

BOOL ReadWholeFile(const std::string& path, std::string& contents)
{
    contents.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return failWithErrno();
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failWithErrno();
        if (n == 0)
            return TRUE;
        contents.append(buffer, static_cast<size_t>(n));
    }
}
