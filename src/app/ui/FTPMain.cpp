#include "app/ui/FTPMain.h"
#include "queue/ui/BackgroundTransfers.h"

#include "app/ui/FileListView.h"
#include "app/ui/HelpWindow.h"
#include "app/ui/PaneHeader.h"
#include "common/FileListModel.h"
#include "winhelp.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QListWidget>
#include <QLocale>
#include <QMimeData>
#include <QTime>
#include <QWindow>
#include <utility>

namespace {

// The viewer behind WinHelpA: the main window's own help window.
BOOL showHelp(void* userData, HWND, LPCSTR helpFile, UINT command, DWORD context)
{
    auto* main = static_cast<TfrmMain*>(userData);
    HelpWindow* window = main->helpWindow();
    if (command == HELP_QUIT) {
        if (window)
            window->close();
        return TRUE;
    }
    if (!window)
        window = main->createHelpWindow();
    window->showContext(QString::fromUtf8(helpFile), context);
    return TRUE;
}

} // namespace

// Outside any namespace: the resource initialiser it declares lives in the global one.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

TfrmMain::TfrmMain(Prompter& prompter, QWidget* parent) : QMainWindow(parent), m_prompter(prompter)
{
    initIconResources();
    setObjectName(QStringLiteral("frmMain"));
    setAccessibleName(QStringLiteral("ZUL-FTP"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/zulftp.svg")));
    // Right-clicks belong to the toolbar and the two lists, not to a dock menu.
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(true);
    // Used when no placement is stored: wide enough for both lists to show a name, a size
    // and a whole date side by side.
    move(214, 173);
    resize(kFirstWindowSize);
    buildLayout();
    SetWinHelpViewer(&showHelp, this);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &TfrmMain::onFocusWindowChanged);
    FormCreate();
    m_created = true;
}

TfrmMain::~TfrmMain()
{
    // The queue stops while the window is still whole: stopping reads the window (its
    // prompter, the pane's height), which the children's deletion below would outlive.
    delete std::exchange(m_background, nullptr);
    SetWinHelpViewer(nullptr, nullptr);
    // The children outlive this part of the object; focus moving while they are deleted
    // must not reach the handlers any more.
    disconnect(qApp, nullptr, this, nullptr);
    for (FileListView* list : {LocalFiles, RemoteFiles}) {
        list->disconnect(this);
        list->onKeyDown = nullptr;
        list->onEditing = nullptr;
        list->onEdited = nullptr;
        list->onEditCancelled = nullptr;
        list->onDragOver = nullptr;
        list->onDragDrop = nullptr;
    }
    LocalFolders->removeEventFilter(this);
    LocalFolders->viewport()->removeEventFilter(this);
    FolderPanel->removeEventFilter(this);
}

HelpWindow* TfrmMain::helpWindow() const
{
    return m_helpWindow;
}

HelpWindow* TfrmMain::createHelpWindow()
{
    if (!m_helpWindow)
        m_helpWindow = new HelpWindow(this);
    return m_helpWindow;
}

void TfrmMain::setStatusText(int panel, const QString& text)
{
    (panel == 0 ? StatusPanel0 : StatusPanel1)->setText(text);
}

QString TfrmMain::statusText(int panel) const
{
    return (panel == 0 ? StatusPanel0 : StatusPanel1)->text();
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    FormShow();
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (!m_closed && m_background && !m_background->mayClose()) {
        event->ignore();
        return;
    }
    event->accept();
    if (m_closed)
        return;
    m_closed = true;
    FormClose();
}

void TfrmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (m_created)
        FormResize();
}

void TfrmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // A new desktop theme brings new highlight and button colours for the two headers.
    if (event->type() == QEvent::ApplicationPaletteChange && LocalHeader && RemoteHeader) {
        paintHeader(LocalHeader, LocalFocused);
        paintHeader(RemoteHeader, RemoteFocused);
    }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FolderPanel && event->type() == QEvent::Resize) {
        FolderPanelResize();
    } else if (watched == LocalFolders) {
        if (event->type() == QEvent::FocusIn)
            LocalFoldersEnter();
        else if (event->type() == QEvent::FocusOut)
            LocalFoldersExit();
        else if (event->type() == QEvent::KeyPress)
            return LocalFoldersKeyDown(static_cast<QKeyEvent*>(event));
    } else if (LocalFolders && watched == LocalFolders->viewport()) {
        const QEvent::Type type = event->type();
        if (type == QEvent::DragEnter || type == QEvent::DragMove) {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            bool accept = false;
            // Files from the desktop go on to the main window's own drop handling.
            if (drag->source())
                LocalFoldersDragOver(drag->source(), drag->position().toPoint(), accept);
            if (accept)
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
        if (type == QEvent::Drop) {
            event->ignore();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

namespace {

// The local paths of a drop from the desktop, in the order it gave them; empty when the drop
// holds anything else (web links, our own rows).
QStringList droppedLocalPaths(const QDropEvent* event)
{
    QStringList paths;
    if (event->source() || !event->mimeData()->hasUrls())
        return paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile())
            return {};
        QString path = url.toLocalFile();
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        paths.append(path);
    }
    return paths;
}

} // namespace

void TfrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (DropFile.EnableDrop && !droppedLocalPaths(event).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfrmMain::dragMoveEvent(QDragMoveEvent* event)
{
    if (DropFile.EnableDrop && !droppedLocalPaths(event).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TfrmMain::dropEvent(QDropEvent* event)
{
    const QStringList paths = droppedLocalPaths(event);
    if (!DropFile.EnableDrop || paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    DropFile.NameWithPath = paths;
    DropFile.FileCount = static_cast<int>(paths.size());
    DropFileDrop();
}

void TfrmMain::onFocusWindowChanged(QWindow* window)
{
    using Target = MainActivation::FocusTarget;
    Target target = Target::Nothing;
    if (window && window == windowHandle())
        target = Target::MainWindow;
    else if (window && window->type() != Qt::Popup && window->type() != Qt::ToolTip)
        target = Target::OtherOwnWindow;
    if (target == Target::MainWindow)
        syncToolbarHover();
    if (m_activation.focusMovedTo(target) && !m_closed)
        FormActivate();
}

// ---- What the settings store reads and sets ----

void TfrmMain::setMainTitle(const QString& title)
{
    // While connected the title names the connection, which need not be the current site
    // (a quick connect's server).
    if (isConnected())
        showConnectionName(true);
    else
        setWindowTitle(title);
}

bool TfrmMain::largeButtonsChecked() const
{
    return mnuLargeBtns->isChecked();
}

void TfrmMain::setLargeButtonsChecked(bool checked)
{
    mnuLargeBtns->setChecked(checked);
}

bool TfrmMain::smallButtonsChecked() const
{
    return mnuSmallBtns->isChecked();
}

void TfrmMain::setSmallButtonsChecked(bool checked)
{
    mnuSmallBtns->setChecked(checked);
}

WindowPlacement TfrmMain::windowPlacement() const
{
    WindowPlacement placement;
    // The position is the frame's, the size the window's own (without the frame): the pair
    // that move() and resize() restore exactly, whatever decoration the desktop draws.
    placement.left = x();
    placement.top = y();
    placement.width = width();
    placement.height = height();
    if (windowState() & Qt::WindowMinimized)
        placement.state = WindowShowState::Minimized;
    else if (windowState() & Qt::WindowMaximized)
        placement.state = WindowShowState::Maximized;
    return placement;
}

ColumnWidths TfrmMain::columnWidths(const FileListView* list)
{
    return {list->header()->sectionSize(0), list->header()->sectionSize(1),
            list->header()->sectionSize(2)};
}

ColumnWidths TfrmMain::remoteColumnWidths() const
{
    return columnWidths(RemoteFiles);
}

ColumnWidths TfrmMain::localColumnWidths() const
{
    return columnWidths(LocalFiles);
}

void TfrmMain::setColumnWidths(FileListView* list, const ColumnWidths& widths)
{
    // No stored width (0) means as wide as the column's longest kind of text needs.
    const QFontMetrics metrics = list->fontMetrics();
    const QString longestDate = QLocale().toString(QDate(2026, 12, 28), QLocale::ShortFormat) +
                                QLatin1Char(' ') +
                                QLocale().toString(QTime(23, 59), QLocale::ShortFormat);
    const std::array<int, 3> fitted = {
        metrics.horizontalAdvance(QStringLiteral("Meeting agenda 2026.txt")) + 32,
        metrics.horizontalAdvance(QLocale().toString(qint64(999999999))) + 16,
        metrics.horizontalAdvance(longestDate) + 16};
    for (int column = 0; column < 3; ++column) {
        const int stored = widths[static_cast<size_t>(column)];
        list->header()->resizeSection(column,
                                      stored > 0 ? stored : fitted[static_cast<size_t>(column)]);
    }
}
