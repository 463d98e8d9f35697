#include "remote/SiteSession.h"

#include "common/Prompter.h"
#include "ftp/CertificateTrust.h"
#include "ftp/RemoteSession.h"
#include "remote/FtpServerSession.h"
#include "remote/SftpServerSession.h"
#include "remote/TrustedThisRun.h"
#include "sites/ProfileStore.h"

namespace {

constexpr quint16 kFtpPort = 21;
constexpr quint16 kSshPort = 22;

QString textOf(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The site's port, the protocol's own when the profile names none; nullopt when the text is
// no port at all.
std::optional<quint16> portOf(const SiteProfile& site, SiteProtocol protocol)
{
    if (site.port.trimmed().isEmpty())
        return DefaultPort(protocol);
    const std::optional<int> port = PortTextToInt(site.port);
    if (!port || *port < 0 || *port > 0xFFFF)
        return std::nullopt;
    return *port == 0 ? DefaultPort(protocol) : static_cast<quint16>(*port);
}

sftp::PromptAnswer hostKeyAnswer(const sftp::PromptRequest& request, const QString& host,
                                 quint16 port, Prompter& prompter)
{
    const QString text =
        QStringLiteral("This is the first connection to %1, so its key is not known yet.\n\n"
                       "Key type: %2\nFingerprint: %3\n\nTrust the key only if it is the one "
                       "the server's administrator gave you; \"always\" adds it to your "
                       "known_hosts, which ssh reads as well.")
            .arg(host, textOf(request.keyType), textOf(request.fingerprint));
    sftp::PromptAnswer answer;
    // The queue's workers each start an ssh of their own, which knows nothing of the answer
    // the window's connection was given: a key trusted once is trusted for the whole run.
    CertificateAnswer said = CertificateAnswer::TrustOnce;
    const QString key = textOf(request.keyType) + QLatin1Char(' ') + textOf(request.fingerprint);
    const bool trusted =
        TrustedThisRun::askOnce(TrustedThisRun::Kind::HostKey, host, port, key, [&] {
            said = prompter.askCertificate(QStringLiteral("Unknown host key"), text, false);
            return said != CertificateAnswer::Refuse;
        });
    if (!trusted)
        return answer;
    answer.trust = said == CertificateAnswer::TrustAlways ? sftp::HostKeyTrust::Always
                                                          : sftp::HostKeyTrust::Once;
    answer.cancelled = false;
    return answer;
}

// A changed key is the sign of an attack as much as of a reinstalled server: a loud warning
// whose default is not to connect, and only "always" (the new key replaces the known one)
// goes on.
sftp::PromptAnswer changedKeyAnswer(const sftp::PromptRequest& request, Prompter& prompter)
{
    const QString text =
        textOf(request.text) +
        QStringLiteral("\n\nKey type: %1\nNew fingerprint: %2\n\nOnly if the server's "
                       "administrator confirms this new key, choose \"Trust always\": it "
                       "replaces the known key in your known_hosts, which ssh reads as well. "
                       "Any other answer does not connect.")
            .arg(textOf(request.keyType), textOf(request.fingerprint));
    prompter.messageBeep(MB_ICONEXCLAMATION);
    sftp::PromptAnswer answer;
    if (prompter.askCertificate(QStringLiteral("Host key changed"), text, true) ==
        CertificateAnswer::TrustAlways) {
        answer.cancelled = false;
        answer.trust = sftp::HostKeyTrust::Replace;
    }
    return answer;
}

} // namespace

QString SessionFailureText(ServerSession& session)
{
    const auto* sftp = dynamic_cast<const SftpServerSession*>(&session);
    return sftp ? sftp->failureText() : QString();
}

SiteProtocol ProtocolOf(const SiteProfile& site)
{
    if (site.protocol.isEmpty() || site.protocol == QLatin1String(kProtocolFtp))
        return SiteProtocol::Ftp;
    if (site.protocol == QLatin1String(kProtocolSftp))
        return SiteProtocol::Sftp;
    if (site.protocol == QLatin1String(kProtocolFtps))
        return SiteProtocol::Ftps;
    return SiteProtocol::Unknown;
}

quint16 DefaultPort(SiteProtocol protocol)
{
    if (protocol == SiteProtocol::Ftps)
        return INTERNET_DEFAULT_FTPS_PORT;
    return protocol == SiteProtocol::Sftp ? kSshPort : kFtpPort;
}

sftp::PromptHandler SiteLogonPrompts(const SiteProfile& site, Prompter& prompter)
{
    const quint16 port = portOf(site, SiteProtocol::Sftp).value_or(kSshPort);
    return [&prompter, host = site.host, port, user = site.userID,
            stored = site.password](const sftp::PromptRequest& request) {
        sftp::PromptAnswer answer;
        std::optional<QString> reply;
        switch (request.kind) {
        case sftp::PromptKind::HostKey:
            return hostKeyAnswer(request, host, port, prompter);
        case sftp::PromptKind::HostKeyChanged:
            return changedKeyAnswer(request, prompter);
        case sftp::PromptKind::Password:
            if (request.attempt == 1 && !stored.isEmpty()) {
                reply = stored;
                break;
            }
            reply = prompter.inputPassword(
                QStringLiteral("Password"),
                request.attempt > 1 || !stored.isEmpty()
                    ? QStringLiteral("%1 did not accept the password of %2. Password:")
                          .arg(host, user)
                    : QStringLiteral("Password of %1 on %2:").arg(user, host));
            break;
        case sftp::PromptKind::KeyPassphrase:
            reply = prompter.inputPassword(QStringLiteral("Key passphrase"),
                                           textOf(request.text).trimmed());
            break;
        case sftp::PromptKind::Text:
            reply = prompter.inputBox(host, textOf(request.text).trimmed(), {});
            break;
        case sftp::PromptKind::Notice:
            prompter.message(QStringLiteral("Host key not saved"), textOf(request.text).trimmed(),
                             MessageIcon::Warning);
            return answer;
        case sftp::PromptKind::Confirm:
            if (prompter.askYesNo(host, textOf(request.text).trimmed()))
                reply = QString();
            break;
        }
        if (reply) {
            answer.cancelled = false;
            answer.text = reply->toStdString();
        }
        return answer;
    };
}

std::unique_ptr<ServerSession> OpenSiteSession(const SiteProfile& site, Prompter& prompter,
                                               RemoteResult& result, QString& why,
                                               const sftp::ConnectOptions& base)
{
    result = {};
    const SiteProtocol protocol = ProtocolOf(site);
    result.failure = RemoteFailure::Other;
    if (protocol == SiteProtocol::Unknown) {
        why = QStringLiteral("The site %1 uses the protocol \"%2\", which this version does not "
                             "know; nothing was sent to %3.")
                  .arg(site.siteName, site.protocol, site.host);
        return nullptr;
    }
    const std::optional<quint16> port = portOf(site, protocol);
    if (!port) {
        why = QStringLiteral("The port \"%1\" of the site %2 is not a port number.")
                  .arg(site.port, site.siteName);
        return nullptr;
    }
    if (protocol == SiteProtocol::Sftp) {
        sftp::ConnectOptions options = base;
        options.host = site.host.toStdString();
        options.port = *port;
        options.user = site.userID.toStdString();
        return OpenSftpSession(options, SiteLogonPrompts(site, prompter), result, why);
    }
    SessionLogon logon = LogonFor(site, *port);
    if (protocol == SiteProtocol::Ftps)
        logon.connectFlags = INTERNET_FLAG_IMPLICIT_TLS; // never a plain fall-back
    // A certificate the user trusted (always, or once in this run) holds for every connection
    // to the server, the queue's too, which cannot ask.
    if (logon.connectFlags != 0) {
        logon.acceptedCertificate =
            CertificateTrust(CertificateTrust::defaultFilePath()).fingerprint(site.host, *port);
        if (logon.acceptedCertificate.isEmpty())
            logon.acceptedCertificate =
                TrustedThisRun::key(TrustedThisRun::Kind::Certificate, site.host, *port);
    }
    std::unique_ptr<ServerSession> session = OpenServerSession(logon, result);
    if (!session)
        why = QStringLiteral("Connecting to %1 on port %2 failed%3")
                  .arg(site.host)
                  .arg(*port)
                  .arg(result.reply.isEmpty() ? QStringLiteral(".") : ": " + result.reply);
    return session;
}
