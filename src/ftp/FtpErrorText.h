#pragma once
#include "remote/FtpErrorCodes.h"

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
