// Batches of small files on one channel. Every step of one file waits for the step before it
// (a handle before its WRITEs, a good CLOSE before the rename), but nothing makes one file wait
// for another: the requests of many files are in flight together, so a tree of small files
// costs a few round trips per window of files instead of several per file.
#include "sftp/SftpClient.h"

#include <algorithm>

namespace sftp {

// The state of one batch call; it sends through the client and reads its replies.
class SftpClient::Batch
{
public:
    Batch(SftpClient& client, std::vector<BatchFile>& files, bool upload,
          const BatchProgress& progress)
        : m_client(client), m_files(files), m_upload(upload), m_progress(progress),
          m_states(files.size())
    {}

    bool run();

private:
    enum class Kind { Open, Write, Read, Close, Rename, Remove };
    struct Request
    {
        std::size_t file;
        Kind kind;
        std::uint64_t offset = 0;
        std::uint32_t length = 0;
    };
    // What one file in flight waits for.
    struct State
    {
        bool openSent = false;
        bool closeSent = false;
        bool finished = false;
        std::string handle;
        std::size_t pending = 0; // WRITEs or READs (and an upload's CLOSE) not answered yet
        bool failed = false;
        // Download: the blocks that came, by offset, the end of file the server gave, the next
        // offset not asked for yet, and the bytes held.
        std::map<std::uint64_t, std::string> blocks;
        std::uint64_t end = UINT64_MAX;
        std::uint64_t next = 0;
        std::uint64_t held = 0;
    };

    void ask(std::size_t file, Kind kind, const std::string& packet, std::uint32_t id,
             std::uint64_t offset = 0, std::uint32_t length = 0);
    void start(std::size_t file);
    bool take(const Reply& reply);
    bool takeUpload(std::size_t file, const Request& request, const Reply& reply);
    bool takeDownload(std::size_t file, const Request& request, const Reply& reply);
    void askRead(std::size_t file, std::uint64_t offset, std::uint32_t length);
    void closeFile(std::size_t file);
    bool assemble(std::size_t file);
    void fileFailed(std::size_t file, const Reply& reply, std::string_view what);
    void finish(std::size_t file, BatchFile::Outcome outcome);
    bool wrongReply(std::string_view what);
    // Cancel or a lost connection: every reply still due is dropped when it comes, open
    // handles are closed and partial uploads removed without waiting.
    void abandonAll();

    SftpClient& m_client;
    std::vector<BatchFile>& m_files;
    bool m_upload;
    const BatchProgress& m_progress;
    std::vector<State> m_states;
    std::map<std::uint32_t, Request> m_requests;
    std::set<std::uint32_t> m_pending;
    std::size_t m_active = 0;
    std::uint64_t m_activeBytes = 0;
    std::uint64_t m_bytes = 0; // confirmed written or received
};

namespace {
// Upload bytes held in flight at most (the files are in memory already; this keeps the
// channel's queue short enough that a Cancel is not stuck behind megabytes of writes).
constexpr std::uint64_t kBatchBytesInFlight = 8u * 1024 * 1024;
constexpr std::chrono::milliseconds kAbandonFlush{100};
} // namespace

void SftpClient::Batch::ask(std::size_t file, Kind kind, const std::string& packet,
                            std::uint32_t id, std::uint64_t offset, std::uint32_t length)
{
    m_client.send(packet);
    m_requests[id] = Request{file, kind, offset, length};
    m_pending.insert(id);
}

void SftpClient::Batch::start(std::size_t file)
{
    BatchFile& item = m_files[file];
    State& state = m_states[file];
    ++m_active;
    m_activeBytes += item.data.size();
    const std::string& path = m_upload ? item.temporary : item.path;
    if (path.find('\0') != std::string::npos || item.path.find('\0') != std::string::npos) {
        m_client.checkPath(path + item.path);
        item.error = m_client.m_error;
        finish(file, BatchFile::Outcome::Failed);
        return;
    }
    const std::uint32_t flags = m_upload ? kOpenWrite | kOpenCreate | kOpenExclusive : kOpenRead;
    const std::uint32_t id = m_client.nextId();
    ask(file, Kind::Open, encodeOpen(id, path, flags, 0644u), id);
    state.openSent = true;
}

void SftpClient::Batch::finish(std::size_t file, BatchFile::Outcome outcome)
{
    State& state = m_states[file];
    state.finished = true;
    state.blocks.clear();
    m_files[file].outcome = outcome;
    m_activeBytes -= std::min<std::uint64_t>(m_activeBytes, m_files[file].data.size());
    --m_active;
}

void SftpClient::Batch::fileFailed(std::size_t file, const Reply& reply, std::string_view what)
{
    State& state = m_states[file];
    if (state.failed)
        return;
    state.failed = true;
    m_client.failStatus(reply, m_files[file].path, what);
    m_files[file].error = m_client.m_error;
}

bool SftpClient::Batch::wrongReply(std::string_view what)
{
    abandonAll();
    m_client.m_transport.reset();
    return m_client.fail(ErrorKind::Protocol,
                         m_client.m_host + " broke the protocol: " + std::string(what) + ".");
}

void SftpClient::Batch::closeFile(std::size_t file)
{
    State& state = m_states[file];
    state.closeSent = true;
    const std::uint32_t id = m_client.nextId();
    ask(file, Kind::Close, encodeHandle(PacketType::Close, id, state.handle), id);
}

void SftpClient::Batch::askRead(std::size_t file, std::uint64_t offset, std::uint32_t length)
{
    State& state = m_states[file];
    const std::uint32_t id = m_client.nextId();
    ask(file, Kind::Read, encodeRead(id, state.handle, offset, length), id, offset, length);
    ++state.pending;
    state.next = std::max(state.next, offset + length);
}

bool SftpClient::Batch::takeUpload(std::size_t file, const Request& request, const Reply& reply)
{
    BatchFile& item = m_files[file];
    State& state = m_states[file];
    if (request.kind == Kind::Open) {
        if (reply.type == PacketType::Status) {
            fileFailed(file, reply, "Opening");
            finish(file, BatchFile::Outcome::Failed);
            return true;
        }
        if (reply.type != PacketType::Handle)
            return wrongReply("it answered an open with the wrong reply");
        state.handle = reply.handle;
        item.opened = true;
        // The WRITEs and the CLOSE go together: the server handles the requests on one handle
        // in order, and the CLOSE's answer says whether the data was stored.
        const std::size_t step = m_client.writeLength;
        for (std::size_t at = 0; at < item.data.size(); at += step) {
            const std::string_view block = std::string_view(item.data).substr(at, step);
            const std::uint32_t id = m_client.nextId();
            ask(file, Kind::Write, encodeWrite(id, state.handle, at, block), id, at,
                static_cast<std::uint32_t>(block.size()));
            ++state.pending;
        }
        closeFile(file);
        ++state.pending;
        return true;
    }
    if (reply.type != PacketType::Status)
        return wrongReply("it answered a write, close or rename with the wrong reply");
    const bool ok = reply.statusCode == kStatusOk;
    switch (request.kind) {
    case Kind::Write:
    case Kind::Close:
        if (!ok)
            fileFailed(file, reply, request.kind == Kind::Write ? "Uploading" : "Closing");
        else if (request.kind == Kind::Write)
            m_bytes += request.length;
        if (--state.pending > 0)
            return true;
        if (state.failed) {
            // Nothing may stay under the temporary name of an upload that did not arrive
            // whole; the target was never touched.
            const std::uint32_t id = m_client.nextId();
            ask(file, Kind::Remove, encodePath(PacketType::Remove, id, item.temporary), id);
        } else {
            // Only now, with the server's word that the copy is whole, may it take the
            // target's place.
            const std::uint32_t id = m_client.nextId();
            ask(file, Kind::Rename,
                m_client.hasExtension("posix-rename@openssh.com")
                    ? encodeExtended(id, "posix-rename@openssh.com", {item.temporary, item.path})
                    : encodeRename(id, item.temporary, item.path),
                id);
        }
        return true;
    case Kind::Rename:
        if (ok) {
            finish(file, BatchFile::Outcome::Done);
        } else {
            fileFailed(file, reply, "Renaming");
            finish(file, BatchFile::Outcome::Renaming);
        }
        return true;
    case Kind::Remove:
        finish(file, BatchFile::Outcome::Failed);
        return true;
    default:
        return wrongReply("it answered a request with the wrong reply");
    }
}

bool SftpClient::Batch::assemble(std::size_t file)
{
    State& state = m_states[file];
    std::string& data = m_files[file].data;
    data.clear();
    for (auto& [offset, block] : state.blocks) {
        if (offset != data.size() || offset + block.size() > state.end)
            return wrongReply("it sent the data of " + m_files[file].path +
                              " with a gap or past the end it reported");
        data += block;
    }
    state.blocks.clear();
    return true;
}

bool SftpClient::Batch::takeDownload(std::size_t file, const Request& request, const Reply& reply)
{
    BatchFile& item = m_files[file];
    State& state = m_states[file];
    switch (request.kind) {
    case Kind::Open: {
        if (reply.type == PacketType::Status) {
            fileFailed(file, reply, "Opening");
            finish(file, BatchFile::Outcome::Failed);
            return true;
        }
        if (reply.type != PacketType::Handle)
            return wrongReply("it answered an open with the wrong reply");
        state.handle = reply.handle;
        item.opened = true;
        // Reads for the listed size and one past it go out together; the one past the end
        // brings the end-of-file answer in the same round trip.
        const std::uint32_t step = m_client.readLength;
        for (std::uint64_t at = 0; at < item.expectedSize; at += step)
            askRead(
                file, at,
                static_cast<std::uint32_t>(std::min<std::uint64_t>(step, item.expectedSize - at)));
        askRead(file, item.expectedSize, step);
        return true;
    }
    case Kind::Read: {
        --state.pending;
        if (reply.type == PacketType::Status && reply.statusCode == kStatusEof) {
            state.end = std::min(state.end, request.offset);
        } else if (reply.type == PacketType::Status) {
            fileFailed(file, reply, "Downloading");
        } else if (reply.type != PacketType::Data || reply.data.empty() ||
                   reply.data.size() > request.length) {
            return wrongReply("it answered a read of " + item.path + " with the wrong reply");
        } else if (!state.failed) {
            const std::uint64_t got = reply.data.size();
            state.held += got;
            m_bytes += got;
            state.blocks.emplace(request.offset, reply.data);
            if (item.limit != 0 && state.held > item.limit) {
                state.failed = true;
                item.outcome = BatchFile::Outcome::TooLarge;
            } else if (got < request.length && request.offset + got < state.end) {
                // A short read is not the end: the rest of the block is asked for again.
                askRead(file, request.offset + got,
                        static_cast<std::uint32_t>(request.length - got));
            } else if (request.offset + request.length == state.next && state.end == UINT64_MAX) {
                // The file grew since it was listed: on to its end.
                askRead(file, state.next, m_client.readLength);
            }
        }
        if (state.pending > 0)
            return true;
        if (!state.failed && !assemble(file))
            return false;
        closeFile(file);
        return true;
    }
    case Kind::Close:
        if (reply.type != PacketType::Status)
            return wrongReply("it answered a close with the wrong reply");
        if (item.outcome == BatchFile::Outcome::TooLarge) {
            item.data.clear();
            finish(file, BatchFile::Outcome::TooLarge);
        } else if (state.failed) {
            item.data.clear();
            finish(file, BatchFile::Outcome::Failed);
        } else if (reply.statusCode != kStatusOk) {
            // A server that broke off the file says so here: what arrived is not the file.
            fileFailed(file, reply, "Closing");
            item.data.clear();
            finish(file, BatchFile::Outcome::Failed);
        } else {
            finish(file, BatchFile::Outcome::Done);
        }
        return true;
    default:
        return wrongReply("it answered a request with the wrong reply");
    }
}

bool SftpClient::Batch::take(const Reply& reply)
{
    const auto found = m_requests.find(reply.id);
    const Request request = found->second;
    m_requests.erase(found);
    m_pending.erase(reply.id);
    return m_upload ? takeUpload(request.file, request, reply)
                    : takeDownload(request.file, request, reply);
}

void SftpClient::Batch::abandonAll()
{
    m_client.m_abandoned.insert(m_pending.begin(), m_pending.end());
    if (!m_client.m_transport)
        return;
    for (std::size_t file = 0; file < m_files.size(); ++file) {
        State& state = m_states[file];
        if (!state.openSent || state.finished)
            continue;
        if (!state.handle.empty() && !state.closeSent) {
            const std::uint32_t id = m_client.nextId();
            m_client.m_transport->queue(encodeHandle(PacketType::Close, id, state.handle));
            m_client.m_abandoned.insert(id);
        }
        // The server takes requests in turn, so the remove comes after the open that may
        // still create the copy; a rename already on its way finds nothing left to move, or
        // has moved a whole copy.
        if (m_upload) {
            const std::uint32_t id = m_client.nextId();
            m_client.m_transport->queue(
                encodePath(PacketType::Remove, id, m_files[file].temporary));
            m_client.m_abandoned.insert(id);
        }
    }
    m_pending.clear();
    m_requests.clear();
    // The closes and removes go out now, so a user who disconnects after the Cancel leaves no
    // copy behind; what a short wait cannot send goes before the next request.
    Error ignored;
    m_client.m_transport->flush(kAbandonFlush, ignored);
}

bool SftpClient::Batch::run()
{
    std::size_t files = m_client.batchFilesInFlight;
    if (m_client.m_limits.maxOpenHandles > 0)
        files = std::min<std::uint64_t>(
            files, std::max<std::uint64_t>(1, m_client.m_limits.maxOpenHandles / 2));
    files = std::max<std::size_t>(files, 1);
    std::size_t next = 0;
    for (;;) {
        while (next < m_files.size() && m_active < files &&
               (m_active == 0 || m_activeBytes + m_files[next].data.size() <= kBatchBytesInFlight))
            start(next++);
        if (m_pending.empty()) {
            if (next < m_files.size())
                continue;
            break;
        }
        Reply reply;
        if (!m_client.awaitAny(m_pending, reply)) {
            if (m_client.m_error.kind == ErrorKind::Cancelled)
                abandonAll();
            return false;
        }
        if (!take(reply))
            return false;
        if (m_progress && !m_progress(m_bytes)) {
            abandonAll();
            return m_client.fail(ErrorKind::Cancelled, "Cancelled.");
        }
    }
    m_client.m_error = Error{};
    return true;
}

bool SftpClient::uploadBatch(std::vector<BatchFile>& files, const BatchProgress& progress)
{
    if (!m_transport)
        return fail(ErrorKind::ConnectionLost, "Not connected to " + m_host + ".");
    Batch batch(*this, files, true, progress);
    return batch.run();
}

bool SftpClient::downloadBatch(std::vector<BatchFile>& files, const BatchProgress& progress)
{
    if (!m_transport)
        return fail(ErrorKind::ConnectionLost, "Not connected to " + m_host + ".");
    Batch batch(*this, files, false, progress);
    return batch.run();
}

} // namespace sftp
