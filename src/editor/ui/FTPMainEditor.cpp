#include "app/ui/FTPMain.h"

#include "common/OperationLock.h"
#include "editor/RemoteEdit.h"
#include "editor/ui/EditForm.h"
#include "transfer/ui/CommandLockout.h"
#include "transfer/ui/MainTransferHost.h"

// The remote file branch of the Open command: a temporary copy in the current local folder,
// the download, the editor, and the copy removed again once the editor has closed.

void TfrmMain::remoteOpenFile(const FileListRow& row)
{
    if (!frmEdit || OperationRunning())
        return;
    std::optional<QString> copy;
    RemoteVersion opened;
    {
        OperationLock operation;
        CommandLockout lockout(this);
        MainTransferHost host(*this);
        BusyCursor cursor(host);
        copy = FetchForEditing(host, row, &opened);
    }
    if (!copy)
        return;
    frmEdit->TempFilePath = *copy;
    frmEdit->RemoteFileName = row.serverName();
    frmEdit->RemoteFileVersion = opened;
    frmEdit->SavedRemote = false;
    frmEdit->exec();
    if (frmEdit->SavedRemote && isConnected())
        ListRemoteFiles();
    if (!RemoveTemporaryCopy(*copy)) {
        m_prompter.messageBeep(MB_ICONEXCLAMATION);
        m_prompter.message(
            QString::fromLatin1("ZUL-FTP"),
            QStringLiteral("The temporary copy \"%1\" could not be removed.").arg(*copy),
            MessageIcon::Warning);
    }
}
