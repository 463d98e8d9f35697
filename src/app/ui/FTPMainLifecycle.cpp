#include "app/ui/FTPMain.h"
#include "queue/ui/BackgroundTransfers.h"

#include "app/SettingsStore.h"
#include "app/ui/FileListView.h"
#include "common/SortState.h"
#include "datafolder.h"
#include "sites/ui/ConfigForm.h"
#include "winhelp.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSplitter>
#include <QToolBar>
#include <QWindow>

namespace {

// Pane widths come from a file the user may edit; a zero, negative or absurd width would
// hide a pane or force a window wider than any screen.
constexpr int kMinPaneWidth = 20;
constexpr int kMaxPaneWidth = 8000;
// The remote list's least width (a whole short name) and the two splitter handles: narrowing
// the window must not squeeze the remote pane to a sliver.
constexpr int kLeastRemoteWidth = 150 + 2 * 6;

int sanePaneWidth(int width)
{
    return qBound(kMinPaneWidth, width, kMaxPaneWidth);
}

} // namespace

// A folder that is gone (removed, or on an unmounted volume) gives way to the home folder
// without a box: the local header shows where the user is.
QString TfrmMain::startupLocalFolder(const QString& stored)
{
    if (!stored.isEmpty() && QFileInfo(stored).isDir())
        return stored;
    return QDir::homePath();
}

void TfrmMain::FormCreate()
{
    FirstActivation = true;
    m_helpFile = QString::fromStdString(GetProgramFilesFolder()) + QStringLiteral("zulftp.hlp");
    LoadSettings(*this, m_prompter);

    markNotConnected();
    setStatusText(1, QStringLiteral("Not Connected"));
    UpdateCommandState(false);

    // A first start has no stored order; the list starts sorted by name, not in the order
    // the file system happens to return.
    LocalSort = Settings.LastLocalSort != 0 ? Settings.LastLocalSort : 1;
    setLocalSort(LocalSort);
    initLocalPane();
    // Where the user left off, while that folder is still there; else the chosen default.
    const bool lastStillThere =
        !Settings.LastLocalFolder.isEmpty() && QFileInfo(Settings.LastLocalFolder).isDir();
    const QString folder =
        startupLocalFolder(lastStillThere ? Settings.LastLocalFolder : Settings.DefaultLocalPath);
    // Setting the folder it already stands on lists nothing, but the list must be filled.
    if (QDir::cleanPath(currentLocalFolder()) == QDir::cleanPath(folder))
        ListLocalFiles();
    else
        setLocalFolder(folder);

    RemoteSort = Settings.LastRemoteSort;
    setRemoteSort(RemoteSort);

    m_folderPanelWidth = sanePaneWidth(Settings.LocalFoldersWidth);
    m_localPaneWidth = sanePaneWidth(Settings.LocalFilesWidth);
    applyPaneWidths();

    ToolbarCaptions = {QStringLiteral("&Configure"),  QStringLiteral("C&onnect"),
                       QStringLiteral("D&isconnect"), QStringLiteral("Up One &Level"),
                       QStringLiteral("&New Folder"), QStringLiteral("&Refresh"),
                       QStringLiteral("D&elete"),     QStringLiteral("&Download"),
                       QStringLiteral("&Upload"),     QStringLiteral("O&pen")};
    if (mnuLargeBtns->isChecked()) {
        mnuLargeBtns->setChecked(false);
        mnuLargeBtnsClick();
    } else {
        mnuSmallBtns->setChecked(false);
        mnuSmallBtnsClick();
    }

    mnuQuickConnectBar->setChecked(Settings.QuickConnectBar);
    QuickConnectBar->setVisible(Settings.QuickConnectBar);
    fillQuickHosts();

    setColumnWidths(LocalFiles, Settings.LastLocalColWidths);
    setColumnWidths(RemoteFiles, Settings.LastRemoteColWidths);
    applyPlacement();
}

void TfrmMain::applyPlacement()
{
    const StartupPlacement placement = ReadStartupPlacement(m_prompter);
    if (placement.position)
        move(*placement.position);
    if (placement.size)
        resize(*placement.size);
    FormResize();
    if (placement.state == WindowShowState::Maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
    else if (placement.state == WindowShowState::Minimized)
        setWindowState(windowState() | Qt::WindowMinimized);
}

void TfrmMain::FormShow()
{
    showConnectionName(isConnected());
    fillSitePicker();
    updateFirstSiteHint();
    applyPaneWidths();
    RemoteFilesExit();
    LocalFiles->setFocus(Qt::OtherFocusReason);
    repaint();
}

void TfrmMain::FormActivate()
{
    // Connecting shows the progress dialog and perhaps a box; the focus coming back from
    // them must not start this handler again halfway, or start a second connect.
    if (m_activating)
        return;
    m_activating = true;
    LoadSettings(*this, m_prompter);
    const bool first = FirstActivation;
    FirstActivation = false;
    if (Settings.AutoConnect && !Settings.LastSite.trimmed().isEmpty() && first)
        btnConnectClick();
    m_activating = false;
}

void TfrmMain::btnConfigClick()
{
    const QString siteBefore = Settings.LastSite;
    if (frmConfig)
        frmConfig->ShowModal();
    LoadSettings(*this, m_prompter);
    // Another site chosen while connected: the title and status bar would name it while the
    // remote pane still shows the server connected to. Unless the user leaves that server
    // now, the site connected to stays the current one.
    const QString chosen = Settings.LastSite;
    if (isConnected() && chosen != siteBefore && !askDisconnectFor(chosen)) {
        WriteLastSite(siteBefore, m_prompter);
        LoadSettings(*this, m_prompter);
    }
    showConnectionName(isConnected());
    fillSitePicker();
    updateFirstSiteHint();
}

void TfrmMain::FormClose()
{
    ToolbarCaptions.clear();
    // The queue's own connections end first; what they did not finish is kept for next time.
    if (m_background)
        m_background->stop();
    if (internetHandleOpen())
        btnDisconnectClick();
    SaveSettings(*this, m_prompter);
    // The help window is a window of its own; left open it would keep the program running.
    const QByteArray helpFile = m_helpFile.toUtf8();
    WinHelpA(this, helpFile.constData(), HELP_QUIT, 0);
    hide();
    Q_EMIT formClosed();
}

void TfrmMain::updateMinimumWidth()
{
    setMinimumWidth(m_folderPanelWidth + m_localPaneWidth + kLeastRemoteWidth);
}

void TfrmMain::FormResize()
{
    updateMinimumWidth();
    const int least = m_folderPanelWidth + m_localPaneWidth + kLeastRemoteWidth;
    if (width() < least)
        resize(least, height());
    FolderPanelResize();
}

void TfrmMain::applyPaneWidths()
{
    const int handles = 2 * MainSplitter->handleWidth();
    const int rest = qMax(kMinPaneWidth,
                          MainSplitter->width() - m_folderPanelWidth - m_localPaneWidth - handles);
    MainSplitter->setSizes({m_folderPanelWidth, m_localPaneWidth, rest});
    updateMinimumWidth();
}
