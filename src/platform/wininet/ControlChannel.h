#pragma once
// The FTP control connection: commands out, replies in (RFC 959 section 4.2), with every
// line and every reply bounded so a hostile server cannot make us grow or wait forever.
#include "Socket.h"
#include "windef.h"
#include "wininet.h"

#include <string>
#include <string_view>

namespace wininet {

inline constexpr std::size_t kMaxReplyLine = 8 * 1024;
inline constexpr std::size_t kMaxReplyText = 64 * 1024;

struct FtpReply
{
    int code = 0;     // 100..599
    std::string text; // every line of the reply, each ending in CR LF

    int kind() const { return code / 100; } // 1 preliminary, 2 done, 3 more, 4 try later, 5 no
};

// Gathers the lines of one reply (RFC 959 section 4.2) as the socket code reads them. Pure, so
// the rules for hostile replies can be tested and fuzzed without a server.
class ReplyAssembler
{
public:
    enum class Step { More, Done, Malformed };
    explicit ReplyAssembler(FtpReply& reply) : m_reply(reply) { m_reply = FtpReply(); }
    // One line without its CR LF.
    Step addLine(std::string_view line);

private:
    FtpReply& m_reply;
};

// The last reply received by any connection, for InternetGetLastResponseInfoA. One for the
// whole process: a listing runs on a helper thread while the caller waits, and the caller asks
// afterwards. Each control channel also keeps its own (ControlChannel::lastReply), which is
// what a program with more than one connection must read.
void rememberResponse(const FtpReply& reply);
FtpReply lastResponse();

// Where a control connection logs its lines (FtpSetThreadLogCallback): taken from the thread
// that opens it.
struct ControlLog
{
    FTP_LOG_CALLBACK callback = nullptr;
    void* context = nullptr;
};
void setThreadControlLog(const ControlLog& log);

class ControlChannel
{
public:
    // 0 on success, else the error code.
    DWORD open(const std::string& host, std::uint16_t port);
    // The signal that ends the channel's waits early (the session's Cancel); none by default.
    void watch(const CancelSignal* cancel) { m_cancel = cancel; }
    bool isOpen() const { return m_socket.isOpen(); }
    void close();

    DWORD send(std::string_view command);
    // Reads one complete reply (all lines of a multi-line one) within the receive time-out.
    // A malformed or oversized reply is a protocol error: the caller must drop the connection.
    DWORD readReply(FtpReply& reply);
    DWORD readReply(FtpReply& reply, const Deadline& deadline);
    // After "234" to AUTH TLS: the TLS handshake. Whatever the server sent before it is
    // dropped unread; a reply planted in front of the handshake must never pass for one that
    // came over the encrypted connection.
    DWORD startTls(std::shared_ptr<TlsContext> context);

    // The last reply this connection received, or what the session put in its place (the
    // refusal a clean-up command must not hide). Read by the thread that made the call, or
    // after it was joined.
    const FtpReply& lastReply() const { return m_lastReply; }
    // Keeps `reply` as this connection's last reply and as the process's.
    void remember(const FtpReply& reply)
    {
        m_lastReply = reply;
        rememberResponse(reply);
    }

    const SocketAddress& peer() const { return m_peer; }
    const Socket& socket() const { return m_socket; }

private:
    DWORD readLine(std::string& line, const Deadline& deadline);
    void log(bool sent, std::string_view line) const;

    Socket m_socket;
    SocketAddress m_peer;
    const CancelSignal* m_cancel = nullptr;
    std::string m_input; // received, not yet consumed
    std::size_t m_consumed = 0;
    FtpReply m_lastReply;
    ControlLog m_log;
};

// Reads the reply code of a line ("227 Entering...", "211-Features"): the code, or 0.
int replyCode(std::string_view line);

} // namespace wininet
