#include "app/ui/FTPMain.h"

#include "app/ui/FileListView.h"
#include "app/ui/PaneHeader.h"
#include "common/FileListModel.h"
#include "sites/ProfileStore.h"

#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

namespace {

constexpr int kSplitterWidth = 6;
constexpr int kStatusBarHeight = 22;
constexpr int kSitePanelWidth = 250;
constexpr int kDriveBoxHeight = 22;
// Narrower than this a pane shows no whole name; the splitter stops there.
constexpr int kMinListWidth = 150;

} // namespace

void TfrmMain::buildLayout()
{
    buildMenus();
    buildToolBar();
    buildPanes();
    buildStatusBar();
    wireLists();
    // Focus order follows the layout from left to right.
    setTabOrder(LocalDrives, LocalFolders);
    setTabOrder(LocalFolders, LocalFiles);
    setTabOrder(LocalFiles, RemoteFiles);
}

void TfrmMain::buildFolderPanel()
{
    FolderPanel = new QFrame(MainSplitter);
    FolderPanel->setObjectName(QStringLiteral("FolderPanel"));
    FolderPanel->setAccessibleName(QStringLiteral("Local folders"));
    FolderPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    FolderPanel->setMinimumWidth(20);
    // The two controls are placed by FolderPanelResize and FormResize, as the window did.
    LocalDrives = new QComboBox(FolderPanel);
    LocalDrives->setObjectName(QStringLiteral("LocalDrives"));
    LocalDrives->setAccessibleName(QStringLiteral("Local Drives"));
    LocalDrives->setFixedHeight(kDriveBoxHeight);
    LocalFolders = new QListWidget(FolderPanel);
    LocalFolders->setObjectName(QStringLiteral("LocalFolders"));
    LocalFolders->setAccessibleName(QStringLiteral("Local Folders"));
    LocalFolders->setUniformItemSizes(true);
    LocalFolders->setAcceptDrops(true);
    LocalFolders->setDragDropMode(QAbstractItemView::DropOnly);
    LocalFolders->installEventFilter(this);
    LocalFolders->viewport()->installEventFilter(this);
    FolderPanel->installEventFilter(this);
}

QWidget* TfrmMain::buildPane(const QString& paneName, const QString& headerName,
                             const QString& headerCaption, const QString& listName,
                             const QString& listLabel, FileListView*& list, FileListModel*& model,
                             PaneHeader*& header)
{
    auto* pane = new QWidget(MainSplitter);
    pane->setObjectName(paneName);
    pane->setAccessibleName(listLabel + QStringLiteral(" pane"));
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    header = new PaneHeader(headerCaption, pane);
    header->setObjectName(headerName);
    // The header shows state (the folder), so its text is what an assistive tool reads; the
    // description says what the text is.
    header->setAccessibleDescription(listLabel + QStringLiteral(" folder"));
    list = new FileListView(pane);
    list->setObjectName(listName);
    list->setAccessibleName(listLabel);
    model = new FileListModel(list);
    model->setObjectName(listName + QStringLiteral("Model"));
    list->setModel(model);
    // FormCreate replaces these by the stored widths. The Name column takes whatever width
    // the pane has beyond the other two, so a wider window shows longer names, not space.
    list->header()->resizeSection(FileListModel::NameColumn, 200);
    list->header()->resizeSection(FileListModel::SizeColumn, 90);
    list->header()->resizeSection(FileListModel::ModifiedColumn, 150);
    list->header()->setSectionResizeMode(FileListModel::NameColumn, QHeaderView::Stretch);
    list->header()->setMinimumSectionSize(40);
    list->setMinimumWidth(kMinListWidth);
    layout->addWidget(header);
    layout->addWidget(list, 1);
    return pane;
}

void TfrmMain::buildPanes()
{
    MainSplitter = new QSplitter(Qt::Horizontal, this);
    MainSplitter->setObjectName(QStringLiteral("MainSplitter"));
    MainSplitter->setHandleWidth(kSplitterWidth);
    MainSplitter->setChildrenCollapsible(false);
    buildFolderPanel();
    LocalPane = buildPane(QStringLiteral("LocalPane"), QStringLiteral("LocalHeader"),
                          QStringLiteral("Local Files"), QStringLiteral("LocalFiles"),
                          QStringLiteral("Local Files"), LocalFiles, LocalFilesModel, LocalHeader);
    RemotePane =
        buildPane(QStringLiteral("RemotePane"), QStringLiteral("RemoteHeader"),
                  QStringLiteral("Remote Files"), QStringLiteral("RemoteFiles"),
                  QStringLiteral("Remote Files"), RemoteFiles, RemoteFilesModel, RemoteHeader);
    buildFirstSiteHint();
    MainSplitter->addWidget(FolderPanel);
    MainSplitter->addWidget(LocalPane);
    MainSplitter->addWidget(RemotePane);
    // Only the remote pane follows the window's width; the other two keep theirs.
    MainSplitter->setStretchFactor(0, 0);
    MainSplitter->setStretchFactor(1, 0);
    MainSplitter->setStretchFactor(2, 1);
    MainSplitter->handle(1)->setObjectName(QStringLiteral("Splitter1"));
    MainSplitter->handle(1)->setAccessibleName(QStringLiteral("Folder panel divider"));
    MainSplitter->handle(2)->setObjectName(QStringLiteral("Splitter2"));
    MainSplitter->handle(2)->setAccessibleName(QStringLiteral("Local pane divider"));
    connect(MainSplitter, &QSplitter::splitterMoved, this, [this] {
        const QList<int> sizes = MainSplitter->sizes();
        m_folderPanelWidth = sizes.value(0);
        m_localPaneWidth = sizes.value(1);
        updateMinimumWidth();
    });
    setCentralWidget(MainSplitter);
}

void TfrmMain::buildFirstSiteHint()
{
    // Without a site the remote pane would stay empty and Connect would only complain that
    // the configuration is blank; the pane says what to do instead.
    FirstSiteHint = new QWidget(RemotePane);
    FirstSiteHint->setObjectName(QStringLiteral("FirstSiteHint"));
    auto* layout = new QVBoxLayout(FirstSiteHint);
    auto* text = new QLabel(QStringLiteral("No FTP site is set up yet. Add one with its host, "
                                           "user and password, then Connect."),
                            FirstSiteHint);
    text->setObjectName(QStringLiteral("lblFirstSite"));
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    btnAddSite = new QPushButton(QStringLiteral("Add a &Site..."), FirstSiteHint);
    btnAddSite->setObjectName(QStringLiteral("btnAddSite"));
    connect(btnAddSite, &QPushButton::clicked, this, &TfrmMain::btnConfigClick);
    layout->addWidget(text);
    layout->addWidget(btnAddSite, 0, Qt::AlignHCenter);
    static_cast<QVBoxLayout*>(RemotePane->layout())->insertWidget(1, FirstSiteHint);
    FirstSiteHint->hide();
}

void TfrmMain::updateFirstSiteHint()
{
    const bool noSite = !isConnected() && ProfileStore(ProfileFilePath()).siteNames().isEmpty();
    FirstSiteHint->setVisible(noSite);
}

void TfrmMain::buildStatusBar()
{
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setAccessibleName(QStringLiteral("Status"));
    StatusBar->setToolTip(QStringLiteral("Currently selected FTP site and status"));
    StatusBar->setFixedHeight(kStatusBarHeight);
    StatusBar->setSizeGripEnabled(true);
    StatusPanel0 = new QLabel(StatusBar);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    // Both panels show state: their texts are their accessible names.
    StatusPanel0->setAccessibleDescription(QStringLiteral("Current site"));
    StatusPanel0->setFixedWidth(kSitePanelWidth);
    StatusPanel0->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusPanel1 = new QLabel(StatusBar);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusPanel1->setAccessibleDescription(QStringLiteral("Connection status"));
    StatusPanel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusBar->addWidget(StatusPanel0);
    StatusBar->addWidget(StatusPanel1, 1);
    setStatusBar(StatusBar);
}

void TfrmMain::wireLists()
{
    connect(LocalFiles, &FileListView::focusEntered, this, &TfrmMain::LocalFilesEnter);
    connect(LocalFiles, &FileListView::focusLeft, this, &TfrmMain::LocalFilesExit);
    connect(RemoteFiles, &FileListView::focusEntered, this, &TfrmMain::RemoteFilesEnter);
    connect(RemoteFiles, &FileListView::focusLeft, this, &TfrmMain::RemoteFilesExit);
    connect(LocalHeader, &PaneHeader::clicked, this, &TfrmMain::LocalHeaderClick);
    connect(RemoteHeader, &PaneHeader::clicked, this, &TfrmMain::RemoteHeaderClick);
    connect(LocalFiles, &FileListView::contextMenuWanted, this,
            [this](const QPoint& pos) { PopupLocal->popup(pos); });
    connect(RemoteFiles, &FileListView::contextMenuWanted, this,
            [this](const QPoint& pos) { PopupRemote->popup(pos); });
    connect(LocalFiles, &QAbstractItemView::doubleClicked, this, &TfrmMain::LocalFilesDblClick);
    connect(RemoteFiles, &QAbstractItemView::doubleClicked, this, &TfrmMain::RemoteFilesDblClick);
    connect(LocalFiles->header(), &QHeaderView::sectionClicked, this,
            &TfrmMain::LocalFilesColumnClick);
    connect(RemoteFiles->header(), &QHeaderView::sectionClicked, this,
            &TfrmMain::RemoteFilesColumnClick);
    connect(LocalDrives, &QComboBox::activated, this, &TfrmMain::LocalDrivesChange);

    LocalFiles->onKeyDown = [this](QKeyEvent* e) { return LocalFilesKeyDown(e); };
    RemoteFiles->onKeyDown = [this](QKeyEvent* e) { return RemoteFilesKeyDown(e); };
    LocalFiles->onEditing = [this](int row, bool& allow) { LocalFilesEditing(row, allow); };
    RemoteFiles->onEditing = [this](int row, bool& allow) { RemoteFilesEditing(row, allow); };
    LocalFiles->onEdited = [this](int row, QString& text) { LocalFilesEdited(row, text); };
    RemoteFiles->onEdited = [this](int row, QString& text) { RemoteFilesEdited(row, text); };
    LocalFiles->onEditCancelled = [](int) { RenameInProgress = false; };
    RemoteFiles->onEditCancelled = [](int) { RenameInProgress = false; };
    LocalFiles->onDragOver = [this](QObject* source, const QPoint& pos, bool& accept) {
        LocalFilesDragOver(source, pos, accept);
    };
    RemoteFiles->onDragOver = [this](QObject* source, const QPoint& pos, bool& accept) {
        RemoteFilesDragOver(source, pos, accept);
    };
    LocalFiles->onDragDrop = [this](QObject* source, const QPoint& pos) {
        LocalFilesDragDrop(source, pos);
    };
    RemoteFiles->onDragDrop = [this](QObject* source, const QPoint& pos) {
        RemoteFilesDragDrop(source, pos);
    };
}

void TfrmMain::FolderPanelResize()
{
    const QRect inside = FolderPanel->contentsRect();
    LocalDrives->setGeometry(inside.left() + 1, inside.top() + 2, inside.width() - 2,
                             kDriveBoxHeight);
    // The folder list sits on the panel's bottom edge and leaves room for the drive box.
    const int folderHeight = qMax(0, FolderPanel->height() - LocalDrives->height() - 8);
    LocalFolders->setGeometry(inside.left(), inside.bottom() + 1 - folderHeight, inside.width(),
                              folderHeight);
}
