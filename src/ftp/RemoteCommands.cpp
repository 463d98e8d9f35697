#include "ftp/RemoteCommands.h"

#include "common/FileListRows.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteListing.h"
#include "ftp/RemoteSession.h"
#include "remote/ServerSession.h"

// Every command names entries in the folder the session is in, which an FTP session sends as
// the name alone; each success is followed by a fresh listing so the list shows the server's
// view, never a guess of ours.

void RemoteUpOneLevel(RemoteHost& host)
{
    ServerSession& session = FtpConnection.session();
    // ".." in the folder: the server's own idea of the parent, which an FTP session sends as
    // "CWD .." and an SFTP session resolves on the server.
    if (const RemoteResult up = session.changeFolder(RemotePath::here(session, "..")))
        ListRemoteFiles(host);
    else
        ReportFtpError(host, QStringLiteral("Unable to move up one level."), up);
}

void RemoteEnterFolder(RemoteHost& host, const QByteArray& name)
{
    ServerSession& session = FtpConnection.session();
    if (const RemoteResult entered = session.changeFolder(RemotePath::here(session, name)))
        ListRemoteFiles(host);
    else
        ReportFtpError(host, QStringLiteral("FTP Set Current Directory Failed."), entered,
                       FolderAbout(ServerNameText(name)));
}

void RemoteNewFolder(RemoteHost& host, const QString& name)
{
    ServerSession& session = FtpConnection.session();
    if (const RemoteResult made = session.makeFolder(RemotePath::here(session, name.toUtf8())))
        ListRemoteFiles(host);
    else
        ReportFtpError(host, QStringLiteral("FTP Create Directory Failed."), made,
                       FolderAbout(name));
}

bool RemoteRename(RemoteHost& host, const QByteArray& existing, const QString& newName)
{
    ServerSession& session = FtpConnection.session();
    const RemoteResult renamed = session.rename(RemotePath::here(session, existing),
                                                RemotePath::here(session, newName.toUtf8()));
    if (renamed)
        return true;
    ReportFtpError(host, QStringLiteral("FTP Rename Failed."), renamed,
                   QStringLiteral("\"%1\" to \"%2\"").arg(ServerNameText(existing), newName));
    return false;
}
