#include "sftp/Askpass.h"

#include "sftp/SshDiagnostics.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace sftp {
namespace {

constexpr std::size_t kMaxQuestion = 16 * 1024;
constexpr std::size_t kMaxAnswer = 4 * 1024;
// The helper and the program are on one machine: anything slower is not our helper.
constexpr std::chrono::milliseconds kHelperWait{5000};

bool makeAddress(const std::string& path, sockaddr_un& address)
{
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool waitFor(int fd, short events, const Deadline& deadline)
{
    pollfd entry{fd, events, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, deadline.remainingMs());
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

bool readAll(int fd, std::string& out, std::size_t limit, const Deadline& deadline)
{
    char buffer[4096];
    for (;;) {
        if (!waitFor(fd, POLLIN, deadline))
            return false;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        out.append(buffer, static_cast<std::size_t>(got));
        if (out.size() > limit)
            return false;
    }
}

bool writeAll(int fd, std::string_view bytes, const Deadline& deadline)
{
    while (!bytes.empty()) {
        if (!waitFor(fd, POLLOUT, deadline))
            return false;
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool sameBytes(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

std::string privateFolderBase()
{
    // XDG_RUNTIME_DIR is the user's own tmpfs; elsewhere the folder is made 0700 by mkdtemp.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info;
    if (runtime && runtime[0] == '/' && ::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == ::geteuid() && (info.st_mode & 077) == 0)
        return runtime;
    const char* tmp = std::getenv("TMPDIR");
    return tmp && tmp[0] == '/' ? tmp : "/tmp";
}

} // namespace

AskpassChannel::~AskpassChannel()
{
    m_listen.reset();
    if (!m_socketPath.empty())
        ::unlink(m_socketPath.c_str());
    if (!m_folder.empty()) {
        // The folder may hold the list of keys trusted for this connection only.
        ::unlink((m_folder + "/known_hosts").c_str());
        ::rmdir(m_folder.c_str());
    }
}

bool AskpassChannel::open(Error& error)
{
    std::string pattern = privateFolderBase() + "/zulftp-ssh.XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error = makeError(ErrorKind::Local, "No private folder for the log-on could be made: " +
                                                std::string(std::strerror(errno)) + ".");
        return false;
    }
    m_folder = pattern;
    unsigned char random[16];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        error = makeError(ErrorKind::Local, "No random token for the log-on could be made.");
        return false;
    }
    static const char digits[] = "0123456789abcdef";
    for (unsigned char byte : random) {
        m_token += digits[byte >> 4];
        m_token += digits[byte & 15];
    }
    sockaddr_un address;
    const std::string path = m_folder + "/askpass";
    m_listen.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!m_listen || !makeAddress(path, address) ||
        ::bind(m_listen.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listen.get(), 4) != 0) {
        error = makeError(ErrorKind::Local, "The log-on channel could not be opened: " +
                                                std::string(std::strerror(errno)) + ".");
        return false;
    }
    m_socketPath = path;
    return true;
}

bool AskpassChannel::serveOne(const PromptHandler& handler, const CancelSignal* cancel,
                              PromptRequest& asked, PromptAnswer& answer)
{
    answer = PromptAnswer{};
    UniqueFd peer(::accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!peer)
        return errno == EAGAIN || errno == EINTR;
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(peer.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        credentials.uid != ::geteuid())
        return true; // not ours: ignored, the real helper still gets its turn
    std::string request;
    if (!readAll(peer.get(), request, kMaxQuestion, Deadline::after(kHelperWait)))
        return true;
    // token '\n' hint '\n' prompt
    const std::size_t first = request.find('\n');
    const std::size_t second = first == std::string::npos ? first : request.find('\n', first + 1);
    if (second == std::string::npos || !sameBytes(request.substr(0, first), m_token))
        return true;
    const std::string hint = request.substr(first + 1, second - first - 1);
    asked = classifyPrompt(request.substr(second + 1), hint);
    asked.attempt = ++m_attempts[asked.kind];
    if (handler && !(cancel && cancel->raised()))
        answer = handler(asked);
    std::string reply;
    if (answer.cancelled) {
        reply = "0";
    } else if (asked.kind == PromptKind::HostKey) {
        reply = answer.trust == HostKeyTrust::Cancel ? "1no" : "1yes";
    } else if (asked.kind == PromptKind::Confirm) {
        reply = "1yes";
    } else {
        reply = "1" + answer.text.substr(0, kMaxAnswer);
    }
    writeAll(peer.get(), reply, Deadline::after(kHelperWait));
    return !answer.cancelled &&
           !(asked.kind == PromptKind::HostKey && answer.trust == HostKeyTrust::Cancel);
}

int runAskpassHelper(int argc, char** argv)
{
    const char* socketPath = std::getenv(kAskpassSocketVariable);
    const char* token = std::getenv(kAskpassTokenVariable);
    if (!socketPath || !token)
        return -1;
    const char* hint = std::getenv("SSH_ASKPASS_PROMPT");
    const std::string prompt = argc > 1 ? argv[1] : "";
    sockaddr_un address;
    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket || !makeAddress(socketPath, address) ||
        ::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return 1;
    // The program may be waiting on the user for as long as it likes: no deadline there.
    std::string request = std::string(token) + "\n" + (hint ? hint : "") + "\n" + prompt;
    if (!writeAll(socket.get(), request, Deadline::after(kHelperWait)))
        return 1;
    ::shutdown(socket.get(), SHUT_WR);
    std::string reply;
    if (!readAll(socket.get(), reply, kMaxAnswer + 1, Deadline::after(std::chrono::hours(24))) ||
        reply.empty() || reply[0] != '1')
        return 1;
    reply.erase(0, 1);
    reply += '\n';
    return std::fwrite(reply.data(), 1, reply.size(), stdout) == reply.size() &&
                   std::fflush(stdout) == 0
               ? 0
               : 1;
}

} // namespace sftp
