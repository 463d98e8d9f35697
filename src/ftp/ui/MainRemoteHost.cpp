#include "ftp/ui/MainRemoteHost.h"

#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "app/ui/PaneHeader.h"
#include "common/FileListModel.h"
#include "sites/ui/ConfigForm.h"
#include "transfer/ui/CommandLockout.h"
#include "transfer/ui/MsgForm.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QPointer>

namespace {

// Lets the user's clicks, keys and close-box presses reach one window only (the progress
// dialog, or none): while a listing's helper thread owns the connection, a command from the
// main window or the editor would talk to the server from a second thread.
class InputOnlyFor final : public QObject
{
public:
    explicit InputOnlyFor(QWidget* window) : m_window(window) { qApp->installEventFilter(this); }
    ~InputOnlyFor() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const bool closeBox = event->type() == QEvent::Close && event->spontaneous();
        if (!IsCommandInput(event) && !closeBox && event->type() != QEvent::Wheel &&
            event->type() != QEvent::ShortcutOverride)
            return false;
        if (qobject_cast<QAction*>(watched))
            return true; // menu and toolbar shortcuts
        const auto* widget = qobject_cast<QWidget*>(watched);
        // Events reach the native window first and its widgets after; the widgets decide.
        return widget != nullptr && (!m_window || widget->window() != m_window);
    }

private:
    QPointer<QWidget> m_window;
};

} // namespace

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

QString MainRemoteHost::activity() const
{
    if (!m_main.frmMsg || !m_main.frmMsg->isVisible())
        return {};
    return m_main.frmMsg->message();
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

SshOptions MainRemoteHost::sshOptions() const
{
    return m_main.sshOptions();
}

PasswordKeyring* MainRemoteHost::keyring()
{
    return m_main.keyring();
}

void MainRemoteHost::showConfigure()
{
    if (m_main.frmConfig)
        m_main.frmConfig->ShowModal();
    m_main.updateFirstSiteHint();
}

FileListModel& MainRemoteHost::remoteFiles()
{
    return *m_main.RemoteFilesModel;
}

void MainRemoteHost::setRemoteHeader(const QString& caption)
{
    m_main.RemoteHeader->setText(caption);
}

void MainRemoteHost::processEventsForCancel()
{
    const InputOnlyFor dialogOnly(m_main.frmMsg);
    QApplication::processEvents(QEventLoop::AllEvents);
}

void MainRemoteHost::processEvents(bool userInput)
{
    if (userInput) {
        QApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // Clicks and keys wait anyway; the close box, which is not input to Qt, is refused too.
    const InputOnlyFor noWindow(nullptr);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
