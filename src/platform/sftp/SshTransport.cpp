#include "sftp/SshTransport.h"

#include "sftp/KnownHosts.h"
#include "sftp/SftpPacket.h"
#include "sftp/SshDiagnostics.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace sftp {
namespace {

constexpr std::size_t kMaxErrorText = 64 * 1024;
constexpr int kPipeSize = 1024 * 1024;
// A read takes what the pipe holds in one call.
constexpr std::size_t kReadChunk = kPipeSize;

Error localError(const std::string& what)
{
    return makeError(ErrorKind::Local, what + ": " + std::strerror(errno) + ".");
}

std::string thisExecutable()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

std::string expandHome(const std::string& path)
{
    if (path.rfind("~/", 0) != 0)
        return path;
    const char* home = std::getenv("HOME");
    return home ? std::string(home) + path.substr(1) : path;
}

// The connection's own options, after ours (ssh takes the first value it is given for an
// option, so ours come first where they must hold), then the host.
std::vector<std::string> commonArguments(const ConnectOptions& options,
                                         const std::vector<std::string>& ours)
{
    std::vector<std::string> args{options.sshProgram};
    if (!options.configFile.empty())
        args.insert(args.end(), {"-F", options.configFile});
    for (const std::string& option : ours)
        args.insert(args.end(), {"-o", option});
    if (options.port != 0)
        args.insert(args.end(), {"-p", std::to_string(options.port)});
    if (!options.user.empty())
        args.insert(args.end(), {"-l", options.user});
    if (!options.keyFile.empty())
        args.insert(args.end(), {"-i", options.keyFile});
    for (const std::string& option : options.extraOptions)
        args.insert(args.end(), {"-o", option});
    return args;
}

bool spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
           int in, int out, int err, pid_t& pid)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    // A session of its own, without a terminal: ssh then asks every question through the
    // askpass helper and never reads the user's terminal behind the program's back.
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    const int result =
        ::posix_spawnp(&pid, args[0].c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    errno = result;
    return result == 0;
}

std::vector<std::string> inheritedEnvironment()
{
    std::vector<std::string> environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        if (text.rfind("SSH_ASKPASS", 0) == 0 || text.rfind("ZULFTP_ASKPASS", 0) == 0)
            continue;
        environment.emplace_back(text);
    }
    return environment;
}

// What ssh's configuration makes of this host, as `ssh -G` resolves it.
struct ResolvedHost
{
    // The known_hosts files ssh would use. Our own list of keys trusted once goes in front of
    // them, so a new key ssh writes lands in that list, and "always" copies it on to the first.
    std::vector<std::string> knownHosts;
    std::string knownHostsName; // the name its keys are filed under there
};

std::string settingOf(const std::string& text, const std::string& name)
{
    const std::string key = "\n" + name + " ";
    const std::size_t at = ("\n" + text).find(key);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + key.size() - 1;
    return text.substr(start, text.find('\n', start) - start);
}

ResolvedHost resolveHost(const ConnectOptions& options, const Timeouts& timeouts)
{
    ResolvedHost resolved;
    std::vector<std::string>& files = resolved.knownHosts;
    std::vector<std::string> args = commonArguments(options, {});
    args.insert(args.end(), {"-G", "--", options.host});
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return resolved;
    UniqueFd reader(output[0]);
    UniqueFd writer(output[1]);
    UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    pid_t pid = -1;
    if (!spawn(args, inheritedEnvironment(), devNull.get(), writer.get(), devNull.get(), pid))
        return resolved;
    writer.reset();
    std::string text;
    const Deadline deadline = Deadline::after(timeouts.connect);
    char buffer[4096];
    for (;;) {
        pollfd entry{reader.get(), POLLIN, 0};
        if (::poll(&entry, 1, deadline.remainingMs()) <= 0)
            break;
        const ssize_t got = ::read(reader.get(), buffer, sizeof buffer);
        if (got <= 0 || text.size() > 1024 * 1024)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    const std::string port = settingOf(text, "port");
    const std::string alias = settingOf(text, "hostkeyalias");
    resolved.knownHostsName =
        knownHostsName(settingOf(text, "hostname"), port.empty() ? 22 : std::atoi(port.c_str()),
                       alias == "none" ? std::string() : alias);
    const std::string line = settingOf(text, "userknownhostsfile");
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        if (end > pos)
            files.push_back(line.substr(pos, end - pos));
        pos = end + 1;
    }
    return resolved;
}

} // namespace

CancelSignal::CancelSignal()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_readFd = fds[0];
        m_writeFd = fds[1];
    }
}

CancelSignal::~CancelSignal()
{
    if (m_readFd >= 0)
        ::close(m_readFd);
    if (m_writeFd >= 0)
        ::close(m_writeFd);
}

void CancelSignal::raise()
{
    if (!m_raised.exchange(true) && m_writeFd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_writeFd, &byte, 1);
    }
}

void CancelSignal::clear()
{
    if (m_raised.exchange(false) && m_readFd >= 0) {
        char byte;
        while (::read(m_readFd, &byte, 1) > 0) {
        }
    }
}

SshTransport::~SshTransport()
{
    stop();
}

bool SshTransport::start(const ConnectOptions& options, PromptHandler prompts,
                         const CancelSignal* cancel, Error& error)
{
    m_options = options;
    m_prompts = std::move(prompts);
    m_cancel = cancel;
    // A host name that starts with '-' would be read as an option of ssh's.
    if (options.host.empty() || options.host[0] == '-' ||
        options.host.find_first_of(" \t\r\n") != std::string::npos) {
        error = makeError(ErrorKind::ConnectFailed, "\"" + options.host + "\" is not a host name.");
        return false;
    }
    if (!m_askpass.open(error))
        return false;
    ResolvedHost resolved = resolveHost(options, options.timeouts);
    m_userKnownHosts = std::move(resolved.knownHosts);
    m_knownHostsName = std::move(resolved.knownHostsName);
    // Without the user's own files a changed key would look like a new one: fall back to
    // ssh's defaults rather than to none.
    if (m_userKnownHosts.empty())
        m_userKnownHosts = {"~/.ssh/known_hosts", "~/.ssh/known_hosts2"};
    std::string knownHosts = "UserKnownHostsFile=\"" + m_askpass.folder() + "/known_hosts\"";
    // Replacing a changed key, ssh sees our empty list alone, so the server's key is new to it
    // and asked about; only the key the user accepted is then taken (acceptReplacement()).
    if (m_replacement.fingerprint.empty()) {
        for (const std::string& file : m_userKnownHosts)
            knownHosts += " \"" + file + "\"";
    } else {
        if (m_knownHostsName.empty()) {
            error = makeError(ErrorKind::HostKeyChanged,
                              "The known key of " + options.host + " cannot be found to replace.");
            return false;
        }
        m_prompts = [this, user = std::move(m_prompts)](const PromptRequest& request) {
            return request.kind == PromptKind::HostKey ? acceptReplacement(request) : user(request);
        };
    }

    // Questions go to the user through askpass (never a refusal without asking), a new host
    // key is asked about, a changed one stops the connection before log-on, and nothing but
    // the file-transfer channel is opened.
    std::vector<std::string> args = commonArguments(
        options, {"BatchMode=no", "StrictHostKeyChecking=ask",
                  "ServerAliveInterval=" + std::to_string(options.serverAliveSeconds), knownHosts,
                  "ForwardX11=no", "ForwardAgent=no", "ClearAllForwardings=yes",
                  "PermitLocalCommand=no", "RequestTTY=no"});
    args.insert(args.end(), {"-s", "--", options.host, "sftp"});

    std::vector<std::string> environment = inheritedEnvironment();
    const std::string askpass =
        options.askpassProgram.empty() ? thisExecutable() : options.askpassProgram;
    environment.push_back("SSH_ASKPASS=" + askpass);
    environment.push_back("SSH_ASKPASS_REQUIRE=force");
    environment.push_back(std::string(kAskpassSocketVariable) + "=" + m_askpass.socketPath());
    environment.push_back(std::string(kAskpassTokenVariable) + "=" + m_askpass.token());

    // ssh's input is a socket, not a pipe: a write after ssh died then fails with EPIPE
    // (MSG_NOSIGNAL) instead of raising SIGPIPE, which would end the whole program.
    int input[2], output[2], errors[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0) {
        error = localError("No pipe for ssh");
        return false;
    }
    UniqueFd childIn(input[0]);
    m_toSsh.reset(input[1]);
    // Room for several large WRITE requests, so ssh finds a long run to read each time it
    // wakes (the system caps it at its own limit).
    const int sendBuffer = kPipeSize;
    ::setsockopt(input[1], SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    if (::pipe2(output, O_CLOEXEC) != 0) {
        error = localError("No pipe for ssh");
        return false;
    }
    m_fromSsh.reset(output[0]);
    UniqueFd childOut(output[1]);
    // A pipe holds 64 KiB by default: ssh would stop after a quarter of one large reply and
    // wait for us to read, a pair of context switches per 64 KiB. A larger pipe lets it go on
    // (a system that allows less keeps the default).
    ::fcntl(output[0], F_SETPIPE_SZ, kPipeSize);
    if (::pipe2(errors, O_CLOEXEC) != 0) {
        error = localError("No pipe for ssh");
        return false;
    }
    m_sshErrors.reset(errors[0]);
    UniqueFd childErr(errors[1]);
    if (!spawn(args, environment, childIn.get(), childOut.get(), childErr.get(), m_pid)) {
        m_pid = -1;
        error = localError("OpenSSH's client (" + options.sshProgram + ") could not be started");
        return false;
    }
    for (int fd : {m_toSsh.get(), m_fromSsh.get(), m_sshErrors.get()})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (m_log)
        m_log->note("Started " + options.sshProgram + " (process " + std::to_string(m_pid) +
                    ") for " + (options.user.empty() ? std::string() : options.user + "@") +
                    options.host +
                    (options.port ? ", port " + std::to_string(options.port) : std::string()));
    return true;
}

void SshTransport::queue(std::string_view packet)
{
    queue(std::string(packet));
}

void SshTransport::queue(std::string&& packet)
{
    if (m_log)
        m_log->request(packet);
    // Each packet is kept whole until ssh took it, then dropped: a long upload holds only the
    // requests in flight, and no packet is copied again on its way out.
    m_queued += packet.size();
    m_out.push_back(std::move(packet));
}

bool SshTransport::sendQueued()
{
    constexpr std::size_t kPacketsPerCall = 16;
    iovec parts[kPacketsPerCall];
    std::size_t count = 0;
    for (auto it = m_out.begin(); it != m_out.end() && count < kPacketsPerCall; ++it, ++count) {
        const std::size_t skip = count == 0 ? m_outPos : 0;
        parts[count] = {it->data() + skip, it->size() - skip};
    }
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = count;
    const ssize_t sent = ::sendmsg(m_toSsh.get(), &message, MSG_NOSIGNAL);
    if (sent < 0)
        return errno == EAGAIN || errno == EINTR;
    m_queued -= static_cast<std::size_t>(sent);
    std::size_t left = static_cast<std::size_t>(sent) + m_outPos;
    while (!m_out.empty() && left >= m_out.front().size()) {
        left -= m_out.front().size();
        m_out.pop_front();
    }
    m_outPos = left;
    return true;
}

bool SshTransport::havePacket(Error& error) const
{
    const std::size_t available = m_inEnd - m_inPos;
    if (available < 4)
        return false;
    const std::uint8_t* p = &m_in[m_inPos];
    const std::uint32_t length = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                                 (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
    if (length == 0 || length > kMaxReplyLength) {
        error = makeError(ErrorKind::Protocol, "The server " + m_options.host +
                                                   " sent a packet of impossible length " +
                                                   std::to_string(length) + ".");
        return false;
    }
    return available - 4 >= length;
}

bool SshTransport::receive(std::span<const std::uint8_t>& packet, std::chrono::milliseconds span,
                           Error& error)
{
    m_inPos += m_consumed;
    m_consumed = 0;
    error = Error{};
    // Replies already read stay unread after a cancel: a fast server could otherwise keep a
    // cancelled transfer going for megabytes.
    if (m_cancel && m_cancel->raised()) {
        error = makeError(ErrorKind::Cancelled, "Cancelled.");
        return false;
    }
    if (!havePacket(error)) {
        if (error.kind != ErrorKind::None || !pump(Wait::Packet, span, error))
            return false;
    }
    const std::uint8_t* p = &m_in[m_inPos];
    const std::size_t length = (std::size_t{p[0]} << 24) | (std::size_t{p[1]} << 16) |
                               (std::size_t{p[2]} << 8) | std::size_t{p[3]};
    packet = std::span<const std::uint8_t>(p + 4, length);
    m_consumed = 4 + length;
    return true;
}

bool SshTransport::flush(std::chrono::milliseconds span, Error& error)
{
    return queuedBytes() == 0 || pump(Wait::Flushed, span, error);
}

bool SshTransport::pump(Wait until, std::chrono::milliseconds span, Error& error)
{
    Deadline deadline = Deadline::after(span);
    for (;;) {
        if (m_cancel && m_cancel->raised()) {
            error = makeError(ErrorKind::Cancelled, "Cancelled.");
            return false;
        }
        if (!m_fromSsh) {
            error = endedError();
            return false;
        }
        pollfd fds[5];
        nfds_t count = 0;
        fds[count++] = {m_fromSsh.get(), POLLIN, 0};
        const bool writing = queuedBytes() > 0 && m_toSsh;
        if (writing)
            fds[count++] = {m_toSsh.get(), POLLOUT, 0};
        if (m_sshErrors)
            fds[count++] = {m_sshErrors.get(), POLLIN, 0};
        fds[count++] = {m_askpass.listenFd(), POLLIN, 0};
        if (m_cancel && m_cancel->fd() >= 0)
            fds[count++] = {m_cancel->fd(), POLLIN, 0};
        const int ready = ::poll(fds, count, deadline.remainingMs());
        if (ready < 0 && errno != EINTR) {
            error = localError("Waiting for ssh failed");
            return false;
        }
        if (ready == 0) {
            error = makeError(ErrorKind::Timeout,
                              "The server " + m_options.host + " did not answer in time.");
            return false;
        }
        if (ready < 0)
            continue;
        for (nfds_t i = 0; i < count; ++i) {
            if (!fds[i].revents)
                continue;
            const int fd = fds[i].fd;
            if (fd == m_toSsh.get() && writing) {
                if (!sendQueued())
                    m_toSsh.reset(); // ssh is gone; its output tells why
            } else if (fd == m_fromSsh.get()) {
                if (!readOutput(error))
                    return false;
            } else if (fd == m_sshErrors.get()) {
                readErrors();
            } else if (fd == m_askpass.listenFd()) {
                PromptRequest asked;
                PromptAnswer answer;
                if (!m_askpass.serveOne(m_prompts, m_cancel, asked, answer)) {
                    stop();
                    error = makeError(ErrorKind::Cancelled, "The log-on was cancelled.");
                    if (asked.kind == PromptKind::HostKey && !m_replacement.fingerprint.empty()) {
                        error = makeError(ErrorKind::HostKeyChanged,
                                          "WARNING: the host key of " + m_options.host +
                                              " changed again while connecting: the server now "
                                              "shows the " +
                                              asked.keyType + " key " + asked.fingerprint +
                                              ", not the one accepted. Nothing was sent.");
                        error.keyType = asked.keyType;
                        error.fingerprint = asked.fingerprint;
                    } else if (asked.kind == PromptKind::HostKey) {
                        error = makeError(ErrorKind::HostKeyRefused,
                                          "The host key of " + m_options.host +
                                              " was not trusted, so nothing was sent.");
                    }
                    return false;
                }
                if (asked.kind == PromptKind::HostKey && answer.trust == HostKeyTrust::Always)
                    m_trustAlways = true;
                noteQuestion(asked, answer);
                deadline = Deadline::after(span);
            }
        }
        if (until == Wait::Packet && havePacket(error))
            return true;
        if (error.kind != ErrorKind::None)
            return false;
        if (until == Wait::Flushed && queuedBytes() == 0)
            return true;
    }
}

bool SshTransport::readOutput(Error& error)
{
    // The bytes not handed out yet (part of a packet, rarely more) move to the front; the
    // buffer grows only for a packet longer than it, and is never cleared byte by byte.
    if (m_inEnd + kReadChunk > m_in.size() && m_inPos > 0) {
        std::memmove(m_in.data(), m_in.data() + m_inPos, m_inEnd - m_inPos);
        m_inEnd -= m_inPos;
        m_inPos = 0;
    }
    if (m_inEnd + kReadChunk > m_in.size())
        m_in.resize(std::max(m_inEnd + kReadChunk, 4 * kReadChunk));
    const ssize_t got = ::read(m_fromSsh.get(), m_in.data() + m_inEnd, kReadChunk);
    if (got > 0)
        m_inEnd += static_cast<std::size_t>(got);
    if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR)))
        return true;
    m_fromSsh.reset();
    error = endedError();
    return false;
}

void SshTransport::readErrors()
{
    char buffer[4096];
    const ssize_t got = ::read(m_sshErrors.get(), buffer, sizeof buffer);
    if (got > 0) {
        m_errors.append(buffer, static_cast<std::size_t>(got));
        if (m_errors.size() > kMaxErrorText)
            m_errors.erase(0, m_errors.size() - kMaxErrorText);
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        m_sshErrors.reset();
    }
}

Error SshTransport::endedError()
{
    // ssh writes its last words before it exits: read them to the end first.
    const Deadline deadline = Deadline::after(m_options.timeouts.close);
    while (m_sshErrors && !deadline.expired()) {
        pollfd entry{m_sshErrors.get(), POLLIN, 0};
        if (::poll(&entry, 1, deadline.remainingMs()) <= 0)
            break;
        readErrors();
    }
    stop();
    Error ended = describeSshFailure(m_errors, m_options.host);
    if (m_log)
        m_log->note("ssh ended: " + ended.text);
    return ended;
}

void SshTransport::reap(std::chrono::milliseconds span)
{
    const Deadline deadline = Deadline::after(span);
    while (m_pid > 0) {
        const pid_t done = ::waitpid(m_pid, nullptr, WNOHANG);
        if (done == m_pid || (done < 0 && errno != EINTR)) {
            m_pid = -1;
            return;
        }
        if (deadline.expired())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void SshTransport::stop()
{
    if (m_pid <= 0)
        return;
    // Closing its input ends ssh cleanly; one that does not end in time is killed.
    m_toSsh.reset();
    reap(m_options.timeouts.close);
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    m_fromSsh.reset();
    m_sshErrors.reset();
}

PromptAnswer SshTransport::acceptReplacement(const PromptRequest& request) const
{
    // ssh asks about the key it was shown this time: only the very key the user accepted when
    // warned of the change is trusted, so a second change in between is never taken for it.
    PromptAnswer answer;
    if (request.fingerprint == m_replacement.fingerprint &&
        request.keyType == m_replacement.keyType) {
        answer.cancelled = false;
        answer.trust = HostKeyTrust::Always;
    }
    return answer;
}

void SshTransport::keepTrustedHostKey()
{
    if (!m_trustAlways || m_userKnownHosts.empty())
        return;
    m_trustAlways = false;
    std::ifstream trusted(m_askpass.folder() + "/known_hosts", std::ios::binary);
    const std::string lines((std::istreambuf_iterator<char>(trusted)),
                            std::istreambuf_iterator<char>());
    if (lines.empty())
        return;
    const std::string target = expandHome(m_userKnownHosts.front());
    if (target.find('%') != std::string::npos) {
        tellKeyNotKept(target, "its name holds ssh's % tokens, which only ssh expands");
        return;
    }
    const std::size_t slash = target.rfind('/');
    if (slash != std::string::npos && slash > 0 &&
        ::mkdir(target.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) {
        tellKeyNotKept(target,
                       "its folder could not be made: " + std::string(std::strerror(errno)));
        return;
    }
    if (!m_replacement.fingerprint.empty()) {
        // The old key goes where the new one comes: left beside it, ssh would keep warning.
        if (!replaceHostKeys(target, m_knownHostsName, lines, m_keepError))
            tellKeyNotKept(target, m_keepError.text);
        return;
    }
    UniqueFd file(::open(target.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (!file) {
        tellKeyNotKept(target, std::strerror(errno));
        return;
    }
    // A last line without its line break would run into ours.
    struct stat info;
    char last = '\n';
    std::string added = lines;
    const bool sized = ::fstat(file.get(), &info) == 0;
    if (sized && info.st_size > 0 && ::pread(file.get(), &last, 1, info.st_size - 1) == 1 &&
        last != '\n')
        added.insert(0, 1, '\n');
    for (std::size_t done = 0; done < added.size();) {
        const ssize_t wrote = ::write(file.get(), added.data() + done, added.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            const int saved = wrote < 0 ? errno : ENOSPC;
            // A half-written line (a full disk) is taken back, so the file stays as it was.
            if (sized) {
                [[maybe_unused]] const int undone = ::ftruncate(file.get(), info.st_size);
            }
            errno = saved;
            tellKeyNotKept(target, std::strerror(errno));
            return;
        }
        done += static_cast<std::size_t>(wrote);
    }
}

void SshTransport::noteQuestion(const PromptRequest& asked, const PromptAnswer& answer) const
{
    if (!m_log)
        return;
    // What was asked, never what was answered: a password or passphrase stays out of the log.
    switch (asked.kind) {
    case PromptKind::HostKey:
        m_log->note(
            "Host key " + asked.keyType + " " + asked.fingerprint +
            (answer.trust == HostKeyTrust::Always ? " trusted always" : " trusted for now"));
        break;
    case PromptKind::Password:
        m_log->note("ssh asked for the password (attempt " + std::to_string(asked.attempt) + ")");
        break;
    case PromptKind::KeyPassphrase:
        m_log->note("ssh asked for the passphrase of a key");
        break;
    default:
        m_log->note("ssh asked a question of the server's");
        break;
    }
}

void SshTransport::tellKeyNotKept(const std::string& file, const std::string& why)
{
    std::string reason = why;
    while (!reason.empty() && reason.back() == '.')
        reason.pop_back();
    m_keepError = makeError(ErrorKind::Local, "The host key of " + m_options.host +
                                                  " could not be saved in " + file + ": " + reason +
                                                  ". It is trusted for now only and will be "
                                                  "asked about again.");
    if (!m_prompts)
        return;
    PromptRequest notice;
    notice.kind = PromptKind::Notice;
    notice.text = m_keepError.text;
    m_prompts(notice);
    if (m_log)
        m_log->note(m_keepError.text);
}

} // namespace sftp
