#include "remote/SftpStreams.h"

#include "remote/SftpServerSession.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// Bytes held between the engine and the caller: enough for the engine to keep its window of
// requests full, little enough that a 1 GiB transfer keeps memory flat.
constexpr std::size_t kBufferedBytes = 4u * 1024 * 1024;

// What both directions share: the engine's thread, the bytes between it and the caller, and
// how the transfer ended.
class SftpStreamBase : public RemoteStream
{
public:
    explicit SftpStreamBase(sftp::SftpClient& client) : m_client(client) {}
    ~SftpStreamBase() override = default;
    SftpStreamBase(const SftpStreamBase&) = delete;
    SftpStreamBase& operator=(const SftpStreamBase&) = delete;

    void abort() override
    {
        if (!m_worker.joinable())
            return;
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_changed.notify_all();
        // Replies still due are dropped by the engine as they come; the cancel only cuts a
        // wait for a server that went silent short.
        m_client.cancel();
        m_worker.join();
        m_client.clearCancel();
    }

protected:
    // Runs `transfer` on the engine's thread; returns once it began (`started`) or ended.
    template <typename Transfer> RemoteResult run(Transfer transfer)
    {
        m_worker = std::thread([this, transfer] {
            const bool succeeded = transfer();
            std::lock_guard lock(m_mutex);
            m_finished = true;
            m_outcome = succeeded ? RemoteResult{} : SftpResult(m_client.lastError());
            m_changed.notify_all();
        });
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_started || m_finished; });
        if (m_finished && !m_outcome.ok()) {
            lock.unlock();
            m_worker.join();
            return m_outcome;
        }
        return {};
    }
    // The bytes not yet taken, from m_taken on.
    std::size_t buffered() const { return m_buffer.size() - m_taken; }
    void take(std::size_t count)
    {
        m_taken += count;
        if (m_taken == m_buffer.size() || m_taken > kBufferedBytes) {
            m_buffer.erase(0, m_taken);
            m_taken = 0;
        }
    }
    RemoteResult finish()
    {
        if (m_worker.joinable())
            m_worker.join();
        return m_outcome;
    }

    sftp::SftpClient& m_client;
    std::thread m_worker;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_buffer;
    std::size_t m_taken = 0;
    bool m_started = false;  // the server opened the file
    bool m_ended = false;    // the caller gave the last byte
    bool m_stopped = false;  // abort(): the engine stops at its next block
    bool m_finished = false; // the engine's call returned, with m_outcome
    RemoteResult m_outcome;
};

class SftpReadStream final : public SftpStreamBase
{
public:
    using SftpStreamBase::SftpStreamBase;
    ~SftpReadStream() override { abort(); }
    SftpReadStream(const SftpReadStream&) = delete;
    SftpReadStream& operator=(const SftpReadStream&) = delete;

    RemoteResult start(std::string path, std::uint64_t offset)
    {
        return run([this, path = std::move(path), offset] {
            std::uint64_t received = 0;
            return m_client.download(
                path, offset, [this](std::string_view bytes) { return keep(bytes); }, received);
        });
    }
    RemoteResult read(char* buffer, qint64 size, qint64& got) override
    {
        got = 0;
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return buffered() > 0 || m_finished; });
        if (buffered() == 0)
            return m_outcome;
        const std::size_t count = std::min(buffered(), static_cast<std::size_t>(size));
        std::memcpy(buffer, m_buffer.data() + m_taken, count);
        take(count);
        got = static_cast<qint64>(count);
        m_changed.notify_all();
        return {};
    }
    RemoteResult write(const char*, qint64) override
    {
        RemoteResult result;
        result.failure = RemoteFailure::Other;
        return result;
    }
    // A download the caller ends before its end stops there; the rest is not wanted.
    RemoteResult complete() override
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_finished) {
                m_stopped = true;
            }
        }
        if (m_stopped) {
            abort();
            return {};
        }
        return finish();
    }

private:
    // The engine's thread: holds `bytes` until the caller has room for them.
    bool keep(std::string_view bytes)
    {
        std::unique_lock lock(m_mutex);
        m_started = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return buffered() < kBufferedBytes || m_stopped; });
        if (m_stopped)
            return false;
        m_buffer.append(bytes);
        m_changed.notify_all();
        return true;
    }
};

class SftpWriteStream final : public SftpStreamBase
{
public:
    using SftpStreamBase::SftpStreamBase;
    ~SftpWriteStream() override { abort(); }
    SftpWriteStream(const SftpWriteStream&) = delete;
    SftpWriteStream& operator=(const SftpWriteStream&) = delete;

    RemoteResult start(std::string path, sftp::UploadMode mode, std::uint64_t offset)
    {
        return run([this, path = std::move(path), mode, offset] {
            std::uint64_t sent = 0;
            return m_client.upload(
                path, mode, offset,
                [this](std::string& chunk, std::size_t max) { return give(chunk, max); }, sent);
        });
    }
    RemoteResult read(char*, qint64, qint64& got) override
    {
        got = 0;
        RemoteResult result;
        result.failure = RemoteFailure::Other;
        return result;
    }
    RemoteResult write(const char* data, qint64 size) override
    {
        std::unique_lock lock(m_mutex);
        auto left = static_cast<std::size_t>(size);
        while (left > 0) {
            m_changed.wait(lock, [this] { return buffered() < kBufferedBytes || m_finished; });
            if (m_finished)
                return m_outcome.ok() ? SftpResult(m_client.lastError()) : m_outcome;
            const std::size_t count = std::min(left, kBufferedBytes - buffered());
            m_buffer.append(data, count);
            data += count;
            left -= count;
            m_changed.notify_all();
        }
        return {};
    }
    // The last byte given: the server's answer to the close says whether the file is whole.
    RemoteResult complete() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
        }
        m_changed.notify_all();
        return finish();
    }

private:
    // The engine's thread: the next chunk of up to `max` bytes, empty after the last.
    bool give(std::string& chunk, std::size_t max)
    {
        std::unique_lock lock(m_mutex);
        m_started = true;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return buffered() >= max || m_ended || m_stopped; });
        if (m_stopped)
            return false;
        const std::size_t count = std::min(max, buffered());
        chunk.assign(m_buffer, m_taken, count);
        take(count);
        m_changed.notify_all();
        return true;
    }
};

} // namespace

std::unique_ptr<RemoteStream> OpenSftpReadStream(sftp::SftpClient& client, std::string path,
                                                 std::uint64_t offset, RemoteResult& result)
{
    auto stream = std::make_unique<SftpReadStream>(client);
    result = stream->start(std::move(path), offset);
    if (!result)
        return nullptr;
    return stream;
}

std::unique_ptr<RemoteStream> OpenSftpWriteStream(sftp::SftpClient& client, std::string path,
                                                  sftp::UploadMode mode, std::uint64_t offset,
                                                  RemoteResult& result)
{
    auto stream = std::make_unique<SftpWriteStream>(client);
    result = stream->start(std::move(path), mode, offset);
    if (!result)
        return nullptr;
    return stream;
}
