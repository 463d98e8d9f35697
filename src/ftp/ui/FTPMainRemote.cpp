#include "app/ui/FTPMain.h"

// The remote halves of the main window's commands: connect, disconnect, the error report,
// the remote listing and the remote file operations.

void TfrmMain::btnConnectClick() {}

void TfrmMain::btnDisconnectClick() {}

bool TfrmMain::ConnectToSite()
{
    return false;
}

bool TfrmMain::DisconnectFromSite()
{
    return false;
}

void TfrmMain::ReportFtpError(const QString&) {}

void TfrmMain::ListRemoteFiles() {}

void TfrmMain::RemoteFilesColumnClick(int) {}

void TfrmMain::RemoteFilesDblClick() {}

void TfrmMain::RemoteFilesEditing(int, bool&) {}

void TfrmMain::RemoteFilesEdited(int, QString&) {}

void TfrmMain::remoteUpOneLevel() {}

void TfrmMain::remoteNewFolder(const QString&) {}

void TfrmMain::remoteDelete() {}

void TfrmMain::remoteOpen() {}

bool TfrmMain::isConnected() const
{
    return false;
}

bool TfrmMain::internetHandleOpen() const
{
    return false;
}

void TfrmMain::markNotConnected() {}

void TfrmMain::setRemoteSort(int) {}

int TfrmMain::remoteSort() const
{
    return 1;
}
