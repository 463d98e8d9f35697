#include "app/ui/FTPMain.h"

#include "about/ui/AboutForm.h"

#include "app/ui/FileListView.h"
#include "app/ui/HelpWindow.h"
#include "app/ui/PaneHeader.h"
#include "common/FileListModel.h"
#include "lasterror.h"
#include "winhelp.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QToolButton>

void TfrmMain::UpdateCommandState(bool connected)
{
    const CommandState s = commandStateFor(connected, LocalFocused, RemoteFocused);
    btnConnect->setEnabled(s.connect);
    mnuConnect->setEnabled(s.connect);
    btnDisconnect->setEnabled(s.disconnect);
    mnuDisconnect->setEnabled(s.disconnect);
    for (QToolButton* button : {btnUpOneLevel, btnNewFolder, btnRefresh, btnDelete, btnOpen})
        button->setEnabled(s.toolbarPane);
    for (QAction* item : {mnuUpOneLevel, mnuNewFolder, mnuRefresh, mnuDelete})
        item->setEnabled(s.actionMenuPane);
    btnUpload->setEnabled(s.upload);
    mnuUpload->setEnabled(s.upload);
    mnuLocalUpload->setEnabled(s.upload);
    btnDownload->setEnabled(s.download);
    mnuDownload->setEnabled(s.download);
    mnuRemoteDownload->setEnabled(s.download);
    for (QAction* item : {mnuRemoteOpen, mnuRemoteDelete, mnuRemoteNewFolder, mnuRemoteRefresh})
        item->setEnabled(s.remotePopup);
    for (QAction* item : {mnuLocalOpen, mnuLocalDelete, mnuLocalNewFolder, mnuLocalRefresh})
        item->setEnabled(s.localPopup);
    DropFile.EnableDrop = s.acceptShellDrops;
    // Connected means a site exists: the hint has done its work.
    if (connected && FirstSiteHint)
        FirstSiteHint->hide();
}

void TfrmMain::paintHeader(PaneHeader* header, bool active)
{
    const QPalette system = QApplication::palette();
    QPalette palette = header->palette();
    palette.setColor(QPalette::Window,
                     system.color(active ? QPalette::Highlight : QPalette::Button));
    palette.setColor(QPalette::WindowText,
                     system.color(active ? QPalette::HighlightedText : QPalette::ButtonText));
    header->setPalette(palette);
}

namespace {

// Leaving a list deselects its first selected row only; the others stay selected.
void deselectFirstSelectedRow(FileListView* list)
{
    const QList<int> rows = list->selectedRowNumbers();
    if (rows.isEmpty())
        return;
    list->selectionModel()->select(list->model()->index(rows.first(), 0),
                                   QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
}

// The "normal mouse cursor" of a command's end: every busy cursor still shown is taken away.
void restoreNormalCursor()
{
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

// Enter acts on the row with the focus rectangle, as a double-click acts on the row under the
// pointer; the double-click handlers take the first selected row, so that row becomes the
// selection first when it is not selected already.
bool selectFocusedRow(FileListView* list)
{
    const int focused = list->focusedRow();
    if (focused < 0)
        return false;
    if (!list->selectionModel()->isRowSelected(focused))
        list->selectionModel()->select(list->model()->index(focused, 0),
                                       QItemSelectionModel::ClearAndSelect |
                                           QItemSelectionModel::Rows);
    return true;
}

bool isEnterKey(const QKeyEvent* event)
{
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier));
}

// Ctrl+1, Ctrl+2 and Ctrl+3 sort by Name, Size and Modified as a click on that column's
// header does (again reverses); the headers themselves take no keyboard focus. -1 otherwise.
int sortColumnForKey(const QKeyEvent* event)
{
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::ControlModifier)
        return -1;
    switch (event->key()) {
    case Qt::Key_1:
        return FileListModel::NameColumn;
    case Qt::Key_2:
        return FileListModel::SizeColumn;
    case Qt::Key_3:
        return FileListModel::ModifiedColumn;
    default:
        return -1;
    }
}

} // namespace

void TfrmMain::LocalFilesEnter()
{
    paintHeader(LocalHeader, true);
    LocalFocused = true;
    UpdateCommandState(isConnected());
}

void TfrmMain::LocalFilesExit()
{
    paintHeader(LocalHeader, false);
    LocalFocused = false;
    deselectFirstSelectedRow(LocalFiles);
    UpdateCommandState(isConnected());
}

void TfrmMain::RemoteFilesEnter()
{
    paintHeader(RemoteHeader, true);
    RemoteFocused = true;
    UpdateCommandState(isConnected());
}

void TfrmMain::RemoteFilesExit()
{
    paintHeader(RemoteHeader, false);
    RemoteFocused = false;
    deselectFirstSelectedRow(RemoteFiles);
    UpdateCommandState(isConnected());
}

void TfrmMain::LocalFoldersEnter()
{
    QPalette palette = LocalFolders->palette();
    palette.setColor(QPalette::Text, QApplication::palette().color(QPalette::ButtonText));
    LocalFolders->setPalette(palette);
}

void TfrmMain::LocalFoldersExit() {}

void TfrmMain::LocalHeaderClick()
{
    LocalFilesEnter();
    LocalFiles->setFocus(Qt::MouseFocusReason);
}

void TfrmMain::RemoteHeaderClick()
{
    RemoteFilesEnter();
    RemoteFiles->setFocus(Qt::MouseFocusReason);
}

void TfrmMain::btnUpOneLevelClick()
{
    if (LocalFocused)
        localUpOneLevel();
    else if (RemoteFocused)
        remoteUpOneLevel();
}

void TfrmMain::btnNewFolderClick()
{
    const std::optional<QString> name = m_prompter.inputBox(
        QStringLiteral("New Folder Name"), QStringLiteral("Create New Folder"), QString());
    if (!name || name->trimmed().isEmpty())
        return;
    if (LocalFocused)
        localNewFolder(*name);
    else if (RemoteFocused)
        remoteNewFolder(*name);
}

void TfrmMain::btnRefreshClick()
{
    if (LocalFocused)
        ListLocalFiles();
    else if (RemoteFocused)
        ListRemoteFiles();
}

void TfrmMain::btnDeleteClick()
{
    if (LocalFocused) {
        mnuLocalDeleteClick();
        restoreNormalCursor();
    } else if (RemoteFocused) {
        remoteDelete();
    } else {
        restoreNormalCursor();
    }
}

void TfrmMain::btnOpenClick()
{
    if (LocalFocused) {
        mnuLocalOpenClick();
        return;
    }
    if (RemoteFiles->focusedRow() < 0) {
        m_prompter.messageBeep(MB_ICONEXCLAMATION);
        m_prompter.message(QStringLiteral("Warning"), QStringLiteral("No files were selected."),
                           MessageIcon::Warning);
        return;
    }
    remoteOpen();
}

bool TfrmMain::LocalFilesKeyDown(QKeyEvent* event)
{
    if (RenameInProgress)
        return false;
    if (isEnterKey(event)) {
        if (selectFocusedRow(LocalFiles))
            LocalFilesDblClick();
        return true;
    }
    if (const int column = sortColumnForKey(event); column >= 0) {
        LocalFilesColumnClick(column);
        return true;
    }
    if (event->key() == Qt::Key_Backspace) {
        localUpOneLevel();
        return true;
    }
    if (event->key() == Qt::Key_Delete) {
        btnDeleteClick();
        return true;
    }
    return false;
}

bool TfrmMain::RemoteFilesKeyDown(QKeyEvent* event)
{
    if (RenameInProgress)
        return false;
    if (isEnterKey(event)) {
        if (isConnected() && selectFocusedRow(RemoteFiles))
            RemoteFilesDblClick();
        return true;
    }
    if (const int column = sortColumnForKey(event); column >= 0) {
        RemoteFilesColumnClick(column);
        return true;
    }
    if (event->key() == Qt::Key_Backspace) {
        // Without a connection there is no remote directory to leave.
        if (isConnected())
            btnUpOneLevelClick();
        return true;
    }
    if (event->key() == Qt::Key_Delete) {
        btnDeleteClick();
        return true;
    }
    return false;
}

bool TfrmMain::LocalFoldersKeyDown(QKeyEvent* event)
{
    if (RenameInProgress || event->key() != Qt::Key_Backspace)
        return false;
    localUpOneLevel();
    return true;
}

void TfrmMain::mnuHelpClick()
{
    const QByteArray file = m_helpFile.toUtf8();
    if (WinHelpA(this, file.constData(), HELP_CONTEXT, kHelpContentsContext))
        return;
    const DWORD error = GetLastError();
    QString text;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        text = QStringLiteral("The help file \"%1\" was not found.").arg(m_helpFile);
    else if (error == ERROR_INVALID_DATA)
        text = QStringLiteral("The help file \"%1\" has no contents page.").arg(m_helpFile);
    else
        text = QStringLiteral("The help file \"%1\" could not be opened.  (%2)")
                   .arg(m_helpFile)
                   .arg(error);
    m_prompter.messageBeep(MB_ICONEXCLAMATION);
    m_prompter.message(QStringLiteral("ZUL-FTP"), text, MessageIcon::Warning);
}

void TfrmMain::mnuAboutClick()
{
    if (frmAbout)
        frmAbout->exec();
}

void TfrmMain::mnuExitClick()
{
    close();
}
