#pragma once
// One connection to an SSH server's file-transfer service, over OpenSSH's client. Calls take
// absolute paths (as bytes), block until their reply or a deadline, and return false with
// lastError() saying what failed: the server's status code and message, kept per connection.
// Transfers keep many requests in flight; cancel() may be called from any thread.
#include "sftp/SftpPacket.h"
#include "sftp/SftpTypes.h"
#include "sftp/SshTransport.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace sftp {

// How an upload opens its target.
enum class UploadMode {
    CreateNew, // fails if the name exists: the temporary name of a replacing upload
    Replace,   // creates or truncates
    Resume,    // writes on from an offset of an existing file
};

// One file of a batch transfer (SftpClient::uploadBatch, downloadBatch).
struct BatchFile
{
    std::string path;      // download: the file read; upload: the target the data ends under
    std::string temporary; // upload: where the data goes until the server confirmed it whole
    std::string data;      // upload: every byte of the file; download: what arrived
    std::uint64_t expectedSize = 0; // download: the listed size, so its reads go out at once
    // Download: a file found to hold more than this is left for a transfer of its own.
    std::uint64_t limit = 0;

    enum class Outcome {
        NotDone,  // cancelled, or the connection failed before its turn came
        Done,     // the server confirmed every step, its close included
        Failed,   // `error` says why; an upload's temporary copy was removed
        Renaming, // upload: stored whole under `temporary`, but the rename refused (`error`)
        TooLarge, // download: it held more than `limit`; nothing of it is kept
    };
    Outcome outcome = Outcome::NotDone;
    bool opened = false; // the server opened it: a failure came later, with its data
    Error error;
};

// A logged-on connection and every file command the program sends over it.
class SftpClient
{
public:
    SftpClient();
    SftpClient(const SftpClient&) = delete;
    SftpClient& operator=(const SftpClient&) = delete;
    ~SftpClient();

    // Starts ssh, logs on (asking `prompts`) and agrees the protocol version.
    bool connect(const ConnectOptions& options, PromptHandler prompts);
    void disconnect();
    bool connected() const { return m_transport != nullptr; }

    void cancel() { m_cancel.raise(); }
    void clearCancel() { m_cancel.clear(); }
    const Error& lastError() const { return m_error; }

    bool hasExtension(std::string_view name) const;
    const ServerLimits& limits() const { return m_limits; }

    bool realPath(std::string_view path, std::string& resolved);
    bool stat(std::string_view path, Attributes& attributes);
    bool lstat(std::string_view path, Attributes& attributes);
    // The entries of a folder, "." and ".." left out. A name that could not be one entry of
    // this folder ('/', NUL, "..", empty) is never handed out: it is counted in `refused`.
    bool list(std::string_view path, std::vector<NameEntry>& entries, std::size_t& refused);
    bool makeFolder(std::string_view path, std::uint32_t permissions = 0755);
    bool removeFolder(std::string_view path);
    bool removeFile(std::string_view path);
    // With posix-rename@openssh.com an existing `to` is replaced in one step; without it the
    // server's plain rename refuses an existing target.
    bool rename(std::string_view from, std::string_view to);
    bool setModifyTime(std::string_view path, std::uint32_t modifyTime);
    bool freeSpace(std::string_view path, FileSystemSpace& space);

    // Reads `path` from `offset` to its end, handing the bytes to `sink` in order. `sink`
    // returns false to stop (a local failure it reports itself). `received` counts the bytes
    // handed over, also on failure, so a later call can resume from there.
    using Sink = std::function<bool(std::string_view bytes)>;
    bool download(std::string_view path, std::uint64_t offset, const Sink& sink,
                  std::uint64_t& received);
    // Writes what `source` gives to `path`, starting at `offset` (Resume) or 0. `source` fills
    // up to `max` bytes and returns false on a local failure; an empty chunk ends the file.
    // With `sync`, the data is on the server's disk (fsync@openssh.com) before this returns.
    using Source = std::function<bool(std::string& chunk, std::size_t max)>;
    bool upload(std::string_view path, UploadMode mode, std::uint64_t offset, const Source& source,
                std::uint64_t& sent, bool sync = false);

    // Several small files at once on the one channel: the next files are opened while the
    // earlier ones are written or read, so a tree of small files pays its round trips once per
    // batch window rather than once per step of every file. Each upload goes OPEN (new,
    // exclusive) of its temporary name, WRITEs and CLOSE, then, only after a good close,
    // the rename over its target; a failed one has its temporary copy removed. Each download
    // goes OPEN, READs, CLOSE, and counts only after a good close. `progress` gets the bytes
    // confirmed so far and returns false to cancel. False when the whole batch stopped
    // (cancelled, connection lost: lastError()); each file's own outcome is in `files`.
    using BatchProgress = std::function<bool(std::uint64_t bytes)>;
    bool uploadBatch(std::vector<BatchFile>& files, const BatchProgress& progress);
    bool downloadBatch(std::vector<BatchFile>& files, const BatchProgress& progress);
    // Files kept open at once by a batch.
    std::size_t batchFilesInFlight = 32;

    // Requests in flight for a transfer, and their size (set after connect; tests lower them).
    std::size_t requestsInFlight = 64;
    std::uint32_t readLength = 32 * 1024;
    std::uint32_t writeLength = 32 * 1024;

private:
    // One ssh up to the server's version packet; `replacing`: the changed key the user accepted.
    bool startSsh(const ConnectOptions& options, const PromptHandler& prompts,
                  const PromptRequest* replacing, std::span<const std::uint8_t>& version);
    std::uint32_t nextId() { return m_nextId++; }
    bool send(std::string packet); // moved on to ssh, never copied
    // Waits for the reply to `id`; replies to abandoned requests are dropped on the way.
    bool awaitReply(std::uint32_t id, Reply& reply);
    // Waits for the next reply to one of `pending`; fails on a reply to nothing we asked.
    bool awaitAny(const std::set<std::uint32_t>& pending, Reply& reply);
    // The next reply of a pipelined run on `handle`, taken out of `pending`; a cancel on the way
    // abandons the rest of the run, so the connection stays usable.
    bool awaitPending(std::set<std::uint32_t>& pending, const std::string& handle, Reply& reply);
    bool call(const std::string& packet, std::uint32_t id, Reply& reply);
    bool expectStatus(const Reply& reply, std::string_view path, std::string_view what);
    bool fail(ErrorKind kind, std::string text);
    bool failStatus(const Reply& reply, std::string_view path, std::string_view what);
    // A path with a NUL would name another file on a server that reads it as a C string.
    bool checkPath(std::string_view path);
    bool openHandle(std::string_view path, std::uint32_t flags, std::string& handle);
    bool closeHandle(const std::string& handle, std::string_view path);
    // After a cancel or failure mid-transfer: the replies still due are dropped when they come
    // and the handle is closed without waiting, so the connection stays usable.
    void abandon(const std::set<std::uint32_t>& pending, const std::string& handle);
    bool attributesCall(PacketType type, std::string_view path, Attributes& attributes);
    bool simpleCall(const std::string& packet, std::uint32_t id, std::string_view path,
                    std::string_view what);

    class Batch;
    friend class Batch;

    PacketLog m_log; // before the transport, which writes to it until it ends
    std::unique_ptr<SshTransport> m_transport;
    CancelSignal m_cancel;
    Error m_error;
    std::string m_host;
    Timeouts m_timeouts;
    std::uint32_t m_nextId = 1;
    std::set<std::uint32_t> m_abandoned;
    std::vector<std::pair<std::string, std::string>> m_extensions;
    ServerLimits m_limits;
};

// Plain words for a status code, for messages where the server gave no text of its own.
std::string describeStatus(std::uint32_t code);

} // namespace sftp
