#include "Socket.h"

#include "TlsChannel.h"
#include "wininet.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace wininet {

CancelSignal::CancelSignal() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CancelSignal::~CancelSignal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void CancelSignal::raise()
{
    m_raised = true;
    const std::uint64_t one = 1;
    if (m_fd >= 0 && ::write(m_fd, &one, sizeof one) < 0) {
        // The counter is already far from zero: the signal is up either way.
    }
}

void CancelSignal::clear()
{
    m_raised = false;
    std::uint64_t count = 0;
    if (m_fd >= 0 && ::read(m_fd, &count, sizeof count) < 0) {
        // Nothing was raised: the counter stays at zero.
    }
}

Deadline Deadline::after(DWORD milliseconds, const CancelSignal* cancel)
{
    Deadline deadline;
    deadline.m_end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    deadline.m_cancel = cancel;
    return deadline;
}

bool Deadline::expired() const
{
    return std::chrono::steady_clock::now() >= m_end;
}

int Deadline::remainingMs() const
{
    const auto left = m_end - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

std::uint16_t SocketAddress::port() const
{
    if (family() == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    if (family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return 0;
}

void SocketAddress::setPort(std::uint16_t port)
{
    if (family() == AF_INET)
        reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(port);
    else if (family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(port);
}

std::string SocketAddress::hostText() const
{
    char text[INET6_ADDRSTRLEN] = {};
    if (family() == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr, text,
                    sizeof text);
    else if (family() == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr, text,
                    sizeof text);
    return text;
}

bool SocketAddress::sameHost(const SocketAddress& other) const
{
    if (family() != other.family())
        return false;
    if (family() == AF_INET)
        return std::memcmp(&reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr,
                           &reinterpret_cast<const sockaddr_in*>(&other.storage)->sin_addr,
                           sizeof(in_addr)) == 0;
    if (family() == AF_INET6)
        return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr,
                           &reinterpret_cast<const sockaddr_in6*>(&other.storage)->sin6_addr,
                           sizeof(in6_addr)) == 0;
    return false;
}

Socket::Socket() = default;

Socket::Socket(int fd) : m_fd(fd) {}

Socket::Socket(Socket&& other) noexcept : m_fd(other.m_fd), m_tls(std::move(other.m_tls))
{
    other.m_fd = -1;
}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        m_tls = std::move(other.m_tls);
        other.m_fd = -1;
    }
    return *this;
}

Socket::~Socket()
{
    close();
}

void Socket::close()
{
    if (m_tls) {
        if (m_fd >= 0)
            m_tls->closeNotify(m_fd);
        m_tls.reset();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void Socket::reset()
{
    m_tls.reset(); // no close_notify either: under TLS that too says the data ended in order
    if (m_fd >= 0) {
        const linger abortive{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    close();
}

void Socket::shutdownWrite()
{
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_WR);
}

DWORD Socket::startTls(std::shared_ptr<TlsContext> context, TlsRole role, const Deadline& deadline)
{
    if (m_fd < 0)
        return ERROR_FTP_DROPPED;
    auto channel = std::make_unique<TlsChannel>(std::move(context), role);
    if (const DWORD error = channel->handshake(m_fd, deadline))
        return error;
    m_tls = std::move(channel);
    return ERROR_SUCCESS;
}

DWORD Socket::finishSending(const Deadline& deadline)
{
    if (!m_tls || m_fd < 0)
        return ERROR_SUCCESS;
    return m_tls->finishSending(m_fd, deadline);
}

DWORD waitFor(int fd, short events, const Deadline& deadline)
{
    const CancelSignal* cancel = deadline.cancel();
    const int cancelFd = cancel != nullptr ? cancel->fd() : -1;
    for (;;) {
        if (cancel != nullptr && cancel->raised())
            return ERROR_INTERNET_OPERATION_CANCELLED;
        pollfd waiters[2] = {{fd, events, 0}, {cancelFd, POLLIN, 0}};
        const int ready = ::poll(waiters, cancelFd >= 0 ? 2 : 1, deadline.remainingMs());
        if (ready > 0 && waiters[1].revents != 0)
            return ERROR_INTERNET_OPERATION_CANCELLED;
        if (ready > 0)
            return ERROR_SUCCESS; // errors and hang-ups show in the next recv/send
        if (ready == 0)
            return ERROR_INTERNET_TIMEOUT;
        if (errno != EINTR)
            return errorFromErrno(errno);
    }
}

DWORD errorFromErrno(int errnoValue)
{
    switch (errnoValue) {
    case ECONNRESET:
        return ERROR_INTERNET_CONNECTION_RESET;
    case ECONNREFUSED:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EADDRNOTAVAIL:
    case ENETDOWN:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case ETIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        return ERROR_INTERNET_OUT_OF_HANDLES;
    default:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    }
}

DWORD receiveSome(const Socket& socket, char* buffer, std::size_t capacity,
                  const Deadline& deadline, std::size_t& received)
{
    received = 0;
    // Checked before reading too: on a fast link the data is always there and no wait would
    // ever notice the signal.
    if (deadline.cancel() != nullptr && deadline.cancel()->raised())
        return ERROR_INTERNET_OPERATION_CANCELLED;
    if (TlsChannel* tls = socket.tls())
        return tls->receive(socket.fd(), buffer, capacity, deadline, received);
    return receiveRaw(socket.fd(), buffer, capacity, deadline, received);
}

DWORD sendAll(const Socket& socket, const char* data, std::size_t length, const Deadline& deadline)
{
    if (TlsChannel* tls = socket.tls())
        return tls->send(socket.fd(), data, length, deadline);
    return sendRaw(socket.fd(), data, length, deadline);
}

DWORD receiveRaw(int fd, char* buffer, std::size_t capacity, const Deadline& deadline,
                 std::size_t& received)
{
    received = 0;
    for (;;) {
        // Try first: on a busy link data is usually there, and the poll would be wasted.
        const ssize_t got = ::recv(fd, buffer, capacity, MSG_DONTWAIT);
        if (got >= 0) {
            received = static_cast<std::size_t>(got);
            return ERROR_SUCCESS;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errorFromErrno(errno);
        if (const DWORD error = waitFor(fd, POLLIN, deadline))
            return error;
    }
}

DWORD sendRaw(int fd, const char* data, std::size_t length, const Deadline& deadline)
{
    while (length > 0) {
        // MSG_NOSIGNAL: a peer that went away is an error code, not a SIGPIPE that kills us.
        const ssize_t sent = ::send(fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            length -= static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return errorFromErrno(errno);
        if (const DWORD error = waitFor(fd, POLLOUT, deadline))
            return error;
    }
    return ERROR_SUCCESS;
}

namespace {

int openSocket(int family)
{
    return ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
}

void tuneForCommands(int fd)
{
    // Commands are single small writes; waiting for more bytes only adds latency.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

DWORD connectToAddress(const SocketAddress& address, const Deadline& deadline, Socket& out)
{
    Socket socket(openSocket(address.family()));
    if (!socket.isOpen())
        return errorFromErrno(errno);
    tuneForCommands(socket.fd());
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address.storage),
                  address.length) != 0) {
        if (errno != EINPROGRESS && errno != EINTR)
            return errorFromErrno(errno);
        if (const DWORD error = waitFor(socket.fd(), POLLOUT, deadline))
            return error;
        int socketError = 0;
        socklen_t length = sizeof socketError;
        ::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &socketError, &length);
        if (socketError != 0)
            return errorFromErrno(socketError) == ERROR_INTERNET_CONNECTION_ABORTED
                       ? ERROR_INTERNET_CANNOT_CONNECT
                       : errorFromErrno(socketError);
    }
    out = std::move(socket);
    return ERROR_SUCCESS;
}

DWORD connectToHost(const std::string& host, std::uint16_t port, const Deadline& deadline,
                    Socket& out, SocketAddress& peer)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (status == EAI_NONAME || status == EAI_FAMILY) {
        // AI_ADDRCONFIG hides ::1 and 127.0.0.1 on a machine with loopback only.
        hints.ai_flags = 0;
        status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    }
    if (status != 0 || found == nullptr)
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    DWORD error = ERROR_INTERNET_CANNOT_CONNECT;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_addrlen > sizeof peer.storage)
            continue;
        SocketAddress address;
        std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
        address.length = entry->ai_addrlen;
        error = connectToAddress(address, deadline, out);
        if (error == ERROR_SUCCESS) {
            peer = address;
            break;
        }
        if (error == ERROR_INTERNET_TIMEOUT)
            break;
    }
    ::freeaddrinfo(found);
    return error;
}

DWORD listenOn(const SocketAddress& local, Socket& out, SocketAddress& bound)
{
    Socket socket(openSocket(local.family()));
    if (!socket.isOpen())
        return errorFromErrno(errno);
    SocketAddress address = local;
    address.setPort(0);
    if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) !=
            0 ||
        ::listen(socket.fd(), 1) != 0 || !localAddress(socket, bound))
        return errorFromErrno(errno);
    out = std::move(socket);
    return ERROR_SUCCESS;
}

DWORD acceptFrom(const Socket& listener, const SocketAddress& expectedPeer,
                 const Deadline& deadline, Socket& out)
{
    for (;;) {
        if (const DWORD error = waitFor(listener.fd(), POLLIN, deadline))
            return error;
        SocketAddress from;
        from.length = sizeof from.storage;
        const int fd = ::accept4(listener.fd(), reinterpret_cast<sockaddr*>(&from.storage),
                                 &from.length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED)
                continue;
            return errorFromErrno(errno);
        }
        Socket accepted(fd);
        // Only the server may deliver our data: anyone else who finds the port is refused.
        if (from.sameHost(expectedPeer)) {
            out = std::move(accepted);
            return ERROR_SUCCESS;
        }
    }
}

bool localAddress(const Socket& socket, SocketAddress& out)
{
    out.length = sizeof out.storage;
    return ::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&out.storage), &out.length) == 0;
}

} // namespace wininet
