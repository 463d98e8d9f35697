#include "FrameTestEnv.h"
#include "ScriptedPrompter.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "app/ui/PaneHeader.h"
#include "common/FileListModel.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

// The main window's layout: first-run defaults, stored layout, the two toolbar modes, the
// minimum width and what a screen reader finds.
class TestMainLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void firstRunDefaults();
    void toolbarModes_data();
    void toolbarModes();
    void choosingCheckedModeUnchecksBoth();
    void storedToolbarMode_data();
    void storedToolbarMode();
    void toolbarModeSurvivesRestart();
    void windowCannotBeNarrowerThanPanes_data();
    void windowCannotBeNarrowerThanPanes();
    void placementNeedsBothValues_data();
    void placementNeedsBothValues();
    void maximisedStateRestored();
    void storedLayoutApplied();
    void insanePaneWidthsClamped();
    void startupFolder_data();
    void startupFolder();
    void firstStartThenWhereTheUserLeftOff();
    void everyControlNamedForScreenReaders();
    void stateLabelsReadTheirTexts();

private:
    QTemporaryDir m_home;
};

namespace {

const QStringList kButtonNames = {"btnConfig",    "btnConnect", "btnDisconnect", "btnUpOneLevel",
                                  "btnNewFolder", "btnRefresh", "btnDelete",     "btnDownload",
                                  "btnUpload",    "btnOpen"};
const QStringList kDesignCaptions = {"Configure",  "Connect", "Disconnect", "Up One Level",
                                     "New Folder", "Refresh", "Delete",     "Download",
                                     "Upload",     "Open"};
const QStringList kCaptions = {"&Configure",  "C&onnect", "D&isconnect", "Up One &Level",
                               "&New Folder", "&Refresh", "D&elete",     "&Download",
                               "&Upload",     "O&pen"};

QToolButton* button(TfrmMain& w, const QString& name)
{
    return w.findChild<QToolButton*>(name);
}

} // namespace

void TestMainLayout::initTestCase()
{
    QVERIFY(m_home.isValid());
    FrameTestEnv::useDataFolder(m_home);
}

void TestMainLayout::init()
{
    FrameTestEnv::reset();
}

void TestMainLayout::cleanup()
{
    const QWidgetList left = QApplication::topLevelWidgets();
    for (QWidget* widget : left)
        QVERIFY2(!widget->isVisible(), qPrintable(widget->objectName()));
}

void TestMainLayout::firstRunDefaults()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QCOMPARE(w.pos(), QPoint(214, 173));
    QCOMPARE(w.size(), TfrmMain::kFirstWindowSize);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(!w.isMaximized());
    QCOMPARE(w.FolderPanel->width(), 160);
    QCOMPARE(w.LocalPane->width(), 380);
    QCOMPARE(w.LocalFiles->width(), 380);
    // Size and Modified fit their texts whole; Name takes the rest, enough for a usual name.
    for (FileListView* list : {w.LocalFiles, w.RemoteFiles}) {
        const QFontMetrics metrics = list->fontMetrics();
        QVERIFY(list->header()->sectionSize(1) > metrics.horizontalAdvance("999,999,999"));
        QVERIFY(list->header()->sectionSize(2) >
                metrics.horizontalAdvance(w.LocalFilesModel->rowCount() > 0
                                              ? w.LocalFilesModel->row(0).modifiedText
                                              : QStringLiteral("28/12/2026 23:59")));
        QVERIFY(list->header()->sectionSize(0) > metrics.horizontalAdvance("Meeting agenda.txt"));
        QCOMPARE(list->header()->sectionSize(0) + list->header()->sectionSize(1) +
                     list->header()->sectionSize(2),
                 list->viewport()->width());
    }
    QCOMPARE(RemoteSort, 1);
    QCOMPARE(LocalSort, 1);
    QVERIFY(w.mnuLargeBtns->isChecked());
    QVERIFY(!w.mnuSmallBtns->isChecked());
    QCOMPARE(w.ToolBar->height(), 48);
    QCOMPARE(w.windowTitle(), QStringLiteral("ZUL-FTP - "));
    QCOMPARE(w.statusText(0), QString());
    QCOMPARE(w.statusText(1), QStringLiteral("Not Connected"));
    QCOMPARE(w.StatusBar->height(), 22);
    QCOMPARE(w.StatusPanel0->width(), 250);
    QCOMPARE(w.LocalHeader->height(), 15);
    QCOMPARE(w.RemoteHeader->height(), 15);
    QCOMPARE(w.RemoteHeader->text(), QStringLiteral("Remote Files"));
    QCOMPARE(w.findChild<QWidget*>("Splitter1")->width(), 6);
    QCOMPARE(w.findChild<QWidget*>("Splitter2")->width(), 6);
    QCOMPARE(w.LocalDrives->height(), 22);
    QCOMPARE(w.LocalDrives->width(), w.FolderPanel->width() - 4);
    QCOMPARE(w.LocalFolders->height(), w.FolderPanel->height() - 22 - 8);
    QVERIFY(w.PopupLocal->defaultAction() == w.mnuLocalUpload);
    QVERIFY(w.PopupRemote->defaultAction() == w.mnuRemoteDownload);
    w.close();
    QVERIFY(prompter.verifyDone());
}

void TestMainLayout::toolbarModes_data()
{
    QTest::addColumn<bool>("captions");
    QTest::addColumn<int>("barHeight");
    QTest::addColumn<int>("buttonWidth");
    QTest::addColumn<int>("buttonHeight");
    QTest::newRow("captions") << true << 48 << 72 << 42;
    QTest::newRow("small") << false << 35 << 28 << 28;
}

void TestMainLayout::toolbarModes()
{
    QFETCH(bool, captions);
    QFETCH(int, barHeight);
    QFETCH(int, buttonWidth);
    QFETCH(int, buttonHeight);
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // Start from the other mode, then switch through the toolbar menu as the user would.
    if (captions) {
        w.mnuSmallBtns->trigger();
        w.mnuLargeBtns->trigger();
    } else {
        w.mnuSmallBtns->trigger();
    }
    QCOMPARE(w.mnuLargeBtns->isChecked(), captions);
    QCOMPARE(w.mnuSmallBtns->isChecked(), !captions);
    QCOMPARE(w.ToolBar->height(), barHeight);
    for (qsizetype i = 0; i < kButtonNames.size(); ++i) {
        QToolButton* b = button(w, kButtonNames[i]);
        QVERIFY(b);
        QCOMPARE(b->size(), QSize(buttonWidth, buttonHeight));
        QCOMPARE(b->text(), captions ? kCaptions[i] : QString());
        QCOMPARE(b->toolTip(), kDesignCaptions[i]);
        QCOMPARE(b->accessibleName(), kDesignCaptions[i]);
        QCOMPARE(b->focusPolicy(), Qt::NoFocus);
        QVERIFY(!b->icon().isNull());
    }
    const QList<QPair<QString, int>> dividers = {
        {"ToolButton1", 12}, {"ToolButton2", 8}, {"ToolButton4", 8}, {"ToolButton3", 8}};
    for (const auto& [name, width] : dividers) {
        auto* divider = w.findChild<QFrame*>(name);
        QVERIFY(divider);
        QCOMPARE(divider->size(), QSize(width, buttonHeight));
    }
    QCOMPARE(w.findChild<QFrame*>("ToolButton3")->frameShape(), QFrame::NoFrame);
    QCOMPARE(w.findChild<QFrame*>("ToolButton1")->frameShape(), QFrame::VLine);
    w.close();
}

void TestMainLayout::choosingCheckedModeUnchecksBoth()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QVERIFY(w.mnuLargeBtns->isChecked());
    w.mnuLargeBtns->trigger();
    QVERIFY(!w.mnuLargeBtns->isChecked());
    QVERIFY(!w.mnuSmallBtns->isChecked());
    QCOMPARE(w.ToolBar->maximumHeight(), 48);
    QCOMPARE(button(w, "btnOpen")->text(), QStringLiteral("O&pen"));
}

void TestMainLayout::storedToolbarMode_data()
{
    QTest::addColumn<int>("large"); // -1: not stored
    QTest::addColumn<int>("small");
    QTest::addColumn<bool>("captionsMode");
    QTest::newRow("large absent, small set") << -1 << 1 << true;
    QTest::newRow("large set, small set") << 1 << 1 << true;
    QTest::newRow("both cleared") << 0 << 0 << false;
    QTest::newRow("large cleared, small set") << 0 << 1 << false;
}

void TestMainLayout::storedToolbarMode()
{
    QFETCH(int, large);
    QFETCH(int, small);
    QFETCH(bool, captionsMode);
    if (large >= 0)
        FrameTestEnv::storeDword("LargeButtons", static_cast<DWORD>(large));
    FrameTestEnv::storeDword("SmallButtons", static_cast<DWORD>(small));
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QCOMPARE(w.ToolBar->maximumHeight(), captionsMode ? 48 : 35);
    QCOMPARE(w.mnuLargeBtns->isChecked(), captionsMode);
    QCOMPARE(w.mnuSmallBtns->isChecked(), !captionsMode);
    QCOMPARE(button(w, "btnConfig")->width(), captionsMode ? 72 : 28);
}

void TestMainLayout::toolbarModeSurvivesRestart()
{
    {
        ScriptedPrompter prompter;
        TfrmMain w(prompter);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.mnuSmallBtns->trigger();
        QSignalSpy closed(&w, &TfrmMain::formClosed);
        w.close();
        QCOMPARE(closed.count(), 1);
    }
    Settings = {};
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QCOMPARE(w.ToolBar->maximumHeight(), 35);
    QCOMPARE(button(w, "btnUpload")->text(), QString());
}

void TestMainLayout::windowCannotBeNarrowerThanPanes_data()
{
    QTest::addColumn<int>("folderWidth");
    QTest::addColumn<int>("localWidth");
    QTest::addColumn<int>("askedWidth");
    QTest::addColumn<int>("expectedWidth");
    // The remote list keeps 150 pixels, besides the two 6-pixel splitter handles.
    QTest::newRow("defaults, too narrow") << 160 << 300 << 300 << 622;
    QTest::newRow("defaults, one pixel short") << 160 << 300 << 621 << 622;
    QTest::newRow("defaults, exactly") << 160 << 300 << 622 << 622;
    QTest::newRow("wide panes") << 250 << 500 << 600 << 912;
    QTest::newRow("wide enough") << 160 << 300 << 700 << 700;
}

void TestMainLayout::windowCannotBeNarrowerThanPanes()
{
    QFETCH(int, folderWidth);
    QFETCH(int, localWidth);
    QFETCH(int, askedWidth);
    QFETCH(int, expectedWidth);
    FrameTestEnv::storeDword("LocalFoldersWidth", static_cast<DWORD>(folderWidth));
    FrameTestEnv::storeDword("LocalFilesWidth", static_cast<DWORD>(localWidth));
    // A stored narrower width is widened at start-up as well.
    FrameTestEnv::storeDword("Last Width", static_cast<DWORD>(askedWidth));
    FrameTestEnv::storeDword("Last Height", 500);
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QCOMPARE(w.width(), expectedWidth);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(300, 500);
    QTRY_COMPARE(w.width(), folderWidth + localWidth + 162);
    QCOMPARE(w.FolderPanel->width(), folderWidth);
    QCOMPARE(w.LocalPane->width(), localWidth);
    w.close();
}

void TestMainLayout::placementNeedsBothValues_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<QSize>("size");
    QTest::newRow("x only") << QStringList{"Last X-Pos"} << QPoint(214, 173)
                            << TfrmMain::kFirstWindowSize;
    QTest::newRow("y only") << QStringList{"Last Y-Pos"} << QPoint(214, 173)
                            << TfrmMain::kFirstWindowSize;
    QTest::newRow("width only") << QStringList{"Last Width"} << QPoint(214, 173)
                                << TfrmMain::kFirstWindowSize;
    QTest::newRow("position") << QStringList{"Last X-Pos", "Last Y-Pos"} << QPoint(40, 50)
                              << TfrmMain::kFirstWindowSize;
    QTest::newRow("size") << QStringList{"Last Width", "Last Height"} << QPoint(214, 173)
                          << QSize(900, 640);
}

void TestMainLayout::placementNeedsBothValues()
{
    QFETCH(QStringList, stored);
    QFETCH(QPoint, pos);
    QFETCH(QSize, size);
    const QMap<QString, DWORD> values = {
        {"Last X-Pos", 40}, {"Last Y-Pos", 50}, {"Last Width", 900}, {"Last Height", 640}};
    for (const QString& name : stored)
        FrameTestEnv::storeDword(name.toLatin1().constData(), values.value(name));
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QCOMPARE(w.pos(), pos);
    QCOMPARE(w.size(), size);
}

void TestMainLayout::maximisedStateRestored()
{
    FrameTestEnv::storeDword("Last Width", 800);
    FrameTestEnv::storeDword("Last Height", 500);
    FrameTestEnv::storeDword("Last Window State", 2);
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(w.isMaximized());
    QCOMPARE(w.normalGeometry().size(), QSize(800, 500));
    w.close();
    // Closing maximised keeps the normal bounds stored and the maximised state.
    DWORD state = 0;
    DWORD width = 0;
    QVERIFY(FrameTestEnv::storedDword("Last Window State", state));
    QCOMPARE(state, DWORD(2));
    QVERIFY(FrameTestEnv::storedDword("Last Width", width));
    QCOMPARE(width, DWORD(800));
}

void TestMainLayout::storedLayoutApplied()
{
    FrameTestEnv::storeDword("LocalFoldersWidth", 200);
    FrameTestEnv::storeDword("LocalFilesWidth", 350);
    FrameTestEnv::storeDword("LastLocalColWidths1", 110);
    FrameTestEnv::storeDword("LastRemoteColWidths2", 90);
    FrameTestEnv::storeDword("LastRemoteSort", static_cast<DWORD>(-2));
    FrameTestEnv::storeDword("LastLocalSort", 3);
    FrameTestEnv::storeText("LastSite", "Work server");
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.FolderPanel->width(), 200);
    QCOMPARE(w.LocalPane->width(), 350);
    QCOMPARE(w.LocalFiles->header()->sectionSize(1), 110);
    QCOMPARE(w.RemoteFiles->header()->sectionSize(2), 90);
    QCOMPARE(RemoteSort, -2);
    QCOMPARE(LocalSort, 3);
    QCOMPARE(w.windowTitle(), QStringLiteral("ZUL-FTP - Work server"));
    QCOMPARE(w.statusText(0), QStringLiteral("Work server"));
    w.close();
    DWORD sort = 0;
    QVERIFY(FrameTestEnv::storedDword("LastRemoteSort", sort));
    QCOMPARE(static_cast<qint32>(sort), -2);
    DWORD folders = 0;
    QVERIFY(FrameTestEnv::storedDword("LocalFoldersWidth", folders));
    QCOMPARE(folders, DWORD(200));
}

void TestMainLayout::insanePaneWidthsClamped()
{
    FrameTestEnv::storeDword("LocalFoldersWidth", static_cast<DWORD>(-5));
    FrameTestEnv::storeDword("LocalFilesWidth", 2000000);
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QVERIFY(w.folderPanelWidth() > 0);
    QVERIFY(w.localPaneWidth() <= 8000);
    QCOMPARE(w.minimumWidth(), w.folderPanelWidth() + w.localPaneWidth() + 162);
}

void TestMainLayout::startupFolder_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("kept");
    QTest::newRow("existing folder") << QDir::tempPath() << true;
    QTest::newRow("missing folder") << QDir::tempPath() + "/zulftp-gone-folder/x" << false;
    QTest::newRow("a file, not a folder") << QCoreApplication::applicationFilePath() << false;
    QTest::newRow("empty") << QString() << false;
}

void TestMainLayout::startupFolder()
{
    QFETCH(QString, stored);
    QFETCH(bool, kept);
    QCOMPARE(TfrmMain::startupLocalFolder(stored), kept ? stored : QDir::homePath());
}

// A first start shows the user's own folder sorted by name and says how to add a site; the
// next start opens the folder the user left.
void TestMainLayout::firstStartThenWhereTheUserLeftOff()
{
    QTemporaryDir elsewhere;
    ScriptedPrompter prompter;
    {
        TfrmMain w(prompter);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(QDir::cleanPath(w.currentLocalFolder()), QDir::homePath());
        QCOMPARE(LocalSort, 1);
        QVERIFY(w.FirstSiteHint->isVisible());
        QVERIFY(w.btnAddSite->isVisible());
        w.setLocalFolder(elsewhere.path());
        w.close();
    }
    LocalSort = 0;
    TfrmMain again(prompter);
    QCOMPARE(QDir::cleanPath(again.currentLocalFolder()), QDir::cleanPath(elsewhere.path()));
    again.close();
    QVERIFY(prompter.verifyDone());
}

void TestMainLayout::everyControlNamedForScreenReaders()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    const QStringList designNames = {"ToolBar",      "FolderPanel", "LocalDrives", "LocalFolders",
                                     "LocalPane",    "LocalHeader", "LocalFiles",  "RemotePane",
                                     "RemoteHeader", "RemoteFiles", "StatusBar",   "MainMenu1",
                                     "PopupLocal",   "PopupRemote", "ToolbarMenu", "mnuFile",
                                     "mnuRemote",    "mnuHelpMenu", "Splitter1",   "Splitter2"};
    for (const QString& name : designNames + kButtonNames) {
        auto* widget = w.findChild<QWidget*>(name);
        QVERIFY2(widget, qPrintable(name));
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        QVERIFY2(accessible && !accessible->text(QAccessible::Name).isEmpty(), qPrintable(name));
    }
    QCOMPARE(w.LocalFiles->accessibleName(), QStringLiteral("Local Files"));
    QCOMPARE(w.RemoteFiles->accessibleName(), QStringLiteral("Remote Files"));
    const QStringList actions = {
        "mnuConfigure",       "mnuExit",           "mnuConnect",     "mnuDisconnect",
        "mnuUpOneLevel",      "mnuNewFolder",      "mnuRefresh",     "mnuDelete",
        "mnuDownload",        "mnuUpload",         "mnuHelp",        "mnuAbout",
        "mnuLocalUpload",     "mnuLocalOpen",      "mnuLocalDelete", "mnuLocalNewFolder",
        "mnuLocalRefresh",    "mnuRemoteDownload", "mnuRemoteOpen",  "mnuRemoteDelete",
        "mnuRemoteNewFolder", "mnuRemoteRefresh",  "mnuSmallBtns",   "mnuLargeBtns"};
    for (const QString& name : actions)
        QVERIFY2(w.findChild<QAction*>(name), qPrintable(name));
    QCOMPARE(w.mnuHelp->shortcut(), QKeySequence(Qt::Key_F1));
}

// What a screen reader reads of the labels that show state is what a sighted user reads;
// what each label is for is its description.
void TestMainLayout::stateLabelsReadTheirTexts()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    const auto nameOf = [](QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    };
    const auto descriptionOf = [](QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description);
    };
    QCOMPARE(nameOf(w.StatusPanel1), QStringLiteral("Not Connected"));
    w.setStatusText(0, QStringLiteral("Local demo"));
    w.setStatusText(1, QStringLiteral("Connected to 127.0.0.1"));
    QCOMPARE(nameOf(w.StatusPanel0), QStringLiteral("Local demo"));
    QCOMPARE(nameOf(w.StatusPanel1), QStringLiteral("Connected to 127.0.0.1"));
    QCOMPARE(descriptionOf(w.StatusPanel0), QStringLiteral("Current site"));
    QCOMPARE(descriptionOf(w.StatusPanel1), QStringLiteral("Connection status"));

    QCOMPARE(nameOf(w.LocalHeader), w.currentLocalFolder());
    w.RemoteHeader->setText(QStringLiteral("127.0.0.1/pub/"));
    QCOMPARE(nameOf(w.RemoteHeader), QStringLiteral("127.0.0.1/pub/"));
    QCOMPARE(descriptionOf(w.LocalHeader), QStringLiteral("Local Files folder"));
    QCOMPARE(descriptionOf(w.RemoteHeader), QStringLiteral("Remote Files folder"));
}

QTEST_MAIN(TestMainLayout)
#include "tst_mainlayout.moc"
