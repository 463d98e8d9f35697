// How bytes flow through a link: read and stamped, held back, written when due, and (on an FTP
// control connection) read line by line for the replies that open data connections.
#include "RelayFtp.h"
#include "RelayState.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/socket.h>

namespace relay {

void Relay::State::onPeer(Watch& w, std::uint32_t events)
{
    Link& link = *w.link;
    if (link.dead)
        return;
    if (w.side == 1 && link.connecting) {
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(w.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0 || (events & EPOLLERR)) {
            log("relay: %s: the server refused the connection: %s\n", link.name,
                std::strerror(error ? error : ECONNREFUSED));
            link.dead = true;
            return;
        }
        if (!(events & EPOLLOUT))
            return;
        link.connecting = false;
    }
    if (events & EPOLLOUT)
        link.dirs[1 - w.side].blocked = false;
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
        readFrom(link, w.side);
}

void Relay::State::readFrom(Link& link, int side)
{
    Direction& d = link.dirs[side];
    for (int i = 0; i < kReadsPerWake && !d.readEof && !link.dead; ++i) {
        std::size_t want = kReadSize;
        if (window > 0) {
            if (d.unacked >= window)
                return;
            want = std::min<std::size_t>(want, std::size_t(window - d.unacked));
        }
        const ssize_t got = recv(link.ends[side].fd, scratch.data(), want, 0);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        const Nanos at = nowNanos();
        if (got < 0) {
            // A reset discards what is in flight, as it does on a real link.
            link.dead = true;
            return;
        }
        if (got == 0) {
            d.readEof = true;
            take(link, side, nullptr, 0, at);
            return;
        }
        take(link, side, scratch.data(), std::size_t(got), at);
        if (std::size_t(got) < want)
            return;
    }
}

// Bytes read from `side` (none at its end of data) on their way to the other side.
void Relay::State::take(Link& link, int side, const char* data, std::size_t size, Nanos at)
{
    Direction& d = link.dirs[side];
    if (link.ftpControl) {
        filterFtp(link, side, data, size, at, d.readEof);
    } else if (size > 0) {
        enqueue(link, side, {data, size}, at);
    }
    if (d.readEof) {
        Chunk end;
        end.readAt = at;
        end.eof = true;
        d.chunks.push_back(std::move(end));
    }
}

void Relay::State::filterFtp(Link& link, int side, const char* data, std::size_t size, Nanos at,
                             bool eof)
{
    Direction& d = link.dirs[side];
    d.line.append(data, size);
    std::string out;
    std::size_t start = 0;
    for (std::size_t end; (end = d.line.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string_view line(d.line.data() + start, end + 1 - start);
        if (side == 1) {
            const PassiveReply reply = parsePassiveReply(line);
            if (reply.kind == PassiveReply::Kind::None) {
                out += line;
                continue;
            }
            std::uint16_t relayPort = 0;
            const std::string error = openPassive(link, reply.port, relayPort);
            const std::string rewritten =
                error.empty() ? passiveReplyFor(reply.kind, relayPort)
                              : "425 The relay could not open a data port: " + error + "\r\n";
            log("relay: %s: %s", link.name, rewritten);
            out += rewritten;
        } else if (const std::string refusal = refusalFor(line); !refusal.empty()) {
            // Answered as the server would be: a whole round trip after the command was sent.
            log("relay: %s: %s", link.name, refusal);
            enqueue(link, 1, refusal, at + halfDelay);
        } else {
            out += line;
        }
    }
    d.line.erase(0, start);
    // Not a line protocol, or its end: whatever is held back goes on as it is.
    if (eof || d.line.size() > kMaxLine) {
        out += d.line;
        d.line.clear();
    }
    if (!out.empty())
        enqueue(link, side, out, at);
}

void Relay::State::enqueue(Link& link, int side, std::string_view bytes, Nanos at)
{
    Direction& d = link.dirs[side];
    const int to = 1 - side;
    // Without a delay, bytes nothing waits before go straight on.
    if (halfDelay == 0 && d.written == d.chunks.size() && !link.connecting && !d.blocked) {
        const ssize_t sent =
            send(link.ends[to].fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN) {
            link.dead = true;
            return;
        }
        if (sent > 0)
            bytes.remove_prefix(std::size_t(sent));
        if (bytes.empty())
            return;
        d.blocked = true;
    }
    Chunk chunk;
    chunk.readAt = at;
    chunk.size = bytes.size();
    if (!spare.empty()) {
        chunk.bytes = std::move(spare.back());
        spare.pop_back();
    }
    chunk.bytes.assign(bytes.begin(), bytes.end());
    d.unacked += std::int64_t(chunk.size);
    d.chunks.push_back(std::move(chunk));
}

// Writes what is due from side's direction, and forgets what the far side has acknowledged.
void Relay::State::flush(Link& link, int side, Nanos now)
{
    Direction& d = link.dirs[side];
    const int to = 1 - side;
    while (!link.connecting && !d.blocked && d.written < d.chunks.size()) {
        Chunk& chunk = d.chunks[d.written];
        if (chunk.readAt + halfDelay > now)
            break;
        if (chunk.eof) {
            shutdown(link.ends[to].fd, SHUT_WR);
            d.deliveredEof = true;
            ++d.written;
            continue;
        }
        const ssize_t sent = send(link.ends[to].fd, chunk.bytes.data() + chunk.sent,
                                  chunk.size - chunk.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EAGAIN)
                d.blocked = true;
            else if (errno != EINTR)
                link.dead = true;
            break;
        }
        chunk.sent += std::size_t(sent);
        if (chunk.sent == chunk.size) {
            if (chunk.bytes.capacity() >= kReadSize && spare.size() < kSpareBuffers)
                spare.push_back(std::move(chunk.bytes));
            std::vector<char>().swap(chunk.bytes);
            ++d.written;
        }
    }
    while (d.written > 0 && d.chunks.front().readAt + roundTrip <= now) {
        d.unacked -= std::int64_t(d.chunks.front().size);
        d.chunks.pop_front();
        --d.written;
    }
}

void Relay::State::service(Link& link, Nanos now)
{
    if (link.dead)
        return;
    flush(link, 0, now);
    flush(link, 1, now);
    if (link.dead || (link.dirs[0].deliveredEof && link.dirs[1].deliveredEof)) {
        link.dead = true;
        return;
    }
    for (int side = 0; side < 2; ++side) {
        Watch& w = link.ends[side];
        const Direction& in = link.dirs[side];
        // Both ways closed on this socket: it would report a hang-up on every wake until the
        // other direction's end, still held back, is delivered.
        if (in.readEof && link.dirs[1 - side].deliveredEof && !w.ignored) {
            unwatch(w);
            w.ignored = true;
        }
        if (w.ignored)
            continue;
        std::uint32_t events = 0;
        if (side == 1 && link.connecting)
            events |= EPOLLOUT;
        else if (!in.readEof && (window == 0 || in.unacked < window))
            events |= EPOLLIN;
        if (link.dirs[1 - side].blocked)
            events |= EPOLLOUT;
        watch(w, events);
    }
}

std::string Relay::State::openPassive(Link& control, std::uint16_t serverPort,
                                      std::uint16_t& relayPort)
{
    const int fd = listenSocket(0, relayPort);
    if (fd < 0)
        return std::strerror(errno);
    auto passive = std::make_unique<PassiveListener>();
    passive->control = &control;
    passive->serverPort = serverPort;
    passive->watch.kind = Watch::Kind::Passive;
    passive->watch.fd = fd;
    passive->watch.passive = passive.get();
    watch(passive->watch, EPOLLIN);
    control.passives.push_back(passive.get());
    passives.push_back(std::move(passive));
    return {};
}

} // namespace relay
