#include "transfer/TransferBatch.h"

#include "local/FileSystemError.h"
#include "transfer/BatchHost.h"
#include "transfer/CancelFlag.h"
#include "transfer/FolderTransfer.h"
#include "transfer/OperationLock.h"
#include "transfer/ProgressSink.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"

#include "wininet.h"

#include <QFile>

#include <sys/stat.h>

namespace {
const QString kUploadingTitle = QStringLiteral("Uploading");
const QString kDownloadingTitle = QStringLiteral("Downloading");

QString UploadingText(const QString& path)
{
    return QStringLiteral("Uploading \"%1\"").arg(path);
}

// Runs a batch. A local file error ends it at the item where it happened; the dialog and the
// cursor must not be left behind for the user to clear, so they go before the error box.
template <typename Body> void RunBatch(BatchHost& host, Body body)
{
    OperationLock lock;
    try {
        BusyCursor cursor(host);
        host.progress().SetProgressPosition(0);
        CancelRequested = false;
        body();
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

void UploadSelection(BatchHost& host, RowSelection& localRows)
{
    if (OperationRunning())
        return;
    if (localRows.nextSelected(-1) < 0) {
        host.warn(QString::fromLatin1(kNothingSelectedText));
        return;
    }
    RunBatch(host, [&] {
        for (int row = localRows.nextSelected(-1); row >= 0 && !CancelRequested;
             row = localRows.nextSelected(row)) {
            localRows.deselect(row);
            const FileListRow item = localRows.row(row);
            const QString path = JoinLocalPath(host.localFolder(), item.name);
            host.progress().ShowProgress(UploadingText(path), kUploadingTitle, true, true);
            // A failed item was already reported; the batch goes on with the next one.
            if (item.isFolder())
                UploadFolder(host, path);
            else
                UploadFile(host, path, FTP_TRANSFER_TYPE_BINARY);
            host.progress().SetProgressPosition(0);
        }
        host.listRemoteFiles();
    });
}

void DownloadSelection(BatchHost& host, RowSelection& remoteRows)
{
    if (OperationRunning())
        return;
    if (remoteRows.nextSelected(-1) < 0) {
        host.warn(QString::fromLatin1(kNothingSelectedText));
        return;
    }
    RunBatch(host, [&] {
        bool lastSucceeded = true;
        for (int row = remoteRows.nextSelected(-1); row >= 0 && !CancelRequested;
             row = remoteRows.nextSelected(row)) {
            remoteRows.deselect(row);
            const FileListRow item = remoteRows.row(row);
            host.progress().ShowProgress(QStringLiteral("Downloading ") + item.name,
                                         kDownloadingTitle, true, true);
            lastSucceeded = item.isFolder() ? DownloadFolder(host, item.name)
                                            : DownloadFile(host, item.name, item.name, item.size,
                                                           FTP_TRANSFER_TYPE_BINARY);
            host.progress().SetProgressPosition(0);
        }
        // Only the last row's outcome decides; a cancelled transfer counts as a success.
        if (lastSucceeded)
            host.listLocalFiles();
    });
}

void UploadDroppedItems(BatchHost& host, const QStringList& paths)
{
    if (OperationRunning() || paths.isEmpty())
        return;
    RunBatch(host, [&] {
        for (const QString& path : paths) {
            const bool folder = IsLocalFolder(path);
            host.progress().ShowProgress(UploadingText(path), kUploadingTitle, true, true);
            if (folder)
                UploadFolder(host, path);
            else
                UploadFile(host, path, FTP_TRANSFER_TYPE_BINARY);
            host.progress().SetProgressPosition(0);
            if (CancelRequested)
                break;
        }
        host.listRemoteFiles();
    });
}
