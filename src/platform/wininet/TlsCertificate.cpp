// The server certificate check of TLS connections: the system's authorities, the host name,
// or the one certificate the user chose to trust.
#include "ControlChannel.h"
#include "TlsChannel.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cstring>
#include <ctime>

namespace wininet {
namespace {

thread_local INTERNET_CERTIFICATE_INFOA rejectedCertificate{};

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kFileTimeEpochOffset = 11644473600;

template <std::size_t N> void copyText(char (&target)[N], const std::string& text)
{
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(target, text.data(), length);
    target[length] = '\0';
}

std::string nameText(const X509_NAME* name)
{
    BIO* out = BIO_new(BIO_s_mem());
    if (out == nullptr)
        return {};
    // RFC 2253 escaping, but most significant part first ("CN=..., O=...") and UTF-8 left as
    // it is.
    const unsigned long flags =
        (XN_FLAG_RFC2253 & ~(XN_FLAG_DN_REV | XN_FLAG_SEP_MASK | ASN1_STRFLGS_ESC_MSB)) |
        XN_FLAG_SEP_CPLUS_SPC;
    X509_NAME_print_ex(out, name, 0, flags);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::string text(data, length > 0 ? static_cast<std::size_t>(length) : 0);
    BIO_free(out);
    return text;
}

FILETIME fileTime(const ASN1_TIME* time)
{
    FILETIME result{};
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return result;
    const std::int64_t seconds = static_cast<std::int64_t>(::timegm(&parts));
    const auto ticks = static_cast<std::uint64_t>(seconds + kFileTimeEpochOffset) * 10000000u;
    result.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
}

std::string fingerprint(X509* certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return {};
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0)
            text += ':';
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

bool issuedFor(X509* certificate, const std::string& host)
{
    unsigned char address[sizeof(in6_addr)];
    if (::inet_pton(AF_INET, host.c_str(), address) == 1 ||
        ::inet_pton(AF_INET6, host.c_str(), address) == 1)
        return X509_check_ip_asc(certificate, host.c_str(), 0) == 1;
    return X509_check_host(certificate, host.data(), host.size(), 0, nullptr) == 1;
}

// The chain's verdict against the trusted authorities: X509_V_OK or the first problem.
int verifyChain(SSL_CTX* ctx, X509* leaf, STACK_OF(X509) * chain)
{
    X509_STORE_CTX* store = X509_STORE_CTX_new();
    if (store == nullptr)
        return X509_V_ERR_OUT_OF_MEM;
    int result = X509_V_ERR_UNSPECIFIED;
    if (X509_STORE_CTX_init(store, SSL_CTX_get_cert_store(ctx), leaf, chain) == 1) {
        X509_STORE_CTX_set_default(store, "ssl_server");
        result = X509_verify_cert(store) == 1 ? X509_V_OK : X509_STORE_CTX_get_error(store);
    }
    X509_STORE_CTX_free(store);
    return result;
}

DWORD codeForChainError(int error)
{
    switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case X509_V_ERR_CERT_REVOKED:
        return ERROR_INTERNET_SEC_CERT_REVOKED;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return ERROR_INTERNET_INVALID_CA;
    default:
        return ERROR_INTERNET_SEC_INVALID_CERT;
    }
}

} // namespace

void rememberRejectedCertificate(const INTERNET_CERTIFICATE_INFOA& info)
{
    rejectedCertificate = info;
}

const INTERNET_CERTIFICATE_INFOA& lastRejectedCertificate()
{
    return rejectedCertificate;
}

void forgetRejectedCertificate()
{
    rejectedCertificate = INTERNET_CERTIFICATE_INFOA{};
}

DWORD TlsContext::checkServer(SSL* ssl, TlsRole role)
{
    X509* leaf = SSL_get0_peer_certificate(ssl);
    if (leaf == nullptr) {
        rememberResponse(FtpReply{0, "The server sent no certificate.\r\n"});
        return ERROR_INTERNET_SEC_INVALID_CERT;
    }
    const std::string print = fingerprint(leaf);
    if (role == TlsRole::Data) {
        // A resumed session carries the control connection's certificate; a full handshake
        // must show the same one, or someone else is answering the data connection.
        if (!print.empty() && print == m_serverFingerprint)
            return ERROR_SUCCESS;
        rememberResponse(
            FtpReply{0, "The data connection showed another certificate than the server.\r\n"});
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    }
    m_serverFingerprint = print;
    m_protocol = SSL_version(ssl) == TLS1_3_VERSION ? SP_PROT_TLS1_3_CLIENT : SP_PROT_TLS1_2_CLIENT;

    const int chainError = verifyChain(m_ctx, leaf, SSL_get_peer_cert_chain(ssl));
    const bool nameMatches = issuedFor(leaf, m_host);
    if (chainError == X509_V_OK && nameMatches)
        return ERROR_SUCCESS;
    // The user has seen exactly this certificate and said to trust it for this server. That
    // stands in for an authority, never for the name: a certificate made out to another host
    // is what anyone can show with a certificate of his own, self-signed or not.
    if (nameMatches && !m_acceptedFingerprint.empty() && print == m_acceptedFingerprint)
        return ERROR_SUCCESS;

    INTERNET_CERTIFICATE_INFOA info{};
    info.ftStart = fileTime(X509_get0_notBefore(leaf));
    info.ftExpiry = fileTime(X509_get0_notAfter(leaf));
    copyText(info.szSubjectInfo, nameText(X509_get_subject_name(leaf)));
    copyText(info.szIssuerInfo, nameText(X509_get_issuer_name(leaf)));
    copyText(info.szFingerprintSha256, print);
    std::string problem;
    if (chainError != X509_V_OK)
        problem = X509_verify_cert_error_string(chainError);
    if (!nameMatches)
        problem += std::string(problem.empty() ? "" : "; ") + "it was not issued for " + m_host;
    copyText(info.szVerifyErrorText, problem);
    // A certificate for another name is refused outright, whoever issued it: that is what an
    // attacker with a certificate of his own site shows.
    info.dwVerifyError =
        nameMatches ? codeForChainError(chainError) : ERROR_INTERNET_SEC_CERT_CN_INVALID;
    rememberRejectedCertificate(info);
    rememberResponse(FtpReply{0, "The server's certificate is not trusted: " + problem + "\r\n"});
    return info.dwVerifyError;
}

} // namespace wininet
