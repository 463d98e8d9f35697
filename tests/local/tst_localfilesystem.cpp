#include "LocalTestFs.h"
#include "common/FileSystemError.h"
#include "local/LocalDelete.h"
#include "local/LocalFolder.h"
#include "local/LocalListing.h"
#include "local/LocalOps.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <memory>

using namespace localtest;

// The local pane's file-system layer: listing, entering folders, deleting trees, renaming
// and creating, and the texts of the errors that end a command.
class TestLocalFileSystem : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void listingShowsHiddenEntriesButNeverDots();
    void listingRowsFollowTheRowForm_data();
    void listingRowsFollowTheRowForm();
    void listingKeepsTheFullSizeOfAHugeFile();
    void listingOfAnUnreadableFolderIsEmpty();
    void listingPumpsDuringALongListing();

    void ignoredFolderRequests_data();
    void ignoredFolderRequests();
    void enteringResolvesRelativeAndUpForms();
    void upAtTheRootStaysAtTheRoot();
    void folderThatCannotBeEnteredKeepsTheCurrentOne_data();
    void folderThatCannotBeEnteredKeepsTheCurrentOne();
    void folderChainRunsFromTheRootDown_data();
    void folderChainRunsFromTheRootDown();
    void subfoldersIncludeHiddenAndLinkedFolders();

    void errorTexts_data();
    void errorTexts();

    void deleteRemovesReadOnlyFilesAndFolders();
    void deleteRemovesALinkButNotWhereItPoints();
    void deleteOfTreeWithLinkLeavesTheLinkedTreeAlone();
    void deleteThatCannotRemoveAFolderThrows();
    void deleteOfAMissingFolderThrows();

    void renameStaysInTheFolder_data();
    void renameStaysInTheFolder();
    void newFolderKeepsTheNameAsTyped();

private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    QStringList listedNames(const QString& folder) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDir;
};

void TestLocalFileSystem::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_startDir = QDir::currentPath();
}

void TestLocalFileSystem::cleanup()
{
    QDir::setCurrent(m_startDir);
    unlockTree(m_dir->path());
    m_dir.reset();
}

QStringList TestLocalFileSystem::listedNames(const QString& folder) const
{
    QStringList names;
    for (const FileListRow& row : listLocalFolder(folder))
        names << row.name;
    names.sort();
    return names;
}

void TestLocalFileSystem::listingShowsHiddenEntriesButNeverDots()
{
    QVERIFY(writeFile(path(".profile")));
    QVERIFY(writeFile(path("visible.txt")));
    QVERIFY(QDir(m_dir->path()).mkdir(".cache"));
    QVERIFY(writeFile(path("readonly.txt")));
    QVERIFY(makeReadOnly(path("readonly.txt")));
    QCOMPARE(listedNames(m_dir->path()),
             (QStringList{".cache", ".profile", "readonly.txt", "visible.txt"}));
}

void TestLocalFileSystem::listingRowsFollowTheRowForm_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<int>("image");
    QTest::addColumn<QString>("sizeText");
    QTest::newRow("folder named like an archive") << "old.zip" << true << kFolderImage << "";
    QTest::newRow("archive with a later suffix")
        << "backup.zip.bak" << false << kArchiveImage << "3";
    QTest::newRow("upper-case archive") << "DATA.ZIP" << false << kArchiveImage << "3";
    QTest::newRow("zip inside a word") << "my.zipper" << false << kArchiveImage << "3";
    QTest::newRow("plain file") << "notes.txt" << false << kFileImage << "3";
    QTest::newRow("empty file") << "empty" << false << kFileImage << "0";
    QTest::newRow("blanks kept") << "  spaced name  " << false << kFileImage << "3";
}

void TestLocalFileSystem::listingRowsFollowTheRowForm()
{
    QFETCH(QString, name);
    QFETCH(bool, folder);
    QFETCH(int, image);
    QFETCH(QString, sizeText);
    if (folder)
        QVERIFY(QDir(m_dir->path()).mkdir(name));
    else
        QVERIFY(writeFile(path(name), sizeText == "0" ? QByteArray() : QByteArray("abc")));
    const std::vector<FileListRow> rows = listLocalFolder(m_dir->path());
    QCOMPARE(rows.size(), size_t(1));
    QCOMPARE(rows[0].name, name);
    QCOMPARE(rows[0].imageIndex, image);
    QCOMPARE(rows[0].sizeText(), sizeText);
    QVERIFY(!rows[0].modifiedText.isEmpty());
}

void TestLocalFileSystem::listingKeepsTheFullSizeOfAHugeFile()
{
    // A sparse file: 5 GiB long without using the disk space.
    const qint64 fiveGiB = qint64(5) << 30;
    QFile f(path("huge.iso"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    if (!f.resize(fiveGiB))
        QSKIP("this file system can't hold a sparse 5 GiB file");
    f.close();
    const std::vector<FileListRow> rows = listLocalFolder(m_dir->path());
    QCOMPARE(rows.size(), size_t(1));
    QCOMPARE(rows[0].sizeText(), QStringLiteral("5368709120"));
    QCOMPARE(rows[0].size, fiveGiB);
}

void TestLocalFileSystem::listingOfAnUnreadableFolderIsEmpty()
{
    QVERIFY(listLocalFolder(path("missing")).empty());
    QVERIFY(writeFile(path("plain")));
    QVERIFY(listLocalFolder(path("plain")).empty());
}

void TestLocalFileSystem::listingPumpsDuringALongListing()
{
    QVERIFY(QDir(m_dir->path()).mkdir("many"));
    for (int i = 0; i < 3000; ++i)
        QVERIFY(writeFile(path(QStringLiteral("many/f%1").arg(i))));
    int pumps = 0;
    int visited = 0;
    enumerateLocalFolder(
        path("many"),
        [&](const char*, const struct stat&) {
            ++visited;
            QTest::qSleep(visited % 500 == 0 ? 20 : 0); // some entries are slow to describe
        },
        [&] { ++pumps; });
    QCOMPARE(visited, 3000);
    QVERIFY2(pumps >= 3, qPrintable(QString::number(pumps)));
}

void TestLocalFileSystem::ignoredFolderRequests_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ignored");
    QTest::newRow("empty") << "/home"
                           << "" << true;
    QTest::newRow("same path") << "/home/ann"
                               << "/home/ann" << true;
    QTest::newRow("other letter case") << "/home/ann"
                                       << "/home/Ann" << false;
    QTest::newRow("up form at root") << "/"
                                     << ".." << false;
    QTest::newRow("trailing slash") << "/home/ann"
                                    << "/home/ann/" << false;
    QTest::newRow("relative") << "/home"
                              << "ann" << false;
}

void TestLocalFileSystem::ignoredFolderRequests()
{
    QFETCH(QString, current);
    QFETCH(QString, text);
    QFETCH(bool, ignored);
    QCOMPARE(localFolderRequestIgnored(current, text), ignored);
}

void TestLocalFileSystem::enteringResolvesRelativeAndUpForms()
{
    QVERIFY(QDir(m_dir->path()).mkpath("a/b"));
    const QString root = QFileInfo(m_dir->path()).canonicalFilePath();
    QCOMPARE(enterLocalFolder(m_dir->path()), root);
    QCOMPARE(enterLocalFolder(QStringLiteral("a")), root + "/a");
    QCOMPARE(enterLocalFolder(QStringLiteral("b")), root + "/a/b");
    QCOMPARE(currentLocalDirectory(), root + "/a/b");
    QCOMPARE(enterLocalFolder(kLocalFolderUp), root + "/a");
    QCOMPARE(QDir::currentPath(), root + "/a");
}

void TestLocalFileSystem::upAtTheRootStaysAtTheRoot()
{
    QCOMPARE(enterLocalFolder(QStringLiteral("/")), QStringLiteral("/"));
    QVERIFY(!localFolderRequestIgnored(QStringLiteral("/"), kLocalFolderUp));
    QCOMPARE(enterLocalFolder(kLocalFolderUp), QStringLiteral("/"));
}

void TestLocalFileSystem::folderThatCannotBeEnteredKeepsTheCurrentOne_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing") << "missing"
                             << "File not found";
    QTest::newRow("a file") << "plain.txt"
                            << "Invalid filename";
    QTest::newRow("no permission") << "locked"
                                   << "File access denied";
}

void TestLocalFileSystem::folderThatCannotBeEnteredKeepsTheCurrentOne()
{
    QFETCH(QString, target);
    QFETCH(QString, text);
    QVERIFY(writeFile(path("plain.txt")));
    QVERIFY(QDir(m_dir->path()).mkdir("locked"));
    QVERIFY(::chmod(QFile::encodeName(path("locked")).constData(), 0700) == 0);
    QVERIFY(openToEveryone(m_dir->path()));
    const QString before = enterLocalFolder(m_dir->path());
    RunAsUnprivileged unprivileged;
    if (!unprivileged.ok())
        QSKIP("can't drop to an unprivileged user to meet a folder that refuses entry");
    try {
        enterLocalFolder(target);
        QFAIL("entering should have failed");
    } catch (const FileSystemError& e) {
        QCOMPARE(e.text(), text);
    }
    QCOMPARE(currentLocalDirectory(), before);
}

void TestLocalFileSystem::folderChainRunsFromTheRootDown_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("chain");
    QTest::newRow("root") << "/" << QStringList{"/"};
    QTest::newRow("one level") << "/home" << QStringList{"/", "/home"};
    QTest::newRow("deep") << "/home/ann/My Docs"
                          << QStringList{"/", "/home", "/home/ann", "/home/ann/My Docs"};
}

void TestLocalFileSystem::folderChainRunsFromTheRootDown()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, chain);
    QCOMPARE(folderChain(folder), chain);
}

void TestLocalFileSystem::subfoldersIncludeHiddenAndLinkedFolders()
{
    QDir d(m_dir->path());
    QVERIFY(d.mkdir("beta") && d.mkdir("Alpha") && d.mkdir(".config") && d.mkdir("alpha"));
    QVERIFY(writeFile(path("file.txt")));
    QVERIFY(QFile::link(path("beta"), path("link-to-beta")));
    QVERIFY(QFile::link(path("file.txt"), path("link-to-file")));
    QCOMPARE(subfolderNames(m_dir->path()),
             (QStringList{".config", "Alpha", "alpha", "beta", "link-to-beta"}));
    QVERIFY(subfolderNames(path("missing")).isEmpty());
}

void TestLocalFileSystem::errorTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("not found") << ENOENT << "File not found";
    QTest::newRow("not a folder") << ENOTDIR << "Invalid filename";
    QTest::newRow("name too long") << ENAMETOOLONG << "Invalid filename";
    QTest::newRow("process limit") << EMFILE << "Too many open files";
    QTest::newRow("system limit") << ENFILE << "Too many open files";
    QTest::newRow("access") << EACCES << "File access denied";
    QTest::newRow("permission") << EPERM << "File access denied";
    QTest::newRow("not empty") << ENOTEMPTY << QString::fromLocal8Bit(strerror(ENOTEMPTY));
    QTest::newRow("read-only fs") << EROFS << QString::fromLocal8Bit(strerror(EROFS));
}

void TestLocalFileSystem::errorTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(ioErrorText(code), text);
    const FileSystemError e(code);
    QCOMPARE(e.code(), code);
    QCOMPARE(e.text(), text);
    QCOMPARE(QString::fromUtf8(e.what()), text);
}

void TestLocalFileSystem::deleteRemovesReadOnlyFilesAndFolders()
{
    QDir d(m_dir->path());
    QVERIFY(d.mkpath("tree/sub/deeper"));
    QVERIFY(writeFile(path("tree/a.txt")) && makeReadOnly(path("tree/a.txt")));
    QVERIFY(writeFile(path("tree/sub/.hidden")) && makeReadOnly(path("tree/sub/.hidden")));
    QVERIFY(writeFile(path("tree/sub/deeper/b")));
    QVERIFY(::chmod(QFile::encodeName(path("tree/sub")).constData(), 0555) == 0);
    QVERIFY(writeFile(path("single.txt")) && makeReadOnly(path("single.txt")));
    // Run as the tree's ordinary owner: root ignores permissions, so only an owner shows
    // that the read-only folder is opened up before it is emptied.
    QVERIFY(openToEveryone(m_dir->path()));
    QVERIFY(chownTree(path("tree"), kUnprivilegedUid));
    QVERIFY(chownTree(path("single.txt"), kUnprivilegedUid));
    RunAsUnprivileged unprivileged;
    if (!unprivileged.ok())
        QSKIP("can't drop to an unprivileged user");
    DeleteLocalFolder(path("tree"));
    deleteLocalFile(path("single.txt"));
    QVERIFY(listLocalFolder(m_dir->path()).empty());
}

void TestLocalFileSystem::deleteRemovesALinkButNotWhereItPoints()
{
    QVERIFY(QDir(m_dir->path()).mkdir("precious"));
    QVERIFY(writeFile(path("precious/keep.txt")));
    QVERIFY(QFile::link(path("precious"), path("shortcut")));
    DeleteLocalFolder(path("shortcut"));
    QVERIFY(!QFileInfo::exists(path("shortcut")));
    QVERIFY(QFileInfo::exists(path("precious/keep.txt")));
}

void TestLocalFileSystem::deleteOfTreeWithLinkLeavesTheLinkedTreeAlone()
{
    QDir d(m_dir->path());
    QVERIFY(d.mkdir("precious") && d.mkdir("tree"));
    QVERIFY(writeFile(path("precious/keep.txt")));
    QVERIFY(QFile::link(path("precious"), path("tree/link")));
    QVERIFY(QFile::link(path("precious/keep.txt"), path("tree/filelink")));
    DeleteLocalFolder(path("tree"));
    QVERIFY(!QFileInfo::exists(path("tree")));
    QVERIFY(QFileInfo::exists(path("precious/keep.txt")));
}

void TestLocalFileSystem::deleteThatCannotRemoveAFolderThrows()
{
    QDir d(m_dir->path());
    QVERIFY(d.mkpath("tree/locked"));
    QVERIFY(writeFile(path("tree/locked/stuck.txt")));
    QVERIFY(::chmod(QFile::encodeName(path("tree/locked")).constData(), 0555) == 0);
    QVERIFY(openToEveryone(m_dir->path()));
    QVERIFY(openToEveryone(path("tree")));
    RunAsUnprivileged unprivileged;
    if (!unprivileged.ok())
        QSKIP("can't drop to an unprivileged user to meet a folder that refuses deletes");
    try {
        DeleteLocalFolder(path("tree"));
        QFAIL("the delete should have failed");
    } catch (const FileSystemError& e) {
        // The selected folder's own failure is the one shown: it is still not empty.
        QCOMPARE(e.code(), ENOTEMPTY);
    }
    QVERIFY(QFileInfo::exists(path("tree/locked/stuck.txt")));
}

void TestLocalFileSystem::deleteOfAMissingFolderThrows()
{
    try {
        DeleteLocalFolder(path("gone"));
        QFAIL("the delete should have failed");
    } catch (const FileSystemError& e) {
        QCOMPARE(e.text(), QStringLiteral("File not found"));
    }
}

void TestLocalFileSystem::renameStaysInTheFolder_data()
{
    QTest::addColumn<QString>("newName");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("names");
    const auto r = [](LocalRenameResult x) { return static_cast<int>(x); };
    QTest::newRow("plain") << "b.txt" << r(LocalRenameResult::Renamed)
                           << QStringList{"b.txt", "other.txt", "sub"};
    QTest::newRow("blanks kept") << " b " << r(LocalRenameResult::Renamed)
                                 << QStringList{" b ", "other.txt", "sub"};
    QTest::newRow("into a subfolder") << "sub/a.txt" << r(LocalRenameResult::RefusedPath)
                                      << QStringList{"a.txt", "other.txt", "sub"};
    QTest::newRow("absolute path") << "/tmp/a.txt" << r(LocalRenameResult::RefusedPath)
                                   << QStringList{"a.txt", "other.txt", "sub"};
    QTest::newRow("onto an existing file")
        << "other.txt" << r(LocalRenameResult::Failed) << QStringList{"a.txt", "other.txt", "sub"};
    QTest::newRow("onto a folder")
        << "sub" << r(LocalRenameResult::Failed) << QStringList{"a.txt", "other.txt", "sub"};
    QTest::newRow("empty") << "" << r(LocalRenameResult::Failed)
                           << QStringList{"a.txt", "other.txt", "sub"};
}

void TestLocalFileSystem::renameStaysInTheFolder()
{
    QFETCH(QString, newName);
    QFETCH(int, result);
    QFETCH(QStringList, names);
    QVERIFY(writeFile(path("a.txt"), "original"));
    QVERIFY(writeFile(path("other.txt"), "other"));
    QVERIFY(QDir(m_dir->path()).mkdir("sub"));
    enterLocalFolder(m_dir->path());
    QCOMPARE(static_cast<int>(renameLocalEntry(QStringLiteral("a.txt"), newName)), result);
    QCOMPARE(listedNames(m_dir->path()), names);
    QFile other(path("other.txt"));
    QVERIFY(other.open(QIODevice::ReadOnly));
    QCOMPARE(other.readAll(), QByteArray("other"));
}

void TestLocalFileSystem::newFolderKeepsTheNameAsTyped()
{
    QVERIFY(createLocalFolder(m_dir->path(), QStringLiteral("  padded  ")));
    QVERIFY(QFileInfo(path("  padded  ")).isDir());
    QVERIFY(!createLocalFolder(m_dir->path(), QStringLiteral("  padded  ")));
    QVERIFY(!createLocalFolder(path("missing"), QStringLiteral("x")));
    QVERIFY(createLocalFolder(m_dir->path() + "/", QStringLiteral("trailing")));
    QVERIFY(QFileInfo(path("trailing")).isDir());
}

QTEST_GUILESS_MAIN(TestLocalFileSystem)
#include "tst_localfilesystem.moc"
