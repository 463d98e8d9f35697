#include "app/ui/FTPMain.h"

#include "app/ui/FileListView.h"
#include "transfer/OperationLock.h"
#include "transfer/TransferBatch.h"
#include "transfer/ui/CommandLockout.h"
#include "transfer/ui/MainTransferHost.h"

// The transfer commands of the main window: upload, download, dragging rows between the
// lists and files dropped from the desktop.

void TfrmMain::btnUploadClick()
{
    if (OperationRunning())
        return;
    CommandLockout lockout(this);
    MainTransferHost host(*this);
    ListViewSelection rows(*LocalFiles);
    UploadSelection(host, rows);
}

void TfrmMain::btnDownloadClick()
{
    if (OperationRunning())
        return;
    CommandLockout lockout(this);
    MainTransferHost host(*this);
    ListViewSelection rows(*RemoteFiles);
    DownloadSelection(host, rows);
}

void TfrmMain::LocalFilesDragOver(QObject*, const QPoint&, bool& accept)
{
    accept = true;
}

void TfrmMain::LocalFoldersDragOver(QObject*, const QPoint&, bool& accept)
{
    accept = false;
}

void TfrmMain::RemoteFilesDragOver(QObject* source, const QPoint&, bool& accept)
{
    // Rows from the local list can only go somewhere while connected; the no-drop cursor
    // says so before the user lets go.
    accept = source != LocalFiles || isConnected();
}

void TfrmMain::LocalFilesDragDrop(QObject* source, const QPoint&)
{
    if (source == RemoteFiles && isConnected())
        btnDownloadClick();
}

void TfrmMain::RemoteFilesDragDrop(QObject* source, const QPoint&)
{
    if (source == LocalFiles && isConnected())
        btnUploadClick();
}

void TfrmMain::DropFileDrop()
{
    // The desktop may deliver a drop at any moment; without a connection there is nowhere
    // to put the items.
    if (!isConnected() || OperationRunning())
        return;
    CommandLockout lockout(this);
    MainTransferHost host(*this);
    UploadDroppedItems(host, DropFile.NameWithPath);
}
