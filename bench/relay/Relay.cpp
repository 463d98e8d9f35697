// The relay's event loop. Every read is stamped; its bytes are written to the other side half a
// round trip later, in order, and count against the direction's window until a whole round trip
// after they were read (when a real sender would have had their acknowledgement).
#include "Relay.h"
#include "RelayFtp.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <list>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

namespace relay {
namespace {

using Nanos = std::int64_t;

// steady_clock is CLOCK_MONOTONIC on Linux, the clock the timerfd runs on.
Nanos nowNanos()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr std::size_t kReadSize = 256 * 1024;
// What the relay asks of its own sockets: at 0 ms it must not be what limits loopback.
constexpr int kSocketBuffer = 4 * 1024 * 1024;
constexpr int kReadsPerWake = 16;

std::int64_t readProcNumber(const char* path, int field)
{
    std::ifstream in(path);
    std::int64_t value = 0;
    for (int i = 0; i <= field; ++i)
        if (!(in >> value))
            return 0;
    return value;
}

struct Chunk
{
    Nanos readAt = 0;
    std::size_t size = 0;
    std::vector<char> bytes; // released once written; size stays for the window's count
    std::size_t sent = 0;
    bool eof = false;
};

struct Link;
struct PassiveListener;

// What an epoll event is about.
struct Watch
{
    enum class Kind { Main, Stop, Timer, Passive, Peer } kind = Kind::Peer;
    int fd = -1;
    std::uint32_t events = 0; // registered with epoll
    bool registered = false;
    bool ignored = false; // taken out of epoll for good: its socket has nothing more to say
    Link* link = nullptr;
    int side = 0; // 0: the client's socket, 1: the server's
    PassiveListener* passive = nullptr;
};

// One direction of a link: the bytes read from side `from`, waiting to go to the other side.
struct Direction
{
    std::deque<Chunk> chunks;
    std::size_t written = 0; // chunks at the front already written whole
    std::int64_t unacked = 0;
    bool readEof = false;
    bool deliveredEof = false;
    bool blocked = false; // the last write met a full socket
    std::string line;     // FTP control: an incomplete line held back
};

struct Link
{
    Watch ends[2];
    Direction dirs[2]; // dirs[s] carries what side s sends
    bool connecting = true;
    bool ftpControl = false;
    bool dead = false;
    std::string name;
    std::vector<PassiveListener*> passives;
};

struct PassiveListener
{
    Watch watch;
    Link* control = nullptr;
    std::uint16_t serverPort = 0;
    bool dead = false;
};

} // namespace

struct Relay::State
{
    Options options;
    Nanos halfDelay = 0;
    Nanos roundTrip = 0;
    std::int64_t window = 0;
    bool tuneBuffers = false;
    int epollFd = -1;
    int stopFd = -1;
    int timerFd = -1;
    Nanos armedFor = -1; // the deadline the timer is set to, -1: none
    Watch main, stopWatch, timer;
    sockaddr_storage target{};
    socklen_t targetLength = 0;
    std::uint16_t listenPort = 0;
    std::list<std::unique_ptr<Link>> links;
    std::list<std::unique_ptr<PassiveListener>> passives;
    std::vector<char> scratch = std::vector<char>(kReadSize);
    bool stopping = false;
    std::atomic<int> linkCount = 0;

    ~State();
    void log(const char* format, const std::string& a, const std::string& b = {}) const;
    void tune(int fd) const;
    void watch(Watch& w, std::uint32_t events);
    void unwatch(Watch& w);
    int listenSocket(std::uint16_t port, std::uint16_t& bound) const;
    void newLink(int clientFd, std::uint16_t serverPort, bool ftpControl);
    void acceptOn(Watch& w);
    void onPeer(Watch& w, std::uint32_t events);
    void readFrom(Link& link, int side);
    void take(Link& link, int side, const char* data, std::size_t size, Nanos at);
    void filterFtp(Link& link, int side, const char* data, std::size_t size, Nanos at, bool eof);
    void enqueue(Link& link, int side, std::string_view bytes, Nanos at);
    void flush(Link& link, int side, Nanos now);
    void service(Link& link, Nanos now);
    Nanos nextDeadline() const;
    void armTimer(Nanos deadline);
    std::string openPassive(Link& control, std::uint16_t serverPort, std::uint16_t& relayPort);
    void close(Link& link);
    void reap();
};

Relay::State::~State()
{
    for (auto& link : links)
        close(*link);
    for (auto& passive : passives)
        if (passive->watch.fd >= 0)
            ::close(passive->watch.fd);
    for (int fd : {main.fd, stopFd, timerFd, epollFd})
        if (fd >= 0)
            ::close(fd);
}

void Relay::State::log(const char* format, const std::string& a, const std::string& b) const
{
    if (options.verbose)
        std::fprintf(stderr, format, a.c_str(), b.c_str());
}

void Relay::State::tune(int fd) const
{
    const int one = 1;
    // Replies and commands are small writes made when due: Nagle's wait would add to the delay.
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A fixed size turns the kernel's own growing of the buffers off, so it is set only where
    // the system allows one as large as we want.
    if (tuneBuffers) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
    }
}

void Relay::State::watch(Watch& w, std::uint32_t events)
{
    if (w.registered && w.events == events)
        return;
    epoll_event event{};
    event.events = events;
    event.data.ptr = &w;
    epoll_ctl(epollFd, w.registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, w.fd, &event);
    w.registered = true;
    w.events = events;
}

void Relay::State::unwatch(Watch& w)
{
    if (w.registered)
        epoll_ctl(epollFd, EPOLL_CTL_DEL, w.fd, nullptr);
    w.registered = false;
}

int Relay::State::listenSocket(std::uint16_t port, std::uint16_t& bound) const
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // Accepted sockets inherit the buffer sizes, and the window scale is agreed in the handshake.
    tune(fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    bound = ntohs(address.sin_port);
    return fd;
}

void Relay::State::newLink(int clientFd, std::uint16_t serverPort, bool ftpControl)
{
    auto link = std::make_unique<Link>();
    link->ftpControl = ftpControl;
    link->name = (ftpControl    ? "control #"
                  : options.ftp ? "data #"
                                : "connection #") +
                 std::to_string(++linkCount);
    sockaddr_storage address = target;
    reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(serverPort); // same offset in v6
    const int serverFd =
        socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    tune(clientFd);
    if (serverFd >= 0)
        tune(serverFd);
    if (serverFd < 0 ||
        (connect(serverFd, reinterpret_cast<sockaddr*>(&address), targetLength) != 0 &&
         errno != EINPROGRESS)) {
        log("relay: %s: cannot connect to the server: %s\n", link->name, std::strerror(errno));
        ::close(clientFd);
        if (serverFd >= 0)
            ::close(serverFd);
        return;
    }
    log("relay: %s opened%s\n", link->name);
    for (int side = 0; side < 2; ++side) {
        link->ends[side].kind = Watch::Kind::Peer;
        link->ends[side].link = link.get();
        link->ends[side].side = side;
    }
    link->ends[0].fd = clientFd;
    link->ends[1].fd = serverFd;
    watch(link->ends[0], EPOLLIN);
    watch(link->ends[1], EPOLLOUT);
    links.push_back(std::move(link));
}

void Relay::State::acceptOn(Watch& w)
{
    for (;;) {
        const int fd = accept4(w.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (w.kind == Watch::Kind::Main) {
            newLink(fd, options.targetPort, options.ftp);
            continue;
        }
        // A passive port serves the one data connection its reply announced.
        PassiveListener& passive = *w.passive;
        newLink(fd, passive.serverPort, false);
        passive.dead = true;
        unwatch(passive.watch);
        return;
    }
}

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
        if (got <= 0) {
            // A reset travels as an end of data does: the other side sees the close in time.
            d.readEof = true;
            take(link, side, nullptr, 0, at);
            // A reset socket reports an error for as long as it stays in epoll.
            if (got < 0) {
                unwatch(link.ends[side]);
                link.ends[side].ignored = true;
            }
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

Nanos Relay::State::nextDeadline() const
{
    Nanos next = -1;
    const auto consider = [&next](Nanos at) { next = next < 0 ? at : std::min(next, at); };
    for (const auto& link : links) {
        if (link->dead || link->connecting)
            continue;
        for (const Direction& d : link->dirs) {
            if (d.written < d.chunks.size() && !d.blocked)
                consider(d.chunks[d.written].readAt + halfDelay);
            // Reading waits for the window: it reopens when the oldest bytes are acknowledged.
            if (window > 0 && d.unacked >= window && d.written > 0)
                consider(d.chunks.front().readAt + roundTrip);
        }
    }
    return next;
}

void Relay::State::armTimer(Nanos deadline)
{
    if (deadline == armedFor)
        return;
    armedFor = deadline;
    itimerspec spec{};
    if (deadline >= 0) {
        // 0 would disarm the timer: a deadline already past fires at the next nanosecond.
        deadline = std::max<Nanos>(deadline, 1);
        spec.it_value.tv_sec = deadline / 1'000'000'000;
        spec.it_value.tv_nsec = deadline % 1'000'000'000;
    }
    timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &spec, nullptr);
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

void Relay::State::close(Link& link)
{
    for (Watch& w : link.ends) {
        unwatch(w);
        if (w.fd >= 0)
            ::close(w.fd);
        w.fd = -1;
    }
    // A data port nobody connected to dies with its control connection.
    for (PassiveListener* passive : link.passives)
        passive->dead = true;
    link.passives.clear();
}

void Relay::State::reap()
{
    for (auto it = links.begin(); it != links.end();) {
        if (!(*it)->dead) {
            ++it;
            continue;
        }
        log("relay: %s closed%s\n", (*it)->name);
        close(**it);
        it = links.erase(it);
    }
    for (auto it = passives.begin(); it != passives.end();) {
        PassiveListener& passive = **it;
        if (!passive.dead) {
            ++it;
            continue;
        }
        unwatch(passive.watch);
        ::close(passive.watch.fd);
        if (passive.control) {
            auto& list = passive.control->passives;
            list.erase(std::remove(list.begin(), list.end(), &passive), list.end());
        }
        it = passives.erase(it);
    }
}

Relay::Relay(Options options) : m(std::make_unique<State>())
{
    m->options = std::move(options);
}

Relay::~Relay() = default;

bool Relay::open(std::string& error)
{
    State& s = *m;
    s.halfDelay = Nanos(s.options.rttMs * 1e6 / 2);
    s.roundTrip = 2 * s.halfDelay;
    s.window = s.options.window;
    if (s.window < 0)
        s.window = readProcNumber("/proc/sys/net/ipv4/tcp_rmem", 2);
    if (s.window < 0)
        s.window = 6 * 1024 * 1024;
    s.tuneBuffers = readProcNumber("/proc/sys/net/core/rmem_max", 0) >= kSocketBuffer &&
                    readProcNumber("/proc/sys/net/core/wmem_max", 0) >= kSocketBuffer;

    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(s.options.targetPort);
    if (const int result =
            getaddrinfo(s.options.targetHost.c_str(), service.c_str(), &hints, &found)) {
        error = "cannot resolve " + s.options.targetHost + ": " + gai_strerror(result);
        return false;
    }
    std::memcpy(&s.target, found->ai_addr, found->ai_addrlen);
    s.targetLength = found->ai_addrlen;
    freeaddrinfo(found);

    s.epollFd = epoll_create1(EPOLL_CLOEXEC);
    s.stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    s.timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    s.main.fd = s.listenSocket(s.options.listenPort, s.listenPort);
    if (s.epollFd < 0 || s.stopFd < 0 || s.timerFd < 0 || s.main.fd < 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(s.options.listenPort) + ": " +
                std::strerror(errno);
        return false;
    }
    s.main.kind = Watch::Kind::Main;
    s.stopWatch.kind = Watch::Kind::Stop;
    s.stopWatch.fd = s.stopFd;
    s.timer.kind = Watch::Kind::Timer;
    s.timer.fd = s.timerFd;
    s.watch(s.main, EPOLLIN);
    s.watch(s.stopWatch, EPOLLIN);
    s.watch(s.timer, EPOLLIN);
    return true;
}

std::uint16_t Relay::port() const
{
    return m->listenPort;
}

std::int64_t Relay::window() const
{
    return m->window;
}

int Relay::connectionsOpened() const
{
    return m->linkCount;
}

void Relay::run()
{
    State& s = *m;
    if (s.epollFd < 0 || s.main.fd < 0)
        return;
    epoll_event events[64];
    while (!s.stopping) {
        s.armTimer(s.nextDeadline());
        const int count = epoll_wait(s.epollFd, events, 64, -1);
        if (count < 0 && errno != EINTR)
            break;
        for (int i = 0; i < count; ++i) {
            Watch& w = *static_cast<Watch*>(events[i].data.ptr);
            switch (w.kind) {
            case Watch::Kind::Main:
                s.acceptOn(w);
                break;
            case Watch::Kind::Passive:
                if (!w.passive->dead)
                    s.acceptOn(w);
                break;
            case Watch::Kind::Stop:
                s.stopping = true;
                break;
            case Watch::Kind::Timer: {
                std::uint64_t expirations = 0;
                [[maybe_unused]] const ssize_t got = read(w.fd, &expirations, sizeof expirations);
                s.armedFor = -1;
                break;
            }
            case Watch::Kind::Peer:
                s.onPeer(w, events[i].events);
                break;
            }
        }
        const Nanos now = nowNanos();
        for (auto& link : s.links)
            s.service(*link, now);
        s.reap();
    }
}

void Relay::stop()
{
    const std::uint64_t one = 1;
    if (m->stopFd >= 0) [[maybe_unused]]
        const ssize_t written = write(m->stopFd, &one, sizeof one);
}

} // namespace relay
