#include "app/CommandState.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "app/ui/PaneHeader.h"
#include "common/FileListModel.h"
#include "common/FileSystemError.h"
#include "common/RemoteFilesCompare.h"
#include "common/SortState.h"
#include "ftp/DeleteQuestion.h"
#include "ftp/FreedMemory.h"
#include "local/DesktopApps.h"
#include "local/LocalDelete.h"
#include "local/LocalListing.h"
#include "local/LocalOps.h"
#include "local/ui/LocalPaneState.h"
#include "local/ui/ShellOpen.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QListWidget>

// The local halves of the main window's commands: drives, folders, the local listing and
// the local file operations.

namespace {

const QString kNoFilesSelected = QStringLiteral("No files were selected.");

// Takes away every busy cursor a command put up: the "normal cursor" of a command's end.
void restoreNormalCursor()
{
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

// The end of a command that a local file-system failure stopped: the cursor comes back and
// the user sees the file system's description of what went wrong.
void reportFileSystemError(Prompter& prompter, const FileSystemError& error)
{
    restoreNormalCursor();
    prompter.message(QStringLiteral("Error"), error.text(), MessageIcon::Error);
}

void warn(Prompter& prompter, const QString& text)
{
    prompter.messageBeep(MB_ICONEXCLAMATION);
    prompter.message(QStringLiteral("Warning"), text, MessageIcon::Warning);
}

// "PATH" could not be deleted: the system's reason.
QString deleteFailedText(const QString& path, int error)
{
    return QStringLiteral("\"%1\" could not be deleted: %2.").arg(path, ioErrorText(error));
}

// One box for every entry a delete could not remove, so none of them goes unmentioned; a
// long list is cut short with a count rather than growing past the screen.
QString deleteFailuresText(const QStringList& failures)
{
    constexpr qsizetype kShownFailures = 10;
    QString text = failures.mid(0, kShownFailures).join(QLatin1Char('\n'));
    if (failures.size() > kShownFailures)
        text +=
            QStringLiteral("\n%1 more could not be deleted.").arg(failures.size() - kShownFailures);
    return text;
}

} // namespace

void TfrmMain::initLocalPane()
{
    if (!m_local) {
        m_local = new LocalPaneState(this);
        m_local->watchDrivePicker(LocalDrives);
        LocalPaneState::indentFolderRows(LocalFolders);
        connect(LocalFolders, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
            setLocalFolder(item->data(LocalPaneState::FolderPathRole).toString());
        });
    }
    // The tree starts on the folder the program was started in.
    m_local->folder = currentLocalDirectory();
    m_local->refreshVolumes(LocalDrives);
    m_local->memory.remember(m_local->volumes, m_local->folder);
    m_local->showVolumeOfFolder(LocalDrives);
    m_local->fillFolders(LocalFolders);
}

void TfrmMain::ListLocalFiles()
{
    if (!m_local)
        initLocalPane();
    // Window messages are processed during a listing, so a command may ask for another one
    // meanwhile; it is run once the current one ends instead of inside it.
    if (m_local->listing) {
        m_local->relistWanted = true;
        return;
    }
    m_local->listing = true;
    do {
        m_local->relistWanted = false;
        LocalHeader->setText(m_local->folder);
        ClearFileList(*LocalFilesModel);
        std::vector<FileListRow> rows =
            listLocalFolder(QStringLiteral("."), [] { QCoreApplication::processEvents(); });
        if (m_local->relistWanted)
            continue;
        SortFileListRows(rows, LocalSort);
        GiveBackFreedMemory(rows.size()); // the sort's scratch, before the view's layout
        LocalFilesModel->setRows(std::move(rows));
    } while (m_local->relistWanted);
    m_local->listing = false;
}

void TfrmMain::LocalFilesDblClick()
{
    const QList<int> selected = LocalFiles->selectedRowNumbers();
    if (selected.isEmpty())
        return;
    const FileListRow& row = LocalFilesModel->row(selected.first());
    if (!row.isFolder()) {
        mnuLocalOpenClick();
        return;
    }
    setLocalFolder(row.name);
}

void TfrmMain::LocalFilesColumnClick(int column)
{
    LocalSort = SortCodeAfterColumnClick(LocalSort, column);
    setLocalSort(LocalSort);
    LocalFilesModel->sortRows(LocalSort);
}

void TfrmMain::LocalFilesEditing(int, bool& allowEdit)
{
    RenameInProgress = true;
    allowEdit = true;
}

void TfrmMain::LocalFilesEdited(int row, QString& text)
{
    RenameInProgress = false;
    if (row < 0 || row >= LocalFilesModel->rowCount())
        return;
    const QString oldName = LocalFilesModel->row(row).name;
    if (text == oldName)
        return; // nothing to rename
    int error = 0;
    switch (renameLocalEntry(oldName, text, &error)) {
    case LocalRenameResult::Renamed:
        LocalFilesModel->setRowName(row, text);
        break;
    case LocalRenameResult::RefusedPath:
        warn(m_prompter, QStringLiteral("A file name cannot contain \"/\". The file was not "
                                        "renamed."));
        text = oldName;
        break;
    case LocalRenameResult::Failed:
        // The row keeps the name the entry really has, and the user hears why, so a failed
        // rename looks neither like one that worked nor like a slip of the editor.
        warn(m_prompter, QStringLiteral("\"%1\" could not be renamed to \"%2\": %3.")
                             .arg(oldName, text, ioErrorText(error)));
        text = oldName;
        break;
    }
}

void TfrmMain::LocalFoldersChange()
{
    ListLocalFiles();
}

void TfrmMain::LocalDrivesChange()
{
    if (!m_local)
        initLocalPane();
    const int index = LocalDrives->currentIndex();
    if (index < 0 || index >= static_cast<int>(m_local->volumes.size()))
        return;
    const LocalVolume volume = m_local->volumes[static_cast<size_t>(index)];
    const QString remembered = m_local->memory.folderFor(volume);
    try {
        try {
            if (!localFolderRequestIgnored(m_local->folder, remembered))
                enterLocalFolder(remembered);
        } catch (const FileSystemError&) {
            // The folder last seen there is gone; the volume itself may still be there.
            if (remembered == volume.mountPoint)
                throw;
            enterLocalFolder(volume.mountPoint);
        }
    } catch (const FileSystemError& error) {
        // The picker goes back to the volume the program still stands on.
        m_local->showVolumeOfFolder(LocalDrives);
        reportFileSystemError(m_prompter, error);
        return;
    }
    setLocalFolder(currentLocalDirectory());
}

void TfrmMain::mnuLocalOpenClick()
{
    const int focused = LocalFiles->focusedRow();
    if (focused < 0) {
        warn(m_prompter, kNoFilesSelected);
        return;
    }
    const QString name = LocalFilesModel->row(focused).name;
    // The desktop's opener reports "no application" only on a terminal; ask first so the
    // user hears of it.
    const QString path = QDir::current().absoluteFilePath(name);
    const QStringList types = MimeTypeChain(path);
    if (!HasApplicationFor(types, XdgFolders::fromEnvironment())) {
        m_prompter.messageBeep(MB_ICONEXCLAMATION);
        m_prompter.message(QStringLiteral("Warning"),
                           QStringLiteral("No application is set to open this kind of file "
                                          "(%1).")
                               .arg(MimeTypeDescription(path)),
                           MessageIcon::Warning, types.first());
    } else if (!ShellOpenFile(name, QString(), QString())) {
        m_prompter.message(QStringLiteral("Error"),
                           QStringLiteral("The desktop could not start an application to open "
                                          "\"%1\".")
                               .arg(name),
                           MessageIcon::Error);
    }
    restoreNormalCursor();
}

void TfrmMain::mnuLocalDeleteClick()
{
    const QList<int> selected = LocalFiles->selectedRowNumbers();
    if (selected.isEmpty()) {
        warn(m_prompter, kNoFilesSelected);
        return;
    }
    // Names first: the rows stay as they are until the list is rebuilt at the end.
    std::vector<FileListRow> rows;
    for (int row : selected)
        rows.push_back(LocalFilesModel->row(row));
    m_prompter.messageBeep(MB_ICONQUESTION);
    const QString question = DeleteQuestionText(QStringLiteral("Local Files"), rows);
    if (!(DeleteTakesFolder(rows)
              ? m_prompter.askYesNoDefaultNo(QStringLiteral("Confirm"), question)
              : m_prompter.askYesNo(QStringLiteral("Confirm"), question)))
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString folder = currentLocalFolder();
    QStringList failures;
    for (const FileListRow& row : rows) {
        const QString path = joinLocalPath(folder, row.name);
        if (!row.isFolder()) {
            if (const int error = deleteLocalFile(row.name))
                failures << deleteFailedText(path, error);
            continue;
        }
        try {
            DeleteLocalFolder(path);
        } catch (const FileSystemError& error) {
            // Whatever was deleted stays deleted; the later rows are left alone.
            failures << deleteFailedText(path, error.code());
            break;
        }
    }
    // The list shows the disk as it is now, what could not be deleted included.
    ListLocalFiles();
    restoreNormalCursor();
    if (!failures.isEmpty())
        m_prompter.message(QStringLiteral("Error"), deleteFailuresText(failures),
                           MessageIcon::Error);
}

void TfrmMain::setLocalFolder(const QString& path)
{
    if (!m_local)
        initLocalPane();
    if (localFolderRequestIgnored(m_local->folder, path))
        return;
    try {
        m_local->folder = enterLocalFolder(path);
    } catch (const FileSystemError& error) {
        // The tree keeps its folder and nothing is listed.
        reportFileSystemError(m_prompter, error);
        return;
    }
    m_local->refreshVolumes(LocalDrives);
    m_local->memory.remember(m_local->volumes, m_local->folder);
    m_local->showVolumeOfFolder(LocalDrives);
    m_local->fillFolders(LocalFolders);
    LocalFoldersChange();
    // A folder entered starts at its top, not where the previous one was scrolled to.
    LocalFiles->scrollToTop();
}

void TfrmMain::localUpOneLevel()
{
    setLocalFolder(kLocalFolderUp);
}

void TfrmMain::localNewFolder(const QString& name)
{
    int error = 0;
    if (!createLocalFolder(currentLocalFolder(), name, &error)) {
        warn(m_prompter, QStringLiteral("The directory \"%1\" could not be created: %2.")
                             .arg(joinLocalPath(currentLocalFolder(), name), ioErrorText(error)));
        return;
    }
    ListLocalFiles();
}

QString TfrmMain::currentLocalFolder() const
{
    return m_local ? m_local->folder : currentLocalDirectory();
}

void TfrmMain::setLocalSort(int code)
{
    // The header shows the sort column and direction; code 0 (or one out of range) none.
    const int column = qAbs(code) - 1;
    QHeaderView* header = LocalFiles->header();
    header->setSortIndicatorShown(column >= 0 && column < FileListModel::ColumnCount);
    if (header->isSortIndicatorShown())
        header->setSortIndicator(column, code > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

int TfrmMain::localSort() const
{
    return LocalSort;
}
