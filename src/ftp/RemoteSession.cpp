#include "ftp/RemoteSession.h"

#include "common/FileListModel.h"
#include "common/ProgressSink.h"
#include "common/Prompter.h"
#include "ftp/FtpConnection.h"
#include "ftp/FtpErrorText.h"
#include "ftp/RemoteHost.h"
#include "ftp/RemoteListing.h"
#include "ftp/SecureConnect.h"
#include "remote/SiteSession.h"
#include "sites/ProfilePasswords.h"
#include "sites/ProfileStore.h"
#include "wininet.h"

#include <limits>

namespace {

const QString kTitle = QString::fromLatin1(kAppTitle);

// Closes whatever a failed connect left open, so no handle outlives the attempt and the exit
// does not try to disconnect a connection that never was.
void releaseHandles()
{
    if (FtpConnection.ConnectionHandle)
        InternetCloseHandle(FtpConnection.ConnectionHandle);
    if (FtpConnection.InternetHandle)
        InternetCloseHandle(FtpConnection.InternetHandle);
    FtpConnection.ConnectionHandle = nullptr;
    FtpConnection.InternetHandle = nullptr;
}

// Disconnected: no handle, commands as without a connection, no rows, no header.
void showDisconnected(RemoteHost& host)
{
    host.UpdateCommandState(false);
    ClearFileList(host.remoteFiles());
    host.setConnectionStatus(QString::fromLatin1(kNotConnectedText));
    host.setRemoteHeader(QString());
    FtpConnection.InternetHandle = nullptr;
    FtpConnection.ConnectionHandle = nullptr;
    FtpConnection.Connected = false;
}

// The steps that talk to the service; false after a failure was reported.
bool openConnection(RemoteHost& host, const SiteProfile& site, int port)
{
    FtpConnection.InternetHandle =
        InternetOpenA("ZULFTP", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!FtpConnection.InternetHandle) {
        ReportFtpError(host, QStringLiteral("Internet Function Initialization Failed"));
        return false;
    }
    host.progress().ShowProgress(QStringLiteral("Authenticating account and logging on"),
                                 QStringLiteral("Authenticating"), false, false);
    // The port parameter is 16 bits wide: a larger number reaches the service as its low
    // 16 bits, and 0 makes the service use the FTP default.
    const auto servicePort = static_cast<INTERNET_PORT>(static_cast<unsigned>(port) & 0xFFFFu);
    ConnectRequest request;
    request.internet = FtpConnection.InternetHandle;
    request.siteName = site.siteName;
    request.host = site.host;
    request.port = servicePort;
    request.server = site.host.toUtf8();
    request.user = site.userID.toUtf8();
    request.password = site.password.toUtf8(); // empty text, never none
    request.flags = EncryptionConnectFlags(site.encryption, site.plainFtpAllowed);
    FtpConnection.ConnectionHandle = ConnectCheckingCertificate(host, request);
    if (!FtpConnection.ConnectionHandle) {
        ReportFtpError(host, QStringLiteral("FTP Server Connection Failed"), LastFtpFailure(),
                       QStringLiteral("Server %1, port %2").arg(site.host).arg(servicePort));
        return false;
    }
    if (!site.directory.trimmed().isEmpty()) {
        // Sent exactly as stored: blanks around a name may be part of it on the server.
        const QByteArray directory = site.directory.toUtf8();
        if (!FtpSetCurrentDirectoryA(FtpConnection.ConnectionHandle, directory.constData())) {
            ReportFtpError(host, QStringLiteral("FTP Set Current Directory Failed"),
                           LastFtpFailure(),
                           FolderAbout(site.directory) + QStringLiteral(" on ") + site.host);
            return false;
        }
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
    // This window's connection speaks FTP only: an SSH server or a protocol of a later
    // version never gets the FTP log-on, whose password would cross the network readable.
    if (!site.host.isEmpty() && ProtocolOf(site) != SiteProtocol::Ftp) {
        host.prompter().message(
            kTitle,
            QStringLiteral("The site %1 is not an FTP site (protocol \"%2\"), and this window "
                           "connects to FTP sites only. Nothing was sent to %3.")
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
    if (openConnection(host, site, *port)) {
        host.setConnectionStatus(QString::fromLatin1(kConnectedToText) + site.host +
                                 SecurityStatusSuffix(FtpConnection.ConnectionHandle));
        FtpConnection.Connected = true;
        FtpConnection.ConnectedHost = site.host;
        // Host names are not case-sensitive (RFC 4343); the port as the service used it.
        FtpConnection.ConnectedServer = QStringLiteral("%1@%2:%3")
                                            .arg(site.userID, site.host.toLower())
                                            .arg(static_cast<unsigned>(*port) & 0xFFFFu);
    } else {
        releaseHandles();
        FtpConnection.Connected = false;
    }
    host.UpdateCommandState(!FtpConnection.ErrorReported);
    host.progress().CloseProgress();
    host.setCursor(RemoteHost::Cursor::Default);
    return !FtpConnection.ErrorReported;
}

bool DisconnectFromSite(RemoteHost& host)
{
    const bool connectionClosed = InternetCloseHandle(FtpConnection.ConnectionHandle) != FALSE;
    if (!connectionClosed)
        ReportFtpError(host, QStringLiteral("FTP Server Disconnect Failed (InternetConnect)"));
    const bool internetClosed = InternetCloseHandle(FtpConnection.InternetHandle) != FALSE;
    if (!internetClosed)
        ReportFtpError(host, QStringLiteral("FTP Server Disconnect Failed (InternetOpen)"));
    // Closing the session handle also ends its connection, so neither handle may be used
    // again, whichever close reported the failure.
    if (connectionClosed || internetClosed)
        showDisconnected(host);
    return connectionClosed && internetClosed;
}

FtpFailure LastFtpFailure()
{
    // Read first: the calls below may leave an error of their own.
    FtpFailure failure{GetLastError(), {}};
    // Only a code that stands for a reply just received gets one: other failures may leave
    // an older reply behind. A failed TLS set-up leaves its explanation in the same place.
    if (FtpErrorHasServerReply(failure.code) || IsSecurityError(failure.code)) {
        DWORD replyCode = 0;
        char reply[1024] = {};
        DWORD length = sizeof reply;
        if (InternetGetLastResponseInfoA(&replyCode, reply, &length))
            failure.reply =
                QString::fromUtf8(reply, static_cast<qsizetype>(qstrnlen(reply, sizeof reply)))
                    .trimmed();
    }
    return failure;
}

bool IsConnectionLost(DWORD code)
{
    return code == ERROR_INTERNET_CONNECTION_ABORTED || code == ERROR_INTERNET_CONNECTION_RESET ||
           code == ERROR_FTP_DROPPED || code == ERROR_INTERNET_TIMEOUT;
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
    // Read before the dialog goes: "Downloading big.iso" is what the failure interrupted.
    const QString subject = about.isEmpty() ? host.activity() : about;
    host.progress().CloseProgress();
    host.setCursor(RemoteHost::Cursor::Default);
    FtpConnection.ErrorReported = true;
    // After the loss the handles are gone, so the calls that follow fail with an invalid
    // handle or still carry the loss's code: the user has been told already.
    if (FtpConnection.ConnectionLost &&
        (failure.code == ERROR_INVALID_HANDLE || IsConnectionLost(failure.code)))
        return;
    const bool lost = FtpConnection.Connected && IsConnectionLost(failure.code);
    if (lost) {
        // Closed before the box, so no command can reach the dead connection while it shows.
        InternetCloseHandle(FtpConnection.ConnectionHandle);
        InternetCloseHandle(FtpConnection.InternetHandle);
        showDisconnected(host);
        FtpConnection.ConnectionLost = true;
    }
    const QString text = FtpErrorText(lost ? QString::fromLatin1(kConnectionLostText) : message,
                                      failure.code, subject, failure.reply);
    host.prompter().message(kTitle, text, MessageIcon::None,
                            FtpErrorDetail(failure.code, failure.reply));
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
