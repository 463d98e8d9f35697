#pragma once
#include "windef.h"

#include <QString>

// What an error code in an FTP error box means, in a line a user understands. Every code the
// internet service or the file system can leave for ReportFtpError has its line here, so a
// new code (a new protocol feature, a new failure) gets its meaning in this one table.
QString FtpErrorMeaning(DWORD code);

// Whether the failure with `code` came from a reply the server just sent (a refusal, a failed
// log-on), so that the last reply is worth showing. Other failures (no connection, a time-out,
// a local file) may leave an older reply behind, which would only mislead.
bool FtpErrorHasServerReply(DWORD code);

// The detail text of an FTP error box: the meaning, then on the next line the server's reply
// (trimmed) when the code has one, or for a failed TLS set-up the text that says why (the
// server's refusal or the TLS library's reason), when `lastReply` is not empty.
QString FtpErrorDetail(DWORD code, const QString& lastReply);

// The text of an FTP error box: `headline` and the code, as every box has them, then what
// the failure is about (the host, folder or file; `about`, a line of its own when given) and,
// after a refusal by the server, its reply, which says why (a "530 Login incorrect." says
// more than the code does).
QString FtpErrorText(const QString& headline, DWORD code, const QString& about,
                     const QString& lastReply);
