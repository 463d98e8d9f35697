#pragma once
#include <QByteArray>
#include <QString>

class RemoteHost;

// The remote side of Up One Level: the server's parent directory, then a new listing.
void RemoteUpOneLevel(RemoteHost& host);
// Entering the folder `name` of the listing (a double-click on its row), named by the row's
// serverName().
void RemoteEnterFolder(RemoteHost& host, const QByteArray& name);
// New Folder on the remote side, with the name exactly as typed.
void RemoteNewFolder(RemoteHost& host, const QString& name);
// Renames `existing` (a row's serverName()) to `newName` as typed; false after the failure
// was reported.
bool RemoteRename(RemoteHost& host, const QByteArray& existing, const QString& newName);
