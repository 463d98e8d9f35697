#include "app/CommandState.h"
#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "common/FileListModel.h"
#include "common/OperationLock.h"
#include "common/RemoteFilesCompare.h"
#include "common/SortState.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteCommands.h"
#include "ftp/RemoteDelete.h"
#include "ftp/RemoteListing.h"
#include "ftp/RemoteSession.h"
#include "ftp/ui/MainRemoteHost.h"
#include "sites/ProfileStore.h"
#include "transfer/ui/CommandLockout.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include <algorithm>

// The remote halves of the main window's commands: connect, disconnect, the error report,
// the remote listing, the remote column clicks, and the remote branches of Delete and Open.
// The work is done in core against MainRemoteHost, this window's view of itself.

void TfrmMain::btnConnectClick()
{
    m_connectionName = Settings.LastSite;
    MainRemoteHost host(*this);
    ConnectCommand(host);
}

bool TfrmMain::connectToProfile(const SiteProfile& site)
{
    MainRemoteHost host(*this);
    return QuickConnectCommand(host, site);
}

void TfrmMain::btnDisconnectClick()
{
    MainRemoteHost host(*this);
    DisconnectCommand(host);
}

bool TfrmMain::ConnectToSite()
{
    MainRemoteHost host(*this);
    return ::ConnectToSite(host);
}

bool TfrmMain::DisconnectFromSite()
{
    MainRemoteHost host(*this);
    return ::DisconnectFromSite(host);
}

void TfrmMain::ReportFtpError(const QString& message)
{
    MainRemoteHost host(*this);
    ::ReportFtpError(host, message);
}

void TfrmMain::ListRemoteFiles()
{
    MainRemoteHost host(*this);
    ::ListRemoteFiles(host);
}

void TfrmMain::RemoteFilesColumnClick(int column)
{
    RemoteSort = SortCodeAfterColumnClick(RemoteSort, column);
    setRemoteSort(RemoteSort);
    RemoteFilesModel->sortRows(RemoteSort);
}

void TfrmMain::RemoteFilesDblClick()
{
    const QModelIndexList selected = RemoteFiles->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    int first = selected.first().row();
    for (const QModelIndex& index : selected)
        first = std::min(first, index.row());
    const FileListRow& row = RemoteFilesModel->row(first);
    if (row.isFolder()) {
        MainRemoteHost host(*this);
        RemoteEnterFolder(host, row.serverName());
        return;
    }
    m_prompter.messageBeep(MB_ICONQUESTION);
    if (m_prompter.askYesNo(QString::fromLatin1(kAppTitle),
                            QStringLiteral("Do you want to open the selected file?")))
        btnOpenClick();
}

void TfrmMain::RemoteFilesEditing(int, bool& allowEdit)
{
    RenameInProgress = true;
    allowEdit = true;
}

void TfrmMain::RemoteFilesEdited(int row, QString& text)
{
    RenameInProgress = false;
    if (row < 0 || row >= RemoteFilesModel->rowCount())
        return;
    MainRemoteHost host(*this);
    // After a refused rename the entry still has its old name; showing the new one would
    // present the failure as done and make the row name a file the server may not have.
    // The list is not rebuilt or re-sorted.
    if (RemoteRename(host, RemoteFilesModel->row(row).serverName(), text))
        RemoteFilesModel->setRowName(row, text);
}

void TfrmMain::remoteUpOneLevel()
{
    MainRemoteHost host(*this);
    RemoteUpOneLevel(host);
}

void TfrmMain::remoteNewFolder(const QString& name)
{
    MainRemoteHost host(*this);
    RemoteNewFolder(host, name);
}

void TfrmMain::remoteDelete()
{
    if (OperationRunning())
        return;
    CommandLockout lockout(this);
    MainRemoteHost host(*this);
    std::vector<FileListRow> rows;
    for (const int row : RemoteFiles->selectedRowNumbers())
        rows.push_back(RemoteFilesModel->row(row));
    RemoteDeleteSelection(host, rows);
}

void TfrmMain::remoteOpen()
{
    // btnOpenClick has made sure there is a focused row. A folder is entered as a
    // double-click on it would; it is the focused row that Open was asked for, also when
    // another row is the first selected one.
    const FileListRow row = RemoteFilesModel->row(RemoteFiles->focusedRow());
    if (!row.isFolder()) {
        remoteOpenFile(row);
        return;
    }
    MainRemoteHost host(*this);
    RemoteEnterFolder(host, row.serverName());
}

bool TfrmMain::isConnected() const
{
    return FtpConnection.Connected;
}

bool TfrmMain::internetHandleOpen() const
{
    return FtpConnection.isOpen();
}

void TfrmMain::markNotConnected()
{
    FtpConnection.Connected = false;
}

void TfrmMain::setRemoteSort(int code)
{
    // The header shows the sort column and its direction; codes 0 and above 3 show none.
    const int column = code == 1 || code == -1 ? 0 : (code == 2 || code == -2 ? 1 : 2);
    const bool shown = code >= -3 && code <= 3 && code != 0;
    QHeaderView* header = RemoteFiles->header();
    header->setSortIndicatorShown(shown);
    if (shown)
        header->setSortIndicator(column, code > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

int TfrmMain::remoteSort() const
{
    return RemoteSort;
}
