#include "ftp/ui/MainRemoteHost.h"

#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "app/ui/PaneHeader.h"
#include "ftp/FileListModel.h"
#include "sites/ui/ConfigForm.h"
#include "transfer/ui/MsgForm.h"

#include <QApplication>
#include <QCursor>

Prompter& MainRemoteHost::prompter()
{
    return m_main.prompter();
}

ProgressSink& MainRemoteHost::progress()
{
    if (m_main.frmMsg)
        return *m_main.frmMsg;
    return m_noProgress;
}

void MainRemoteHost::applyCursor(Cursor cursor)
{
    if (cursor == Cursor::Hourglass) {
        if (QApplication::overrideCursor())
            QApplication::changeOverrideCursor(QCursor(Qt::WaitCursor));
        else
            QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        return;
    }
    // "Back to the default" is absolute: whatever stack of overrides a failed operation
    // left behind is removed, so the arrow never stays an hourglass after an error box.
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

void MainRemoteHost::setCursor(Cursor cursor)
{
    applyCursor(cursor);
}

QString MainRemoteHost::currentSiteName() const
{
    return Settings.LastSite;
}

void MainRemoteHost::setConnectionStatus(const QString& text)
{
    m_main.setStatusText(1, text);
}

void MainRemoteHost::UpdateCommandState(bool connected)
{
    m_main.UpdateCommandState(connected);
}

void MainRemoteHost::showConfigure()
{
    if (m_main.frmConfig)
        m_main.frmConfig->ShowModal();
}

FileListModel& MainRemoteHost::remoteFiles()
{
    return *m_main.RemoteFilesModel;
}

void MainRemoteHost::setRemoteHeader(const QString& caption)
{
    m_main.RemoteHeader->setText(caption);
}

void MainRemoteHost::processEvents(bool userInput)
{
    QApplication::processEvents(userInput ? QEventLoop::AllEvents
                                          : QEventLoop::ExcludeUserInputEvents);
}
