#include "remote/FtpConnect.h"

#include "common/ProgressSink.h"
#include "common/Prompter.h"
#include "ftp/CertificateTrust.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteHost.h"
#include "remote/FtpServerSession.h"
#include "remote/TrustedThisRun.h"
#include "sites/ProfileStore.h"

#include <QDateTime>
#include <QTimeZone>

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr qint64 kFileTimeEpochOffset = 11644473600;

QString dateText(const FILETIME& time)
{
    const quint64 ticks = (quint64{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    const qint64 seconds = static_cast<qint64>(ticks / 10000000u) - kFileTimeEpochOffset;
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc())
        .toLocalTime()
        .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString certificateLines(const INTERNET_CERTIFICATE_INFOA& info)
{
    return QStringLiteral("Subject: %1\nIssuer: %2\nValid from %3 to %4\nSHA-256 fingerprint:\n%5")
        .arg(QString::fromUtf8(info.szSubjectInfo), QString::fromUtf8(info.szIssuerInfo),
             dateText(info.ftStart), dateText(info.ftExpiry),
             QString::fromLatin1(info.szFingerprintSha256));
}

QString promptText(const QString& server, const INTERNET_CERTIFICATE_INFOA& info,
                   const QString& trusted)
{
    if (!trusted.isEmpty())
        return QStringLiteral(
                   "WARNING: the certificate of %1 has changed since you chose to trust it. "
                   "Someone may be intercepting the connection to read your password and "
                   "files.\n\nTrusted until now:\n%2\n\nShown now (%3):\n%4\n\nConnect only "
                   "if the server's administrator told you that its certificate was replaced.")
            .arg(server, trusted, QString::fromUtf8(info.szVerifyErrorText),
                 certificateLines(info));
    return QStringLiteral("The certificate of %1 is not trusted: %2.\n\n%3\n\nTrust it only if "
                          "you know it is the server's own, for example because its "
                          "administrator gave you the same fingerprint.")
        .arg(server, QString::fromUtf8(info.szVerifyErrorText), certificateLines(info));
}

// Certificates the user may choose to trust. One issued by a trusted authority for another
// name is refused without a question: it is what an attacker holding a certificate of his
// own site shows.
bool userMayTrust(DWORD code)
{
    return code == ERROR_INTERNET_INVALID_CA || code == ERROR_INTERNET_SEC_CERT_DATE_INVALID ||
           code == ERROR_INTERNET_SEC_INVALID_CERT;
}

void acceptCertificate(HINTERNET internet, const QString& fingerprint)
{
    QByteArray text = fingerprint.toLatin1();
    InternetSetOptionA(internet, INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT, text.data(),
                       static_cast<DWORD>(text.size()));
}

HINTERNET connectOnce(HINTERNET internet, const ConnectRequest& request, DWORD flags)
{
    const QByteArray server = request.host.toUtf8();
    return InternetConnectA(internet, server.constData(), request.port, request.user.constData(),
                            request.password.constData(), INTERNET_SERVICE_FTP, flags, 0);
}

void showAuthenticating(RemoteHost& host)
{
    host.setCursor(RemoteHost::Cursor::Hourglass);
    host.progress().ShowProgress(QStringLiteral("Authenticating account and logging on"),
                                 QStringLiteral("Authenticating"), false, false);
}

// The server's refusal of AUTH TLS, kept by the failed connect.
QString refusalReply()
{
    DWORD code = 0;
    char reply[1024] = {};
    DWORD length = sizeof reply;
    if (!InternetGetLastResponseInfoA(&code, reply, &length))
        return QStringLiteral("(no reply)");
    return QString::fromUtf8(reply, static_cast<qsizetype>(qstrnlen(reply, sizeof reply)))
        .trimmed();
}

QString plainFtpText(const QString& server, const QString& reply, bool loud)
{
    if (loud)
        return QStringLiteral(
                   "WARNING: %1 offers no encryption, although you chose to trust its "
                   "certificate always. Someone may be intercepting the connection to read your "
                   "password and files.\n\nThe server answered: %2\n\nConnect without "
                   "encryption only if the server's administrator told you that it no longer "
                   "offers TLS.")
            .arg(server, reply);
    return QStringLiteral("%1 offers no encryption. The server answered: %2\n\nIf you connect, "
                          "your user ID, your password and every file will cross the network "
                          "unencrypted, readable by anyone on the way.\n\nConnect only if you "
                          "trust every network between you and the server.")
        .arg(server, reply);
}

// The question before anything goes out in clear. True when the user said to connect.
bool userAllowsPlainFtp(RemoteHost& host, const ConnectRequest& request, const QString& server,
                        bool loud)
{
    const QString reply = refusalReply();
    host.progress().CloseProgress();
    host.setCursor(RemoteHost::Cursor::Default);
    host.prompter().messageBeep(loud ? MB_ICONEXCLAMATION : MB_ICONQUESTION);
    const PlainFtpAnswer answer = host.prompter().askPlainFtp(
        loud ? QStringLiteral("Encryption Refused") : QStringLiteral("No Encryption"),
        plainFtpText(server, reply, loud), loud);
    if (answer == PlainFtpAnswer::Cancel)
        return false;
    // A server reached without a saved site (the quick connect) has no profile to keep the
    // answer in: it holds for this connection only.
    if (answer == PlainFtpAnswer::AllowAlways && !loud && !request.siteName.isEmpty()) {
        const ProfileStore store(ProfileFilePath());
        if (!store.allowPlainFtp(request.siteName))
            host.prompter().message(QStringLiteral("ZUL-FTP"), store.writeErrorText(),
                                    MessageIcon::Error);
    }
    showAuthenticating(host);
    return true;
}

void warnUnsafeTrustFile(RemoteHost& host, const CertificateTrust& trust, const QString& reason)
{
    host.progress().CloseProgress();
    host.setCursor(RemoteHost::Cursor::Default);
    host.prompter().messageBeep(MB_ICONEXCLAMATION);
    host.prompter().message(
        QStringLiteral("ZUL-FTP"),
        QStringLiteral("The trusted certificates in %1 are ignored: %2. Anyone who can change "
                       "that file can make this program trust his own server.\n\nMake it "
                       "yours alone (chmod 600) or delete it; until then every certificate "
                       "that no authority vouches for is asked about again.")
            .arg(trust.filePath(), reason),
        MessageIcon::Warning);
    showAuthenticating(host);
}

// The reply the engine kept for this thread's failed connect, when the failure was one.
RemoteResult threadFailure()
{
    // Read first: the call below leaves an error of its own.
    const DWORD code = GetLastError();
    DWORD replyCode = 0;
    char reply[1024] = {};
    DWORD length = sizeof reply;
    QString text;
    // Kept only where the code stands for a reply just received: other failures may leave an
    // older reply behind.
    if (InternetGetLastResponseInfoA(&replyCode, reply, &length))
        text = QString::fromUtf8(reply, static_cast<qsizetype>(qstrnlen(reply, sizeof reply)))
                   .trimmed();
    SetLastError(code);
    return FtpResult(code, static_cast<int>(replyCode), text);
}

// The connect itself, on the engine handle `internet`. Null with the last error set when the
// connection was not made.
HINTERNET connectChecking(RemoteHost& host, HINTERNET internet, const ConnectRequest& request)
{
    const quint16 defaultPort =
        request.implicitTls ? INTERNET_DEFAULT_FTPS_PORT : INTERNET_DEFAULT_FTP_PORT;
    const quint16 port = request.port == 0 ? defaultPort : request.port;
    const QString server = QStringLiteral("%1 (port %2)").arg(request.host).arg(port);
    const CertificateTrust trust(CertificateTrust::defaultFilePath());
    QString trusted;
    DWORD flags = request.implicitTls
                      ? DWORD{INTERNET_FLAG_IMPLICIT_TLS}
                      : FtpConnectFlags(request.encryption, request.plainFtpAllowed);
    if (flags != 0) {
        if (const QString reason = trust.unsafeReason(); !reason.isEmpty())
            warnUnsafeTrustFile(host, trust, reason);
        trusted = trust.fingerprint(request.host, port);
    }
    // A server whose certificate the user trusts always has spoken TLS before: its refusal now
    // is asked about loudly, whatever the site allows.
    if (!trusted.isEmpty())
        flags &= ~INTERNET_FLAG_INSECURE_FALLBACK;
    // "This session" is this run of the program: the window's later connections and the
    // queue's take the certificate then, without asking again.
    acceptCertificate(
        internet, trusted.isEmpty()
                      ? TrustedThisRun::key(TrustedThisRun::Kind::Certificate, request.host, port)
                      : trusted);
    HINTERNET connection = connectOnce(internet, request, flags);
    if (!connection && GetLastError() == ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED) {
        if (!userAllowsPlainFtp(host, request, server, !trusted.isEmpty())) {
            SetLastError(ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED);
            return nullptr;
        }
        // Still TLS if the server offers it this time.
        flags |= INTERNET_FLAG_INSECURE_FALLBACK;
        connection = connectOnce(internet, request, flags);
    }
    if (connection)
        return connection;
    const DWORD refusal = GetLastError();
    INTERNET_CERTIFICATE_INFOA info{};
    DWORD length = sizeof info;
    if (!userMayTrust(refusal) ||
        !InternetQueryOptionA(nullptr, INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT, &info,
                              &length)) {
        SetLastError(refusal);
        return nullptr;
    }

    host.progress().CloseProgress();
    host.setCursor(RemoteHost::Cursor::Default);
    const bool changed = !trusted.isEmpty();
    host.prompter().messageBeep(changed ? MB_ICONEXCLAMATION : MB_ICONQUESTION);
    const CertificateAnswer answer = host.prompter().askCertificate(
        changed ? QStringLiteral("Certificate Changed") : QStringLiteral("Server Certificate"),
        promptText(server, info, trusted), changed);
    if (answer == CertificateAnswer::Refuse) {
        SetLastError(refusal);
        return nullptr;
    }
    const QString fingerprint = QString::fromLatin1(info.szFingerprintSha256);
    if (answer == CertificateAnswer::TrustOnce)
        TrustedThisRun::remember(TrustedThisRun::Kind::Certificate, request.host, port,
                                 fingerprint);
    if (answer == CertificateAnswer::TrustAlways &&
        !trust.remember(request.host, port, fingerprint)) {
        const QString reason = trust.unsafeReason();
        host.prompter().message(
            QStringLiteral("ZUL-FTP"),
            reason.isEmpty()
                ? QStringLiteral("Unable to write to %1").arg(trust.filePath())
                : QStringLiteral("The certificate is trusted this time only: %1 is ignored, as "
                                 "%2.")
                      .arg(trust.filePath(), reason),
            MessageIcon::Error);
    }

    showAuthenticating(host);
    // A new connection, which accepts the certificate just shown and no other.
    acceptCertificate(internet, fingerprint);
    return connectOnce(internet, request, flags);
}

} // namespace

FtpOpening ConnectCheckingCertificate(RemoteHost& host, const ConnectRequest& request)
{
    FtpOpening opening;
    HINTERNET internet = InternetOpenA("ZULFTP", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!internet) {
        opening.result = threadFailure();
        return opening;
    }
    opening.engineStarted = true;
    host.progress().ShowProgress(QStringLiteral("Authenticating account and logging on"),
                                 QStringLiteral("Authenticating"), false, false);
    HINTERNET connection = connectChecking(host, internet, request);
    if (!connection) {
        opening.result = threadFailure();
        InternetCloseHandle(internet);
        return opening;
    }
    opening.session = std::make_unique<FtpServerSession>(connection, internet, true);
    return opening;
}

QString SecurityStatusSuffix(ServerSession& session)
{
    const auto* ftp = dynamic_cast<const FtpServerSession*>(&session);
    if (!ftp)
        return {};
    INTERNET_SECURITY_CONNECTION_INFO info{};
    info.dwSize = sizeof info;
    DWORD length = sizeof info;
    if (!InternetQueryOptionA(ftp->connectionHandle(), INTERNET_OPTION_SECURITY_CONNECTION_INFO,
                              &info, &length) ||
        !info.fSecure)
        return {};
    const QString version = info.dwProtocol == SP_PROT_TLS1_3_CLIENT ? QStringLiteral("TLS 1.3")
                                                                     : QStringLiteral("TLS 1.2");
    // Encrypted log-on but files in clear, when the server refused to protect data.
    return info.fDataSecure ? QStringLiteral(" (%1)").arg(version)
                            : QStringLiteral(" (%1, files unencrypted)").arg(version);
}

RemoteResult LastEngineFailure()
{
    return threadFailure();
}

RemoteResult EngineFailure(quint32 code, const QString& reply)
{
    RemoteResult result = FtpResult(code, 0, {});
    result.reply = reply;
    return result;
}

std::shared_ptr<ServerSession> ClosedFtpSession()
{
    return std::make_shared<FtpServerSession>(nullptr, nullptr, false);
}

SessionClose CloseSession(ServerSession& session)
{
    auto* ftp = dynamic_cast<FtpServerSession*>(&session);
    if (!ftp)
        return {};
    SessionClose closed;
    std::tie(closed.connection, closed.service) = ftp->closeHandles();
    return closed;
}
