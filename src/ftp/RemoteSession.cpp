#include "ftp/RemoteSession.h"

#include "common/FileListModel.h"
#include "common/ProgressSink.h"
#include "common/Prompter.h"
#include "ftp/FtpConnection.h"
#include "ftp/FtpErrorText.h"
#include "ftp/LogonQuestions.h"
#include "ftp/RemoteHost.h"
#include "ftp/RemoteListing.h"
#include "remote/FtpConnect.h"
#include "remote/SiteSession.h"
#include "sites/ProfilePasswords.h"
#include "sites/ProfileStore.h"
#include "windef.h"

#include <limits>

namespace {

const QString kTitle = QString::fromLatin1(kAppTitle);

// Disconnected: no session, commands as without a connection, no rows, no header.
void showDisconnected(RemoteHost& host)
{
    host.UpdateCommandState(false);
    ClearFileList(host.remoteFiles());
    host.setConnectionStatus(QString::fromLatin1(kNotConnectedText));
    host.setRemoteHeader(QString());
    FtpConnection.Connected = false;
}

// The steps that talk to the server; false after a failure was reported. The session is the
// connection's from the log-on on, so a failure in the start folder closes it with the rest.
bool openConnection(RemoteHost& host, const SiteProfile& site, int port)
{
    // The port parameter is 16 bits wide: a larger number reaches the service as its low
    // 16 bits, and 0 makes the service use the FTP default.
    const auto servicePort = static_cast<quint16>(static_cast<unsigned>(port) & 0xFFFFu);
    ConnectRequest request;
    request.siteName = site.siteName;
    request.host = site.host;
    request.port = servicePort;
    request.user = site.userID.toUtf8();
    request.password = site.password.toUtf8(); // empty text, never none
    request.encryption = site.encryption;
    request.plainFtpAllowed = site.plainFtpAllowed;
    request.implicitTls = ProtocolOf(site) == SiteProtocol::Ftps;
    FtpOpening opening = ConnectCheckingCertificate(host, request);
    if (!opening.engineStarted) {
        ReportFtpError(host, QStringLiteral("Internet Function Initialization Failed"),
                       opening.result);
        return false;
    }
    if (!opening.session) {
        ReportFtpError(host, QStringLiteral("FTP Server Connection Failed"), opening.result,
                       QStringLiteral("Server %1, port %2").arg(site.host).arg(servicePort));
        return false;
    }
    FtpConnection.open(std::move(opening.session));
    if (!site.directory.trimmed().isEmpty()) {
        // Sent exactly as stored: blanks around a name may be part of it on the server.
        const RemoteResult entered = FtpConnection.session().changeFolder(site.directory.toUtf8());
        if (!entered) {
            ReportFtpError(host, QStringLiteral("FTP Set Current Directory Failed"), entered,
                           FolderAbout(site.directory) + QStringLiteral(" on ") + site.host);
            return false;
        }
    }
    return true;
}

// The log-on to an SSH server, through OpenSSH's own client: its host-key and password
// questions reach the user through the prompter, the password never a command line. Then the
// start folder, or the one the server starts in.
bool openSshConnection(RemoteHost& host, const SiteProfile& site)
{
    host.progress().ShowProgress(QStringLiteral("Authenticating account and logging on"),
                                 QStringLiteral("Authenticating"), false, false);
    RemoteResult result;
    QString why;
    LogonQuestions questions(host);
    std::unique_ptr<ServerSession> session =
        OpenSiteSession(site, questions, result, why, host.sshOptions());
    if (!session) {
        if (result.reply.isEmpty())
            result.reply = why;
        ReportFtpError(host, QStringLiteral("SFTP Server Connection Failed"), result,
                       QStringLiteral("Server %1").arg(site.host));
        return false;
    }
    FtpConnection.open(std::move(session));
    ServerSession& opened = FtpConnection.session();
    QByteArray start;
    const RemoteResult entered = site.directory.trimmed().isEmpty()
                                     ? opened.currentFolder(start)
                                     : opened.changeFolder(site.directory.toUtf8());
    if (!entered) {
        ReportFtpError(host, QStringLiteral("FTP Set Current Directory Failed"), entered,
                       FolderAbout(site.directory) + QStringLiteral(" on ") + site.host);
        return false;
    }
    return true;
}

} // namespace

std::optional<int> PortTextToInt(const QString& text)
{
    qsizetype at = 0;
    while (at < text.size() && text[at] == QLatin1Char(' '))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == QLatin1Char('-') || text[at] == QLatin1Char('+'))) {
        negative = text[at] == QLatin1Char('-');
        ++at;
    }
    if (at == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; at < text.size(); ++at) {
        const char16_t c = text[at].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > qint64{std::numeric_limits<int>::max()} + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

bool ConnectToSite(RemoteHost& host)
{
    FtpConnection.ErrorReported = false;
    FtpConnection.ConnectionLost = false;
    SiteProfile site;
    const QString siteName = host.currentSiteName();
    if (!siteName.isEmpty())
        site = ReadSiteForConnect(siteName);
    // A protocol of a later version never gets the FTP log-on, whose password could cross
    // the network readable to a server meant to be reached securely.
    if (!site.host.isEmpty() && ProtocolOf(site) == SiteProtocol::Unknown) {
        host.prompter().message(
            kTitle,
            QStringLiteral("The site %1 uses the protocol \"%2\", which this version does not "
                           "know. Nothing was sent to %3.")
                .arg(site.siteName, site.protocol, site.host),
            MessageIcon::Warning);
        return false;
    }
    if (site.host.isEmpty() || site.port.isEmpty() || site.userID.isEmpty()) {
        host.prompter().messageBeep(MB_ICONEXCLAMATION);
        host.prompter().message(kTitle, QString::fromLatin1(kBlankConfigurationText),
                                MessageIcon::Warning);
        host.showConfigure();
        return false;
    }
    return ConnectToProfile(host, site);
}

bool ConnectToProfile(RemoteHost& host, SiteProfile site)
{
    FtpConnection.ErrorReported = false;
    FtpConnection.ConnectionLost = false;
    // Checked before anything is opened, so the conversion error leaves no handle, dialog
    // or cursor behind.
    const std::optional<int> port = PortTextToInt(site.port);
    if (!port) {
        host.prompter().message(kTitle,
                                QStringLiteral("'%1' is not a valid integer value").arg(site.port),
                                MessageIcon::Error);
        return false;
    }
    // The keyring's answer, or the user's in a password box when the keyring cannot give it;
    // a cancelled box ends the connect before anything is opened.
    if (site.passwordInKeyring) {
        const std::optional<QString> password =
            PasswordForConnect(site, host.keyring(), host.prompter());
        if (!password)
            return false;
        site.password = *password;
    }

    host.setCursor(RemoteHost::Cursor::Hourglass);
    host.progress().ShowProgress(QStringLiteral("Connecting to the internet"),
                                 QStringLiteral("Connecting"), false, false);
    const bool ssh = ProtocolOf(site) == SiteProtocol::Sftp;
    FtpConnection.Ssh = ssh;
    if (ssh ? openSshConnection(host, site) : openConnection(host, site, *port)) {
        host.setConnectionStatus(QString::fromLatin1(kConnectedToText) + site.host +
                                 (ssh ? QStringLiteral(" (SFTP over SSH)")
                                      : SecurityStatusSuffix(FtpConnection.session())));
        FtpConnection.Connected = true;
        FtpConnection.ConnectedHost = site.host;
        // Host names are not case-sensitive (RFC 4343); the port as the service used it.
        unsigned servicePort = static_cast<unsigned>(*port) & 0xFFFFu;
        if (servicePort == 0 && ProtocolOf(site) != SiteProtocol::Ftp)
            servicePort = DefaultPort(ProtocolOf(site));
        FtpConnection.ConnectedServer =
            QStringLiteral("%1%2@%3:%4")
                .arg(ssh ? QStringLiteral("sftp:") : QString(), site.userID, site.host.toLower())
                .arg(servicePort);
    } else {
        // Closed here, so no handle outlives the attempt and the exit does not try to
        // disconnect a connection that never was.
        if (FtpConnection.isOpen())
            FtpConnection.close();
        FtpConnection.Connected = false;
    }
    host.UpdateCommandState(!FtpConnection.ErrorReported);
    host.progress().CloseProgress();
    host.setCursor(RemoteHost::Cursor::Default);
    return !FtpConnection.ErrorReported;
}

bool DisconnectFromSite(RemoteHost& host)
{
    const SessionClose closed = FtpConnection.close();
    if (!closed.connection)
        ReportFtpError(host, QStringLiteral("FTP Server Disconnect Failed (InternetConnect)"),
                       closed.connection);
    if (!closed.service)
        ReportFtpError(host, QStringLiteral("FTP Server Disconnect Failed (InternetOpen)"),
                       closed.service);
    // Closing the connection also ends the service's, so neither may be used again, whichever
    // close reported the failure.
    if (closed.connection || closed.service)
        showDisconnected(host);
    return closed.connection && closed.service;
}

FtpFailure LastFtpFailure()
{
    const RemoteResult last = LastEngineFailure();
    return FtpFailure{last.code, last.reply};
}

bool IsConnectionLost(quint32 code)
{
    return EngineFailure(code, {}).failure == RemoteFailure::ConnectionLost;
}

void ReportFtpError(RemoteHost& host, const QString& message)
{
    ReportFtpError(host, message, LastFtpFailure());
}

QString FolderAbout(const QString& folder)
{
    return QStringLiteral("Folder \"%1\"").arg(folder);
}

void ReportFtpError(RemoteHost& host, const QString& message, const FtpFailure& failure,
                    const QString& about)
{
    ReportFtpError(host, message, EngineFailure(failure.code, failure.reply), about);
}

void ReportFtpError(RemoteHost& host, const QString& message, const RemoteResult& call,
                    const QString& about)
{
    RemoteResult result = call;
    // Read before a loss closes the session: the SFTP engine's own words say why.
    if (FtpConnection.Ssh && result.reply.isEmpty() && FtpConnection.isOpen())
        result.reply = SessionFailureText(FtpConnection.session());
    // Read before the dialog goes: "Downloading big.iso" is what the failure interrupted.
    const QString subject = about.isEmpty() ? host.activity() : about;
    host.progress().CloseProgress();
    host.setCursor(RemoteHost::Cursor::Default);
    FtpConnection.ErrorReported = true;
    const bool lostCode = result.failure == RemoteFailure::ConnectionLost;
    // After the loss the session is gone, so the calls that follow fail as on a closed
    // handle or still carry the loss's code: the user has been told already.
    if (FtpConnection.ConnectionLost && (result.code == ERROR_INVALID_HANDLE || lostCode))
        return;
    const bool lost = FtpConnection.Connected && lostCode;
    if (lost) {
        // Closed before the box, so no command can reach the dead connection while it shows.
        FtpConnection.close();
        showDisconnected(host);
        FtpConnection.ConnectionLost = true;
    }
    const QString headline = lost ? QString::fromLatin1(kConnectionLostText) : message;
    if (FtpConnection.Ssh) {
        host.prompter().message(kTitle, SshErrorText(headline, result, subject), MessageIcon::None,
                                SshErrorDetail(result));
        return;
    }
    const QString text = FtpErrorText(headline, result.code, subject, result.reply);
    host.prompter().message(kTitle, text, MessageIcon::None,
                            FtpErrorDetail(result.code, result.reply));
}

void ConnectCommand(RemoteHost& host)
{
    if (!ConnectToSite(host))
        return;
    ListRemoteFiles(host);
    host.prompter().messageBeep(MB_ICONASTERISK);
}

bool QuickConnectCommand(RemoteHost& host, const SiteProfile& site)
{
    if (!ConnectToProfile(host, site))
        return false;
    ListRemoteFiles(host);
    host.prompter().messageBeep(MB_ICONASTERISK);
    return true;
}

void DisconnectCommand(RemoteHost& host)
{
    DisconnectFromSite(host);
}
