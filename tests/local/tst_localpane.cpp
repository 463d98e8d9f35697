#include "LocalPaneFixture.h"
#include "local/ui/LocalPaneState.h"

#include <QComboBox>
#include <QListWidget>
#include <QSignalSpy>
#include <QTimer>

using namespace localtest;

// The local pane's folders: listing into LocalFiles and LocalHeader, entering folders from
// the list, the folder tree and the drive picker, and the rules for setting the folder.
class TestLocalPane : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();

    void listingShowsTheFolderSortedWithHiddenEntries();
    void columnClicksSortTheLocalList();
    void doubleClickEntersAFolder();
    void upAndBackspaceGoToTheParent();
    void upAtTheRootListsTheRootAgain();
    void settingTheSameFolderDoesNothing_data();
    void settingTheSameFolderDoesNothing();
    void folderThatCannotBeEnteredShowsTheErrorAndStays();
    void folderTreeShowsTheChainThenSubfolders();
    void enterInTheFolderTreeEntersTheFolder();
    void drivePickerRemembersTheFolderPerVolume();
    void longListingKeepsTheWindowResponsive();
    void folderChangeDuringAListingShowsTheNewFolder();
};

void TestLocalPane::cleanup()
{
    QVERIFY(QApplication::topLevelWidgets().isEmpty() ||
            std::none_of(QApplication::topLevelWidgets().cbegin(),
                         QApplication::topLevelWidgets().cend(),
                         [](QWidget* w) { return w->isVisible(); }));
}

void TestLocalPane::listingShowsTheFolderSortedWithHiddenEntries()
{
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path("b.txt")) && writeFile(f.path(".hidden")));
    QVERIFY(writeFile(f.path("B.txt")) && writeFile(f.path("backup.zip.bak")));
    QVERIFY(QDir(f.root).mkdir("old.zip") && QDir(f.root).mkdir("Zeta"));
    f.window->setLocalFolder(f.root);
    QCOMPARE(f.window->currentLocalFolder(), f.root);
    QCOMPARE(QDir::currentPath(), f.root);
    QCOMPARE(f.window->LocalHeader->text(), f.root);
    // Folders first, then byte order: upper case before lower case, '.' before letters.
    QCOMPARE(f.rowNames(),
             (QStringList{"Zeta", "old.zip", ".hidden", "B.txt", "b.txt", "backup.zip.bak"}));
    const FileListRow& folder = f.model().row(f.rowOf("old.zip"));
    QCOMPARE(folder.imageIndex, kFolderImage);
    QVERIFY(folder.sizeText().isEmpty());
    QCOMPARE(f.model().row(f.rowOf("backup.zip.bak")).imageIndex, kArchiveImage);
    f.prompter.verifyDone();
}

void TestLocalPane::columnClicksSortTheLocalList()
{
    LocalPaneFixture f;
    QVERIFY(writeFile(f.path("small"), "1") && writeFile(f.path("large"), "12345"));
    QVERIFY(QDir(f.root).mkdir("dir"));
    LocalSort = 0;
    f.window->setLocalFolder(f.root);
    f.window->LocalFilesColumnClick(1); // Size
    QCOMPARE(LocalSort, 2);
    QCOMPARE(f.rowNames(), (QStringList{"dir", "small", "large"}));
    f.window->LocalFilesColumnClick(1);
    QCOMPARE(LocalSort, -2);
    QCOMPARE(f.rowNames(), (QStringList{"dir", "large", "small"}));
    f.window->LocalFilesColumnClick(0);
    QCOMPARE(LocalSort, 1);
    QCOMPARE(f.rowNames(), (QStringList{"dir", "large", "small"}));
    // A refresh keeps the chosen order.
    f.window->ListLocalFiles();
    QCOMPARE(f.rowNames(), (QStringList{"dir", "large", "small"}));
}

void TestLocalPane::doubleClickEntersAFolder()
{
    LocalPaneFixture f;
    QVERIFY(QDir(f.root).mkpath("sub/inner") && writeFile(f.path("sub/x.txt")));
    f.window->setLocalFolder(f.root);
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    const QRect cell = f.list().visualRect(f.model().index(f.rowOf("sub"), 0));
    QTest::mouseClick(f.list().viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(f.list().viewport(), Qt::LeftButton, {}, cell.center());
    QTRY_COMPARE(f.window->currentLocalFolder(), f.path("sub"));
    QCOMPARE(f.window->LocalHeader->text(), f.path("sub"));
    QCOMPARE(f.rowNames(), (QStringList{"inner", "x.txt"}));
    f.window->hide();
    f.prompter.verifyDone();
}

void TestLocalPane::upAndBackspaceGoToTheParent()
{
    LocalPaneFixture f;
    QVERIFY(QDir(f.root).mkpath("a/b/c"));
    f.window->setLocalFolder(f.path("a/b/c"));
    f.window->localUpOneLevel();
    QCOMPARE(f.window->currentLocalFolder(), f.path("a/b"));
    QCOMPARE(f.rowNames(), QStringList{"c"});
    QTest::keyClick(&f.list(), Qt::Key_Backspace);
    QCOMPARE(f.window->currentLocalFolder(), f.path("a"));
    QTest::keyClick(f.window->LocalFolders, Qt::Key_Backspace);
    QCOMPARE(f.window->currentLocalFolder(), f.root);
    f.prompter.verifyDone();
}

void TestLocalPane::upAtTheRootListsTheRootAgain()
{
    LocalPaneFixture f;
    f.window->setLocalFolder(QStringLiteral("/"));
    QCOMPARE(f.window->LocalHeader->text(), QStringLiteral("/"));
    QSignalSpy listed(&f.model(), &QAbstractItemModel::modelReset);
    f.window->localUpOneLevel();
    QCOMPARE(f.window->currentLocalFolder(), QStringLiteral("/"));
    QCOMPARE(f.window->LocalHeader->text(), QStringLiteral("/"));
    QVERIFY(listed.count() >= 1);
    QVERIFY(f.rowNames().contains(QStringLiteral("tmp")));
    QVERIFY(!f.rowNames().contains(QStringLiteral("..")));
    f.prompter.verifyDone();
}

void TestLocalPane::settingTheSameFolderDoesNothing_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("same path") << "=";
}

void TestLocalPane::settingTheSameFolderDoesNothing()
{
    QFETCH(QString, text);
    LocalPaneFixture f;
    f.window->setLocalFolder(f.root);
    QVERIFY(writeFile(f.path("new.txt")));
    QSignalSpy listed(&f.model(), &QAbstractItemModel::modelReset);
    f.window->setLocalFolder(text == "=" ? f.root : text);
    QCOMPARE(listed.count(), 0);
    QVERIFY(!f.rowNames().contains("new.txt"));
    f.prompter.verifyDone();
}

void TestLocalPane::folderThatCannotBeEnteredShowsTheErrorAndStays()
{
    LocalPaneFixture f;
    f.window->setLocalFolder(f.root);
    QSignalSpy listed(&f.model(), &QAbstractItemModel::modelReset);
    // Names differ by letter case only on Linux's case-sensitive file systems.
    const QString otherCase = f.root.toUpper() == f.root ? f.root + "x" : f.root.toUpper();
    f.prompter.expectMessage(QStringLiteral("File not found"));
    f.window->setLocalFolder(otherCase);
    QVERIFY(writeFile(f.path("plain")));
    f.prompter.expectMessage(QStringLiteral("Invalid filename"));
    f.window->setLocalFolder(QStringLiteral("plain"));
    QCOMPARE(f.window->currentLocalFolder(), f.root);
    QCOMPARE(QDir::currentPath(), f.root);
    QCOMPARE(listed.count(), 0);
    QVERIFY(!QApplication::overrideCursor());
    f.prompter.verifyDone();
}

void TestLocalPane::folderTreeShowsTheChainThenSubfolders()
{
    LocalPaneFixture f;
    QVERIFY(QDir(f.root).mkpath("top/one") && QDir(f.root).mkpath("top/Two"));
    QVERIFY(writeFile(f.path("top/file.txt")));
    f.window->setLocalFolder(f.path("top"));
    QListWidget* folders = f.window->LocalFolders;
    QStringList texts;
    for (int i = 0; i < folders->count(); ++i)
        texts << folders->item(i)->text();
    QStringList expected{"/"};
    expected += f.path("top").split('/', Qt::SkipEmptyParts);
    expected += QStringList{"one", "Two"};
    QCOMPARE(texts, expected);
    QCOMPARE(folders->currentItem()->text(), QStringLiteral("top"));
    QCOMPARE(folders->item(0)->sizeHint().height(), 17);
    // The subfolders sit one step below the current folder.
    const int chainLength = static_cast<int>(expected.size()) - 2;
    QCOMPARE(folders->item(chainLength - 1)->data(LocalPaneState::FolderDepthRole).toInt(),
             chainLength - 1);
    QCOMPARE(folders->item(chainLength)->data(LocalPaneState::FolderDepthRole).toInt(),
             chainLength);
}

void TestLocalPane::enterInTheFolderTreeEntersTheFolder()
{
    LocalPaneFixture f;
    QVERIFY(QDir(f.root).mkpath("here/there"));
    f.window->setLocalFolder(f.path("here"));
    QListWidget* folders = f.window->LocalFolders;
    folders->setCurrentRow(folders->count() - 1);
    QCOMPARE(folders->currentItem()->text(), QStringLiteral("there"));
    QTest::keyClick(folders, Qt::Key_Return);
    QCOMPARE(f.window->currentLocalFolder(), f.path("here/there"));
    QCOMPARE(f.window->LocalHeader->text(), f.path("here/there"));
    // A row of the chain above goes back up.
    folders->setCurrentRow(0);
    QTest::keyClick(folders, Qt::Key_Enter);
    QCOMPARE(f.window->currentLocalFolder(), QStringLiteral("/"));
}

void TestLocalPane::drivePickerRemembersTheFolderPerVolume()
{
    LocalPaneFixture f;
    QComboBox* drives = f.window->LocalDrives;
    QVERIFY(QDir(f.home()).mkdir("projects"));
    QVERIFY(QDir(f.root).mkdir("work"));
    const int homeIndex = drives->findText(f.home());
    if (homeIndex < 0)
        QSKIP("the scratch home folder is a mount point of its own here");
    QVERIFY(drives->itemText(0).startsWith(QLatin1Char('/')));
    f.window->setLocalFolder(f.path("work"));
    QVERIFY(drives->currentIndex() != homeIndex);
    const int rootVolume = drives->currentIndex();
    f.window->setLocalFolder(f.home() + "/projects");
    QCOMPARE(drives->currentIndex(), homeIndex);
    // Choosing the other volume returns to the folder last seen there, and back again.
    drives->setCurrentIndex(rootVolume);
    f.window->LocalDrivesChange();
    QCOMPARE(f.window->currentLocalFolder(), f.path("work"));
    drives->setCurrentIndex(homeIndex);
    f.window->LocalDrivesChange();
    QCOMPARE(f.window->currentLocalFolder(), f.home() + "/projects");
    // A remembered folder that has gone falls back to the volume's root.
    f.window->setLocalFolder(f.path("work"));
    QVERIFY(QDir(f.home()).rmdir("projects"));
    drives->setCurrentIndex(homeIndex);
    f.window->LocalDrivesChange();
    QCOMPARE(f.window->currentLocalFolder(), f.home());
    f.prompter.verifyDone();
}

void TestLocalPane::longListingKeepsTheWindowResponsive()
{
    LocalPaneFixture f;
    QVERIFY(QDir(f.root).mkdir("many"));
    for (int i = 0; i < 20000; ++i)
        QVERIFY(writeFile(f.path(QStringLiteral("many/file%1").arg(i)), {}));
    bool timerRan = false;
    bool listingDone = false;
    bool ranDuringListing = false;
    QTimer::singleShot(0, [&] {
        timerRan = true;
        ranDuringListing = !listingDone;
    });
    f.window->setLocalFolder(f.path("many"));
    listingDone = true;
    QCOMPARE(f.model().rowCount(), 20000);
    QTRY_VERIFY(timerRan);
    if (!ranDuringListing)
        QSKIP("the listing was too quick here to need a repaint");
}

void TestLocalPane::folderChangeDuringAListingShowsTheNewFolder()
{
    LocalPaneFixture f;
    QVERIFY(QDir(f.root).mkdir("many") && QDir(f.root).mkdir("few"));
    QVERIFY(writeFile(f.path("few/only.txt")));
    for (int i = 0; i < 20000; ++i)
        QVERIFY(writeFile(f.path(QStringLiteral("many/file%1").arg(i)), {}));
    bool switched = false;
    QTimer::singleShot(0, [&] {
        switched = true;
        f.window->setLocalFolder(f.path("few"));
    });
    f.window->setLocalFolder(f.path("many"));
    if (!switched)
        QSKIP("the listing was too quick here to take a command meanwhile");
    QCOMPARE(f.window->currentLocalFolder(), f.path("few"));
    QCOMPARE(f.window->LocalHeader->text(), f.path("few"));
    QCOMPARE(f.rowNames(), QStringList{"only.txt"});
}

QTEST_MAIN(TestLocalPane)
#include "tst_localpane.moc"
