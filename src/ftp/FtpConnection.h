#pragma once
#include "remote/RemoteResult.h"

#include <QString>

#include <memory>

class ServerSession;

// The outcome of closing a session, step by step: an FTP session closes its connection, then
// the service it was opened on, and either may fail on its own.
struct SessionClose
{
    RemoteResult connection;
    RemoteResult service;
};

// The program's one browsing connection: the session with the server and what the rest of
// the program reads about it.
struct TFtpConnection
{
    bool Connected = false; // true only after every connect step succeeded
    QString ConnectedHost;  // the Host of the last successful connect
    // "user@host:port" of the last successful connect: what is remembered of a server (the
    // stopped uploads) is filed under it.
    QString ConnectedServer;
    bool ErrorReported = false; // set by ReportFtpError, cleared by ConnectToSite
    // Set when a failure found the connection gone and closed it (one box said so); what
    // fails after it in the same command is its consequence and not reported again. Cleared
    // by ConnectToSite.
    bool ConnectionLost = false;
    // The site connected last (or being connected) is an SSH server: its failures carry the
    // SFTP engine's words and the server's status, not the FTP engine's codes.
    bool Ssh = false;
    // The folder the server last named after a listing of it. While the session's folder is
    // still this one, a listing of it again (the refresh) need not ask the server where it is:
    // that question cost a third round trip on every refresh.
    QByteArray ListedFolder;

    // The session every remote operation goes through. While none is open, one whose every
    // call fails as on a closed connection, so a command that comes too late reports that
    // rather than reaching a server.
    ServerSession& session();
    // True from a session's opening to its close: whether there is anything to disconnect.
    bool isOpen() const { return m_session != nullptr; }
    // Makes `session` the connection's, in place of any before it (which closes as it goes if
    // it owned its connection).
    void open(std::shared_ptr<ServerSession> session);
    // Closes the session (an FTP session's handles even where it was given them) and tells
    // how each step went; with none open, both steps fail as on a closed handle.
    SessionClose close();

private:
    std::shared_ptr<ServerSession> m_session;
    std::shared_ptr<ServerSession> m_closed; // stands in while none is open
};

extern TFtpConnection FtpConnection;
