#include "app/ui/FTPMain.h"

// The local halves of the main window's commands: drives, folders, the local listing and
// the local file operations.

void TfrmMain::initLocalPane() {}

void TfrmMain::ListLocalFiles() {}

void TfrmMain::LocalFilesDblClick() {}

void TfrmMain::LocalFilesColumnClick(int) {}

void TfrmMain::LocalFilesEditing(int, bool&) {}

void TfrmMain::LocalFilesEdited(int, QString&) {}

void TfrmMain::LocalFoldersChange() {}

void TfrmMain::LocalDrivesChange() {}

void TfrmMain::mnuLocalOpenClick() {}

void TfrmMain::mnuLocalDeleteClick() {}

void TfrmMain::setLocalFolder(const QString&) {}

void TfrmMain::localUpOneLevel() {}

void TfrmMain::localNewFolder(const QString&) {}

QString TfrmMain::currentLocalFolder() const
{
    return {};
}

void TfrmMain::setLocalSort(int) {}

int TfrmMain::localSort() const
{
    return 0;
}
