#include "app/ui/FTPMain.h"

#include "app/ui/FileListView.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QIcon>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

QAction* TfrmMain::addMenuItem(QMenu* menu, const QString& name, const QString& caption,
                               void (TfrmMain::*handler)())
{
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    menu->addAction(action);
    if (handler)
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return action;
}

void TfrmMain::buildMenus()
{
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MainMenu1->setAccessibleName(QStringLiteral("Main menu"));
    setMenuBar(MainMenu1);

    mnuFile = MainMenu1->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFile->setAccessibleName(QStringLiteral("File"));
    mnuConfigure = addMenuItem(mnuFile, QStringLiteral("mnuConfigure"),
                               QStringLiteral("&Configure"), &TfrmMain::btnConfigClick);
    mnuFile->addSeparator();
    mnuExit = addMenuItem(mnuFile, QStringLiteral("mnuExit"), QStringLiteral("E&xit"),
                          &TfrmMain::mnuExitClick);

    mnuRemote = MainMenu1->addMenu(QStringLiteral("&Action"));
    mnuRemote->setObjectName(QStringLiteral("mnuRemote"));
    mnuRemote->setAccessibleName(QStringLiteral("Action"));
    mnuConnect = addMenuItem(mnuRemote, QStringLiteral("mnuConnect"), QStringLiteral("&Connect"),
                             &TfrmMain::btnConnectClick);
    mnuDisconnect = addMenuItem(mnuRemote, QStringLiteral("mnuDisconnect"),
                                QStringLiteral("&Disconnect"), &TfrmMain::btnDisconnectClick);
    mnuRemote->addSeparator();
    mnuUpOneLevel = addMenuItem(mnuRemote, QStringLiteral("mnuUpOneLevel"),
                                QStringLiteral("&Up One Level"), &TfrmMain::btnUpOneLevelClick);
    mnuNewFolder = addMenuItem(mnuRemote, QStringLiteral("mnuNewFolder"),
                               QStringLiteral("&New Folder"), &TfrmMain::btnNewFolderClick);
    mnuRefresh = addMenuItem(mnuRemote, QStringLiteral("mnuRefresh"), QStringLiteral("&Refresh"),
                             &TfrmMain::btnRefreshClick);
    mnuRemote->addSeparator();
    mnuDelete = addMenuItem(mnuRemote, QStringLiteral("mnuDelete"), QStringLiteral("D&elete"),
                            &TfrmMain::btnDeleteClick);
    mnuDownload = addMenuItem(mnuRemote, QStringLiteral("mnuDownload"), QStringLiteral("&Download"),
                              &TfrmMain::btnDownloadClick);
    mnuUpload = addMenuItem(mnuRemote, QStringLiteral("mnuUpload"), QStringLiteral("&Upload"),
                            &TfrmMain::btnUploadClick);

    mnuView = MainMenu1->addMenu(QStringLiteral("&View"));
    mnuView->setObjectName(QStringLiteral("mnuView"));
    mnuView->setAccessibleName(QStringLiteral("View"));
    mnuQuickConnectBar =
        addMenuItem(mnuView, QStringLiteral("mnuQuickConnectBar"),
                    QStringLiteral("&Quick Connect Bar"), &TfrmMain::mnuQuickConnectBarClick);
    mnuQuickConnectBar->setCheckable(true);
    mnuQuickConnectBar->setChecked(true);

    mnuHelpMenu = MainMenu1->addMenu(QStringLiteral("&Help"));
    mnuHelpMenu->setObjectName(QStringLiteral("mnuHelpMenu"));
    mnuHelpMenu->setAccessibleName(QStringLiteral("Help"));
    mnuHelp = addMenuItem(mnuHelpMenu, QStringLiteral("mnuHelp"), QStringLiteral("&Help"),
                          &TfrmMain::mnuHelpClick);
    // F1 works wherever the focus is in the main window, menus closed or not.
    mnuHelp->setShortcut(QKeySequence(Qt::Key_F1));
    mnuHelp->setShortcutContext(Qt::WindowShortcut);
    addAction(mnuHelp);
    mnuHelpMenu->addSeparator();
    mnuAbout = addMenuItem(mnuHelpMenu, QStringLiteral("mnuAbout"), QStringLiteral("&About"),
                           &TfrmMain::mnuAboutClick);
    // A menu opened with Alt+letter and left with Escape would leave the focus on the bar,
    // where the next Delete or Enter does nothing; the pane that was active takes it back.
    // Checked once the menu is gone: moving to the next menu with the arrows opens it first.
    for (QMenu* menu : {mnuFile, mnuRemote, mnuView, mnuHelpMenu}) {
        connect(menu, &QMenu::aboutToHide, this, [this] {
            QTimer::singleShot(0, this, [this] {
                // A command the menu started (a box, a dialog) owns the focus by now.
                const QWidget* focus = QApplication::focusWidget();
                if (QApplication::activePopupWidget() || (focus && focus != MainMenu1))
                    return;
                QWidget* pane = LocalFocused    ? static_cast<QWidget*>(LocalFiles)
                                : RemoteFocused ? static_cast<QWidget*>(RemoteFiles)
                                                : nullptr;
                if (!pane)
                    return;
                activateWindow();
                pane->setFocus(Qt::OtherFocusReason);
            });
        });
    }
    buildPopups();
}

void TfrmMain::buildPopups()
{
    PopupLocal = new QMenu(this);
    PopupLocal->setObjectName(QStringLiteral("PopupLocal"));
    PopupLocal->setAccessibleName(QStringLiteral("Local files menu"));
    mnuLocalUpload = addMenuItem(PopupLocal, QStringLiteral("mnuLocalUpload"),
                                 QStringLiteral("&Upload"), &TfrmMain::btnUploadClick);
    PopupLocal->setDefaultAction(mnuLocalUpload);
    mnuLocalOpen = addMenuItem(PopupLocal, QStringLiteral("mnuLocalOpen"), QStringLiteral("&Open"),
                               &TfrmMain::btnOpenClick);
    PopupLocal->addSeparator();
    mnuLocalDelete = addMenuItem(PopupLocal, QStringLiteral("mnuLocalDelete"),
                                 QStringLiteral("&Delete"), &TfrmMain::btnDeleteClick);
    PopupLocal->addSeparator();
    mnuLocalNewFolder = addMenuItem(PopupLocal, QStringLiteral("mnuLocalNewFolder"),
                                    QStringLiteral("&New Folder"), &TfrmMain::btnNewFolderClick);
    mnuLocalRefresh = addMenuItem(PopupLocal, QStringLiteral("mnuLocalRefresh"),
                                  QStringLiteral("&Refresh"), &TfrmMain::btnRefreshClick);

    PopupRemote = new QMenu(this);
    PopupRemote->setObjectName(QStringLiteral("PopupRemote"));
    PopupRemote->setAccessibleName(QStringLiteral("Remote files menu"));
    mnuRemoteDownload = addMenuItem(PopupRemote, QStringLiteral("mnuRemoteDownload"),
                                    QStringLiteral("&Download"), &TfrmMain::btnDownloadClick);
    PopupRemote->setDefaultAction(mnuRemoteDownload);
    mnuRemoteOpen = addMenuItem(PopupRemote, QStringLiteral("mnuRemoteOpen"),
                                QStringLiteral("&Open"), &TfrmMain::btnOpenClick);
    PopupRemote->addSeparator();
    mnuRemoteDelete = addMenuItem(PopupRemote, QStringLiteral("mnuRemoteDelete"),
                                  QStringLiteral("D&elete"), &TfrmMain::btnDeleteClick);
    PopupRemote->addSeparator();
    mnuRemoteNewFolder = addMenuItem(PopupRemote, QStringLiteral("mnuRemoteNewFolder"),
                                     QStringLiteral("&New Folder"), &TfrmMain::btnNewFolderClick);
    mnuRemoteRefresh = addMenuItem(PopupRemote, QStringLiteral("mnuRemoteRefresh"),
                                   QStringLiteral("&Refresh"), &TfrmMain::btnRefreshClick);

    ToolbarMenu = new QMenu(this);
    ToolbarMenu->setObjectName(QStringLiteral("ToolbarMenu"));
    ToolbarMenu->setAccessibleName(QStringLiteral("Toolbar menu"));
    // The handlers toggle the check mark themselves (FormCreate calls them too), so the
    // toggle Qt already made on a click is undone first.
    mnuSmallBtns = addMenuItem(ToolbarMenu, QStringLiteral("mnuSmallBtns"),
                               QStringLiteral("&Small Buttons"), nullptr);
    mnuSmallBtns->setCheckable(true);
    connect(mnuSmallBtns, &QAction::triggered, this, [this](bool checked) {
        mnuSmallBtns->setChecked(!checked);
        mnuSmallBtnsClick();
    });
    mnuLargeBtns = addMenuItem(ToolbarMenu, QStringLiteral("mnuLargeBtns"),
                               QStringLiteral("Show &Captions"), nullptr);
    mnuLargeBtns->setCheckable(true);
    connect(mnuLargeBtns, &QAction::triggered, this, [this](bool checked) {
        mnuLargeBtns->setChecked(!checked);
        mnuLargeBtnsClick();
    });
}

QToolButton* TfrmMain::addCommandButton(const QString& name, const QString& caption,
                                        const QString& iconName, void (TfrmMain::*handler)())
{
    auto* button = new QToolButton(ToolBar);
    button->setObjectName(name);
    button->setAccessibleName(caption);
    button->setToolTip(caption);
    button->setText(caption);
    button->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(iconName)));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    // The captions were made for a small 8-point font; at the desktop's usual size "Up One
    // Level" would not fit its 72 pixels.
    QFont captionFont = button->font();
    captionFont.setPixelSize(10);
    button->setFont(captionFont);
    // Buttons never take the focus, so a click leaves the active pane as it was.
    button->setFocusPolicy(Qt::NoFocus);
    button->setProperty("tag", 1);
    connect(button, &QToolButton::clicked, this, [this, handler] {
        (this->*handler)();
        syncToolbarHover();
    });
    ToolBar->addWidget(button);
    return button;
}

QFrame* TfrmMain::addDivider(const QString& name, int width, bool line)
{
    auto* divider = new QFrame(ToolBar);
    divider->setObjectName(name);
    divider->setAccessibleName(line ? QStringLiteral("Divider") : QStringLiteral("Gap"));
    if (line)
        divider->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    else
        divider->setFrameStyle(QFrame::NoFrame);
    divider->setFixedWidth(width);
    divider->setProperty("tag", 0);
    ToolBar->addWidget(divider);
    return divider;
}

void TfrmMain::buildToolBar()
{
    ToolBar = new QToolBar(this);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setAccessibleName(QStringLiteral("Toolbar"));
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->toggleViewAction()->setVisible(false);
    ToolBar->setContentsMargins(0, 0, 0, 0);
    // The buttons and dividers sit edge to edge, so the ten buttons fit the window's
    // narrowest width without spilling into an overflow menu.
    ToolBar->layout()->setSpacing(0);
    ToolBar->layout()->setContentsMargins(0, 0, 0, 0);
    ToolBar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ToolBar, &QToolBar::customContextMenuRequested, this,
            [this](const QPoint& pos) { ToolbarMenu->popup(ToolBar->mapToGlobal(pos)); });
    addToolBar(Qt::TopToolBarArea, ToolBar);

    btnConfig = addCommandButton(QStringLiteral("btnConfig"), QStringLiteral("Configure"),
                                 QStringLiteral("configure"), &TfrmMain::btnConfigClick);
    ToolButton1 = addDivider(QStringLiteral("ToolButton1"), 12, true);
    btnConnect = addCommandButton(QStringLiteral("btnConnect"), QStringLiteral("Connect"),
                                  QStringLiteral("connect"), &TfrmMain::btnConnectClick);
    btnDisconnect = addCommandButton(QStringLiteral("btnDisconnect"), QStringLiteral("Disconnect"),
                                     QStringLiteral("disconnect"), &TfrmMain::btnDisconnectClick);
    ToolButton2 = addDivider(QStringLiteral("ToolButton2"), 8, true);
    btnUpOneLevel =
        addCommandButton(QStringLiteral("btnUpOneLevel"), QStringLiteral("Up One Level"),
                         QStringLiteral("uponelevel"), &TfrmMain::btnUpOneLevelClick);
    btnNewFolder = addCommandButton(QStringLiteral("btnNewFolder"), QStringLiteral("New Folder"),
                                    QStringLiteral("newfolder"), &TfrmMain::btnNewFolderClick);
    btnRefresh = addCommandButton(QStringLiteral("btnRefresh"), QStringLiteral("Refresh"),
                                  QStringLiteral("refresh"), &TfrmMain::btnRefreshClick);
    ToolButton4 = addDivider(QStringLiteral("ToolButton4"), 8, true);
    btnDelete = addCommandButton(QStringLiteral("btnDelete"), QStringLiteral("Delete"),
                                 QStringLiteral("delete"), &TfrmMain::btnDeleteClick);
    ToolButton3 = addDivider(QStringLiteral("ToolButton3"), 8, false);
    btnDownload = addCommandButton(QStringLiteral("btnDownload"), QStringLiteral("Download"),
                                   QStringLiteral("download"), &TfrmMain::btnDownloadClick);
    btnUpload = addCommandButton(QStringLiteral("btnUpload"), QStringLiteral("Upload"),
                                 QStringLiteral("upload"), &TfrmMain::btnUploadClick);
    btnOpen = addCommandButton(QStringLiteral("btnOpen"), QStringLiteral("Open"),
                               QStringLiteral("open"), &TfrmMain::btnOpenClick);
}

QList<QWidget*> TfrmMain::toolbarControls() const
{
    return {btnConfig,     ToolButton1,  btnConnect, btnDisconnect, ToolButton2,
            btnUpOneLevel, btnNewFolder, btnRefresh, ToolButton4,   btnDelete,
            ToolButton3,   btnDownload,  btnUpload,  btnOpen};
}

QList<QToolButton*> TfrmMain::commandButtons() const
{
    QList<QToolButton*> buttons;
    for (QWidget* control : toolbarControls())
        if (control->property("tag").toInt() == 1)
            buttons.append(static_cast<QToolButton*>(control));
    return buttons;
}

// A button misses the pointer's leaving when a box opened by its click, or a command that
// disabled it under the pointer, took the leave event; it would stay drawn raised.
void TfrmMain::syncToolbarHover()
{
    const QPoint pointer = QCursor::pos();
    for (QToolButton* button : commandButtons()) {
        const bool under =
            button->isVisible() && button->rect().contains(button->mapFromGlobal(pointer));
        if (button->testAttribute(Qt::WA_UnderMouse) != under) {
            button->setAttribute(Qt::WA_UnderMouse, under);
            button->update();
        }
    }
}

void TfrmMain::mnuLargeBtnsClick()
{
    mnuLargeBtns->setChecked(!mnuLargeBtns->isChecked());
    if (!mnuLargeBtns->isChecked())
        return;
    mnuSmallBtns->setChecked(false);
    ToolBar->setFixedHeight(48);
    int next = 0;
    for (QWidget* control : toolbarControls()) {
        control->setFixedHeight(42);
        if (control->property("tag").toInt() != 1)
            continue;
        auto* button = static_cast<QToolButton*>(control);
        button->setFixedWidth(72);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setText(ToolbarCaptions.value(next++));
    }
}

void TfrmMain::mnuSmallBtnsClick()
{
    mnuSmallBtns->setChecked(!mnuSmallBtns->isChecked());
    if (!mnuSmallBtns->isChecked())
        return;
    mnuLargeBtns->setChecked(false);
    ToolBar->setFixedHeight(35);
    for (QWidget* control : toolbarControls()) {
        control->setFixedHeight(28);
        if (control->property("tag").toInt() != 1)
            continue;
        auto* button = static_cast<QToolButton*>(control);
        button->setFixedWidth(28);
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setText(QString());
    }
}
