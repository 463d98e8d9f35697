#include "ControlChannel.h"

#include "InternetTimeouts.h"
#include "TlsChannel.h"
#include "wininet.h"

#include <algorithm>
#include <mutex>

namespace wininet {
namespace {
std::mutex lastReplyMutex;
FtpReply lastReply;

constexpr std::size_t kReceiveChunk = 16 * 1024;

thread_local ControlLog threadLog;

// A command as a log shows it: a secret's argument never leaves in a log, whoever reads it.
std::string_view shownCommand(std::string_view command)
{
    for (const std::string_view secret : {std::string_view("PASS"), std::string_view("ACCT")}) {
        if (command.size() >= secret.size() &&
            std::equal(secret.begin(), secret.end(), command.begin(),
                       [](char a, char b) { return a == (b & ~0x20); }) &&
            (command.size() == secret.size() || command[secret.size()] == ' '))
            return secret == "PASS" ? "PASS ****" : "ACCT ****";
    }
    return command;
}
} // namespace

void setThreadControlLog(const ControlLog& log)
{
    threadLog = log;
}

void ControlChannel::log(bool sent, std::string_view line) const
{
    if (m_log.callback)
        m_log.callback(m_log.context, sent ? TRUE : FALSE, line.data(),
                       static_cast<DWORD>(line.size()));
}

void rememberResponse(const FtpReply& reply)
{
    const std::lock_guard lock(lastReplyMutex);
    lastReply = reply;
}

FtpReply lastResponse()
{
    const std::lock_guard lock(lastReplyMutex);
    return lastReply;
}

int replyCode(std::string_view line)
{
    if (line.size() < 3)
        return 0;
    const char first = line[0];
    if (first < '1' || first > '5' || line[1] < '0' || line[1] > '9' || line[2] < '0' ||
        line[2] > '9')
        return 0;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-')
        return 0;
    return (first - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

DWORD ControlChannel::open(const std::string& host, std::uint16_t port)
{
    close();
    m_log = threadLog;
    return connectToHost(host, port, Deadline::after(connectTimeoutMs(), m_cancel), m_socket,
                         m_peer);
}

void ControlChannel::close()
{
    m_socket.close();
    m_input.clear();
    m_consumed = 0;
}

DWORD ControlChannel::send(std::string_view command)
{
    if (!m_socket.isOpen())
        return ERROR_FTP_DROPPED;
    // CR or LF would end the command early and make the rest a second command; a NUL is where
    // the server's C code would cut the name short, so "DELE a\0b" would delete "a". No such
    // command leaves, whichever way its text got here.
    if (command.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return ERROR_INVALID_PARAMETER;
    log(true, shownCommand(command));
    std::string line(command);
    line += "\r\n";
    return sendAll(m_socket, line.data(), line.size(), Deadline::after(sendTimeoutMs(), m_cancel));
}

DWORD ControlChannel::readLine(std::string& line, const Deadline& deadline)
{
    for (;;) {
        const std::size_t end = m_input.find('\n', m_consumed);
        if (end != std::string::npos) {
            std::size_t length = end - m_consumed;
            if (length > 0 && m_input[end - 1] == '\r')
                --length;
            if (length > kMaxReplyLine)
                return ERROR_INTERNET_CONNECTION_ABORTED;
            line.assign(m_input, m_consumed, length);
            m_consumed = end + 1;
            // A NUL has no place in a reply and would cut texts short further up.
            if (line.find('\0') != std::string::npos)
                return ERROR_INTERNET_CONNECTION_ABORTED;
            return ERROR_SUCCESS;
        }
        // An endless line is refused as soon as it is too long, not when the server tires.
        if (m_input.size() - m_consumed > kMaxReplyLine)
            return ERROR_INTERNET_CONNECTION_ABORTED;
        if (m_consumed > 0) {
            m_input.erase(0, m_consumed);
            m_consumed = 0;
        }
        const std::size_t had = m_input.size();
        m_input.resize(had + kReceiveChunk);
        std::size_t received = 0;
        const DWORD error =
            receiveSome(m_socket, m_input.data() + had, kReceiveChunk, deadline, received);
        m_input.resize(had + received);
        if (error != ERROR_SUCCESS)
            return error;
        if (received == 0)
            return ERROR_FTP_DROPPED;
    }
}

DWORD ControlChannel::startTls(std::shared_ptr<TlsContext> context)
{
    m_input.clear();
    m_consumed = 0;
    return m_socket.startTls(std::move(context), TlsRole::Control,
                             Deadline::after(receiveTimeoutMs()));
}

DWORD ControlChannel::readReply(FtpReply& reply)
{
    return readReply(reply, Deadline::after(receiveTimeoutMs(), m_cancel));
}

DWORD ControlChannel::readReply(FtpReply& reply, const Deadline& deadline)
{
    if (!m_socket.isOpen())
        return ERROR_FTP_DROPPED;
    ReplyAssembler assembler(reply);
    std::string line;
    for (;;) {
        if (const DWORD error = readLine(line, deadline))
            return error;
        log(false, line);
        switch (assembler.addLine(line)) {
        case ReplyAssembler::Step::More:
            break;
        case ReplyAssembler::Step::Done:
            remember(reply);
            return ERROR_SUCCESS;
        case ReplyAssembler::Step::Malformed:
            return ERROR_INTERNET_CONNECTION_ABORTED;
        }
    }
}

ReplyAssembler::Step ReplyAssembler::addLine(std::string_view line)
{
    // A NUL has no place in a reply and would cut texts short further up.
    if (line.size() > kMaxReplyLine || line.find('\0') != std::string_view::npos)
        return Step::Malformed;
    if (m_reply.code == 0) {
        m_reply.code = replyCode(line);
        if (m_reply.code == 0)
            return Step::Malformed;
        m_reply.text.assign(line);
        m_reply.text += "\r\n";
        // RFC 959 4.2: a multi-line reply ends with a line that starts with the same code and a
        // blank; the lines between may say anything, including other codes.
        return line.size() > 3 && line[3] == '-' ? Step::More : Step::Done;
    }
    m_reply.text += line;
    m_reply.text += "\r\n";
    if (m_reply.text.size() > kMaxReplyText)
        return Step::Malformed;
    return replyCode(line) == m_reply.code && (line.size() == 3 || line[3] == ' ') ? Step::Done
                                                                                   : Step::More;
}

} // namespace wininet
