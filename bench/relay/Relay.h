#pragma once
// A relay on loopback that holds every byte for half a round trip in each direction, so the
// benchmarks see a distant server on a machine whose kernel offers no network emulation.
// No Qt: the bench_relay program, the benchmarks and the tests all link it.
#include <cstdint>
#include <memory>
#include <string>

namespace relay {

struct Options
{
    std::uint16_t listenPort = 0; // on 127.0.0.1; 0: a free one, see Relay::port()
    std::string targetHost = "127.0.0.1";
    std::uint16_t targetPort = 0;
    double rttMs = 0;
    // Understand the FTP control connection: rewrite 227/229 replies to ports of the relay's
    // own and carry those data connections too; refuse PORT, EPRT and AUTH.
    bool ftp = false;
    // Bytes a direction may have in flight, read but not yet acknowledged a round trip later,
    // as a TCP window limits a real link to window / RTT. -1: the largest receive window this
    // machine's TCP grows to (net.ipv4.tcp_rmem); 0: no limit.
    std::int64_t window = -1;
    bool verbose = false; // one line per connection and rewritten reply on stderr
};

// The relay's event loop: one thread, epoll, non-blocking sockets.
class Relay
{
public:
    explicit Relay(Options options);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Resolves the target and opens the listening socket; false with a message on failure.
    bool open(std::string& error);
    std::uint16_t port() const;
    std::int64_t window() const;
    // Connections relayed so far, data connections included; safe from any thread.
    int connectionsOpened() const;
    // Relays until stop(); returns at once if open() did not succeed.
    void run();
    // Safe from any thread and from a signal handler.
    void stop();

private:
    struct State;
    std::unique_ptr<State> m;
};

} // namespace relay
