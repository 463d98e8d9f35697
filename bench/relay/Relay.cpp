// The relay's event loop: its sockets, epoll, the timer that wakes it when held-back bytes
// fall due, and the links' lives.
#include "RelayState.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace relay {
namespace {

std::int64_t readProcNumber(const char* path, int field)
{
    std::ifstream in(path);
    std::int64_t value = 0;
    for (int i = 0; i <= field; ++i)
        if (!(in >> value))
            return 0;
    return value;
}

} // namespace

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
    itimerspec when{};
    if (deadline >= 0) {
        // 0 would disarm the timer: a deadline already past fires at the next nanosecond.
        deadline = std::max<Nanos>(deadline, 1);
        when.it_value.tv_sec = deadline / 1'000'000'000;
        when.it_value.tv_nsec = deadline % 1'000'000'000;
    }
    timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &when, nullptr);
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
    for (PassiveListener* passive : link.passives) {
        passive->dead = true;
        passive->control = nullptr;
    }
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
