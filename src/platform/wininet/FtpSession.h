#pragma once
// One logged-on FTP connection: the command dialogue of RFC 959 and the opening of data
// connections (RFC 2428). Every function returns 0 or the WinINet error code; the calling
// API function stores it with SetLastError.
#include "ControlChannel.h"
#include "Socket.h"
#include "windef.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace wininet {

class TlsContext;

// Whether the connection is to be encrypted (RFC 4217, explicit TLS), or TLS from the first
// byte (implicit TLS, the older scheme of port 990).
enum class TlsUse {
    Never,
    IfAvailable, // plain FTP when the server refuses AUTH TLS, if plainFallback allows it
    Required,    // nothing after the greeting unless TLS is up: no user name, no password
    Implicit,    // the handshake before the greeting; PROT P required as for Required
};

struct LoginDetails
{
    std::string host;
    std::uint16_t port = 21;
    std::string user;
    std::string password;
    bool passiveOnly = false; // INTERNET_FLAG_PASSIVE: never let the server connect to us
    TlsUse tls = TlsUse::Never;
    bool plainFallback = false;      // IfAvailable: go on in plain FTP after a refused AUTH TLS
    std::string acceptedCertificate; // SHA-256 of a certificate the user trusts, or empty
};

// A data connection being set up or carrying a transfer.
struct DataConnection
{
    Socket socket;                   // the connected data socket (after accept, in active mode)
    bool finalReplyReceived = false; // the server answered the transfer command with 2xx
};

class FtpSession
{
public:
    FtpSession() { m_control.watch(&m_cancel); }
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    DWORD connect(const LoginDetails& details);
    // QUIT when the connection is idle, then close. Never waits long.
    void quit();

    // 0 when a command may be sent now: 12110 while a transfer is open, 12111 once dropped.
    DWORD checkReady() const;
    bool offersMlsd() const { return m_offersMlsd; }
    // Lines of the last listing that were neither an entry nor a header or total: what they
    // named is missing from it. Set by every listing, also one that failed.
    std::size_t listingUnknownLines() const { return m_listingUnknownLines; }
    void setListingUnknownLines(std::size_t lines) { m_listingUnknownLines = lines; }
    // "REST STREAM" in FEAT (RFC 3659 5): a transfer may start at a byte offset.
    bool offersRestart() const { return m_offersRestart; }
    // The control connection is encrypted; its TLS version as SP_PROT_*.
    bool isSecure() const { return m_tls != nullptr; }
    bool protectsData() const { return m_protectData; }
    DWORD tlsProtocol() const;
    // This connection's own last reply (see ControlChannel::lastReply).
    const FtpReply& lastReply() const { return m_control.lastReply(); }

    DWORD currentDirectory(std::string& path);
    DWORD changeDirectory(std::string_view path);
    // A command with one argument that must be answered 2xx: MKD, RMD, DELE.
    DWORD simpleCommand(std::string_view verb, std::string_view argument);
    DWORD rename(std::string_view from, std::string_view to);
    // SIZE (RFC 3659 4) in binary mode, where it counts the bytes a transfer moves.
    // ERROR_NOT_SUPPORTED when the server has no SIZE; 12003 for any other refusal (550).
    DWORD fileSize(std::string_view name, std::uint64_t& size);
    // MDTM (RFC 3659 3): the modification time as the server gives it, "YYYYMMDDHHMMSS" with
    // any fraction of a second. ERROR_NOT_SUPPORTED when the server has no MDTM; 12003 for
    // any other refusal (550).
    DWORD fileTime(std::string_view name, std::string& stamp);

    // Opens a data connection and sends `command` (RETR x, STOR x, APPE x, LIST, MLSD); on
    // success the server has accepted and the connection is busy until finishTransfer().
    // `restartAt` > 0 sends REST first; ERROR_NOT_SUPPORTED when the server will not restart.
    DWORD startTransfer(std::string_view command, char type, DataConnection& data,
                        std::uint64_t restartAt = 0);
    // Reads the transfer's final reply. `abandoned`: the data connection was cut on purpose, so
    // any answer will do. Otherwise a reply other than 2xx fails with 12003.
    DWORD finishTransfer(const DataConnection& data, bool abandoned);
    DWORD finishTransfer(const DataConnection& data, bool abandoned, const Deadline& deadline);
    // Ends a running transfer early with ABOR. `reset`: the data connection is reset rather
    // than closed, so an upload that sent data is never taken for complete. 0 once the control
    // connection is back in step; otherwise the connection is given up and the error returned.
    DWORD abortTransfer(DataConnection& data, bool reset);
    // Gives the connection up: after a stalled data connection the server is out of step, and
    // waiting for its reply would only double the wait.
    void dropConnection() { setState(State::Broken); }

    // Asks the cancellable call in progress on another thread to stop: its waits end at once
    // with ERROR_INTERNET_OPERATION_CANCELLED. Does nothing while no such call runs, so a late
    // request cannot spoil the next command.
    void cancelPending();
    // A deadline of `milliseconds` that cancelPending() also ends.
    Deadline cancellableDeadline(DWORD milliseconds) const
    {
        return Deadline::after(milliseconds, &m_cancel);
    }

    // Marks the span of a call that cancelPending() may end (a listing). Waits that must not
    // be cut short (the clean-up after a cancel) simply use a deadline without the signal.
    class CancellableCall
    {
    public:
        explicit CancellableCall(FtpSession& session);
        CancellableCall(const CancellableCall&) = delete;
        CancellableCall& operator=(const CancellableCall&) = delete;
        ~CancellableCall();

    private:
        FtpSession& m_session;
    };

private:
    enum class State {
        Closed,
        Ready,
        Transferring,
        Broken, // the control connection is gone or out of step: only closing is left
    };
    void setState(State next);
    // A failure of the control connection: it cannot be trusted to stay in step any more.
    DWORD broken(DWORD error);
    // Sends a command and reads its final reply (preliminary 1xx replies are skipped).
    DWORD exchange(std::string_view command, FtpReply& reply);
    // Like exchange(), but a reply outside `expectedKind` fails with 12003.
    DWORD expect(std::string_view command, int expectedKind, FtpReply& reply);

    DWORD negotiateTls(const LoginDetails& details);
    DWORD startImplicitTls(const LoginDetails& details);
    DWORD protectData(const LoginDetails& details);
    DWORD login(const LoginDetails& details);
    void readFeatures();
    DWORD setType(char type);
    DWORD openPassive(Socket& out);
    DWORD openActive(Socket& listener);
    DWORD acceptData(const Socket& listener, Socket& out);

    ControlChannel m_control;
    State m_state = State::Closed;
    bool m_passiveOnly = false;
    bool m_offersMlsd = false;
    std::atomic<std::size_t> m_listingUnknownLines = 0;
    bool m_offersRestart = false;
    bool m_epsvRefused = false; // remembered so each transfer does not ask again
    bool m_pasvRefused = false;
    bool m_eprtRefused = false;
    char m_type = 0;                   // the TYPE last set, 0 before any
    std::shared_ptr<TlsContext> m_tls; // set once the control connection is encrypted
    bool m_protectData = false;        // PROT P accepted: data connections use TLS too
    CancelSignal m_cancel;
    std::mutex m_cancelMutex; // guards m_cancelArmed against cancelPending() from another thread
    bool m_cancelArmed = false;
};

// The directory in a 257 reply: `257 "/a ""quoted"" dir" is current` gives /a "quoted" dir.
bool parsePwdReply(std::string_view text, std::string& path);
// The number of a 213 reply to SIZE ("213 1048576"), range-checked. False when malformed.
bool parseSizeReply(std::string_view text, std::uint64_t& size);
// The time of a 213 reply to MDTM ("213 20261210113015.123"): 14 digits and an optional
// fraction of up to 9 digits, nothing else. False when malformed.
bool parseMdtmReply(std::string_view text, std::string& stamp);
// The port of a 229 reply "(|||6446|)", range-checked. 0 when malformed.
std::uint16_t parseEpsvReply(std::string_view text);
// The port of a 227 reply "(h1,h2,h3,h4,p1,p2)"; the address is never used. 0 when malformed.
std::uint16_t parsePasvReply(std::string_view text);

} // namespace wininet
