#include "TransferTestHost.h"

#include "common/FileSystemError.h"
#include "common/OperationLock.h"
#include "transfer/FolderTransfer.h"
#include "transfer/TransferBatch.h"
#include "transfer/TransferNames.h"

#include <QRegularExpression>

#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The Upload and Download commands, folder trees and desktop drops against a real server.
class TransferBatchTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void nothingSelectedOnlyWarns_data();
    void nothingSelectedOnlyWarns();
    void cancelInSecondOfThreeStopsTheBatch();
    void folderTreeMakesTheRoundTrip();
    void cancelInsideFolderTreeComesBackUp_data();
    void cancelInsideFolderTreeComesBackUp();
    void lowerCaseAppliesToFileNamesOnly();
    void existingRemoteFolderIsReused();
    void cancelledUploadKeepsTheFileItWouldReplace();
    void folderTransfersAskAboutFilesInTheTargetFolder();
    void desktopDropUploadsFilesAndFolders();
    void lastDownloadDecidesTheLocalRebuild_data();
    void lastDownloadDecidesTheLocalRebuild();
    void serverNamesThatAreNotPlainAreRefused();
    void localErrorAbandonsCommandAndCleansUp();
    void localErrorInsideFolderStillReturnsRemoteDirectory();
    void namedPipeInsideFolderIsRefusedNotWaitedOn();
    void folderThatCannotBeEnteredUploadsNothingElsewhere();
    void linkBackToParentFolderDoesNotLoop();
    void folderDownloadNeverWritesThroughLocalLinks();
    void folderUploadNeverFollowsLocalLinks();
    void commandsAreIgnoredWhileOperationRuns();

private:
    QString serverPath(const QString& name) const { return m_serverRoot->filePath(name); }
    QString localPath(const QString& name) const { return m_localDir->filePath(name); }
    QStringList serverTree() const { return Tree(m_serverRoot->path()); }
    static QStringList Tree(const QString& root);

    std::unique_ptr<QTemporaryDir> m_serverRoot;
    std::unique_ptr<QTemporaryDir> m_localDir;
    FtpServerFixture m_server;
    TestConnection m_connection;
    std::unique_ptr<TestTransferHost> m_host;
};

QStringList TransferBatchTest::Tree(const QString& root)
{
    QStringList entries;
    const QDir base(root);
    std::function<void(const QString&)> walk = [&](const QString& folder) {
        const QFileInfoList infos = QDir(folder).entryInfoList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& info : infos) {
            if (info.isSymLink())
                continue;
            const QString relative = base.relativeFilePath(info.filePath());
            if (info.isDir()) {
                entries << relative + "/";
                walk(info.filePath());
            } else {
                entries << QStringLiteral("%1=%2").arg(relative).arg(info.size());
            }
        }
    };
    walk(root);
    return entries;
}

void TransferBatchTest::initTestCase()
{
    m_serverRoot = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_server.start(m_serverRoot->path()), qPrintable(m_server.errorOutput()));
}

void TransferBatchTest::init()
{
    CancelRequested = false;
    // The server keeps serving the same folder; it is emptied between tests.
    for (const QString& entry :
         QDir(m_serverRoot->path())
             .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        QFileInfo info(serverPath(entry));
        if (info.isDir() && !info.isSymLink())
            QDir(info.filePath()).removeRecursively();
        else
            QFile::remove(info.filePath());
    }
    m_localDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_connection.open(m_server.port()));
    m_host = std::make_unique<TestTransferHost>();
    m_host->connection = m_connection.connection;
    m_host->folder = m_localDir->path();
}

void TransferBatchTest::cleanup()
{
    QVERIFY(!m_host->busy);
    QVERIFY(!m_host->sink.visible);
    QVERIFY(!OperationRunning());
    m_connection.close();
    CancelRequested = false;
}

void TransferBatchTest::nothingSelectedOnlyWarns_data()
{
    QTest::addColumn<bool>("upload");
    QTest::newRow("upload") << true;
    QTest::newRow("download") << false;
}

void TransferBatchTest::nothingSelectedOnlyWarns()
{
    QFETCH(bool, upload);
    TestSelection rows;
    rows.add("a.txt", 1, false, false);
    if (upload)
        UploadSelection(*m_host, rows);
    else
        DownloadSelection(*m_host, rows);
    QCOMPARE(m_host->log, QStringList{"warn No files were selected."});
    QCOMPARE(m_host->sink.events, QStringList());
}

void TransferBatchTest::cancelInSecondOfThreeStopsTheBatch()
{
    TestSelection rows;
    const qint64 size = 1024 * 1024;
    for (const char* name : {"one.bin", "two.bin", "three.bin"}) {
        QVERIFY(WriteFile(localPath(name), PatternBytes(size)));
        rows.add(name, size);
    }
    // 256 blocks per file: Cancel is pressed in the second file, once the server stores it.
    m_host->sink.onUpdate = [this](int update) {
        if (update == 256 + 100)
            CancelRequested = ServerIsStoring(m_serverRoot->path(), "two.bin.*.zulftp-upload");
    };
    UploadSelection(*m_host, rows);

    // The second file was aborted, not completed: nothing of it is left on the server.
    QCOMPARE(serverTree(), QStringList{"one.bin=1048576"});
    QCOMPARE(rows.selected, (std::vector<bool>{false, false, true}));
    QCOMPARE(m_host->log, QStringList{"list remote"});
    QCOMPARE(m_host->sink.events,
             (QStringList{"bar 0", "show Uploading|Uploading \"" + localPath("one.bin") + "\"|11",
                          "bar 0", "show Uploading|Uploading \"" + localPath("two.bin") + "\"|11",
                          "bar 0", "close"}));
    // The rows the batch did not reach can simply be sent again.
    UploadSelection(*m_host, rows);
    QCOMPARE(serverTree(), (QStringList{"one.bin=1048576", "three.bin=1048576"}));
}

void TransferBatchTest::folderTreeMakesTheRoundTrip()
{
    QVERIFY(WriteFile(localPath("a/top.txt"), PatternBytes(5000)));
    QVERIFY(WriteFile(localPath("a/b/.hidden"), "h"));
    QVERIFY(WriteFile(localPath("a/b/c/deep.bin"), PatternBytes(9000, 3)));
    QVERIFY(QDir().mkpath(localPath("a/b/empty")));
    const QString before = m_connection.currentDirectory();

    TestSelection local;
    local.add("a", 0, true);
    UploadSelection(*m_host, local);
    const QStringList expected{
        "a/",         "a/b/",          "a/b/.hidden=1", "a/b/c/", "a/b/c/deep.bin=9000",
        "a/b/empty/", "a/top.txt=5000"};
    QCOMPARE(serverTree(), expected);
    QCOMPARE(m_connection.currentDirectory(), before);
    QCOMPARE(m_host->log, QStringList{"list remote"});

    QVERIFY(QDir(localPath("a")).removeRecursively());
    TestSelection remote;
    remote.add("a", 0, true);
    m_host->log.clear();
    DownloadSelection(*m_host, remote);
    QCOMPARE(Tree(m_localDir->path()), expected);
    QCOMPARE(ReadFile(localPath("a/b/c/deep.bin")), PatternBytes(9000, 3));
    QCOMPARE(m_connection.currentDirectory(), before);
    QCOMPARE(m_host->log, QStringList{"list local"});
    QVERIFY(m_host->sink.events.contains("show Downloading|Downloading a/b/c/deep.bin|11"));
}

void TransferBatchTest::cancelInsideFolderTreeComesBackUp_data()
{
    QTest::addColumn<bool>("upload");
    QTest::newRow("upload") << true;
    QTest::newRow("download") << false;
}

void TransferBatchTest::cancelInsideFolderTreeComesBackUp()
{
    QFETCH(bool, upload);
    const QString root = upload ? m_localDir->path() : m_serverRoot->path();
    for (int i = 0; i < 5; ++i)
        QVERIFY(WriteFile(root + QStringLiteral("/t/u/f%1.bin").arg(i), PatternBytes(8192)));
    // The second block of the first file ends with Cancel: nothing after it is touched.
    m_host->sink.onUpdate = [](int update) {
        if (update == 2)
            CancelRequested = true;
    };
    TestSelection rows;
    rows.add("t", 0, true);
    if (upload)
        UploadSelection(*m_host, rows);
    else
        DownloadSelection(*m_host, rows);
    QVERIFY(CancelRequested);
    QCOMPARE(m_host->sink.updates, 2);
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/"));
    const QStringList copied = upload ? serverTree() : Tree(m_localDir->path());
    // One file was started: nothing of it is left on the server, locally it stays under its
    // partial name.
    QCOMPARE(copied.filter(QRegularExpression("^t/u/f\\d\\.bin")).size(), upload ? 0 : 1);
    QCOMPARE(
        copied.filter(QRegularExpression("^t/u/f\\d\\.bin\\.zulftp-part\\.\\w{6}=8192$")).size(),
        upload ? 0 : 1);
}

void TransferBatchTest::lowerCaseAppliesToFileNamesOnly()
{
    QVERIFY(WriteFile(localPath("Docs/Read.ME"), "x"));
    m_host->lowerCase = true;
    TestSelection local;
    local.add("Docs", 0, true);
    UploadSelection(*m_host, local);
    QCOMPARE(serverTree(), (QStringList{"Docs/", "Docs/read.me=1"}));
}

void TransferBatchTest::existingRemoteFolderIsReused()
{
    QVERIFY(WriteFile(serverPath("site/old.txt"), "keep"));
    QVERIFY(WriteFile(serverPath("site/index.html"), "previous version"));
    QVERIFY(WriteFile(localPath("site/index.html"), "new"));
    TestSelection local;
    local.add("site", 0, true);
    UploadSelection(*m_host, local);
    QCOMPARE(serverTree(), (QStringList{"site/", "site/index.html=3", "site/old.txt=4"}));
    QCOMPARE(m_host->log,
             (QStringList{"exists The file \"index.html\" already exists in \"/site\" on the "
                          "server.",
                          "list remote"}));
}

void TransferBatchTest::cancelledUploadKeepsTheFileItWouldReplace()
{
    const QByteArray original = PatternBytes(2 * 1024 * 1024, 1);
    const QByteArray replacement = PatternBytes(8 * 1024 * 1024, 2);
    QVERIFY(WriteFile(serverPath("report.pdf"), original));
    QVERIFY(WriteFile(serverPath("site/page.html"), original));
    QVERIFY(WriteFile(localPath("report.pdf"), replacement));
    QVERIFY(WriteFile(localPath("site/page.html"), replacement));
    for (const QString target : {"report.pdf", "site/page.html"}) {
        TestSelection rows;
        const bool folder = target.contains('/');
        rows.add(folder ? "site" : target, replacement.size(), folder);
        m_host->sink.updates = 0;
        const QString serverFolder = serverPath(target).section('/', 0, -2);
        m_host->sink.onUpdate = [serverFolder](int update) {
            if (update == 100)
                CancelRequested = ServerIsStoring(serverFolder, "*.zulftp-upload");
        };
        UploadSelection(*m_host, rows);
        // Nothing of the cancelled copy is left, and the file it was to replace is whole.
        QCOMPARE(serverTree().filter("zulftp"), QStringList());
        QCOMPARE(ReadFile(serverPath(target)), original);
        const QString asked =
            QStringLiteral("exists The file \"%1\" already exists in \"/%2\" on the server. "
                           "[resume]")
                .arg(FileNamePart(target), folder ? QStringLiteral("site") : QString());
        QCOMPARE(m_host->log, (QStringList{asked, "list remote"}));
        // Run to the end, the new copy takes the name.
        m_host->log.clear();
        m_host->sink.onUpdate = nullptr;
        rows.selected = {true};
        UploadSelection(*m_host, rows);
        QCOMPARE(m_host->log, (QStringList{asked, "list remote"}));
        QCOMPARE(ReadFile(serverPath(target)), replacement);
        m_host->log.clear();
    }
    QCOMPARE(serverTree(), (QStringList{"report.pdf=8388608", "site/", "site/page.html=8388608"}));
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/"));
}

void TransferBatchTest::folderTransfersAskAboutFilesInTheTargetFolder()
{
    // Up: the name is looked up in the listing of the remote folder the file goes to.
    QVERIFY(WriteFile(serverPath("site/index.html"), "previous"));
    QVERIFY(WriteFile(localPath("site/index.html"), "new"));
    QVERIFY(WriteFile(localPath("site/more.html"), "more"));
    m_host->existsAnswers = {{ExistsAction::Skip, false}};
    TestSelection local;
    local.add("site", 0, true);
    UploadSelection(*m_host, local);
    QCOMPARE(serverTree(), (QStringList{"site/", "site/index.html=8", "site/more.html=4"}));
    QCOMPARE(m_host->log,
             (QStringList{"exists The file \"index.html\" already exists in \"/site\" on the "
                          "server.",
                          "list remote"}));

    // Down: a file in the way in a subfolder; the typed name is refused while it is taken.
    m_host->log.clear();
    QVERIFY(WriteFile(serverPath("dir/a.txt"), "a"));
    QVERIFY(WriteFile(serverPath("dir/sub/b.txt"), "server"));
    QVERIFY(WriteFile(localPath("dir/sub/b.txt"), "mine, longer"));
    QVERIFY(WriteFile(localPath("dir/sub/b (1).txt"), "also mine"));
    m_host->existsAnswers = {{ExistsAction::Rename, false}};
    m_host->newNames = {QStringLiteral("b (1).txt"), QStringLiteral("fetched.txt")};
    TestSelection remote;
    remote.add("dir", 0, true);
    DownloadSelection(*m_host, remote);
    const QString sub = localPath("dir/sub");
    QCOMPARE(
        m_host->log,
        (QStringList{QStringLiteral("exists The file \"b.txt\" already exists in %1.").arg(sub),
                     "rename b (2).txt",
                     QStringLiteral("warn \"b (1).txt\" exists in %1 as well. Choose a name "
                                    "that is free.")
                         .arg(sub),
                     "rename b (2).txt", "list local"}));
    QCOMPARE(ReadFile(localPath("dir/sub/fetched.txt")), QByteArray("server"));
    QCOMPARE(ReadFile(localPath("dir/sub/b.txt")), QByteArray("mine, longer"));
    QCOMPARE(ReadFile(localPath("dir/sub/b (1).txt")), QByteArray("also mine"));
    QCOMPARE(ReadFile(localPath("dir/a.txt")), QByteArray("a"));
}

void TransferBatchTest::desktopDropUploadsFilesAndFolders()
{
    QVERIFY(WriteFile(localPath("desk/one.txt"), "1"));
    QVERIFY(WriteFile(localPath("other/two.txt"), "22"));
    QVERIFY(WriteFile(localPath("photos/p.jpg"), "333"));
    UploadDroppedItems(
        *m_host, {localPath("desk/one.txt"), localPath("other/two.txt"), localPath("photos")});
    QCOMPARE(serverTree(), (QStringList{"one.txt=1", "photos/", "photos/p.jpg=3", "two.txt=2"}));
    QCOMPARE(m_host->log, QStringList{"list remote"});
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/"));
}

void TransferBatchTest::lastDownloadDecidesTheLocalRebuild_data()
{
    QTest::addColumn<bool>("firstFails");
    QTest::addColumn<bool>("rebuilt");
    QTest::newRow("first fails, second succeeds") << true << true;
    QTest::newRow("first succeeds, second fails") << false << false;
}

void TransferBatchTest::lastDownloadDecidesTheLocalRebuild()
{
    QFETCH(bool, firstFails);
    QFETCH(bool, rebuilt);
    QVERIFY(WriteFile(serverPath("there.txt"), "ok"));
    TestSelection remote;
    remote.add(firstFails ? "gone.txt" : "there.txt", 2);
    remote.add(firstFails ? "there.txt" : "gone.txt", 2);
    DownloadSelection(*m_host, remote);
    QCOMPARE(ReadFile(localPath("there.txt")), QByteArray("ok"));
    QCOMPARE(m_host->log.contains("list local"), rebuilt);
    QCOMPARE(m_host->log.count("error FTP Open File Failed."), 1);
}

void TransferBatchTest::serverNamesThatAreNotPlainAreRefused()
{
    QVERIFY(WriteFile(serverPath("evil"), "payload"));
    QDir().mkpath(localPath("inside"));
    m_host->folder = localPath("inside");
    TestSelection remote;
    remote.add("../evil", 7);
    remote.add("..", 0, true);
    DownloadSelection(*m_host, remote);
    QCOMPARE(m_host->log, (QStringList{"warn " + NotPlainNameText("../evil"),
                                       "warn " + NotPlainNameText("..")}));
    QCOMPARE(Tree(m_localDir->path()), QStringList{"inside/"});
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/"));
}

void TransferBatchTest::localErrorAbandonsCommandAndCleansUp()
{
    QVERIFY(WriteFile(localPath("good.txt"), "fine"));
    TestSelection local;
    local.add("vanished.txt", 4);
    local.add("good.txt", 4);
    UploadSelection(*m_host, local);
    QCOMPARE(m_host->log, QStringList{"file error File not found"});
    QCOMPARE(m_host->sink.events.last(), QStringLiteral("close"));
    QCOMPARE(local.selected, (std::vector<bool>{false, true}));
    QCOMPARE(serverTree(), QStringList());
}

void TransferBatchTest::localErrorInsideFolderStillReturnsRemoteDirectory()
{
    QVERIFY(WriteFile(localPath("a/b/first.txt"), "1"));
    // A socket cannot be opened for reading: a local error in the middle of the tree.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(listener >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(localPath("a/b/socket"));
    QVERIFY(size_t(socketPath.size()) < sizeof address.sun_path);
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    const int bound = ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(listener);
    QCOMPARE(bound, 0);
    TestSelection local;
    local.add("a", 0, true);
    UploadSelection(*m_host, local);
    QCOMPARE(m_host->log, QStringList{"file error " + ioErrorText(ENXIO)});
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/"));
}

void TransferBatchTest::namedPipeInsideFolderIsRefusedNotWaitedOn()
{
    // Opening a pipe nobody writes to would wait for ever: refused like any non-file.
    QVERIFY(QDir().mkpath(localPath("p")));
    QCOMPARE(::mkfifo(QFile::encodeName(localPath("p/pipe")).constData(), 0600), 0);
    TestSelection local;
    local.add("p", 0, true);
    UploadSelection(*m_host, local);
    QCOMPARE(m_host->log, QStringList{"file error " + ioErrorText(ENXIO)});
    QCOMPARE(serverTree(), QStringList{"p/"});
}

void TransferBatchTest::folderThatCannotBeEnteredUploadsNothingElsewhere()
{
    QVERIFY(WriteFile(serverPath("docs"), "a file where the folder should go"));
    QVERIFY(WriteFile(localPath("docs/inner.txt"), "x"));
    TestSelection local;
    local.add("docs", 0, true);
    UploadSelection(*m_host, local);
    QCOMPARE(m_host->log, (QStringList{"error FTP Set Current Directory Failed", "list remote"}));
    QCOMPARE(serverTree(), QStringList{"docs=33"});
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/"));
}

void TransferBatchTest::linkBackToParentFolderDoesNotLoop()
{
    QVERIFY(WriteFile(localPath("loop/file.txt"), "f"));
    QVERIFY(::symlink(QFile::encodeName(localPath("loop")).constData(),
                      QFile::encodeName(localPath("loop/again")).constData()) == 0);
    TestSelection local;
    local.add("loop", 0, true);
    UploadSelection(*m_host, local);
    QCOMPARE(m_host->log,
             (QStringList{"warn " + SkippedLinksText(localPath("loop"), 1, localPath("loop/again")),
                          "list remote"}));
    QCOMPARE(serverTree(), (QStringList{"loop/", "loop/file.txt=1"}));
}

void TransferBatchTest::folderDownloadNeverWritesThroughLocalLinks()
{
    QVERIFY(WriteFile(serverPath("proj/sub/notes.txt"), "the server's notes"));
    QVERIFY(WriteFile(serverPath("proj/file.txt"), "the server's file"));
    QVERIFY(WriteFile(serverPath("proj/top.txt"), "top"));
    QVERIFY(WriteFile(serverPath("linked/x.txt"), "x"));
    // Links in the chosen folder that lead out of it, to a folder and to a file.
    QVERIFY(WriteFile(localPath("elsewhere/notes.txt"), "mine"));
    QVERIFY(WriteFile(localPath("elsewhere/file.txt"), "mine too"));
    QVERIFY(QDir().mkpath(localPath("inside/proj")));
    const auto link = [this](const char* target, const char* at) {
        return ::symlink(target, QFile::encodeName(localPath(at)).constData()) == 0;
    };
    QVERIFY(link("../../elsewhere", "inside/proj/sub"));
    QVERIFY(link("../../elsewhere/file.txt", "inside/proj/file.txt"));
    QVERIFY(link("../elsewhere", "inside/linked"));
    m_host->folder = localPath("inside");

    TestSelection remote;
    remote.add("proj", 0, true);
    remote.add("linked", 0, true);
    DownloadSelection(*m_host, remote);
    QCOMPARE(ReadFile(localPath("elsewhere/notes.txt")), QByteArray("mine"));
    QCOMPARE(ReadFile(localPath("elsewhere/file.txt")), QByteArray("mine too"));
    QVERIFY(!QFile::exists(localPath("elsewhere/x.txt")));
    // Each link was reported and left as it was; everything else arrived.
    QStringList log = m_host->log;
    log.sort();
    QCOMPARE(log, (QStringList{"warn " + LinkInTheWayText(localPath("inside/linked")),
                               "warn " + LinkInTheWayText(localPath("inside/proj/file.txt")),
                               "warn " + LinkInTheWayText(localPath("inside/proj/sub"))}));
    for (const char* at : {"inside/proj/sub", "inside/proj/file.txt", "inside/linked"})
        QVERIFY2(QFileInfo(localPath(at)).isSymLink(), at);
    QCOMPARE(ReadFile(localPath("inside/proj/top.txt")), QByteArray("top"));
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/"));
}

void TransferBatchTest::folderUploadNeverFollowsLocalLinks()
{
    QVERIFY(WriteFile(localPath("secret/id_rsa"), "private key"));
    QVERIFY(WriteFile(localPath("site/index.html"), "i"));
    QVERIFY(QDir().mkpath(localPath("site/sub")));
    const QStringList links{localPath("site/assets"), localPath("site/key"),
                            localPath("site/sub/gone")};
    QVERIFY(::symlink("../secret", QFile::encodeName(links[0]).constData()) == 0);
    QVERIFY(::symlink("../secret/id_rsa", QFile::encodeName(links[1]).constData()) == 0);
    QVERIFY(::symlink("/nonexistent", QFile::encodeName(links[2]).constData()) == 0);
    TestSelection local;
    local.add("site", 0, true);
    UploadSelection(*m_host, local);
    QCOMPARE(serverTree(), (QStringList{"site/", "site/index.html=1", "site/sub/"}));
    // One notice at the end: how many, and where the first one was.
    QCOMPARE(m_host->log.size(), 2);
    QCOMPARE(m_host->log.last(), QStringLiteral("list remote"));
    QStringList notices;
    for (const QString& first : links)
        notices << "warn " + SkippedLinksText(localPath("site"), 3, first);
    QVERIFY2(notices.contains(m_host->log.first()), qPrintable(m_host->log.first()));
}

void TransferBatchTest::commandsAreIgnoredWhileOperationRuns()
{
    QVERIFY(WriteFile(localPath("a.txt"), "a"));
    TestSelection rows;
    rows.add("a.txt", 1);
    {
        OperationLock running;
        UploadSelection(*m_host, rows);
        DownloadSelection(*m_host, rows);
        UploadDroppedItems(*m_host, {localPath("a.txt")});
    }
    QCOMPARE(m_host->log, QStringList());
    QCOMPARE(m_host->sink.events, QStringList());
    QCOMPARE(rows.selected, std::vector<bool>{true});
    QCOMPARE(serverTree(), QStringList());
}

QTEST_GUILESS_MAIN(TransferBatchTest)
#include "tst_transferbatch.moc"
