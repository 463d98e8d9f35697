#pragma once
#include "remote/ServerSession.h"

#include "sftp/SftpTypes.h"

#include <QString>

#include <memory>

class Prompter;
struct SiteProfile;

// What kind of server a site is.
enum class SiteProtocol {
    Ftp,     // FTP, with or without TLS as the site's encryption says
    Ftps,    // FTP over implicit TLS: encrypted from the first byte, whatever the encryption says
    Sftp,    // an SSH server's file transfer
    Unknown, // a value a later version wrote: never taken for FTP, which could send the
             // password unencrypted to a server meant to be reached securely
};

SiteProtocol ProtocolOf(const SiteProfile& site);

// What ssh is started with beyond a site, in the core's words (the rest of the core does not
// include the SFTP engine's headers).
using SshOptions = sftp::ConnectOptions;
// The port a site's protocol uses when its profile names none.
quint16 DefaultPort(SiteProtocol protocol);

// Answers ssh's questions for a log-on to `site`: the stored password the first time it is
// asked, the user through `prompter` after that (so a wrong password is said in plain words
// and can be typed again), unknown host keys with their type and fingerprint, and the
// server's own questions (two-factor codes). The password only ever reaches ssh through the
// askpass channel.
sftp::PromptHandler SiteLogonPrompts(const SiteProfile& site, Prompter& prompter);

// The plain words of the last failure on `session` where its engine keeps them (SFTP: what,
// on which file and host, and why); empty for FTP, whose failures carry the server's reply.
QString SessionFailureText(ServerSession& session);

// The one place a session to a site is opened: an SFTP or an FTP session as its profile says,
// logged on, in no folder yet. `base` carries what a caller sets for ssh beyond the site
// (tests: their own known_hosts and configuration). Null with `result` and `why` (what
// happened, on which host, and why) when that failed.
std::unique_ptr<ServerSession> OpenSiteSession(const SiteProfile& site, Prompter& prompter,
                                               RemoteResult& result, QString& why,
                                               const sftp::ConnectOptions& base = {});
