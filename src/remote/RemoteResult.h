#pragma once
#include <QString>
#include <QtGlobal>

// Why a call on a server session failed, in terms every protocol can give.
enum class RemoteFailure {
    None,
    Refused,        // the server answered no (permission, no such file, ...)
    Unsupported,    // the server cannot do it (no restart, no size)
    Cancelled,      // cancel() ended it
    ConnectionLost, // dropped, reset, or silent past its deadline: the session is unusable
    Security,       // TLS could not be set up, or the certificate was not accepted
    Other,          // anything else (a local error, an argument no command can carry)
};

// The outcome of one call on a server session: the kind of failure, the protocol engine's
// code (what the error box shows in brackets) and that connection's own last server reply,
// so a report never shows another connection's reply.
struct RemoteResult
{
    RemoteFailure failure = RemoteFailure::None;
    quint32 code = 0;
    int replyCode = 0;
    QString reply; // the server's reply text, trimmed; empty when the failure was not a reply
    // The server said nothing has that name (FTP's 550, SFTP's "no such file"): the one
    // refusal that proves a name free.
    bool noSuchName = false;

    bool ok() const { return failure == RemoteFailure::None; }
    explicit operator bool() const { return ok(); }
};
