#pragma once
#include "wininet.h"

#include <QString>

#include <memory>

class FtpServerSession;
class ServerSession;

// The program's one FTP connection: the two internet handles and what the rest of the
// program reads about them.
struct TFtpConnection
{
    HINTERNET InternetHandle = nullptr;   // InternetOpenA's handle, none when closed
    HINTERNET ConnectionHandle = nullptr; // InternetConnectA's handle, for every FTP call
    bool Connected = false;               // true only after every connect step succeeded
    QString ConnectedHost;                // the Host of the last successful connect
    // "user@host:port" of the last successful connect: what is remembered of a server (the
    // stopped uploads) is filed under it.
    QString ConnectedServer;
    bool ErrorReported = false; // set by ReportFtpError, cleared by ConnectToSite
    // Set when a failure found the connection gone and closed it (one box said so); what
    // fails after it in the same command is its consequence and not reported again. Cleared
    // by ConnectToSite.
    bool ConnectionLost = false;

    // The session over ConnectionHandle: every remote operation goes through it.
    ServerSession& session();

private:
    std::shared_ptr<FtpServerSession> m_session; // made for the handle it was first asked for
};

extern TFtpConnection FtpConnection;
