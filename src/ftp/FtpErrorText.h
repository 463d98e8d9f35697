#pragma once
#include "remote/FtpErrorCodes.h"
#include "remote/RemoteResult.h"

#include <QString>

// The detail text of an FTP error box: the meaning, then on the next line the server's reply
// (trimmed) when the code has one, or for a failed TLS set-up the text that says why (the
// server's refusal or the TLS library's reason), when `lastReply` is not empty.
QString FtpErrorDetail(quint32 code, const QString& lastReply);

// The text of an FTP error box: `headline` and the code, as every box has them, then what
// the failure is about (the host, folder or file; `about`, a line of its own when given) and,
// after a refusal by the server, its reply, which says why (a "530 Login incorrect." says
// more than the code does).
QString FtpErrorText(const QString& headline, quint32 code, const QString& about,
                     const QString& lastReply);

// The text of the error box for a failure on an SSH server: `headline` (without an "FTP " it
// may start with: the server speaks SSH), what it is about, and why in the server's words or
// the SFTP engine's (the result's reply).
QString SshErrorText(const QString& headline, const RemoteResult& result, const QString& about);
// Its detail text: what the kind of failure means, and the server's status code where it sent
// one.
QString SshErrorDetail(const RemoteResult& result);
