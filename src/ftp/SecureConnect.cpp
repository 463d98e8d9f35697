#include "ftp/SecureConnect.h"

#include "app/Prompter.h"
#include "ftp/CertificateTrust.h"
#include "ftp/RemoteHost.h"
#include "sites/ProfileStore.h"
#include "transfer/ProgressSink.h"

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

HINTERNET connectOnce(const ConnectRequest& request)
{
    return InternetConnectA(request.internet, request.server.constData(), request.port,
                            request.user.constData(), request.password.constData(),
                            INTERNET_SERVICE_FTP, request.flags, 0);
}

} // namespace

DWORD EncryptionConnectFlags(const QString& encryption)
{
    if (encryption.isEmpty() || encryption == QLatin1String(kEncryptionNone))
        return 0;
    if (encryption == QLatin1String(kEncryptionIfAvailable))
        return INTERNET_FLAG_SECURE_IF_AVAILABLE;
    return INTERNET_FLAG_SECURE;
}

HINTERNET ConnectCheckingCertificate(RemoteHost& host, const ConnectRequest& request)
{
    const quint16 port = request.port == 0 ? INTERNET_DEFAULT_FTP_PORT : request.port;
    const CertificateTrust trust(CertificateTrust::defaultFilePath());
    const QString trusted = trust.fingerprint(request.host, port);
    acceptCertificate(request.internet, trusted);
    if (HINTERNET connection = connectOnce(request))
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
    const QString server = QStringLiteral("%1 (port %2)").arg(request.host).arg(port);
    const CertificateAnswer answer = host.prompter().askCertificate(
        changed ? QStringLiteral("Certificate Changed") : QStringLiteral("Server Certificate"),
        promptText(server, info, trusted), changed);
    if (answer == CertificateAnswer::Refuse) {
        SetLastError(refusal);
        return nullptr;
    }
    const QString fingerprint = QString::fromLatin1(info.szFingerprintSha256);
    if (answer == CertificateAnswer::TrustAlways &&
        !trust.remember(request.host, port, fingerprint))
        host.prompter().message(QStringLiteral("ZUL-FTP"),
                                QStringLiteral("Unable to write to %1").arg(trust.filePath()),
                                MessageIcon::Error);

    host.setCursor(RemoteHost::Cursor::Hourglass);
    host.progress().ShowProgress(QStringLiteral("Authenticating account and logging on"),
                                 QStringLiteral("Authenticating"), false, false);
    // A new connection, which accepts the certificate just shown and no other.
    acceptCertificate(request.internet, fingerprint);
    return connectOnce(request);
}

QString SecurityStatusSuffix(HINTERNET connection)
{
    INTERNET_SECURITY_CONNECTION_INFO info{};
    info.dwSize = sizeof info;
    DWORD length = sizeof info;
    if (!InternetQueryOptionA(connection, INTERNET_OPTION_SECURITY_CONNECTION_INFO, &info,
                              &length) ||
        !info.fSecure)
        return {};
    const QString version = info.dwProtocol == SP_PROT_TLS1_3_CLIENT ? QStringLiteral("TLS 1.3")
                                                                     : QStringLiteral("TLS 1.2");
    // Encrypted log-on but files in clear, when the server refused to protect data.
    return info.fDataSecure ? QStringLiteral(" (%1)").arg(version)
                            : QStringLiteral(" (%1, files unencrypted)").arg(version);
}

bool IsSecurityError(DWORD code)
{
    return code == ERROR_INTERNET_SECURITY_CHANNEL_ERROR || userMayTrust(code) ||
           code == ERROR_INTERNET_SEC_CERT_CN_INVALID || code == ERROR_INTERNET_SEC_CERT_REVOKED;
}
