#include "transfer/LocalFile.h"

#include "common/FileSystemError.h"
#include "transfer/TransferNames.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {
// Large enough that reading or writing the disk costs a small share of a transfer; small
// enough that memory stays flat whatever the file size.
constexpr size_t kChunkBytes = 256 * 1024;

[[noreturn]] void throwErrno()
{
    throw FileSystemError(errno);
}

// 0666 less the process's umask: the mode a newly made file gets. Read from the kernel's
// status file, because umask() tells the mask only by changing it, and a file another thread
// made meanwhile would get the wrong mode.
mode_t ordinaryFileMode()
{
    static const mode_t mode = [] {
        mode_t mask = 022;
        bool found = false;
        if (QFile status(QStringLiteral("/proc/self/status")); status.open(QIODevice::ReadOnly)) {
            for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
                if (line.startsWith("Umask:")) {
                    mask = static_cast<mode_t>(line.mid(6).trimmed().toUInt(&found, 8));
                    break;
                }
            }
        }
        if (!found) {
            mask = ::umask(022);
            ::umask(mask);
        }
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}
} // namespace

QString LocalSource::path() const
{
    return m_folder ? JoinLocalPath(m_folder->path(), m_path) : m_path;
}

int LocalSource::open() const
{
    const QByteArray native = QFile::encodeName(m_path);
    // O_NONBLOCK: opening a named pipe must not wait for a writer that never comes; the reader
    // refuses anything but a regular file right after.
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    const int fd = m_folder ? ::openat(m_folder->fd(), native.constData(), flags | O_NOFOLLOW)
                            : ::open(native.constData(), flags);
    if (fd < 0)
        throwErrno();
    return fd;
}

LocalFileReader::LocalFileReader(const LocalSource& source)
    : m_fd(source.open()), m_chunk(std::make_unique_for_overwrite<char[]>(kChunkBytes))
{
    struct stat info
    {};
    if (::fstat(m_fd, &info) != 0) {
        const int error = errno;
        ::close(m_fd);
        throw FileSystemError(error);
    }
    if (!S_ISREG(info.st_mode)) {
        // A pipe, device or socket has no end to send; the same error as a socket's open.
        ::close(m_fd);
        throw FileSystemError(S_ISDIR(info.st_mode) ? EISDIR : ENXIO);
    }
    ::fcntl(m_fd, F_SETFL, O_RDONLY); // plain blocking reads from here on
    m_size = info.st_size;
    m_modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

LocalFileReader::~LocalFileReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void LocalFileReader::skipTo(qint64 offset)
{
    if (::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0)
        throwErrno();
    m_pos = m_len = 0;
}

std::span<const char> LocalFileReader::next(qsizetype maxBytes)
{
    if (m_pos == m_len) {
        ssize_t got;
        do {
            got = ::read(m_fd, m_chunk.get(), kChunkBytes);
        } while (got < 0 && errno == EINTR);
        if (got < 0)
            throwErrno();
        m_pos = 0;
        m_len = static_cast<size_t>(got);
    }
    const size_t take = std::min(m_len - m_pos, static_cast<size_t>(maxBytes));
    std::span<const char> block(m_chunk.get() + m_pos, take);
    m_pos += take;
    return block;
}

LocalDirectory::LocalDirectory(const QString& path) : m_path(path)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        throwErrno();
}

LocalDirectory::~LocalDirectory()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

LocalDirectory::LocalDirectory(LocalDirectory&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path))
{}

bool LocalDirectory::isLink(const QString& name) const
{
    struct stat info
    {};
    return ::fstatat(m_fd, QFile::encodeName(name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(info.st_mode);
}

std::optional<LocalDirectory> LocalDirectory::subfolder(const QString& name, bool create) const
{
    const QByteArray native = QFile::encodeName(name);
    if (create && ::mkdirat(m_fd, native.constData(), 0777) != 0 && errno != EEXIST)
        throwErrno();
    // O_NOFOLLOW: a link put there, even between the mkdir and this open, is refused here
    // rather than entered.
    const int fd =
        ::openat(m_fd, native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0)
        return LocalDirectory(fd, JoinLocalPath(m_path, name));
    const int error = errno;
    if (isLink(name))
        return std::nullopt;
    // A file of that name is in the way: it is the user's, and stays.
    throw FileSystemError(error == ENOTDIR ? EEXIST : error);
}

LocalFileWriter::LocalFileWriter(const LocalDirectory& folder, const QString& namePrefix,
                                 bool keepPartial)
    : m_dirFd(folder.fd()), m_keepPartial(keepPartial),
      m_buffer(std::make_unique_for_overwrite<char[]>(kChunkBytes))
{
    // As mkstemp does, but relative to the open folder: O_EXCL fails on any existing entry,
    // a symbolic link included, so the name is ours alone and nothing is truncated.
    static constexpr char kUniqueChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString name = namePrefix + QLatin1Char('.');
        for (int i = 0; i < 6; ++i)
            name += QLatin1Char(kUniqueChars[QRandomGenerator::global()->bounded(62)]);
        m_fd = ::openat(m_dirFd, QFile::encodeName(name).constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            m_name = name;
            return;
        }
        if (errno != EEXIST)
            throwErrno();
    }
    throw FileSystemError(EEXIST);
}

LocalFileWriter::LocalFileWriter(const LocalDirectory& folder, const QString& name, Append)
    : m_dirFd(folder.fd()), m_name(name), m_keepPartial(true),
      m_buffer(std::make_unique_for_overwrite<char[]>(kChunkBytes))
{
    // O_NONBLOCK: a fifo put there meanwhile must not hold the download; it is refused below.
    m_fd = ::openat(m_dirFd, QFile::encodeName(name).constData(),
                    O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        throwErrno();
    struct stat info
    {};
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISREG(info.st_mode) ? errno : EINVAL;
        ::close(m_fd);
        m_fd = -1;
        throw FileSystemError(error);
    }
}

LocalFileWriter::~LocalFileWriter()
{
    if (m_fd >= 0) {
        try {
            flush();
        } catch (const FileSystemError&) {
            // The command is already failing with the first error; this one adds nothing.
        }
        ::close(m_fd);
    }
    if (!m_keepPartial && !m_placed)
        ::unlinkat(m_dirFd, QFile::encodeName(m_name).constData(), 0);
}

void LocalFileWriter::write(const char* data, qsizetype length)
{
    auto remaining = static_cast<size_t>(length);
    if (m_used + remaining > kChunkBytes) {
        flush();
        if (remaining >= kChunkBytes) {
            writeOut(data, remaining);
            return;
        }
    }
    std::copy(data, data + remaining, m_buffer.get() + m_used);
    m_used += remaining;
}

void LocalFileWriter::flush()
{
    if (m_used == 0)
        return;
    const size_t length = m_used;
    m_used = 0;
    writeOut(m_buffer.get(), length);
}

void LocalFileWriter::writeOut(const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t put = ::write(m_fd, data, length);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throwErrno();
        }
        data += put;
        length -= static_cast<size_t>(put);
        m_written += put;
    }
}

void LocalFileWriter::commit()
{
    // Every byte goes to the file and the close is checked; only then may the caller put the
    // file in place. There is no fsync: one per file made a tree of small files many times
    // slower, and the rename that follows is what keeps an earlier file safe meanwhile.
    close();
}

LocalFileWriter::Placed LocalFileWriter::commitAs(const QString& target)
{
    const QByteArray targetName = QFile::encodeName(target);
    Placed placed;
    flush();
    struct stat old
    {};
    mode_t mode = ordinaryFileMode();
    if (::fstatat(m_dirFd, targetName.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(old.st_mode)) {
        mode = old.st_mode & 0777;
        placed.hadOtherLinks = old.st_nlink > 1;
        struct stat mine
        {};
        // Who owns a replaced file matters when root downloads into another user's folder.
        if (::fstat(m_fd, &mine) == 0 && (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) &&
            ::fchown(m_fd, old.st_uid, old.st_gid) != 0) {
            // Not allowed to anyone else (another user's file, a group one is not in): the new
            // file is then the downloader's own, as any file they make.
        }
    }
    // After the owner: a change of owner clears set-id bits, and the mode is the last word.
    if (::fchmod(m_fd, mode) != 0)
        throwErrno();
    commit();
    // renameat never follows a link at either name: a link standing at `target` is replaced,
    // and whatever it pointed to is untouched.
    if (::renameat(m_dirFd, QFile::encodeName(m_name).constData(), m_dirFd,
                   targetName.constData()) != 0)
        throwErrno();
    m_placed = true;
    return placed;
}

void LocalFileWriter::commitAsNew(const QString& target)
{
    if (::fchmod(m_fd, ordinaryFileMode()) != 0)
        throwErrno();
    commit();
    const QByteArray from = QFile::encodeName(m_name);
    const QByteArray to = QFile::encodeName(target);
    if (::renameat2(m_dirFd, from.constData(), m_dirFd, to.constData(), RENAME_NOREPLACE) != 0) {
        // File systems without the no-replace rename: a hard link fails the same way where
        // the name is taken.
        if (errno != EINVAL && errno != ENOSYS)
            throwErrno();
        if (::linkat(m_dirFd, from.constData(), m_dirFd, to.constData(), 0) != 0)
            throwErrno();
        ::unlinkat(m_dirFd, from.constData(), 0);
    }
    m_placed = true;
}

void LocalFileWriter::discard()
{
    m_used = 0;
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
    ::unlinkat(m_dirFd, QFile::encodeName(m_name).constData(), 0);
    m_placed = true;
}

void LocalFileWriter::close()
{
    if (m_fd < 0)
        return;
    flush();
    const int fd = m_fd;
    m_fd = -1;
    // A failing close can be the first report of a write the disk refused (NFS, quotas).
    if (::close(fd) != 0 && errno != EINTR)
        throwErrno();
}

void ReplaceFile(const QString& source, const QString& target)
{
    if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0)
        throwErrno();
}
