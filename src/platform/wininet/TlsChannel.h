#pragma once
// FTP over TLS (RFC 4217): TLS on our own sockets. The TLS library works on memory buffers and
// every byte still goes through the socket calls of Socket.h, so TLS connections keep the same
// deadlines, the same signal-free sends and the same error codes as plain ones.
#include "Socket.h"
#include "wininet.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;
struct bio_st;

namespace wininet {

enum class TlsRole { Control, Data };

// What one FTP connection's TLS connections share: the library's settings, the server's
// certificate as checked on the control connection, and the TLS session that data connections
// resume (servers such as vsftpd refuse a data connection that does not).
class TlsContext
{
public:
    // `host` is the name or address the user gave; the certificate must be issued for it.
    // `acceptedFingerprint` is the SHA-256 of a certificate the user chose to trust although
    // no authority vouches for it ("AB:CD:..."), or empty.
    static DWORD create(const std::string& host, const std::string& acceptedFingerprint,
                        std::shared_ptr<TlsContext>& out);
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;
    ~TlsContext();

    // Prepares a TLS connection of `role` (SNI, the session to resume). Null when out of memory.
    ssl_st* newConnection(TlsRole role);
    // Decides whether the peer of a finished handshake may be talked to. The control connection
    // checks the certificate against the system's authorities and the host name (or the
    // fingerprint the user accepted); a data connection must show the control connection's
    // certificate. 0, or the code why not, with the certificate kept for
    // INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT.
    DWORD checkServer(ssl_st* ssl, TlsRole role);
    // The negotiated version as SP_PROT_*; 0 before the control connection's handshake.
    DWORD protocol() const { return m_protocol; }

    // For the library's new-session callback: the control connection's newest session.
    void keepSession(ssl_session_st* session);

private:
    TlsContext() = default;

    ssl_ctx_st* m_ctx = nullptr;
    ssl_session_st* m_session = nullptr;
    std::string m_host;
    std::string m_acceptedFingerprint;
    std::string m_serverFingerprint;
    DWORD m_protocol = 0;
};

// One TLS connection over one socket.
class TlsChannel
{
public:
    TlsChannel(std::shared_ptr<TlsContext> context, TlsRole role);
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;
    ~TlsChannel();

    // The client side of the handshake, then the certificate check. 0 or the error code.
    DWORD handshake(int fd, const Deadline& deadline);
    // As receiveSome() and sendAll() in Socket.h.
    DWORD receive(int fd, char* buffer, std::size_t capacity, const Deadline& deadline,
                  std::size_t& received);
    DWORD send(int fd, const char* data, std::size_t length, const Deadline& deadline);
    // Ends the sending side: close_notify, then reading (and dropping) whatever the peer still
    // sends until it ends too. A socket closed with unread bytes (TLS 1.3 session tickets on
    // an upload's connection) is reset, and some servers then throw the upload away.
    DWORD finishSending(int fd, const Deadline& deadline);
    // A close_notify if it can go at once; never waits.
    void closeNotify(int fd);

private:
    DWORD fail(DWORD error);
    DWORD flushOutput(int fd, const Deadline& deadline);
    // Moves what the socket has into the library; waits for at least one byte.
    DWORD fillInput(int fd, const Deadline& deadline);

    std::shared_ptr<TlsContext> m_context;
    TlsRole m_role;
    ssl_st* m_ssl = nullptr;
    bio_st* m_in = nullptr;  // owned by m_ssl
    bio_st* m_out = nullptr; // owned by m_ssl
    std::vector<char> m_raw;
    bool m_established = false;
    bool m_shutdownSent = false;
    bool m_peerClosed = false; // the TCP stream ended
    DWORD m_failure = ERROR_SUCCESS;
};

// The certificate the last failed connect of this thread did not trust.
void rememberRejectedCertificate(const INTERNET_CERTIFICATE_INFOA& info);
const INTERNET_CERTIFICATE_INFOA& lastRejectedCertificate();
void forgetRejectedCertificate();

} // namespace wininet
