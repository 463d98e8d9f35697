#pragma once
// The relay's inside, shared by its event loop (Relay.cpp) and the way bytes flow through a
// link (RelayFlow.cpp). Every read is stamped; its bytes are written to the other side half a
// round trip later, in order, and count against the direction's window until a whole round
// trip after they were read (when a real sender would have had their acknowledgement).
#include "Relay.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <vector>

namespace relay {

using Nanos = std::int64_t;

// steady_clock is CLOCK_MONOTONIC on Linux, the clock the timerfd runs on.
inline Nanos nowNanos()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr std::size_t kReadSize = 1024 * 1024;
// What the relay asks of its own sockets: at 0 ms it must not be what limits loopback.
constexpr int kSocketBuffer = 4 * 1024 * 1024;
constexpr int kReadsPerWake = 16;
constexpr std::size_t kSpareBuffers = 64;

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
    // Written chunks' buffers, kept for the next reads: a fresh buffer of this size is mapped
    // anew by the allocator, and faulting its pages in cost more than the relaying.
    std::vector<std::vector<char>> spare;
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

} // namespace relay
