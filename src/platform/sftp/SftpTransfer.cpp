// The pipelined transfers of SftpClient: many READ or WRITE requests in flight on one handle,
// as OpenSSH's own client keeps them, so a link's round trip is paid once per window rather
// than once per block.
#include "sftp/SftpClient.h"

#include <limits>

namespace sftp {

bool SftpClient::download(std::string_view path, std::uint64_t offset, const Sink& sink,
                          std::uint64_t& received)
{
    received = 0;
    std::string handle;
    if (!openHandle(path, kOpenRead, handle))
        return false;
    struct Request
    {
        std::uint64_t offset;
        std::uint32_t length;
    };
    std::map<std::uint32_t, Request> requests;
    std::set<std::uint32_t> pending;
    std::map<std::uint64_t, std::string> early; // blocks that came before those ahead of them
    std::uint64_t next = offset;                // the next offset to ask for
    std::uint64_t written = offset;             // the next offset the sink takes
    std::uint64_t end = std::numeric_limits<std::uint64_t>::max();
    // Reads in flight start few and double with every block that came, as OpenSSH's
    // sftp does: a small file then costs a handful of replies instead of one end-of-file
    // answer for each of the requests a large one keeps in flight.
    std::size_t window = 2;
    const auto ask = [&](std::uint64_t at, std::uint32_t length) {
        const std::uint32_t id = nextId();
        send(encodeRead(id, handle, at, length));
        requests[id] = {at, length};
        pending.insert(id);
    };
    const auto lie = [&](const std::string& what) {
        abandon(pending, handle);
        return fail(ErrorKind::Protocol, "Downloading " + std::string(path) + " from " + m_host +
                                             " failed: the server " + what + ".");
    };
    for (;;) {
        while (next < end && pending.size() < std::min<std::size_t>(window, requestsInFlight) &&
               early.size() < 2 * requestsInFlight) {
            ask(next, readLength);
            next += readLength;
        }
        if (pending.empty())
            break;
        Reply reply;
        if (!awaitPending(pending, handle, reply))
            return false;
        const Request request = requests[reply.id];
        requests.erase(reply.id);
        if (reply.type == PacketType::Status && reply.statusCode == kStatusEof) {
            end = std::min(end, request.offset);
        } else if (reply.type == PacketType::Status) {
            abandon(pending, handle);
            return failStatus(reply, path, "Downloading");
        } else if (reply.type != PacketType::Data) {
            return lie("answered a read with the wrong reply");
        } else {
            const std::size_t got = reply.data.size();
            if (got == 0 || got > request.length)
                return lie("sent " + std::to_string(got) + " bytes for a read of " +
                           std::to_string(request.length));
            window = std::min<std::size_t>(window * 2, requestsInFlight);
            // A short read is not the end: the rest of the block is asked for again.
            if (got < request.length && request.offset + got < end)
                ask(request.offset + got, static_cast<std::uint32_t>(request.length - got));
            early.emplace(request.offset, std::move(reply.data));
        }
        while (!early.empty() && early.begin()->first <= written && !m_cancel.raised()) {
            auto block = early.begin();
            if (block->first != written)
                return lie("sent overlapping data");
            if (block->first + block->second.size() > end)
                return lie("sent data past the end of the file it reported");
            if (!sink(block->second)) {
                abandon(pending, handle);
                return fail(ErrorKind::Local,
                            "The local copy of " + std::string(path) + " could not be written.");
            }
            written += block->second.size();
            received += block->second.size();
            early.erase(block);
        }
    }
    if (!early.empty())
        return lie("ended the file at byte " + std::to_string(end) + " but sent data after a gap");
    return closeHandle(handle, path);
}

bool SftpClient::upload(std::string_view path, UploadMode mode, std::uint64_t offset,
                        const Source& source, std::uint64_t& sent, bool sync)
{
    sent = 0;
    std::uint32_t flags = kOpenWrite | kOpenCreate;
    if (mode == UploadMode::CreateNew)
        flags |= kOpenExclusive;
    else if (mode == UploadMode::Replace)
        flags |= kOpenTruncate;
    std::string handle;
    if (!openHandle(path, flags, handle))
        return false;
    std::uint64_t position = mode == UploadMode::Resume ? offset : 0;
    std::map<std::uint32_t, std::size_t> lengths;
    std::set<std::uint32_t> pending;
    std::string chunk;
    bool ended = false;
    for (;;) {
        while (!ended && pending.size() < requestsInFlight) {
            chunk.clear();
            if (!source(chunk, writeLength)) {
                abandon(pending, handle);
                return fail(ErrorKind::Local,
                            "The local file for " + std::string(path) + " could not be read.");
            }
            if (chunk.empty()) {
                ended = true;
                break;
            }
            const std::uint32_t id = nextId();
            send(encodeWrite(id, handle, position, chunk));
            position += chunk.size();
            lengths[id] = chunk.size();
            pending.insert(id);
        }
        if (pending.empty())
            break;
        Reply reply;
        if (!awaitPending(pending, handle, reply))
            return false;
        if (reply.type != PacketType::Status || reply.statusCode != kStatusOk) {
            abandon(pending, handle);
            expectStatus(reply, path, "Uploading");
            return false;
        }
        sent += lengths[reply.id];
        lengths.erase(reply.id);
    }
    if (sync && hasExtension("fsync@openssh.com")) {
        const std::uint32_t id = nextId();
        if (!simpleCall(encodeExtended(id, "fsync@openssh.com", {handle}), id, path,
                        "Saving to disk")) {
            if (m_transport)
                abandon({}, handle);
            return false;
        }
    }
    // The server may report a failed write only when the file is closed (a full disk on a
    // network file system): the upload counts only with a good close.
    return closeHandle(handle, path);
}

} // namespace sftp
