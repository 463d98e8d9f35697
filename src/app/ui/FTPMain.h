#pragma once
#include "app/CommandState.h"
#include "app/SettingsHost.h"
#include "common/Prompter.h"
#include "remote/SiteSession.h"

#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <QStringList>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QSplitter;
class QStatusBar;
class QToolBar;
class QToolButton;
class QWidget;
class QWindow;
class QDropEvent;
class QKeyEvent;

struct FileListRow;
class FileListModel;
class FileListView;
class PaneHeader;
class HelpWindow;
class TfrmConfig;
class TfrmAbout;
class TfrmMsg;
class TfrmEdit;
class PasswordKeyring;
class BackgroundTransfers;
struct SiteProfile;

// What the shell-drop component offers the main window: whether drops are taken, and the
// full paths of the items of the last drop, in the order the desktop gave them.
struct TFileDrag
{
    bool EnableDrop = false;
    int FileCount = 0;
    QStringList NameWithPath;
};

// The main window: the toolbar, the folder panel, the local and the remote pane, the menus
// and the status bar. One handler serves every place that offers a command; the local,
// remote and transfer halves of the handlers live in their own subsystem folders.
class TfrmMain : public QMainWindow, public SettingsHost
{
    Q_OBJECT
public:
    explicit TfrmMain(Prompter& prompter, QWidget* parent = nullptr);
    static constexpr QSize kFirstWindowSize{960, 620};
    ~TfrmMain() override;

    // The windows created after this one, handed over by the program entry in creation order.
    void setConfigForm(TfrmConfig* form) { frmConfig = form; }
    void setAboutForm(TfrmAbout* form) { frmAbout = form; }
    void setMsgForm(TfrmMsg* form) { frmMsg = form; }
    void setEditForm(TfrmEdit* form) { frmEdit = form; }
    Prompter& prompter() const { return m_prompter; }
    // The desktop keyring that may hold site passwords; none in windows made without one.
    void setKeyring(PasswordKeyring* keyring) { m_keyring = keyring; }
    PasswordKeyring* keyring() const { return m_keyring; }
    // What ssh is started with beyond an SFTP site: none but the user's own configuration,
    // unless a test gives its own.
    void setSshOptions(const SshOptions& options) { m_sshOptions = options; }
    const SshOptions& sshOptions() const { return m_sshOptions; }
    // Transfers in the background, queued on connections of their own; none in windows made
    // without them (every transfer then runs in the window, with its progress dialog).
    void setBackgroundTransfers(BackgroundTransfers* background) { m_background = background; }
    BackgroundTransfers* backgroundTransfers() const { return m_background; }

    // ---- What the settings store reads and sets of this window ----
    void setMainTitle(const QString& title) override;
    bool largeButtonsChecked() const override;
    void setLargeButtonsChecked(bool checked) override;
    bool smallButtonsChecked() const override;
    void setSmallButtonsChecked(bool checked) override;
    WindowPlacement windowPlacement() const override;
    ColumnWidths remoteColumnWidths() const override;
    ColumnWidths localColumnWidths() const override;
    int folderPanelWidth() const override { return m_folderPanelWidth; }
    int localPaneWidth() const override { return m_localPaneWidth; }
    QString localFolder() const override { return currentLocalFolder(); }

    // ---- Controls (objectName = the design name) ----
    QMenuBar* MainMenu1 = nullptr;
    QMenu* mnuFile = nullptr;
    QAction* mnuConfigure = nullptr;
    QAction* mnuExit = nullptr;
    QMenu* mnuRemote = nullptr;
    QAction* mnuConnect = nullptr;
    QAction* mnuDisconnect = nullptr;
    QAction* mnuUpOneLevel = nullptr;
    QAction* mnuNewFolder = nullptr;
    QAction* mnuRefresh = nullptr;
    QAction* mnuDelete = nullptr;
    QAction* mnuDownload = nullptr;
    QAction* mnuUpload = nullptr;
    QMenu* mnuView = nullptr;
    QAction* mnuQuickConnectBar = nullptr;
    QMenu* mnuHelpMenu = nullptr;
    QAction* mnuHelp = nullptr;
    QAction* mnuAbout = nullptr;

    QMenu* PopupLocal = nullptr;
    QAction* mnuLocalUpload = nullptr;
    QAction* mnuLocalOpen = nullptr;
    QAction* mnuLocalDelete = nullptr;
    QAction* mnuLocalNewFolder = nullptr;
    QAction* mnuLocalRefresh = nullptr;

    QMenu* PopupRemote = nullptr;
    QAction* mnuRemoteDownload = nullptr;
    QAction* mnuRemoteOpen = nullptr;
    QAction* mnuRemoteDelete = nullptr;
    QAction* mnuRemoteNewFolder = nullptr;
    QAction* mnuRemoteRefresh = nullptr;

    QMenu* ToolbarMenu = nullptr;
    QAction* mnuSmallBtns = nullptr;
    QAction* mnuLargeBtns = nullptr;

    QToolBar* ToolBar = nullptr;
    QToolButton* btnConfig = nullptr;
    QFrame* ToolButton1 = nullptr;
    QToolButton* btnConnect = nullptr;
    QToolButton* btnDisconnect = nullptr;
    QFrame* ToolButton2 = nullptr;
    QToolButton* btnUpOneLevel = nullptr;
    QToolButton* btnNewFolder = nullptr;
    QToolButton* btnRefresh = nullptr;
    QFrame* ToolButton4 = nullptr;
    QToolButton* btnDelete = nullptr;
    QFrame* ToolButton3 = nullptr;
    QToolButton* btnDownload = nullptr;
    QToolButton* btnUpload = nullptr;
    QToolButton* btnOpen = nullptr;

    // The site picker: the saved sites, the current one selected (the choice Configure makes).
    QToolBar* SiteBar = nullptr;
    QComboBox* cboSites = nullptr;
    // The quick connect bar: a server reached without saving a site.
    QToolBar* QuickConnectBar = nullptr;
    QComboBox* cboQuickHost = nullptr; // editable; the recent quick connects as items
    QLineEdit* txtQuickUser = nullptr;
    QLineEdit* txtQuickPassword = nullptr;
    QLineEdit* txtQuickPort = nullptr;
    QPushButton* btnQuickConnect = nullptr;

    QSplitter* MainSplitter = nullptr; // its handles are Splitter1 and Splitter2
    QFrame* FolderPanel = nullptr;
    QComboBox* LocalDrives = nullptr;
    QListWidget* LocalFolders = nullptr;
    QWidget* LocalPane = nullptr;
    PaneHeader* LocalHeader = nullptr;
    FileListView* LocalFiles = nullptr;
    FileListModel* LocalFilesModel = nullptr;
    QWidget* RemotePane = nullptr;
    PaneHeader* RemoteHeader = nullptr;
    FileListView* RemoteFiles = nullptr;
    FileListModel* RemoteFilesModel = nullptr;

    // Shown in the remote pane in place of the list while no site exists.
    QWidget* FirstSiteHint = nullptr;
    QPushButton* btnAddSite = nullptr;

    QStatusBar* StatusBar = nullptr;
    QLabel* StatusPanel0 = nullptr; // the current site
    QLabel* StatusPanel1 = nullptr; // the connection status

    TFileDrag DropFile;

    // The other windows; none of them is owned here.
    TfrmConfig* frmConfig = nullptr;
    TfrmAbout* frmAbout = nullptr;
    TfrmMsg* frmMsg = nullptr;
    TfrmEdit* frmEdit = nullptr;

    // ---- Lifecycle (FTPMainLifecycle.cpp) ----
    void FormCreate();
    void FormShow();
    void FormActivate();
    void FormClose();
    void FormResize();
    void FolderPanelResize();
    void btnConfigClick();
    // Shows the first-site hint in the remote pane while no site exists and none is connected.
    void updateFirstSiteHint();
    // The ten texts of the captions mode, in toolbar order.
    const QStringList& toolbarCaptions() const { return ToolbarCaptions; }
    bool firstActivation() const { return FirstActivation; }
    // Sets the text of a status bar panel (0: site, 1: connection status).
    void setStatusText(int panel, const QString& text);
    QString statusText(int panel) const;

    // The folder shown at start-up for the stored DefaultLocalPath: that folder while it
    // exists, the home folder otherwise.
    static QString startupLocalFolder(const QString& stored);

    // ---- Site picker and quick connect (FTPMainQuickConnect.cpp) ----
    // Fills cboSites with the saved sites and selects the current one.
    void fillSitePicker();
    void cboSitesActivated(int index);
    // Makes `name` the current site, as Configure's choice does. While connected, the user is
    // first asked to disconnect; No leaves everything as it was. Returns whether it is current.
    bool selectSite(const QString& name);
    void btnQuickConnectClick();
    void mnuQuickConnectBarClick();
    // The title and status bar name what the remote pane shows: the live connection while
    // `connected`, else the current site.
    void showConnectionName(bool connected);
    // What the title and status bar call the live connection.
    QString connectionName() const { return m_connectionName; }

    // ---- Command availability and routing (FTPMainRouting.cpp) ----
    void UpdateCommandState(bool connected);
    void LocalFilesEnter();
    void LocalFilesExit();
    void RemoteFilesEnter();
    void RemoteFilesExit();
    void LocalFoldersEnter();
    void LocalFoldersExit();
    void LocalHeaderClick();
    void RemoteHeaderClick();
    void btnUpOneLevelClick();
    void btnNewFolderClick();
    void btnRefreshClick();
    void btnDeleteClick();
    void btnOpenClick();
    // Key handlers: true when the key was used (Backspace / Delete with no rename running).
    bool LocalFilesKeyDown(QKeyEvent* event);
    bool RemoteFilesKeyDown(QKeyEvent* event);
    bool LocalFoldersKeyDown(QKeyEvent* event);
    void mnuLargeBtnsClick();
    void mnuSmallBtnsClick();
    void mnuHelpClick();
    void mnuAboutClick();
    void mnuExitClick();
    HelpWindow* helpWindow() const;
    HelpWindow* createHelpWindow();
    QString helpFile() const { return m_helpFile; }
    // Paints a pane header in the active (highlight) or inactive (button face) colours.
    static void paintHeader(PaneHeader* header, bool active);

    // ---- Remote side (ftp/ui/FTPMainRemote.cpp) ----
    void btnConnectClick();
    void btnDisconnectClick();
    bool ConnectToSite();
    // Connects to a site that is not saved (the quick connect's), as Connect does a saved one.
    bool connectToProfile(const SiteProfile& site);
    bool DisconnectFromSite();
    void ReportFtpError(const QString& message);
    void ListRemoteFiles();
    void RemoteFilesColumnClick(int column);
    void RemoteFilesDblClick();
    void RemoteFilesEditing(int row, bool& allowEdit);
    void RemoteFilesEdited(int row, QString& text);
    void remoteUpOneLevel();
    void remoteNewFolder(const QString& name);
    void remoteDelete();
    // Open on the focused remote row: a folder is entered, a file goes to remoteOpenFile.
    void remoteOpen();
    // Opens a remote file row in the editor window (the remote file branch of Open).
    void remoteOpenFile(const FileListRow& row);
    bool isConnected() const;
    bool internetHandleOpen() const;
    // Marks the program not connected without touching any handle (start-up).
    void markNotConnected();
    // FormCreate has just set RemoteSort from the stored code; the remote side may show it.
    void setRemoteSort(int code);
    int remoteSort() const;

    // ---- Local side (local/ui/FTPMainLocal.cpp) ----
    // Fills LocalDrives; runs once in FormCreate before the first folder is set.
    void initLocalPane();
    void ListLocalFiles();
    void LocalFilesDblClick();
    void LocalFilesColumnClick(int column);
    void LocalFilesEditing(int row, bool& allowEdit);
    void LocalFilesEdited(int row, QString& text);
    void LocalFoldersChange();
    void LocalDrivesChange();
    void mnuLocalOpenClick();
    void mnuLocalDeleteClick();
    // Sets the folder of LocalFolders: absolute, relative, or the "one level up" form.
    void setLocalFolder(const QString& path);
    void localUpOneLevel();
    void localNewFolder(const QString& name);
    QString currentLocalFolder() const;
    // FormCreate has just set LocalSort from the stored code; the local side may show it.
    void setLocalSort(int code);
    int localSort() const;

    // ---- Transfers (transfer/ui/FTPMainTransfer.cpp) ----
    void btnUploadClick();
    void btnDownloadClick();
    void LocalFilesDragOver(QObject* source, const QPoint& pos, bool& accept);
    void LocalFoldersDragOver(QObject* source, const QPoint& pos, bool& accept);
    void RemoteFilesDragOver(QObject* source, const QPoint& pos, bool& accept);
    void LocalFilesDragDrop(QObject* source, const QPoint& pos);
    void RemoteFilesDragDrop(QObject* source, const QPoint& pos);
    void DropFileDrop();
    // After a Cancel: a note in the status bar on what was kept and how to go on.
    void noteCancelledTransfer(bool download);

Q_SIGNALS:
    // FormClose has run: the program ends.
    void formClosed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // FTPMainLayout.cpp
    void buildLayout();
    void buildPanes();
    void buildFolderPanel();
    QWidget* buildPane(const QString& paneName, const QString& headerName,
                       const QString& headerCaption, const QString& listName,
                       const QString& listLabel, FileListView*& list, FileListModel*& model,
                       PaneHeader*& header);
    void buildStatusBar();
    void buildFirstSiteHint();
    void buildConnectBars();
    void fillQuickHosts();
    void cboQuickHostActivated(int index);
    // Asks whether to leave the live connection for `next`; true when it is closed now.
    bool askDisconnectFor(const QString& next);
    void wireLists();
    // FTPMainMenus.cpp
    void buildMenus();
    void buildPopups();
    void buildToolBar();
    QToolButton* addCommandButton(const QString& name, const QString& caption,
                                  const QString& iconName, void (TfrmMain::*handler)());
    QFrame* addDivider(const QString& name, int width, bool line);
    QAction* addMenuItem(QMenu* menu, const QString& name, const QString& caption,
                         void (TfrmMain::*handler)());
    QList<QWidget*> toolbarControls() const;
    QList<QToolButton*> commandButtons() const;
    void syncToolbarHover();
    // FTPMainLifecycle.cpp
    void applyPlacement();
    void onFocusWindowChanged(QWindow* window);
    void updateMinimumWidth();
    void applyPaneWidths();
    void setColumnWidths(FileListView* list, const ColumnWidths& widths);
    static ColumnWidths columnWidths(const FileListView* list);

    Prompter& m_prompter;
    PasswordKeyring* m_keyring = nullptr;
    SshOptions m_sshOptions;
    BackgroundTransfers* m_background = nullptr;
    bool FirstActivation = false;
    bool m_created = false;
    bool m_shown = false;
    bool m_closed = false;
    QStringList ToolbarCaptions;
    QString m_helpFile;
    bool m_activating = false;
    QPointer<HelpWindow> m_helpWindow;
    MainActivation m_activation;
    int m_folderPanelWidth = 160;
    int m_localPaneWidth = 300;

    // ---- Private members of ftp/ui/FTPMainRemote.cpp ----
    // The site or quick-connect server of the connection last started; read only while
    // connected.
    QString m_connectionName;

    // ---- Private members of local/ui/FTPMainLocal.cpp ----
    // Volumes, the folder remembered per volume, the current folder and the listing guard;
    // a child object, created by initLocalPane.
    class LocalPaneState* m_local = nullptr;

    // ---- Private members of transfer/ui/FTPMainTransfer.cpp ----
};
