#include "transfer/TransferBatch.h"

#include "common/CancelFlag.h"
#include "common/FileSystemError.h"
#include "common/OperationLock.h"
#include "common/ProgressSink.h"
#include "remote/ServerSession.h"
#include "transfer/BatchHost.h"
#include "transfer/FolderTransfer.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TargetExists.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"

#include <QFile>

#include <sys/stat.h>

namespace {
const QString kUploadingTitle = QStringLiteral("Uploading");
const QString kDownloadingTitle = QStringLiteral("Downloading");

QString UploadingText(const QString& path)
{
    return QStringLiteral("Uploading \"%1\"").arg(path);
}

// Runs a batch. The local folder is taken once, so every item of the batch comes from or
// goes to the folder that was current when it started. A local file error ends the batch at
// the item where it happened; the dialog and the cursor must not be left behind for the
// user to clear, so they go before the error box.
template <typename Body> void RunBatch(BatchHost& outerHost, Body body)
{
    OperationLock lock;
    FixedFolderHost host(outerHost, outerHost.localFolder());
    try {
        BusyCursor cursor(host);
        host.progress().SetProgressPosition(0);
        CancelRequested = false;
        body(host);
        host.progress().CloseProgress();
    } catch (const FileSystemError& error) {
        host.progress().CloseProgress();
        host.showFileError(error.text());
    }
}

bool IsLocalFolder(const QString& path)
{
    // An item that vanished after the drop is taken for a file, whose upload then reports
    // it as missing, rather than creating an empty remote folder of its name.
    struct stat info
    {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}
} // namespace

void UploadSelection(BatchHost& commandHost, RowSelection& localRows)
{
    if (OperationRunning())
        return;
    if (localRows.nextSelected(-1) < 0) {
        commandHost.warn(QString::fromLatin1(kNothingSelectedText));
        return;
    }
    RunBatch(commandHost, [&](BatchHost& host) {
        RemoteFolderNames names(&host.session());
        RemoteFolderFiles files(names);
        ExistingTargets targets;
        for (int row = localRows.nextSelected(-1); row >= 0 && BatchGoesOn(host);
             row = localRows.nextSelected(row)) {
            localRows.deselect(row);
            const FileListRow item = localRows.row(row);
            const QString path = JoinLocalPath(host.localFolder(), item.name);
            host.progress().ShowProgress(UploadingText(path), kUploadingTitle, true, true);
            // A failed item was already reported; the batch goes on with the next one, unless
            // the remote directory is no longer the one its items are meant for.
            if (item.isFolder()) {
                if (UploadFolder(host, path, &targets) == FolderOutcome::Stranded)
                    break;
            } else {
                UploadFileAsked(host, path, TransferMode::Binary, files, targets);
            }
            host.progress().SetProgressPosition(0);
        }
        host.listRemoteFiles();
    });
}

void DownloadSelection(BatchHost& commandHost, RowSelection& remoteRows)
{
    if (OperationRunning())
        return;
    if (remoteRows.nextSelected(-1) < 0) {
        commandHost.warn(QString::fromLatin1(kNothingSelectedText));
        return;
    }
    RunBatch(commandHost, [&](BatchHost& host) {
        bool lastSucceeded = true;
        ExistingTargets targets;
        for (int row = remoteRows.nextSelected(-1); row >= 0 && BatchGoesOn(host);
             row = remoteRows.nextSelected(row)) {
            remoteRows.deselect(row);
            const FileListRow item = remoteRows.row(row);
            host.progress().ShowProgress(QStringLiteral("Downloading ") + item.name,
                                         kDownloadingTitle, true, true);
            if (item.isFolder()) {
                const FolderOutcome outcome = DownloadFolder(host, item.serverName(), &targets);
                lastSucceeded = outcome == FolderOutcome::Done;
                if (outcome == FolderOutcome::Stranded) {
                    // The rows no longer name what is in the remote current directory; the
                    // remote list shows where the server is now.
                    host.listRemoteFiles();
                    break;
                }
            } else {
                lastSucceeded = DownloadListedFileAsked(
                    host, LocalDirectory(host.localFolder()),
                    RemoteStamp{item.serverName(), item.size, item.modifiedTime}, item.name,
                    targets);
            }
            host.progress().SetProgressPosition(0);
        }
        // Only the last row's outcome decides; a cancelled transfer counts as a success.
        if (lastSucceeded)
            host.listLocalFiles();
    });
}

void UploadDroppedItems(BatchHost& commandHost, const QStringList& paths)
{
    if (OperationRunning() || paths.isEmpty())
        return;
    RunBatch(commandHost, [&](BatchHost& host) {
        RemoteFolderNames names(&host.session());
        RemoteFolderFiles files(names);
        ExistingTargets targets;
        for (const QString& path : paths) {
            const bool folder = IsLocalFolder(path);
            host.progress().ShowProgress(UploadingText(path), kUploadingTitle, true, true);
            if (folder) {
                if (UploadFolder(host, path, &targets) == FolderOutcome::Stranded)
                    break;
            } else {
                UploadFileAsked(host, path, TransferMode::Binary, files, targets);
            }
            host.progress().SetProgressPosition(0);
            if (!BatchGoesOn(host))
                break;
        }
        host.listRemoteFiles();
    });
}
