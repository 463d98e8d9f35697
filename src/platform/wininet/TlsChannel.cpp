#include "TlsChannel.h"

#include "ControlChannel.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>

namespace wininet {
namespace {

// One TLS record is at most 16 KiB plus its overhead; four of them per read keep a fast
// transfer at one system call per several records.
constexpr std::size_t kRawChunk = 64 * 1024;

bool isNumericAddress(const std::string& host)
{
    unsigned char address[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

int onNewSession(SSL* ssl, SSL_SESSION* session)
{
    // Only the control connection's sessions are kept: a data connection resumes the session
    // the server made for the control connection.
    auto* context = static_cast<TlsContext*>(SSL_get_app_data(ssl));
    if (context == nullptr)
        return 0;
    context->keepSession(session);
    return 1; // the reference is ours now
}

// The library's reason for the last failure, for the reply text the user can unfold.
std::string libraryReason()
{
    const unsigned long code = ERR_peek_last_error();
    std::string text = "TLS negotiation failed";
    if (code != 0) {
        char reason[256] = {};
        ERR_error_string_n(code, reason, sizeof reason);
        text += ": ";
        text += reason;
    }
    ERR_clear_error();
    return text;
}

} // namespace

DWORD TlsContext::create(const std::string& host, const std::string& acceptedFingerprint,
                         std::shared_ptr<TlsContext>& out)
{
    std::shared_ptr<TlsContext> context(new TlsContext());
    context->m_host = host;
    context->m_acceptedFingerprint = acceptedFingerprint;
    context->m_ctx = SSL_CTX_new(TLS_client_method());
    if (context->m_ctx == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    SSL_CTX* ctx = context->m_ctx;
    // Anything older than TLS 1.2 has known breaks.
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    // The certificate is checked by checkServer() right after the handshake, before a single
    // byte of ours travels over the connection, so the choices can be put to the user.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_default_verify_paths(ctx);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, onNewSession);
    out = std::move(context);
    return ERROR_SUCCESS;
}

TlsContext::~TlsContext()
{
    if (m_session != nullptr)
        SSL_SESSION_free(m_session);
    if (m_ctx != nullptr)
        SSL_CTX_free(m_ctx);
}

void TlsContext::keepSession(SSL_SESSION* session)
{
    if (m_session != nullptr)
        SSL_SESSION_free(m_session);
    m_session = session;
}

SSL* TlsContext::newConnection(TlsRole role)
{
    SSL* ssl = SSL_new(m_ctx);
    if (ssl == nullptr)
        return nullptr;
    if (!isNumericAddress(m_host))
        SSL_set_tlsext_host_name(ssl, m_host.c_str());
    if (role == TlsRole::Control) {
        SSL_set_app_data(ssl, this);
    } else if (m_session != nullptr) {
        // A copy for each data connection: the library marks a TLS 1.3 session used once as
        // not resumable, and the next data connection must resume the same one again.
        if (SSL_SESSION* copy = SSL_SESSION_dup(m_session)) {
            SSL_set_session(ssl, copy);
            SSL_SESSION_free(copy); // the connection holds its own reference
        }
    }
    return ssl;
}

TlsChannel::TlsChannel(std::shared_ptr<TlsContext> context, TlsRole role)
    : m_context(std::move(context)), m_role(role)
{}

TlsChannel::~TlsChannel()
{
    if (m_ssl != nullptr)
        SSL_free(m_ssl); // frees both memory buffers too
}

DWORD TlsChannel::fail(DWORD error)
{
    if (m_failure == ERROR_SUCCESS)
        m_failure = error;
    return error;
}

DWORD TlsChannel::flushOutput(int fd, const Deadline& deadline)
{
    char* data = nullptr;
    const long pending = BIO_get_mem_data(m_out, &data);
    if (pending <= 0)
        return ERROR_SUCCESS;
    const DWORD error = sendRaw(fd, data, static_cast<std::size_t>(pending), deadline);
    (void)BIO_reset(m_out);
    return error != ERROR_SUCCESS ? fail(error) : ERROR_SUCCESS;
}

DWORD TlsChannel::fillInput(int fd, const Deadline& deadline)
{
    std::size_t received = 0;
    if (const DWORD error = receiveRaw(fd, m_raw.data(), m_raw.size(), deadline, received))
        return error;
    if (received == 0) {
        m_peerClosed = true;
        return ERROR_SUCCESS;
    }
    if (BIO_write(m_in, m_raw.data(), static_cast<int>(received)) != static_cast<int>(received))
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    return ERROR_SUCCESS;
}

DWORD TlsChannel::handshake(int fd, const Deadline& deadline)
{
    m_raw.resize(kRawChunk);
    m_ssl = m_context->newConnection(m_role);
    m_in = BIO_new(BIO_s_mem());
    m_out = BIO_new(BIO_s_mem());
    if (m_ssl == nullptr || m_in == nullptr || m_out == nullptr) {
        BIO_free(m_in);
        BIO_free(m_out);
        m_in = m_out = nullptr;
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    SSL_set_bio(m_ssl, m_in, m_out);
    SSL_set_connect_state(m_ssl);
    ERR_clear_error();
    for (;;) {
        const int result = SSL_do_handshake(m_ssl);
        if (const DWORD error = flushOutput(fd, deadline))
            return error;
        if (result == 1)
            break;
        if (SSL_get_error(m_ssl, result) != SSL_ERROR_WANT_READ || m_peerClosed) {
            // The server's words are the best explanation the user can get.
            rememberResponse(FtpReply{0, libraryReason() + "\r\n"});
            return fail(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
        }
        if (const DWORD error = fillInput(fd, deadline))
            return fail(error);
    }
    if (const DWORD error = m_context->checkServer(m_ssl, m_role))
        return fail(error);
    m_established = true;
    return ERROR_SUCCESS;
}

DWORD TlsChannel::receive(int fd, char* buffer, std::size_t capacity, const Deadline& deadline,
                          std::size_t& received)
{
    received = 0;
    if (m_failure != ERROR_SUCCESS)
        return m_failure;
    while (received < capacity) {
        std::size_t got = 0;
        const int result = SSL_read_ex(m_ssl, buffer + received, capacity - received, &got);
        if (result == 1) {
            received += got;
            continue;
        }
        const int reason = SSL_get_error(m_ssl, result);
        if (reason == SSL_ERROR_ZERO_RETURN)
            return ERROR_SUCCESS; // close_notify: the end of the data
        if (reason != SSL_ERROR_WANT_READ) {
            rememberResponse(FtpReply{0, libraryReason() + "\r\n"});
            return fail(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
        }
        // TLS 1.3 answers some messages (a key update) on its own.
        if (const DWORD error = flushOutput(fd, deadline))
            return error;
        // Without close_notify the end of the TCP stream still ends the data; whether the
        // transfer was complete is the server's final reply's to say, which arrives over the
        // encrypted control connection.
        if (m_peerClosed)
            return ERROR_SUCCESS;
        // Hand out what arrived rather than wait for more.
        const Deadline wait = received > 0 ? Deadline::after(0) : deadline;
        const DWORD error = fillInput(fd, wait);
        if (error == ERROR_INTERNET_TIMEOUT)
            return received > 0 ? ERROR_SUCCESS : error; // nothing lost: a later call goes on
        if (error != ERROR_SUCCESS)
            return fail(error);
    }
    return ERROR_SUCCESS;
}

DWORD TlsChannel::send(int fd, const char* data, std::size_t length, const Deadline& deadline)
{
    if (m_failure != ERROR_SUCCESS)
        return m_failure;
    if (length == 0)
        return ERROR_SUCCESS;
    std::size_t written = 0;
    // The memory buffer takes everything at once; the socket then sends it within the deadline.
    if (SSL_write_ex(m_ssl, data, length, &written) != 1 || written != length) {
        rememberResponse(FtpReply{0, libraryReason() + "\r\n"});
        return fail(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
    }
    return flushOutput(fd, deadline);
}

DWORD TlsChannel::finishSending(int fd, const Deadline& deadline)
{
    if (m_failure != ERROR_SUCCESS)
        return m_failure;
    if (!m_shutdownSent) {
        m_shutdownSent = true;
        SSL_shutdown(m_ssl);
        if (const DWORD error = flushOutput(fd, deadline))
            return error;
    }
    char scratch[4096];
    for (;;) {
        std::size_t got = 0;
        const int result = SSL_read_ex(m_ssl, scratch, sizeof scratch, &got);
        if (result == 1)
            continue; // nothing is expected here; whatever comes is dropped
        const int reason = SSL_get_error(m_ssl, result);
        if (reason != SSL_ERROR_WANT_READ || m_peerClosed)
            return ERROR_SUCCESS; // the peer's close_notify, its end of stream, or its error
        if (const DWORD error = fillInput(fd, deadline))
            return fail(error);
    }
}

void TlsChannel::closeNotify(int fd)
{
    if (!m_established || m_shutdownSent || m_failure != ERROR_SUCCESS)
        return;
    m_shutdownSent = true;
    SSL_shutdown(m_ssl);
    flushOutput(fd, Deadline::after(0));
    ERR_clear_error();
}

} // namespace wininet
