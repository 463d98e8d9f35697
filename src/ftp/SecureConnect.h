#pragma once
#include "wininet.h"

#include <QByteArray>
#include <QString>

class RemoteHost;

// The InternetConnectA flags for a profile's "Encryption" value. No value (an older profile)
// and "none" are plain FTP; a value this version does not know asks for the most, TLS
// required, so it never means less protection than the user chose. "If available" goes on in
// plain FTP unasked only with `plainFtpAllowed`, the site's "AllowPlainFtp".
DWORD EncryptionConnectFlags(const QString& encryption, bool plainFtpAllowed = false);

// What the connect needs to reach the server.
struct ConnectRequest
{
    HINTERNET internet = nullptr;
    QString siteName; // where "always allow plain FTP" is remembered
    QString host;     // as the profile has it, the key of the trusted certificates too
    INTERNET_PORT port = 0;
    QByteArray server;
    QByteArray user;
    QByteArray password;
    DWORD flags = 0;
};

// InternetConnectA, with the certificate the user trusts always for this server. When the
// server shows a certificate that no authority vouches for, the user sees it and chooses; a
// certificate other than the one trusted before is a loud warning. Only an accepted
// certificate is connected to, and only that exact one. A server that refuses TLS to a site
// not allowed plain FTP gets nothing, the user name included, until the user says yes; one
// whose certificate is trusted always is a loud warning even where plain FTP is allowed.
// A trust file others could have written is ignored with a warning. Null with the last error
// set when the connection was not made.
HINTERNET ConnectCheckingCertificate(RemoteHost& host, const ConnectRequest& request);

// " (TLS 1.3)" after the status text of an encrypted connection; empty for plain FTP.
QString SecurityStatusSuffix(HINTERNET connection);

// The codes of a failed TLS set-up, whose reply text says what went wrong.
bool IsSecurityError(DWORD code);
