#include "app/ui/FTPMain.h"

// The transfer commands of the main window: upload, download, dragging rows between the
// lists and files dropped from the desktop.

void TfrmMain::btnUploadClick() {}

void TfrmMain::btnDownloadClick() {}

void TfrmMain::LocalFilesDragOver(QObject*, const QPoint&, bool&) {}

void TfrmMain::LocalFoldersDragOver(QObject*, const QPoint&, bool&) {}

void TfrmMain::RemoteFilesDragOver(QObject*, const QPoint&, bool&) {}

void TfrmMain::LocalFilesDragDrop(QObject*, const QPoint&) {}

void TfrmMain::RemoteFilesDragDrop(QObject*, const QPoint&) {}

void TfrmMain::DropFileDrop() {}
