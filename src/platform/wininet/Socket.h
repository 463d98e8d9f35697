#pragma once
// Non-blocking TCP sockets for the FTP engine. Every wait goes through waitFor(), one poll()
// with a deadline, so no call of the service can hang on a silent peer.
#include "windef.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/socket.h>

namespace wininet {

class TlsChannel;
class TlsContext;
enum class TlsRole;

// Lets another thread cut a wait short: once raised, every wait that watches it fails with
// ERROR_INTERNET_OPERATION_CANCELLED until it is cleared.
class CancelSignal
{
public:
    CancelSignal();
    CancelSignal(const CancelSignal&) = delete;
    CancelSignal& operator=(const CancelSignal&) = delete;
    ~CancelSignal();

    void raise();
    void clear();
    bool raised() const { return m_raised.load(); }
    int fd() const { return m_fd; } // readable while raised; -1 when none could be made

private:
    int m_fd = -1;
    std::atomic<bool> m_raised{false};
};

// The moment a wait gives up, and the signal that may end it sooner.
class Deadline
{
public:
    static Deadline after(DWORD milliseconds, const CancelSignal* cancel = nullptr);
    bool expired() const;
    int remainingMs() const; // for poll(), rounded up, never negative
    const CancelSignal* cancel() const { return m_cancel; }

private:
    std::chrono::steady_clock::time_point m_end;
    const CancelSignal* m_cancel = nullptr;
};

struct SocketAddress
{
    sockaddr_storage storage{};
    socklen_t length = 0;

    int family() const { return storage.ss_family; }
    std::uint16_t port() const;
    void setPort(std::uint16_t port);
    std::string hostText() const; // numeric form, "127.0.0.1" or "::1"
    bool sameHost(const SocketAddress& other) const;
};

// Owns one file descriptor, and the TLS connection over it once there is one.
class Socket
{
public:
    Socket();
    explicit Socket(int fd);
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket();

    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    void close();
    // Closing with unread data makes the kernel reset the connection; the peer notices at once.
    void shutdownWrite();
    // Closes with a reset even when nothing is left unread: the peer sees an error, never the
    // orderly end that would make a partial upload look complete.
    void reset();

    // Runs the TLS handshake; from then on receiveSome() and sendAll() go through TLS.
    DWORD startTls(std::shared_ptr<TlsContext> context, TlsRole role, const Deadline& deadline);
    TlsChannel* tls() const { return m_tls.get(); }
    // Before closing after the last byte of an upload: TLS ends with close_notify and reads to
    // the end of the stream, so the server sees a clean end and no reset. Nothing for plain TCP.
    DWORD finishSending(const Deadline& deadline);

private:
    int m_fd = -1;
    std::unique_ptr<TlsChannel> m_tls;
};

// Waits until `fd` can do `events` (POLLIN / POLLOUT). 0 when ready, else the error code:
// ERROR_INTERNET_TIMEOUT at the deadline, ERROR_INTERNET_OPERATION_CANCELLED when its signal
// is raised.
DWORD waitFor(int fd, short events, const Deadline& deadline);

// The WinINet code for a failed socket call's errno.
DWORD errorFromErrno(int errnoValue);

// Reads what is there, up to `capacity` bytes, waiting for at least one. `received` 0 means
// the peer closed the connection. 0 on success, else the error code.
DWORD receiveSome(const Socket& socket, char* buffer, std::size_t capacity,
                  const Deadline& deadline, std::size_t& received);
// Sends everything. 0 on success, else the error code.
DWORD sendAll(const Socket& socket, const char* data, std::size_t length, const Deadline& deadline);
// The same on the bare descriptor, below any TLS.
DWORD receiveRaw(int fd, char* buffer, std::size_t capacity, const Deadline& deadline,
                 std::size_t& received);
DWORD sendRaw(int fd, const char* data, std::size_t length, const Deadline& deadline);

// Resolves `host` (name or numeric, IPv4 or IPv6) and connects to the first address that
// answers. Fills `peer`. 0 on success, else the error code (12007 when the name is unknown).
DWORD connectToHost(const std::string& host, std::uint16_t port, const Deadline& deadline,
                    Socket& out, SocketAddress& peer);
DWORD connectToAddress(const SocketAddress& address, const Deadline& deadline, Socket& out);
// A listening socket on `local`'s address, any free port; `bound` receives the address.
DWORD listenOn(const SocketAddress& local, Socket& out, SocketAddress& bound);
// Accepts one connection that comes from `expectedPeer`'s host; others are turned away.
DWORD acceptFrom(const Socket& listener, const SocketAddress& expectedPeer,
                 const Deadline& deadline, Socket& out);
bool localAddress(const Socket& socket, SocketAddress& out);

} // namespace wininet
