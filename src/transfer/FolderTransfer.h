#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "remote/ServerSession.h"

#include <vector>

class BatchHost;
class ExistingTargets;

// How a folder operation ended.
enum class FolderOutcome {
    Done,   // every entry went, or Cancel stopped it
    Failed, // an entry failed (each failure was shown); the remote directory is back
    // A way back up to a parent folder failed (shown as "FTP Set Current Directory Failed"):
    // the folder operation stopped there, and the remote current directory is not where the
    // caller left it, so nothing more may be transferred until the remote list is read again.
    Stranded,
};

// Sends the local folder `folderPath` with everything in it into a folder of the same name
// in the current remote directory (created, or used when it exists). Unless stranded, the
// remote directory is back where it was when this returns, also when a local error is
// thrown. Failed when an entry failed ("Error uploading folder." was shown for it); Done when
// cancelled. A file whose name the remote folder holds is asked about first (`targets`: the
// batch's answers so far; none: the folder's own).
FolderOutcome UploadFolder(BatchHost& host, const QString& folderPath,
                           ExistingTargets* targets = nullptr);

// The mirror of UploadFolder: fetches the remote folder `remoteName` (the server's own bytes,
// as a row's serverName()) of the current remote directory with everything in it into a
// folder of that name in the host's local folder (created, or used when it exists). Local
// names are the ServerNameText of the server's names, and every one must be plain. Unless
// stranded, the remote directory is back where it was when this returns. Failed when an entry
// failed (each failure was already shown); Done when cancelled. Started again after a Cancel or a
// failure, it asks once whether to skip the files a download already brought here whole (same
// remote name, size and time), and offers to resume the one that broke off. Any other local
// file in the way is asked about as UploadFolder asks.
FolderOutcome DownloadFolder(BatchHost& host, const QByteArray& remoteName,
                             ExistingTargets* targets = nullptr);

// Reads the whole current remote directory. False (after reporting `failureMessage`) when
// the listing failed; an empty directory is a success.
bool ListRemoteEntries(BatchHost& host, std::vector<RemoteEntry>& entries,
                       const QString& failureMessage, ListPurpose purpose = ListPurpose::Show);
