#pragma once
#include "remote/ServerSession.h"

#include <QByteArray>
#include <QString>

#include <memory>

class RemoteHost;
struct SessionClose;

// What the connect needs to reach an FTP server.
struct ConnectRequest
{
    QString siteName; // where "always allow plain FTP" is remembered
    QString host;     // as the profile has it, the key of the trusted certificates too
    quint16 port = 0; // 0: FTP's own
    QByteArray user;
    QByteArray password;
    // The profile's "Encryption" value. No value (an older profile) and "none" are plain FTP;
    // a value this version does not know asks for the most, TLS required, so it never means
    // less protection than the user chose.
    QString encryption;
    // "If available" goes on in plain FTP unasked only with this, the site's "AllowPlainFtp".
    bool plainFtpAllowed = false;
    // TLS from the first byte (the site's protocol "ftps", port 990 by default): the
    // encryption value is not asked, and a server without TLS gets nothing.
    bool implicitTls = false;
};

// What an FTP connect gave: the logged-on session, or why there is none.
struct FtpOpening
{
    std::unique_ptr<ServerSession> session;
    // False when the FTP engine itself could not start, before any server was tried.
    bool engineStarted = false;
    RemoteResult result; // the failure when `session` is null
};

// Connects and logs on, with the certificate the user trusts always for this server. When the
// server shows a certificate that no authority vouches for, the user sees it and chooses; a
// certificate other than the one trusted before is a loud warning. Only an accepted
// certificate is connected to, and only that exact one. A server that refuses TLS to a site
// not allowed plain FTP gets nothing, the user name included, until the user says yes; one
// whose certificate is trusted always is a loud warning even where plain FTP is allowed.
// A trust file others could have written is ignored with a warning. The progress dialog says
// "Authenticating" from the moment the engine has started.
FtpOpening ConnectCheckingCertificate(RemoteHost& host, const ConnectRequest& request);

// " (TLS 1.3)" after the status text of an encrypted FTP connection; empty for plain FTP.
QString SecurityStatusSuffix(ServerSession& session);

// The failure of the last FTP engine call made on the calling thread, with the reply the
// engine kept for the thread where the failure was a reply.
RemoteResult LastEngineFailure();
// The result an FTP engine code stands for, with `reply` as given.
RemoteResult EngineFailure(quint32 code, const QString& reply);
// A session that is not connected: every call fails as on a closed handle.
std::shared_ptr<ServerSession> ClosedFtpSession();
// Ends `session`'s connection. An FTP session's handles are closed even where it was only
// given them, as a Disconnect ends the connection it has; another session closes when it goes.
SessionClose CloseSession(ServerSession& session);
