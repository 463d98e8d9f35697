#pragma once
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <span>
#include <vector>

// An open local folder. Every name below it is resolved against it (openat), so no folder on
// the way can be swapped for a symbolic link while a command runs, and a link where a server's
// name lands is seen rather than followed. Every failure throws FileSystemError.
class LocalDirectory
{
public:
    // Opens the folder at `path`: the one the user chose, where a link is the user's own.
    explicit LocalDirectory(const QString& path);
    ~LocalDirectory();
    LocalDirectory(LocalDirectory&& other) noexcept;
    LocalDirectory(const LocalDirectory&) = delete;
    LocalDirectory& operator=(const LocalDirectory&) = delete;
    LocalDirectory& operator=(LocalDirectory&&) = delete;

    int fd() const { return m_fd; }
    // The path it was reached by, for messages and the progress dialog.
    const QString& path() const { return m_path; }
    // True when `name` in this folder is a symbolic link (it is not looked through).
    bool isLink(const QString& name) const;
    // The folder `name` inside this one, made first when `create` is set and it is missing.
    // Empty when a symbolic link stands there: nothing is ever done through it.
    std::optional<LocalDirectory> subfolder(const QString& name, bool create) const;

private:
    LocalDirectory(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}

    int m_fd = -1;
    QString m_path;
};

// A local file an upload reads: one the user picked, by its path (a link there is the user's
// own choice), or one found inside a folder being uploaded, by its name in that opened
// folder (never through a symbolic link).
class LocalSource
{
public:
    // Implicit: most callers have a path the user picked.
    LocalSource(const QString& path) : m_path(path) {}
    LocalSource(const LocalDirectory& folder, const QString& name) : m_folder(&folder), m_path(name)
    {}

    // The full path, for the remote name and messages.
    QString path() const;
    // Opens the file for reading (O_NOFOLLOW for a name in a folder). Throws FileSystemError.
    int open() const;

private:
    const LocalDirectory* m_folder = nullptr;
    QString m_path; // the name in m_folder when there is one
};

// A local file read for an upload. The disk is read in large chunks and handed out in the
// engine's small blocks, so a 4 KiB block never costs a system call. Every failure throws
// FileSystemError; the descriptor is closed on every path.
class LocalFileReader
{
public:
    explicit LocalFileReader(const LocalSource& source);
    ~LocalFileReader();
    LocalFileReader(const LocalFileReader&) = delete;
    LocalFileReader& operator=(const LocalFileReader&) = delete;

    // The size and modification time (nanoseconds since the epoch) when it was opened.
    qint64 size() const { return m_size; }
    qint64 modifiedNs() const { return m_modifiedNs; }
    // Goes on from `offset` bytes into the file, as if that much had been read.
    void skipTo(qint64 offset);
    // The next up to `maxBytes` bytes; empty at the end of the file. The view is valid until
    // the next call.
    std::span<const char> next(qsizetype maxBytes);

private:
    int m_fd = -1;
    qint64 m_size = 0;
    qint64 m_modifiedNs = 0;
    // Buffers are not cleared when made: a small file touches only the page it needs.
    std::unique_ptr<char[]> m_chunk;
    size_t m_pos = 0;
    size_t m_len = 0;
};

// A download's file, made new under a name no other file has (`namePrefix` plus a unique
// part), so it can never overwrite or truncate anything already in the folder. Only its owner
// may read it until it is in place: it may be a private file's new contents. Writes are
// gathered into large system calls. It is put in place only by commitAs(), after the caller
// knows the data is whole; otherwise it stays as it is (partial data the user can keep) or,
// made with `keepPartial` false, is removed when the writer ends. Every failure throws
// FileSystemError.
class LocalFileWriter
{
public:
    LocalFileWriter(const LocalDirectory& folder, const QString& namePrefix,
                    bool keepPartial = true);
    // Continues the partial data `name` in `folder` (a regular file, never through a link):
    // what is written goes after what it holds. It is kept when the writer ends unplaced.
    struct Append
    {};
    LocalFileWriter(const LocalDirectory& folder, const QString& name, Append);
    // Writes what is gathered (errors ignored: a failing command is already on its way out)
    // and closes the file.
    ~LocalFileWriter();
    LocalFileWriter(const LocalFileWriter&) = delete;
    LocalFileWriter& operator=(const LocalFileWriter&) = delete;

    // The name the file was made under, in the folder.
    const QString& name() const { return m_name; }
    // The open file, for what is kept beside its data.
    int fd() const { return m_fd; }
    void write(const char* data, qsizetype length);
    // Hands the gathered bytes to the kernel.
    void flush();
    // Flushes and closes the file, checking that the system took every byte.
    void commit();
    // commit(), then renames the file to `target` in the same folder in one step, replacing
    // what was there. A file it replaces passes on its permission bits (rwx for owner, group
    // and others; set-id bits are not given to data from a server) and, where the system
    // allows, its owner and group; a new file gets the ordinary mode (0666 less the umask).
    // The rename gives the name a new file: other hard links of a replaced file keep the
    // earlier contents, and the result says whether there were any.
    struct Placed
    {
        bool hadOtherLinks = false;
    };
    Placed commitAs(const QString& target);
    // commit(), then gives the file the name `target` only while nothing has it: a file that
    // appeared there since the caller looked stays as it is (FileSystemError EEXIST), and
    // this file keeps its own name.
    void commitAsNew(const QString& target);
    // Flushes and closes, keeping whatever arrived (a partial download).
    void close();
    // Closes and removes the file at once, dropping what was not written yet: data that
    // cannot be resumed must not keep a full disk full.
    void discard();

private:
    void writeOut(const char* data, size_t length);

    int m_dirFd;
    int m_fd = -1;
    QString m_name;
    bool m_keepPartial;
    bool m_placed = false; // renamed into place, or discarded: nothing left to remove
    std::unique_ptr<char[]> m_buffer;
    size_t m_used = 0;
    qint64 m_written = 0;
};

// Replaces `target` by `source` in one step (both in the same folder). Throws FileSystemError.
void ReplaceFile(const QString& source, const QString& target);
