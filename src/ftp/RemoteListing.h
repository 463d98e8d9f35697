#pragma once
#include <QString>

class RemoteHost;

// Refills the remote list and its header from the current remote directory, then sorts it by
// RemoteSort. An empty or unreadable directory gives an empty list without a message.
void ListRemoteFiles(RemoteHost& host);

// The header caption: the connected host immediately followed by the directory.
QString RemoteHeaderCaption(const QString& connectedHost, const QString& directory);
