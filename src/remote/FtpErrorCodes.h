#pragma once
#include <QString>
#include <QtGlobal>

// What the last reply holds after a failure with an FTP engine code.
enum class FtpReplyKind {
    None,        // nothing that belongs to this failure
    Server,      // the answer the server just gave
    Explanation, // why the secure connection failed: the server's refusal or the TLS library's
};

// What an error code in an FTP error box means, in a line a user understands. Every code the
// FTP engine or the file system can leave for ReportFtpError has its line here, so a new code
// (a new protocol feature, a new failure) gets its meaning in this one table.
QString FtpErrorMeaning(quint32 code);

// What the last reply holds after a failure with `code`.
FtpReplyKind FtpErrorReply(quint32 code);

// Whether the failure with `code` came from a reply the server just sent (a refusal, a failed
// log-on), so that the last reply is worth showing. Other failures (no connection, a time-out,
// a local file) may leave an older reply behind, which would only mislead.
bool FtpErrorHasServerReply(quint32 code);
