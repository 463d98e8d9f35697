#include "app/ui/FTPMain.h"

#include "app/ui/FileListView.h"
#include "common/CancelFlag.h"
#include "common/OperationLock.h"
#include "queue/ui/BackgroundTransfers.h"
#include "transfer/TransferBatch.h"
#include "transfer/TransferNames.h"
#include "transfer/ui/CommandLockout.h"
#include "transfer/ui/MainTransferHost.h"

#include <QStatusBar>

// The transfer commands of the main window: upload, download, dragging rows between the
// lists and files dropped from the desktop.

namespace {

// How long the note after a Cancel stays in the status bar.
constexpr int kCancelNoteMs = 20000;

} // namespace

void TfrmMain::noteCancelledTransfer(bool download)
{
    if (!CancelRequested)
        return;
    // A cancelled transfer is not lost work: the user is told where it stays and how to go on.
    const QString note =
        download ? QStringLiteral("Download cancelled. What arrived stays in %1 as "
                                  "<name>%2.*; download the file again and choose Resume to "
                                  "continue it.")
                       .arg(currentLocalFolder(), QString::fromLatin1(kPartialSuffix))
                 : QStringLiteral("Upload cancelled. A file of 1 MiB or more keeps the part "
                                  "sent on the server; upload it again to continue it.");
    StatusBar->showMessage(note, kCancelNoteMs);
}

void TfrmMain::btnUploadClick()
{
    if (OperationRunning())
        return;
    if (m_background && m_background->takes()) {
        ListViewSelection rows(*LocalFiles);
        m_background->upload(rows);
        return;
    }
    CommandLockout lockout(this);
    MainTransferHost host(*this);
    ListViewSelection rows(*LocalFiles);
    UploadSelection(host, rows);
    noteCancelledTransfer(false);
}

void TfrmMain::btnDownloadClick()
{
    if (OperationRunning())
        return;
    if (m_background && m_background->takes()) {
        ListViewSelection rows(*RemoteFiles);
        m_background->download(rows);
        return;
    }
    CommandLockout lockout(this);
    MainTransferHost host(*this);
    ListViewSelection rows(*RemoteFiles);
    DownloadSelection(host, rows);
    noteCancelledTransfer(true);
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
    if (m_background && m_background->takes()) {
        m_background->uploadPaths(DropFile.NameWithPath);
        return;
    }
    CommandLockout lockout(this);
    MainTransferHost host(*this);
    UploadDroppedItems(host, DropFile.NameWithPath);
}
