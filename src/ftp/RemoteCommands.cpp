#include "ftp/RemoteCommands.h"

#include "common/FileListRows.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteListing.h"
#include "ftp/RemoteSession.h"
#include "wininet.h"

// Every command names entries relative to the server's current directory, which only the
// server keeps; each success is followed by a fresh listing so the list shows the server's
// view, never a guess of ours.

void RemoteUpOneLevel(RemoteHost& host)
{
    if (FtpSetCurrentDirectoryA(FtpConnection.ConnectionHandle, ".."))
        ListRemoteFiles(host);
    else
        ReportFtpError(host, QStringLiteral("Unable to move up one level."));
}

void RemoteEnterFolder(RemoteHost& host, const QByteArray& name)
{
    if (FtpSetCurrentDirectoryA(FtpConnection.ConnectionHandle, name.constData()))
        ListRemoteFiles(host);
    else
        ReportFtpError(host, QStringLiteral("FTP Set Current Directory Failed."), LastFtpFailure(),
                       FolderAbout(ServerNameText(name)));
}

void RemoteNewFolder(RemoteHost& host, const QString& name)
{
    const QByteArray folder = name.toUtf8();
    if (FtpCreateDirectoryA(FtpConnection.ConnectionHandle, folder.constData()))
        ListRemoteFiles(host);
    else
        ReportFtpError(host, QStringLiteral("FTP Create Directory Failed."), LastFtpFailure(),
                       FolderAbout(name));
}

bool RemoteRename(RemoteHost& host, const QByteArray& existing, const QString& newName)
{
    const QByteArray to = newName.toUtf8();
    if (FtpRenameFileA(FtpConnection.ConnectionHandle, existing.constData(), to.constData()))
        return true;
    ReportFtpError(host, QStringLiteral("FTP Rename Failed."), LastFtpFailure(),
                   QStringLiteral("\"%1\" to \"%2\"").arg(ServerNameText(existing), newName));
    return false;
}
