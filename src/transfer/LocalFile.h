#pragma once
#include <QString>
#include <QtGlobal>

#include <span>
#include <vector>

// A local file read for an upload. The disk is read in large chunks and handed out in the
// engine's small blocks, so a 4 KiB block never costs a system call. Every failure throws
// FileSystemError; the descriptor is closed on every path.
class LocalFileReader
{
public:
    explicit LocalFileReader(const QString& path);
    ~LocalFileReader();
    LocalFileReader(const LocalFileReader&) = delete;
    LocalFileReader& operator=(const LocalFileReader&) = delete;

    // The size when the file was opened.
    qint64 size() const { return m_size; }
    // The next up to `maxBytes` bytes; empty at the end of the file. The view is valid until
    // the next call.
    std::span<const char> next(qsizetype maxBytes);

private:
    int m_fd = -1;
    qint64 m_size = 0;
    std::vector<char> m_chunk;
    size_t m_pos = 0;
    size_t m_len = 0;
};

// A local file written by a download, created fresh (an existing file of that name is
// truncated; a symbolic link in its place is refused). Writes are gathered into large
// system calls; commit() hands every byte to the file before the caller may report success.
// Every failure throws FileSystemError.
class LocalFileWriter
{
public:
    explicit LocalFileWriter(const QString& path);
    // Writes what is gathered (errors ignored: a failing command is already on its way out)
    // and closes the file.
    ~LocalFileWriter();
    LocalFileWriter(const LocalFileWriter&) = delete;
    LocalFileWriter& operator=(const LocalFileWriter&) = delete;

    void write(const char* data, qsizetype length);
    // Hands the gathered bytes to the kernel.
    void flush();
    // Flushes and closes the file, checking that the system took every byte.
    void commit();
    // Flushes and closes, keeping whatever arrived (a partial download).
    void close();

private:
    void writeOut(const char* data, size_t length);

    int m_fd = -1;
    std::vector<char> m_buffer;
    size_t m_used = 0;
    qint64 m_written = 0;
};

// Replaces `target` by `source` in one step (both in the same folder). Throws FileSystemError.
void ReplaceFile(const QString& source, const QString& target);
