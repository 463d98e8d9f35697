#include "FrameTestEnv.h"
#include "ScriptedPrompter.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "app/ui/HelpWindow.h"
#include "app/ui/PaneHeader.h"
#include "common/FileListModel.h"
#include "common/RemoteFilesCompare.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>

// Which pane is active, what that enables, and where the commands and keys go.
class TestMainRouting : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void enablingTableOnControls_data();
    void enablingTableOnControls();
    void startupMakesLocalPaneActive();
    void toolbarAndMenuLeaveActivePane_data();
    void toolbarAndMenuLeaveActivePane();
    void focusInFoldersClearsBothFlags();
    void leavingListDeselectsFirstSelectedRowOnly();
    void headerClickActivatesPane_data();
    void headerClickActivatesPane();
    void rightClickActivatesListBeforeMenu();
    void keysWaitForRename_data();
    void keysWaitForRename();
    void escapeEndsRename();
    void newFolderAsksForName_data();
    void newFolderAsksForName();
    void openWithoutRemoteRowWarns();
    void f1OpensHelpAtContents();
    void missingHelpFileIsReported();
    void shellDropsOnlyWhileConnected();
    void keyboardReachesEveryListCommand();
    void noTwoControlsShareAMnemonic();

private:
    QTemporaryDir m_home;
};

namespace {

QPalette::ColorRole headerBackground(const PaneHeader* header)
{
    const QColor colour = header->palette().color(QPalette::Window);
    if (colour == QApplication::palette().color(QPalette::Highlight))
        return QPalette::Highlight;
    if (colour == QApplication::palette().color(QPalette::Button))
        return QPalette::Button;
    return QPalette::NoRole;
}

bool headerShowsActive(const PaneHeader* header)
{
    const QPalette system = QApplication::palette();
    return header->palette().color(QPalette::Window) == system.color(QPalette::Highlight) &&
           header->palette().color(QPalette::WindowText) == system.color(QPalette::HighlightedText);
}

bool headerShowsInactive(const PaneHeader* header)
{
    const QPalette system = QApplication::palette();
    return header->palette().color(QPalette::Window) == system.color(QPalette::Button) &&
           header->palette().color(QPalette::WindowText) == system.color(QPalette::ButtonText);
}

bool enabled(TfrmMain& w, const QString& name)
{
    if (auto* button = w.findChild<QToolButton*>(name))
        return button->isEnabled();
    if (auto* action = w.findChild<QAction*>(name))
        return action->isEnabled();
    qFatal("no control %s", qPrintable(name));
}

void fillRows(FileListModel* model, int count)
{
    std::vector<FileListRow> rows;
    for (int i = 0; i < count; ++i) {
        FileListRow row;
        row.name = QStringLiteral("file%1.txt").arg(i);
        row.size = 10;
        rows.push_back(row);
    }
    model->setRows(std::move(rows));
}

// Shows the window and waits until it is active, with the local pane active as at start-up.
bool showActive(TfrmMain& w)
{
    w.show();
    if (!QTest::qWaitForWindowActive(&w))
        return false;
    return QTest::qWaitFor([&] { return LocalFocused; });
}

} // namespace

void TestMainRouting::initTestCase()
{
    QVERIFY(m_home.isValid());
    FrameTestEnv::useDataFolder(m_home);
}

void TestMainRouting::init()
{
    FrameTestEnv::reset();
}

void TestMainRouting::cleanup()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), qPrintable(widget->objectName()));
}

void TestMainRouting::enablingTableOnControls_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("local");
    QTest::addColumn<bool>("remote");
    QTest::addColumn<QStringList>("on");
    const QStringList always = {"btnConfig", "mnuConfigure", "mnuExit",     "mnuHelp",
                                "mnuAbout",  "mnuSmallBtns", "mnuLargeBtns"};
    const QStringList toolbarPane = {"btnUpOneLevel", "btnNewFolder", "btnRefresh", "btnDelete",
                                     "btnOpen"};
    const QStringList menuPane = {"mnuUpOneLevel", "mnuNewFolder", "mnuRefresh", "mnuDelete"};
    const QStringList upload = {"btnUpload", "mnuUpload", "mnuLocalUpload"};
    const QStringList download = {"btnDownload", "mnuDownload", "mnuRemoteDownload"};
    const QStringList remotePopup = {"mnuRemoteOpen", "mnuRemoteDelete", "mnuRemoteNewFolder",
                                     "mnuRemoteRefresh"};
    const QStringList localPopup = {"mnuLocalOpen", "mnuLocalDelete", "mnuLocalNewFolder",
                                    "mnuLocalRefresh"};
    const QStringList offline = always + QStringList{"btnConnect", "mnuConnect"};
    const QStringList online = always + QStringList{"btnDisconnect", "mnuDisconnect"};
    QTest::newRow("offline, local") << false << true << false << offline + toolbarPane + localPopup;
    QTest::newRow("offline, remote") << false << false << true << offline;
    QTest::newRow("offline, neither") << false << false << false << offline;
    QTest::newRow("online, local")
        << true << true << false << online + toolbarPane + menuPane + upload + localPopup;
    QTest::newRow("online, remote")
        << true << false << true << online + toolbarPane + menuPane + download + remotePopup;
    QTest::newRow("online, neither") << true << false << false << online;
}

void TestMainRouting::enablingTableOnControls()
{
    QFETCH(bool, connected);
    QFETCH(bool, local);
    QFETCH(bool, remote);
    QFETCH(QStringList, on);
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    LocalFocused = local;
    RemoteFocused = remote;
    w.UpdateCommandState(connected);
    const QStringList every = {
        "btnConfig",      "btnConnect",        "btnDisconnect",      "btnUpOneLevel",
        "btnNewFolder",   "btnRefresh",        "btnDelete",          "btnDownload",
        "btnUpload",      "btnOpen",           "mnuConfigure",       "mnuExit",
        "mnuConnect",     "mnuDisconnect",     "mnuUpOneLevel",      "mnuNewFolder",
        "mnuRefresh",     "mnuDelete",         "mnuDownload",        "mnuUpload",
        "mnuHelp",        "mnuAbout",          "mnuLocalUpload",     "mnuLocalOpen",
        "mnuLocalDelete", "mnuLocalNewFolder", "mnuLocalRefresh",    "mnuRemoteDownload",
        "mnuRemoteOpen",  "mnuRemoteDelete",   "mnuRemoteNewFolder", "mnuRemoteRefresh",
        "mnuSmallBtns",   "mnuLargeBtns"};
    for (const QString& name : every)
        QVERIFY2(enabled(w, name) == on.contains(name), qPrintable(name));
    QCOMPARE(w.DropFile.EnableDrop, connected);
}

void TestMainRouting::startupMakesLocalPaneActive()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QVERIFY(showActive(w));
    QVERIFY(LocalFocused);
    QVERIFY(!RemoteFocused);
    QVERIFY(w.LocalFiles->hasFocus());
    QVERIFY(headerShowsActive(w.LocalHeader));
    QVERIFY(headerShowsInactive(w.RemoteHeader));
    QVERIFY(enabled(w, "btnRefresh"));
    QVERIFY(!enabled(w, "mnuRefresh"));
    QVERIFY(!enabled(w, "btnUpload"));
    w.close();
    QVERIFY(prompter.verifyDone());
}

void TestMainRouting::toolbarAndMenuLeaveActivePane_data()
{
    QTest::addColumn<bool>("remoteActive");
    QTest::newRow("local pane") << false;
    QTest::newRow("remote pane") << true;
}

void TestMainRouting::toolbarAndMenuLeaveActivePane()
{
    QFETCH(bool, remoteActive);
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QVERIFY(showActive(w));
    FileListView* active = remoteActive ? w.RemoteFiles : w.LocalFiles;
    active->setFocus();
    QTRY_COMPARE(RemoteFocused, remoteActive);
    // Connected, so that the remote pane's buttons are enabled too.
    w.UpdateCommandState(true);
    const QPalette::ColorRole localColour = headerBackground(w.LocalHeader);
    const QPalette::ColorRole remoteColour = headerBackground(w.RemoteHeader);

    prompter.expectInput(QStringLiteral("Create New Folder"), std::nullopt);
    // The buttons think we are connected, but there is no connection to list.
    if (remoteActive)
        prompter.expectMessage(
            QStringLiteral("FTP Directory Listing Failed.  (%1)").arg(ERROR_INVALID_HANDLE));
    QTest::mouseClick(w.findChild<QToolButton*>("btnNewFolder"), Qt::LeftButton);
    QTest::mouseClick(w.findChild<QToolButton*>("btnRefresh"), Qt::LeftButton);
    QTest::mouseClick(w.findChild<QToolButton*>("btnConfig"), Qt::LeftButton);
    w.mnuLargeBtns->trigger();
    w.mnuLargeBtns->trigger();
    QVERIFY(prompter.verifyDone());

    QVERIFY(active->hasFocus());
    QCOMPARE(LocalFocused, !remoteActive);
    QCOMPARE(RemoteFocused, remoteActive);
    QCOMPARE(headerBackground(w.LocalHeader), localColour);
    QCOMPARE(headerBackground(w.RemoteHeader), remoteColour);
    QCOMPARE(prompter.seen().first().caption, QStringLiteral("New Folder Name"));
    w.close();
}

void TestMainRouting::focusInFoldersClearsBothFlags()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QVERIFY(showActive(w));
    w.LocalFolders->setFocus();
    QTRY_VERIFY(!LocalFocused);
    QVERIFY(!RemoteFocused);
    QVERIFY(headerShowsInactive(w.LocalHeader));
    for (const char* name :
         {"btnUpOneLevel", "btnNewFolder", "btnRefresh", "btnDelete", "btnOpen", "btnUpload",
          "btnDownload", "mnuUpOneLevel", "mnuNewFolder", "mnuRefresh", "mnuDelete"})
        QVERIFY2(!enabled(w, name), name);
    QCOMPARE(w.LocalFolders->palette().color(QPalette::Text),
             QApplication::palette().color(QPalette::ButtonText));
    w.close();
}

void TestMainRouting::leavingListDeselectsFirstSelectedRowOnly()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    fillRows(w.LocalFilesModel, 5);
    QVERIFY(showActive(w));
    auto* selection = w.LocalFiles->selectionModel();
    for (int row : {1, 2, 4})
        selection->select(w.LocalFilesModel->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    w.RemoteFiles->setFocus();
    QTRY_VERIFY(RemoteFocused);
    QCOMPARE(w.LocalFiles->selectedRowNumbers(), (QList<int>{2, 4}));
    w.close();
}

void TestMainRouting::headerClickActivatesPane_data()
{
    QTest::addColumn<bool>("remote");
    QTest::newRow("remote header, not connected") << true;
    QTest::newRow("local header") << false;
}

void TestMainRouting::headerClickActivatesPane()
{
    QFETCH(bool, remote);
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QVERIFY(showActive(w));
    if (!remote) {
        w.LocalFolders->setFocus();
        QTRY_VERIFY(!LocalFocused);
    }
    QTest::mouseClick(remote ? w.RemoteHeader : w.LocalHeader, Qt::LeftButton);
    FileListView* list = remote ? w.RemoteFiles : w.LocalFiles;
    QTRY_VERIFY(list->hasFocus());
    QCOMPARE(RemoteFocused, remote);
    QCOMPARE(LocalFocused, !remote);
    QVERIFY(headerShowsActive(remote ? w.RemoteHeader : w.LocalHeader));
    QVERIFY(headerShowsInactive(remote ? w.LocalHeader : w.RemoteHeader));
    w.close();
}

void TestMainRouting::rightClickActivatesListBeforeMenu()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QVERIFY(showActive(w));
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                            w.RemoteFiles->viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(w.RemoteFiles->viewport(), &event);
    QVERIFY(RemoteFocused);
    QVERIFY(!LocalFocused);
    QTRY_VERIFY(w.PopupRemote->isVisible());
    w.PopupRemote->close();
    QTRY_VERIFY(!w.PopupRemote->isVisible());
    // The menu took nothing away: the remote pane is still the active one.
    QVERIFY(RemoteFocused);
    w.close();
}

void TestMainRouting::keysWaitForRename_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("renaming");
    QTest::addColumn<bool>("used");
    for (const char* control : {"LocalFiles", "RemoteFiles"}) {
        for (int key : {int(Qt::Key_Backspace), int(Qt::Key_Delete)}) {
            const QString name =
                QString::fromLatin1(control) + (key == Qt::Key_Delete ? " Delete" : " Backspace");
            QTest::newRow(qPrintable(name)) << control << key << false << true;
            QTest::newRow(qPrintable(name + " while renaming")) << control << key << true << false;
        }
    }
    QTest::newRow("LocalFolders Backspace")
        << "LocalFolders" << int(Qt::Key_Backspace) << false << true;
    QTest::newRow("LocalFolders Backspace while renaming")
        << "LocalFolders" << int(Qt::Key_Backspace) << true << false;
    QTest::newRow("LocalFolders Delete") << "LocalFolders" << int(Qt::Key_Delete) << false << false;
    QTest::newRow("LocalFiles other key") << "LocalFiles" << int(Qt::Key_A) << false << false;
}

void TestMainRouting::keysWaitForRename()
{
    QFETCH(QString, control);
    QFETCH(int, key);
    QFETCH(bool, renaming);
    QFETCH(bool, used);
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    RenameInProgress = renaming;
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    bool result = false;
    if (control == QLatin1String("LocalFiles"))
        result = w.LocalFilesKeyDown(&event);
    else if (control == QLatin1String("RemoteFiles"))
        result = w.RemoteFilesKeyDown(&event);
    else
        result = w.LocalFoldersKeyDown(&event);
    QCOMPARE(result, used);
    QVERIFY(prompter.verifyDone());
}

void TestMainRouting::escapeEndsRename()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    fillRows(w.RemoteFilesModel, 2);
    QVERIFY(showActive(w));
    int keysSeen = 0;
    w.RemoteFiles->onKeyDown = [&](QKeyEvent*) {
        ++keysSeen;
        return false;
    };
    w.RemoteFiles->onEditing = [](int, bool&) { RenameInProgress = true; };
    w.RemoteFiles->setFocus();
    w.RemoteFiles->edit(w.RemoteFilesModel->index(1, 0));
    auto* editor = w.RemoteFiles->findChild<QLineEdit*>();
    QVERIFY(editor);
    QVERIFY(RenameInProgress);
    // Keys typed into the name belong to the name; the list and the pane stay as they were.
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClick(editor, Qt::Key_Delete);
    QCOMPARE(keysSeen, 0);
    QVERIFY(RemoteFocused);
    QTest::keyClick(editor, Qt::Key_Escape);
    QVERIFY(!RenameInProgress);
    QCOMPARE(w.RemoteFilesModel->row(1).name, QStringLiteral("file1.txt"));
    w.close();
}

void TestMainRouting::newFolderAsksForName_data()
{
    QTest::addColumn<std::optional<QString>>("reply");
    QTest::newRow("cancelled") << std::optional<QString>();
    QTest::newRow("empty") << std::optional<QString>(QString());
    QTest::newRow("blanks") << std::optional<QString>(QStringLiteral("   "));
    QTest::newRow("name") << std::optional<QString>(QStringLiteral(" new "));
}

void TestMainRouting::newFolderAsksForName()
{
    QFETCH(std::optional<QString>, reply);
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    prompter.expectInput(QStringLiteral("Create New Folder"), reply);
    w.btnNewFolderClick();
    QVERIFY(prompter.verifyDone());
    QCOMPARE(prompter.seen().first().caption, QStringLiteral("New Folder Name"));
}

void TestMainRouting::openWithoutRemoteRowWarns()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    prompter.expectBeep(MB_ICONEXCLAMATION)
        .expectMessage(QStringLiteral("No files were selected."));
    w.btnOpenClick();
    QVERIFY(prompter.verifyDone());
    QCOMPARE(prompter.seen().last().icon, MessageIcon::Warning);
}

void TestMainRouting::f1OpensHelpAtContents()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QVERIFY(showActive(w));
    QVERIFY(!w.helpWindow());
    QTest::keyClick(w.LocalFiles, Qt::Key_F1);
    QVERIFY(w.helpWindow());
    QTRY_VERIFY(w.helpWindow()->isVisible());
    QCOMPARE(w.helpWindow()->currentContext(), 1000u);
    const QUrl source = w.helpWindow()->HelpBrowser->source();
    QCOMPARE(source.fragment(), QStringLiteral("1000"));
    QCOMPARE(source.toLocalFile(), QCoreApplication::applicationDirPath() + "/zulftp.hlp");
    QVERIFY(!w.helpWindow()->HelpBrowser->toPlainText().isEmpty());
    // Closing the program closes its help too, or the help would keep it running.
    w.close();
    QTRY_VERIFY(!w.helpWindow() || !w.helpWindow()->isVisible());
    QVERIFY(prompter.verifyDone());
}

void TestMainRouting::missingHelpFileIsReported()
{
    const QString file = QCoreApplication::applicationDirPath() + "/zulftp.hlp";
    const QString moved = file + ".moved";
    QFile::remove(moved);
    QVERIFY(QFile::rename(file, moved));
    const auto restore = qScopeGuard([&] { QFile::rename(moved, file); });
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    prompter.expectBeep(MB_ICONEXCLAMATION)
        .expectMessage(QStringLiteral("The help file \"%1\" was not found.").arg(file));
    w.mnuHelpClick();
    QVERIFY(prompter.verifyDone());
    QVERIFY(!w.helpWindow());
}

void TestMainRouting::shellDropsOnlyWhileConnected()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.txt")),
                  QUrl::fromLocalFile(QStringLiteral("/tmp/folder/"))});
    const auto dragEnter = [&] {
        QDragEnterEvent event(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &event);
        return event.isAccepted();
    };
    w.UpdateCommandState(false);
    QVERIFY(!dragEnter());
    w.UpdateCommandState(true);
    QVERIFY(dragEnter());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    QCOMPARE(w.DropFile.FileCount, 2);
    QCOMPARE(w.DropFile.NameWithPath,
             (QStringList{QStringLiteral("/tmp/a.txt"), QStringLiteral("/tmp/folder")}));
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("http://127.0.0.1/x"))});
    QDragEnterEvent webEnter(QPoint(5, 5), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &webEnter);
    QVERIFY(!webEnter.isAccepted());
}

namespace {

int rowNamed(const FileListModel* model, const QString& name)
{
    for (int i = 0; i < model->rowCount(); ++i)
        if (model->row(i).name == name)
            return i;
    return -1;
}

bool writeFile(const QString& path, int size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, 'x')) == size;
}

// The letter Alt opens a control with, or a null character.
QChar mnemonicOf(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] != QLatin1Char('&'))
            return text[i + 1].toLower();
        ++i;
    }
    return {};
}

} // namespace

// A whole session without the mouse: sort, open a folder, visit the Action menu and come
// back, all on the pane that was active.
void TestMainRouting::keyboardReachesEveryListCommand()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("big.bin")), 300));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("small.bin")), 1));
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    w.setLocalFolder(dir.path());
    QVERIFY(showActive(w));
    FileListView* list = w.LocalFiles;
    QVERIFY(list->hasFocus());

    // Ctrl+2 sorts by size as a click on the Size header would; Ctrl+2 again reverses.
    const auto smallFirst = [&w] {
        return rowNamed(w.LocalFilesModel, QStringLiteral("small.bin")) <
               rowNamed(w.LocalFilesModel, QStringLiteral("big.bin"));
    };
    const int bySize = SortCodeAfterColumnClick(LocalSort, FileListModel::SizeColumn);
    QTest::keyClick(list, Qt::Key_2, Qt::ControlModifier);
    QCOMPARE(LocalSort, bySize);
    const bool ascending = smallFirst();
    QTest::keyClick(list, Qt::Key_2, Qt::ControlModifier);
    QCOMPARE(smallFirst(), !ascending);

    // Alt+A opens the Action menu without taking the active pane away from the list.
    list->selectionModel()->select(w.LocalFilesModel->index(0, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QTest::keyClick(list, Qt::Key_A, Qt::AltModifier);
    QTRY_COMPARE(QApplication::activePopupWidget(), static_cast<QWidget*>(w.mnuRemote));
    QVERIFY(LocalFocused);
    QVERIFY(enabled(w, "btnDelete"));
    QVERIFY(enabled(w, "mnuLocalDelete"));
    QTest::keyClick(w.mnuRemote, Qt::Key_Escape);
    QTRY_VERIFY(list->hasFocus());
    QVERIFY(LocalFocused);
    QVERIFY(list->selectionModel()->isRowSelected(0));

    // Typing the start of a name moves to it.
    QTest::keyClicks(list, QStringLiteral("sm"));
    QCOMPARE(list->focusedRow(), rowNamed(w.LocalFilesModel, QStringLiteral("small.bin")));

    // Enter opens the folder with the focus rectangle.
    const int sub = rowNamed(w.LocalFilesModel, QStringLiteral("sub"));
    QVERIFY(sub >= 0);
    list->setCurrentIndex(w.LocalFilesModel->index(sub, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(QDir::cleanPath(w.currentLocalFolder()),
             QDir::cleanPath(dir.filePath(QStringLiteral("sub"))));
    w.close();
    QVERIFY(prompter.verifyDone());
}

// Alt with a letter must reach exactly one control: the menu titles and, with captions shown,
// the toolbar buttons.
void TestMainRouting::noTwoControlsShareAMnemonic()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    if (!w.mnuLargeBtns->isChecked())
        w.mnuLargeBtnsClick();
    QStringList texts;
    for (QAction* menu : w.MainMenu1->actions())
        texts.append(menu->text());
    for (QToolButton* button : w.ToolBar->findChildren<QToolButton*>())
        if (button->property("tag").toInt() == 1)
            texts.append(button->text());
    QHash<QChar, QString> owner;
    for (const QString& text : texts) {
        const QChar letter = mnemonicOf(text);
        if (letter.isNull())
            continue;
        QVERIFY2(!owner.contains(letter),
                 qPrintable(QStringLiteral("%1 and %2").arg(owner.value(letter), text)));
        owner.insert(letter, text);
    }
    QVERIFY(owner.size() >= 10);
}

QTEST_MAIN(TestMainRouting)
#include "tst_mainrouting.moc"
