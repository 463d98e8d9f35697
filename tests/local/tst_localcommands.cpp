#include "LocalPaneFixture.h"

#include <QDesktopServices>
#include <QMimeDatabase>
#include <QUrl>

#include <cerrno>
#include <cstring>

using namespace localtest;

namespace {

const QString kNoFiles = QStringLiteral("No files were selected.");
const QString kConfirmDelete =
    QStringLiteral("Are you sure you want to delete the selected files or folders?");

} // namespace

// Receives what the desktop would have been asked to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void openUrl(const QUrl& url) { urls.append(url); }
};

// The local pane's commands: Open, rename in place, Delete, New Folder.
class TestLocalCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void openHandsTheFocusedFileToTheDesktop_data();
    void openHandsTheFocusedFileToTheDesktop();
    void openWithoutAFocusedRowWarns();
    void openFollowsTheDesktopsAssociations_data();
    void openFollowsTheDesktopsAssociations();
    void doubleClickOnAFileOpensIt();

    void renameInPlaceRenamesTheFile();
    void escapeDuringARenameLeavesTheFileAndBackspaceGoesUp();
    void renameWithASlashIsRefusedWithAWarning();
    void failedRenameKeepsTheRealName();

    void deleteRemovesReadOnlyFilesAndTrees();
    void deleteAnsweredNoKeepsEverything();
    void deleteQuestionNamesPaneCountAndNames_data();
    void deleteQuestionNamesPaneCountAndNames();
    void deleteWithoutASelectionWarns();
    void deleteStopsAtAFolderThatCannotBeRemoved();

    void newFolderKeepsBlanksAroundTheName();
    void newFolderThatCannotBeCreatedWarns();

    void failuresInAReadOnlyFolderSayWhatWhereAndWhy_data();
    void failuresInAReadOnlyFolderSayWhatWhereAndWhy();

private:
    // Points the desktop's association folders at a scratch folder holding `files`
    // (relative path -> contents).
    void setDesktopFiles(const QHash<QString, QByteArray>& files);

    UrlCatcher m_catcher;
    std::unique_ptr<QTemporaryDir> m_xdg;
};

void TestLocalCommands::setDesktopFiles(const QHash<QString, QByteArray>& files)
{
    m_xdg = std::make_unique<QTemporaryDir>();
    const QString base = m_xdg->path();
    qputenv("XDG_CONFIG_HOME", (base + "/config").toUtf8());
    qputenv("XDG_CONFIG_DIRS", (base + "/etc").toUtf8());
    qputenv("XDG_DATA_HOME", (base + "/data").toUtf8());
    qputenv("XDG_DATA_DIRS", (base + "/usr").toUtf8());
    qunsetenv("XDG_CURRENT_DESKTOP");
    // The file types themselves still come from the system's MIME database.
    QVERIFY(QDir().mkpath(base + "/data"));
    QVERIFY(QFile::link(QStringLiteral("/usr/share/mime"), base + "/data/mime"));
    for (auto it = files.begin(); it != files.end(); ++it) {
        QVERIFY(QDir().mkpath(QFileInfo(base + "/" + it.key()).path()));
        QVERIFY(writeFile(base + "/" + it.key(), it.value()));
    }
}

void TestLocalCommands::init()
{
    m_catcher.urls.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_catcher, "openUrl");
    // One viewer that takes any file.
    setDesktopFiles({{"usr/applications/viewer.desktop", "[Desktop Entry]\nName=Viewer\n"},
                     {"config/mimeapps.list",
                      "[Default Applications]\napplication/octet-stream=viewer.desktop\n"}});
}

void TestLocalCommands::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QVERIFY(!QApplication::overrideCursor());
}

void TestLocalCommands::openHandsTheFocusedFileToTheDesktop_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "report.pdf";
    // A name that a command line would run: it must arrive as nothing but a file name.
    QTest::newRow("shell syntax") << "a b; touch pwned $(id) `x` #.txt";
    QTest::newRow("leading dash") << "-rf";
    QTest::newRow("percent and hash") << "100% #1?.txt";
}

void TestLocalCommands::openHandsTheFocusedFileToTheDesktop()
{
    QFETCH(QString, name);
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path(name)) && writeFile(f.path("other")));
    f.window->setLocalFolder(f.root);
    // The focused row counts, selected or not.
    f.select({"other"});
    f.list().selectionModel()->setCurrentIndex(f.model().index(f.rowOf(name), 0),
                                               QItemSelectionModel::NoUpdate);
    f.window->mnuLocalOpenClick();
    QCOMPARE(m_catcher.urls.size(), 1);
    QVERIFY(m_catcher.urls[0].isLocalFile());
    QCOMPARE(m_catcher.urls[0].toLocalFile(), f.path(name));
    QVERIFY(!QFileInfo::exists(f.path("pwned")));
    f.prompter.verifyDone();
}

void TestLocalCommands::openWithoutAFocusedRowWarns()
{
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path("a")));
    f.window->setLocalFolder(f.root);
    f.list().selectionModel()->clear();
    f.prompter.expectBeep(MB_ICONEXCLAMATION).expectMessage(kNoFiles);
    f.window->mnuLocalOpenClick();
    QVERIFY(m_catcher.urls.isEmpty());
    f.prompter.verifyDone();
}

void TestLocalCommands::openFollowsTheDesktopsAssociations_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("files"); // path, contents, path, contents...
    QTest::addColumn<bool>("opens");
    const QString entry = "usr/applications/viewer.desktop";
    QTest::newRow("nothing registered") << "a.pdf" << QStringList() << false;
    QTest::newRow("default for a parent type")
        << "main.c"
        << QStringList{entry, "", "config/mimeapps.list",
                       "[Default Applications]\ntext/plain=viewer.desktop\n"}
        << true;
    QTest::newRow("system cache")
        << "a.pdf"
        << QStringList{entry, "", "usr/applications/mimeinfo.cache",
                       "[MIME Cache]\napplication/pdf=other.desktop;viewer.desktop;\n"}
        << true;
    QTest::newRow("entry without a cache")
        << "a.pdf" << QStringList{entry, "[Desktop Entry]\nMimeType=text/html;application/pdf;\n"}
        << true;
    QTest::newRow("user removed the system's association")
        << "a.pdf"
        << QStringList{entry,
                       "",
                       "usr/applications/mimeinfo.cache",
                       "[MIME Cache]\napplication/pdf=viewer.desktop;\n",
                       "config/mimeapps.list",
                       "[Removed Associations]\napplication/pdf=viewer.desktop\n"}
        << false;
    QTest::newRow("default names an uninstalled entry")
        << "a.pdf"
        << QStringList{"config/mimeapps.list",
                       "[Default Applications]\napplication/pdf=gone.desktop\n"}
        << false;
}

void TestLocalCommands::openFollowsTheDesktopsAssociations()
{
    QFETCH(QString, name);
    QFETCH(QStringList, files);
    QFETCH(bool, opens);
    QHash<QString, QByteArray> contents;
    for (qsizetype i = 0; i + 1 < files.size(); i += 2)
        contents.insert(files[i], files[i + 1].toUtf8());
    setDesktopFiles(contents);
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path(name)));
    f.window->setLocalFolder(f.root);
    f.select({name});
    if (!opens)
        f.prompter.expectBeep(MB_ICONEXCLAMATION)
            .expectMessage(QStringLiteral("No application is set to open this kind of file (%1).")
                               .arg(QMimeDatabase().mimeTypeForFile(f.path(name)).comment()));
    f.window->mnuLocalOpenClick();
    QCOMPARE(m_catcher.urls.size(), opens ? 1 : 0);
    f.prompter.verifyDone();
}

void TestLocalCommands::doubleClickOnAFileOpensIt()
{
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path("song.ogg")) && QDir(f.root).mkdir("dir"));
    f.window->setLocalFolder(f.root);
    f.select({"song.ogg"});
    f.window->LocalFilesDblClick();
    QCOMPARE(m_catcher.urls.size(), 1);
    QCOMPARE(m_catcher.urls[0].toLocalFile(), f.path("song.ogg"));
    QCOMPARE(f.window->currentLocalFolder(), f.root);
    // Nothing selected: a double-click does nothing at all.
    f.list().selectionModel()->clear();
    f.window->LocalFilesDblClick();
    QCOMPARE(m_catcher.urls.size(), 1);
    f.prompter.verifyDone();
}

void TestLocalCommands::renameInPlaceRenamesTheFile()
{
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path("draft.txt"), "content"));
    f.window->setLocalFolder(f.root);
    bool allow = false;
    f.window->LocalFilesEditing(0, allow);
    QVERIFY(allow);
    QVERIFY(RenameInProgress);
    QString text = QStringLiteral("final.txt");
    f.window->LocalFilesEdited(0, text);
    QVERIFY(!RenameInProgress);
    QCOMPARE(text, QStringLiteral("final.txt"));
    QCOMPARE(f.rowNames(), QStringList{"final.txt"});
    QVERIFY(QFileInfo::exists(f.path("final.txt")));
    QVERIFY(!QFileInfo::exists(f.path("draft.txt")));
    f.prompter.verifyDone();
}

void TestLocalCommands::escapeDuringARenameLeavesTheFileAndBackspaceGoesUp()
{
    LocalPaneFixture f;
    QVERIFY(QDir(f.root).mkdir("sub") && writeFile(f.path("sub/keep.txt")));
    f.window->setLocalFolder(f.path("sub"));
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    f.list().setFocus();
    const QModelIndex index = f.model().index(0, 0);
    f.list().setCurrentIndex(index);
    f.list().edit(index);
    QVERIFY(RenameInProgress);
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(editor && editor != &f.list());
    QTest::keyClicks(editor, QStringLiteral("changed"));
    // Backspace while the name is edited belongs to the editor.
    QTest::keyClick(editor, Qt::Key_Backspace);
    QCOMPARE(f.window->currentLocalFolder(), f.path("sub"));
    QTest::keyClick(editor, Qt::Key_Escape);
    QVERIFY(!RenameInProgress);
    QVERIFY(QFileInfo::exists(f.path("sub/keep.txt")));
    QCOMPARE(f.rowNames(), QStringList{"keep.txt"});
    QTest::keyClick(&f.list(), Qt::Key_Backspace);
    QCOMPARE(f.window->currentLocalFolder(), f.root);
    f.window->hide();
    f.prompter.verifyDone();
}

void TestLocalCommands::renameWithASlashIsRefusedWithAWarning()
{
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path("a.txt")) && QDir(f.root).mkdir("sub"));
    f.window->setLocalFolder(f.root);
    const int row = f.rowOf("a.txt");
    bool allow = false;
    f.window->LocalFilesEditing(row, allow);
    f.prompter.expectBeep(MB_ICONEXCLAMATION)
        .expectMessage(
            QStringLiteral("A file name cannot contain \"/\". The file was not renamed."));
    QString text = QStringLiteral("sub/a.txt");
    f.window->LocalFilesEdited(row, text);
    QVERIFY(!RenameInProgress);
    QCOMPARE(text, QStringLiteral("a.txt"));
    QCOMPARE(f.model().row(row).name, QStringLiteral("a.txt"));
    QVERIFY(QFileInfo::exists(f.path("a.txt")));
    QVERIFY(!QFileInfo::exists(f.path("sub/a.txt")));
    f.prompter.verifyDone();
}

void TestLocalCommands::failedRenameKeepsTheRealName()
{
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path("a.txt"), "A") && writeFile(f.path("b.txt"), "B"));
    f.window->setLocalFolder(f.root);
    const int row = f.rowOf("a.txt");
    bool allow = false;
    f.window->LocalFilesEditing(row, allow);
    f.prompter.expectBeep(MB_ICONEXCLAMATION)
        .expectMessage(QStringLiteral("\"a.txt\" could not be renamed to \"b.txt\": %1.")
                           .arg(QString::fromLocal8Bit(std::strerror(EEXIST))));
    QString text = QStringLiteral("b.txt");
    f.window->LocalFilesEdited(row, text);
    QVERIFY(!RenameInProgress);
    QCOMPARE(text, QStringLiteral("a.txt"));
    QCOMPARE(f.model().row(row).name, QStringLiteral("a.txt"));
    QFile b(f.path("b.txt"));
    QVERIFY(b.open(QIODevice::ReadOnly));
    QCOMPARE(b.readAll(), QByteArray("B"));
    f.prompter.verifyDone();
}

void TestLocalCommands::deleteRemovesReadOnlyFilesAndTrees()
{
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path("locked.txt")) && makeReadOnly(f.path("locked.txt")));
    QVERIFY(QDir(f.root).mkpath("tree/inner"));
    QVERIFY(writeFile(f.path("tree/inner/ro.txt")) && makeReadOnly(f.path("tree/inner/ro.txt")));
    QVERIFY(writeFile(f.path("tree/.dot")) && makeReadOnly(f.path("tree/.dot")));
    QVERIFY(writeFile(f.path("stays.txt")));
    f.window->setLocalFolder(f.root);
    f.select({"locked.txt", "tree"});
    f.prompter.expectBeep(MB_ICONQUESTION).expectYesNoStartingWith(kConfirmDelete, true);
    f.window->mnuLocalDeleteClick();
    QCOMPARE(f.rowNames(), QStringList{"stays.txt"});
    QVERIFY(!QFileInfo::exists(f.path("tree")));
    QVERIFY(!QFileInfo::exists(f.path("locked.txt")));
    f.prompter.verifyDone();
}

void TestLocalCommands::deleteAnsweredNoKeepsEverything()
{
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path("a")) && QDir(f.root).mkdir("d"));
    f.window->setLocalFolder(f.root);
    f.select({"a", "d"});
    f.prompter.expectBeep(MB_ICONQUESTION).expectYesNoStartingWith(kConfirmDelete, false);
    f.window->mnuLocalDeleteClick();
    QVERIFY(QFileInfo::exists(f.path("a")) && QFileInfo::exists(f.path("d")));
    QCOMPARE(f.rowNames(), (QStringList{"d", "a"}));
    f.prompter.verifyDone();
}

void TestLocalCommands::deleteQuestionNamesPaneCountAndNames_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("said");
    QTest::addColumn<bool>("defaultNo");
    QTest::newRow("one file") << QStringList{"a.txt"} << QStringList{}
                              << "Local Files: 1 file\n\"a.txt\"" << false;
    QTest::newRow("a tree and a file")
        << QStringList{"a.txt"} << QStringList{"tree"}
        << "Local Files: 1 folder with everything in it and 1 file\n\"tree\", \"a.txt\"" << true;
    QTest::newRow("many files") << QStringList{"f1", "f2", "f3", "f4", "f5", "f6"} << QStringList{}
                                << "Local Files: 6 files\n\"f1\", \"f2\", \"f3\", \"f4\" and 2 more"
                                << false;
    QTest::newRow("two trees") << QStringList{} << QStringList{"d1", "d2"}
                               << "Local Files: 2 folders with everything in them\n\"d1\", \"d2\""
                               << true;
}

// Both panes can show a folder of the same name: the question says which side and what, and
// Enter must not delete a tree.
void TestLocalCommands::deleteQuestionNamesPaneCountAndNames()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, folders);
    QFETCH(QString, said);
    QFETCH(bool, defaultNo);
    LocalPaneFixture f;
    for (const QString& name : files)
        QVERIFY(writeFile(f.path(name)));
    for (const QString& name : folders)
        QVERIFY(QDir(f.root).mkdir(name));
    f.window->setLocalFolder(f.root);
    f.select(files + folders);
    f.prompter.expectBeep(MB_ICONQUESTION).expectYesNo(kConfirmDelete + "\n\n" + said, false);
    f.window->mnuLocalDeleteClick();
    QVERIFY(f.prompter.verifyDone());
    QCOMPARE(f.prompter.seen().last().defaultNo, defaultNo);
    QCOMPARE(f.model().rowCount(), files.size() + folders.size());
}

void TestLocalCommands::deleteWithoutASelectionWarns()
{
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path("a")));
    f.window->setLocalFolder(f.root);
    f.list().selectionModel()->clearSelection();
    f.prompter.expectBeep(MB_ICONEXCLAMATION).expectMessage(kNoFiles);
    f.window->mnuLocalDeleteClick();
    QVERIFY(QFileInfo::exists(f.path("a")));
    f.prompter.verifyDone();
}

void TestLocalCommands::deleteStopsAtAFolderThatCannotBeRemoved()
{
    LocalPaneFixture f;
    // In list order: the folder that goes, the folder that can't, then a folder and a file
    // that must stay because the command stops before them.
    QDir d(f.root);
    QVERIFY(d.mkpath("a_goes/x") && d.mkpath("b_stuck/locked") && d.mkdir("c_later"));
    QVERIFY(writeFile(f.path("b_stuck/locked/file.txt")));
    QVERIFY(writeFile(f.path("d_later.txt")));
    QVERIFY(::chmod(QFile::encodeName(f.path("b_stuck/locked")).constData(), 0555) == 0);
    QVERIFY(chownTree(f.path("a_goes"), kUnprivilegedUid));
    QVERIFY(openToEveryone(f.root) && openToEveryone(f.path("b_stuck")));
    f.window->setLocalFolder(f.root);
    f.select({"a_goes", "b_stuck", "c_later", "d_later.txt"});
    f.prompter.expectBeep(MB_ICONQUESTION).expectYesNoStartingWith(kConfirmDelete, true);
    f.prompter.expectMessage(
        QStringLiteral("\"%1\" could not be deleted: %2.")
            .arg(f.path("b_stuck"), QString::fromLocal8Bit(std::strerror(ENOTEMPTY))));
    {
        RunAsUnprivileged unprivileged;
        if (!unprivileged.ok())
            QSKIP("can't drop to an unprivileged user to meet a folder that refuses deletes");
        f.window->mnuLocalDeleteClick();
    }
    QVERIFY(!QFileInfo::exists(f.path("a_goes")));
    QVERIFY(QFileInfo::exists(f.path("b_stuck/locked/file.txt")));
    QVERIFY(QFileInfo::exists(f.path("c_later")));
    QVERIFY(QFileInfo::exists(f.path("d_later.txt")));
    // The list shows the disk as it is now.
    QCOMPARE(f.rowNames(), (QStringList{"b_stuck", "c_later", "d_later.txt"}));
    QVERIFY(!QApplication::overrideCursor());
    f.prompter.verifyDone();
}

void TestLocalCommands::newFolderKeepsBlanksAroundTheName()
{
    LocalPaneFixture f;
    f.window->setLocalFolder(f.root);
    LocalFocused = true;
    f.prompter.expectInput(QStringLiteral("Create New Folder"), QStringLiteral("  spaced  "));
    f.window->btnNewFolderClick();
    QVERIFY(QFileInfo(f.path("  spaced  ")).isDir());
    QCOMPARE(f.rowNames(), QStringList{"  spaced  "});
    f.prompter.verifyDone();
}

void TestLocalCommands::newFolderThatCannotBeCreatedWarns()
{
    LocalPaneFixture f;
    QVERIFY(QDir(f.root).mkdir("exists"));
    f.window->setLocalFolder(f.root);
    f.prompter.expectBeep(MB_ICONEXCLAMATION)
        .expectMessage(QStringLiteral("The directory \"%1\" could not be created: %2.")
                           .arg(f.path("exists"), QString::fromLocal8Bit(std::strerror(EEXIST))));
    f.window->localNewFolder(QStringLiteral("exists"));
    QCOMPARE(f.rowNames(), QStringList{"exists"});
    f.prompter.verifyDone();
}

void TestLocalCommands::failuresInAReadOnlyFolderSayWhatWhereAndWhy_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("message"); // %1: the read-only folder, %2: "File access denied"
    QTest::addColumn<bool>("beep");
    QTest::newRow("delete a file") << "delete"
                                   << "a.txt"
                                   << "\"%1/a.txt\" could not be deleted: %2." << false;
    QTest::newRow("delete a folder") << "delete"
                                     << "sub"
                                     << "\"%1/sub\" could not be deleted: %2." << false;
    QTest::newRow("delete two files") << "delete"
                                      << "a.txt,b.txt"
                                      << "\"%1/a.txt\" could not be deleted: %2.\n"
                                         "\"%1/b.txt\" could not be deleted: %2."
                                      << false;
    // A folder that stays ends the delete, before the file below it in the list.
    QTest::newRow("delete both") << "delete"
                                 << "a.txt,sub"
                                 << "\"%1/sub\" could not be deleted: %2." << false;
    QTest::newRow("rename") << "rename"
                            << "a.txt"
                            << "\"a.txt\" could not be renamed to \"c.txt\": %2." << true;
    QTest::newRow("new folder") << "new folder"
                                << "new"
                                << "The directory \"%1/new\" could not be created: %2." << true;
}

void TestLocalCommands::failuresInAReadOnlyFolderSayWhatWhereAndWhy()
{
    QFETCH(QString, command);
    QFETCH(QString, entry);
    QFETCH(QString, message);
    QFETCH(bool, beep);
    LocalPaneFixture f;
    const QString folder = f.path("ro");
    QVERIFY(QDir(f.root).mkpath("ro/sub") && writeFile(f.path("ro/a.txt"), "kept") &&
            writeFile(f.path("ro/b.txt"), "kept"));
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
    QVERIFY(openToEveryone(f.root));
    f.window->setLocalFolder(folder);
    const QStringList before{"sub", "a.txt", "b.txt"};
    QCOMPARE(f.rowNames(), before);
    if (command == "delete") {
        f.select(entry.split(','));
        f.prompter.expectBeep(MB_ICONQUESTION).expectYesNoStartingWith(kConfirmDelete, true);
    }
    if (beep)
        f.prompter.expectBeep(MB_ICONEXCLAMATION);
    f.prompter.expectMessage(
        message.replace("%1", folder).replace("%2", QStringLiteral("File access denied")));
    {
        RunAsUnprivileged unprivileged;
        if (!unprivileged.ok())
            QSKIP("can't drop to an unprivileged user to meet a read-only folder");
        if (command == "delete") {
            f.window->mnuLocalDeleteClick();
        } else if (command == "rename") {
            const int row = f.rowOf(entry);
            bool allow = false;
            f.window->LocalFilesEditing(row, allow);
            QString text = QStringLiteral("c.txt");
            f.window->LocalFilesEdited(row, text);
            QCOMPARE(text, entry);
        } else {
            f.window->localNewFolder(entry);
        }
    }
    // Nothing changed on disk, and the list says so.
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"a.txt", "b.txt", "sub"}));
    QCOMPARE(f.rowNames(), before);
    QVERIFY(!QApplication::overrideCursor());
    f.prompter.verifyDone();
}

QTEST_MAIN(TestLocalCommands)
#include "tst_localcommands.moc"
