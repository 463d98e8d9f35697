// bench_relay: a relay on 127.0.0.1 that delays every byte by a set round trip, for measuring
// clients (ours, curl, lftp, sftp) against a server that seems far away. See bench/README.md.
#include "Relay.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

relay::Relay* running = nullptr;

void onSignal(int)
{
    if (running)
        running->stop();
}

void usage(std::FILE* out)
{
    std::fputs(
        "Usage: bench_relay --target HOST:PORT [--listen PORT] [--rtt MS] [--ftp]\n"
        "                   [--window BYTES] [--verbose]\n"
        "\n"
        "Listens on 127.0.0.1:PORT (default: a free port, printed on the first line) and\n"
        "forwards every connection to HOST:PORT. Each direction holds every byte for half the\n"
        "round trip: bytes read at t are written at t + RTT/2, in order. A direction may have\n"
        "--window bytes in flight (read, and not yet a round trip old), as a TCP window limits\n"
        "a real link to window/RTT; the default is the largest receive window this machine's\n"
        "TCP grows to (net.ipv4.tcp_rmem), 0 is no limit. Opening a connection costs no round\n"
        "trip: the relay answers the handshake itself, at once.\n"
        "\n"
        "  --ftp      Plain FTP only: the relay reads the control connection, rewrites every\n"
        "             227 (PASV) and 229 (EPSV) reply to a port of its own and carries (and\n"
        "             delays) that data connection to the server's port. PORT and EPRT are\n"
        "             refused (active mode would go around the relay), and so is AUTH: a TLS\n"
        "             control connection can't be read, so FTP over TLS can't be relayed.\n"
        "             Without --ftp any TCP protocol is relayed as it is (SSH, for instance).\n"
        "  --rtt MS   Round-trip time to add, in milliseconds (default 0).\n"
        "  --verbose  A line on stderr for every connection and rewritten reply.\n"
        "\n"
        "Runs until interrupted (Ctrl-C, SIGTERM).\n",
        out);
}

bool parsePort(const char* text, std::uint16_t& port)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    relay::Options options;
    bool haveTarget = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--ftp") {
            options.ftp = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (!value) {
            ok = false;
        } else if (arg == "--target") {
            const std::string target = value;
            const std::size_t colon = target.rfind(':');
            ok = colon != std::string::npos && colon > 0 &&
                 parsePort(target.c_str() + colon + 1, options.targetPort);
            options.targetHost = target.substr(0, colon);
            haveTarget = ok;
            ++i;
        } else if (arg == "--listen") {
            ok = parsePort(value, options.listenPort);
            ++i;
        } else if (arg == "--rtt") {
            char* end = nullptr;
            options.rttMs = std::strtod(value, &end);
            ok = end != value && *end == '\0' && options.rttMs >= 0 && options.rttMs <= 60000;
            ++i;
        } else if (arg == "--window") {
            char* end = nullptr;
            options.window = std::strtoll(value, &end, 10);
            ok = end != value && *end == '\0' && options.window >= 0;
            ++i;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "bench_relay: bad argument %s\n\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (!haveTarget) {
        std::fputs("bench_relay: --target HOST:PORT is required\n\n", stderr);
        usage(stderr);
        return 2;
    }
    relay::Relay relay(options);
    std::string error;
    if (!relay.open(error)) {
        std::fprintf(stderr, "bench_relay: %s\n", error.c_str());
        return 1;
    }
    std::printf("127.0.0.1:%u -> %s:%u, round trip %g ms, window %lld bytes%s\n", relay.port(),
                options.targetHost.c_str(), options.targetPort, options.rttMs,
                static_cast<long long>(relay.window()), options.ftp ? ", FTP" : "");
    std::fflush(stdout);
    running = &relay;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    relay.run();
    return 0;
}
