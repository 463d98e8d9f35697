#pragma once
#include <QString>

class RemoteHost;

// Refills the remote list and its header from the current remote directory, then sorts it by
// RemoteSort. An empty directory gives an empty list; a listing that fails is reported
// ("FTP Directory Listing Failed."), and one that finds the connection gone leaves the
// program Disconnected.
void ListRemoteFiles(RemoteHost& host);

// The header caption: the connected host immediately followed by the directory.
QString RemoteHeaderCaption(const QString& connectedHost, const QString& directory);
