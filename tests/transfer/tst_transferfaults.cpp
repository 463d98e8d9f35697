#include "TransferTestHost.h"

#include "FtpServerFixture.h"
#include "faultserver.h"
#include "transfer/FolderTransfer.h"
#include "transfer/RemoteReplace.h"
#include "transfer/TransferBatch.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"
#include "transfer/UploadFile.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

// Transfers against a server that fails on purpose: mid-transfer drops, refused final
// replies and hostile listings.
class TransferFaultsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void failedDownloadKeepsEarlierFile_data();
    void failedDownloadKeepsEarlierFile();
    void unconfirmedUploadIsAFailure_data();
    void unconfirmedUploadIsAFailure();
    void hostileListingCannotWriteOutsideFolder();
    void downloadNeverOverwritesFilesThatLookPartial();
    void cancelStopsTricklingDownloadAtOnce();
    void replacingNeverLosesBothCopies_data();
    void replacingNeverLosesBothCopies();
    void serverWithoutRenameKeepsTheOriginal();
    void failedWayUpStopsTheBatch_data();
    void failedWayUpStopsTheBatch();
    void namesInAListingNotUnderstoodMayAllExist_data();
    void namesInAListingNotUnderstoodMayAllExist();
    void fileOfUnknownSizeDownloadsWhole();

private:
    bool startServer(const QJsonObject& script);
    QString localPath(const QString& name) const { return m_localDir->filePath(name); }

    std::unique_ptr<FaultServer> m_server;
    std::unique_ptr<QTemporaryDir> m_localDir;
    TestConnection m_connection;
    TestTransferHost m_host;
};

void TransferFaultsTest::init()
{
    CancelRequested = false;
    m_localDir = std::make_unique<QTemporaryDir>();
    m_host = {};
    m_host.folder = m_localDir->path();
}

void TransferFaultsTest::cleanup()
{
    m_connection.close();
    m_server.reset();
}

bool TransferFaultsTest::startServer(const QJsonObject& script)
{
    m_server = std::make_unique<FaultServer>();
    // Folder downloads enter only where PWD confirms they arrived.
    QJsonObject moving = script;
    moving["followCwd"] = true;
    if (!m_server->start(moving) || !m_connection.open(m_server->port()))
        return false;
    m_host.connection = m_connection.connection;
    return true;
}

QJsonObject Rule(const char* verb, const QJsonObject& rule)
{
    return QJsonObject{{verb, QJsonArray{rule}}};
}

void TransferFaultsTest::failedDownloadKeepsEarlierFile_data()
{
    QTest::addColumn<QJsonObject>("rule");
    QTest::newRow("connection dropped midway") << QJsonObject{{"dropAfter", 20000}};
    QTest::newRow("all data, then the server says it aborted")
        << QJsonObject{{"final", "426 Connection closed; transfer aborted."}};
}

void TransferFaultsTest::failedDownloadKeepsEarlierFile()
{
    QFETCH(QJsonObject, rule);
    QVERIFY(startServer(
        {{"files", QJsonObject{{"data.bin", "@100000"}}}, {"rules", Rule("RETR", rule)}}));
    QVERIFY(WriteFile(localPath("data.bin"), "the user's earlier copy"));
    QVERIFY(!DownloadFile(m_host, "data.bin", "data.bin", 100000, TransferMode::Binary));
    QCOMPARE(m_host.log, QStringList{"error Internet Read File Failed."});
    QCOMPARE(ReadFile(localPath("data.bin")), QByteArray("the user's earlier copy"));
    // What did arrive is kept under the partial name, for the user to judge.
    const QByteArray partial = ReadPartial(m_localDir->path(), "data.bin");
    QVERIFY(partial.size() >= 4096 && partial.size() <= 100000);
}

void TransferFaultsTest::unconfirmedUploadIsAFailure_data()
{
    QTest::addColumn<QJsonObject>("rule");
    QTest::newRow("refused after the data")
        << QJsonObject{{"final", "452 Requested action not taken. Insufficient storage."}};
    QTest::newRow("connection dropped midway") << QJsonObject{{"dropAfter", 20000}};
}

void TransferFaultsTest::unconfirmedUploadIsAFailure()
{
    QFETCH(QJsonObject, rule);
    QVERIFY(startServer({{"rules", Rule("STOR", rule)}}));
    QVERIFY(WriteFile(localPath("edit.txt"), PatternBytes(100000)));
    QVERIFY(!UploadFile(m_host, localPath("edit.txt"), TransferMode::Binary));
    // Exactly one report, whichever call noticed the failure first.
    QCOMPARE(m_host.log, QStringList{"error Internet Write File Failed."});
}

void TransferFaultsTest::hostileListingCannotWriteOutsideFolder()
{
    const QString listing = QStringLiteral("drwxr-xr-x 2 u g 4096 Jan 01 2020 .\r\n"
                                           "drwxr-xr-x 2 u g 4096 Jan 01 2020 ..\r\n"
                                           "-rw-r--r-- 1 u g 7 Jan 01 2020 ../evil\r\n"
                                           "-rw-r--r-- 1 u g 7 Jan 01 2020 /tmp/evil\r\n"
                                           "-rw-r--r-- 1 u g 2 Jan 01 2020 ok.txt\r\n");
    QVERIFY(startServer(
        {{"listing", listing}, {"files", QJsonObject{{"ok.txt", "ok"}, {"../evil", "payload"}}}}));
    QVERIFY(QDir().mkpath(localPath("inside")));
    m_host.folder = localPath("inside");
    DownloadFolder(m_host, "dir");
    QCOMPARE(ReadFile(localPath("inside/dir/ok.txt")), QByteArray("ok"));
    const QStringList everything =
        QDir(m_localDir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(everything, QStringList{"inside"});
    QCOMPARE(QDir(localPath("inside/dir"))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"ok.txt"});
    // Whether the listing parser drops such lines or the download refuses them, only the
    // refusals may show, and "." and ".." are passed over silently.
    for (const QString& line : m_host.log)
        QVERIFY2(line.startsWith("warn ") && !line.contains("\"..\""), qPrintable(line));
    // The server was taken into the folder and back out of it, in that order.
    const QStringList received = m_server->received();
    const qsizetype entered = received.indexOf("CWD dir");
    QVERIFY(entered >= 0);
    QVERIFY(received.indexOf("CDUP") > entered || received.indexOf("CWD ..") > entered);
}

void TransferFaultsTest::downloadNeverOverwritesFilesThatLookPartial()
{
    // A name one byte too long for the local file system, and a local file whose name is
    // what shortening it into a partial-data name would give.
    const QString tooLong(256, 'n');
    const QString lookalike = QString(243, 'n') + kPartialSuffix;
    const QString listing = QStringLiteral("-rw-r--r-- 1 u g 4 Jan 01 2020 x.zulftp-part\r\n"
                                           "-rw-r--r-- 1 u g 5 Jan 01 2020 x\r\n"
                                           "-rw-r--r-- 1 u g 4 Jan 01 2020 %1\r\n"
                                           "-rw-r--r-- 1 u g 2 Jan 01 2020 ok.txt\r\n")
                                .arg(tooLong);
    QVERIFY(startServer(
        {{"listing", listing},
         {"files",
          QJsonObject{
              {"x.zulftp-part", "AAAA"}, {"x", "BBBBB"}, {tooLong, "long"}, {"ok.txt", "ok"}}}}));
    QVERIFY(WriteFile(localPath("dir/" + lookalike), "the user's file"));

    TestSelection remote;
    remote.add("dir", 0, true);
    DownloadSelection(m_host, remote);
    QCOMPARE(m_host.log, QStringList{"warn " + RefusedDownloadNameText(tooLong)});
    QCOMPARE(ReadFile(localPath("dir/" + lookalike)), QByteArray("the user's file"));
    QCOMPARE(ReadFile(localPath("dir/x.zulftp-part")), QByteArray("AAAA"));
    QCOMPARE(ReadFile(localPath("dir/x")), QByteArray("BBBBB"));
    QCOMPARE(ReadFile(localPath("dir/ok.txt")), QByteArray("ok"));
    QCOMPARE(QDir(localPath("dir")).count(), 4u + 2u);
    // The refused name was never asked for.
    QVERIFY(!m_server->received().contains("RETR " + tooLong));
}

void TransferFaultsTest::cancelStopsTricklingDownloadAtOnce()
{
    // One byte every 100 ms: each read hands out the byte that came, so the dialog's Cancel is
    // seen at the next byte, not after a whole block, and the connection stays in step.
    QVERIFY(startServer({{"files", QJsonObject{{"slow.txt", QString(100, 's')}}},
                         {"rules", Rule("RETR", QJsonObject{{"trickle", 0.1}})}}));
    QVERIFY(WriteFile(localPath("slow.txt"), "the user's copy"));
    QElapsedTimer clock;
    qint64 pressedAt = -1;
    int updatesAfterPress = 0;
    m_host.sink.onUpdate = [&](int update) {
        if (pressedAt >= 0)
            ++updatesAfterPress;
        else if (update == 5) {
            CancelRequested = true; // what the dialog's Cancel button does in its event pump
            pressedAt = clock.elapsed();
        }
    };
    clock.start();
    QVERIFY(DownloadFile(m_host, "slow.txt", "slow.txt", 100, TransferMode::Binary));
    const qint64 returnedAt = clock.elapsed();
    QCOMPARE(updatesAfterPress, 0);
    QVERIFY(m_host.sink.lastDone >= 5 && m_host.sink.lastDone < 100);
    QVERIFY2(returnedAt - pressedAt < 1000, qPrintable(QString::number(returnedAt - pressedAt)));
    QCOMPARE(ReadFile(localPath("slow.txt")), QByteArray("the user's copy"));
    QCOMPARE(m_host.log, QStringList());
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/"));
}

void TransferFaultsTest::replacingNeverLosesBothCopies_data()
{
    QTest::addColumn<QJsonObject>("script");
    QTest::addColumn<int>("cancelAt"); // the progress update that presses Cancel; 0: none
    QTest::addColumn<QStringList>("afterUpload"); // T stands for the temporary name
    QTest::addColumn<QStringList>("log");
    const QString listing = "-rw-r--r-- 1 u g 9 Jan 01 2020 report.pdf\r\n";
    const QStringList rename{"RNFR T", "RNTO report.pdf"};
    const QJsonObject refused{{"reply", "553 File exists."}};
    const auto rules = [&](const QJsonObject& verbs) {
        return QJsonObject{{"listing", listing}, {"rules", verbs}};
    };
    const QJsonObject noRename{{"listing", listing}, {"noRename", true}};
    const auto direct = [](const QJsonObject& rule) {
        return QJsonObject{{"STOR", QJsonArray{QJsonObject(), rule}}};
    };
    QTest::newRow("renamed over the target") << rules({}) << 0 << rename << QStringList();
    QTest::newRow("a new name goes through a temporary name too")
        << QJsonObject{{"listing", ""}} << 0 << rename << QStringList();
    QTest::newRow("cancelled upload to a new name leaves nothing under it")
        << QJsonObject{{"listing", ""}} << 3 << QStringList{"DELE T"} << QStringList();
    QTest::newRow("rename over refused: written directly, then the copy goes")
        << rules({{"RNTO", QJsonArray{refused}}}) << 0
        << rename + QStringList{"STOR report.pdf", "DELE T"} << QStringList();
    QTest::newRow("no renaming at all: written directly, then the copy goes")
        << noRename << 0 << QStringList{"RNFR T", "STOR report.pdf", "DELE T"} << QStringList();
    QTest::newRow("direct write refused: the target untouched, the copy named")
        << QJsonObject{{"listing", listing},
                       {"noRename", true},
                       {"rules", direct({{"reply", "553 Not allowed."}})}}
        << 0 << QStringList{"RNFR T", "STOR report.pdf"}
        << QStringList{"error FTP Open File Failed.", "warn " + NotReplacedText("report.pdf", "T")};
    QTest::newRow("direct write refused at the end: the copy stays, named")
        << QJsonObject{{"listing", listing},
                       {"noRename", true},
                       {"rules", direct({{"final", "452 Disk full."}})}}
        << 0 << QStringList{"RNFR T", "STOR report.pdf"}
        << QStringList{"error Internet Write File Failed.",
                       "warn " + DirectWriteBrokeText("report.pdf", "T")};
    QTest::newRow("direct write cancelled: the copy stays, named")
        << noRename << 30 << QStringList{"RNFR T", "STOR report.pdf"}
        << QStringList{"warn " + DirectWriteBrokeText("report.pdf", "T")};
    QTest::newRow("connection lost at the rename: the copy stays, named")
        << rules({{"RNFR", QJsonArray{QJsonObject{{"close", true}, {"silent", true}}}}}) << 0
        << QStringList{"RNFR T"}
        << QStringList{"error FTP Rename Failed.", "warn " + NotReplacedText("report.pdf", "T")};
    QTest::newRow("server refuses the finished copy: only the copy goes")
        << rules({{"STOR", QJsonArray{QJsonObject{{"final", "452 Disk full."}}}}}) << 0
        << QStringList{"DELE T"} << QStringList{"error Internet Write File Failed."};
    QTest::newRow("connection lost midway: the target untouched")
        << rules({{"STOR", QJsonArray{QJsonObject{{"dropAfter", 20000}}}}}) << 0 << QStringList()
        << QStringList{"error Internet Write File Failed."};
}

void TransferFaultsTest::replacingNeverLosesBothCopies()
{
    QFETCH(QJsonObject, script);
    QFETCH(int, cancelAt);
    QFETCH(QStringList, afterUpload);
    QFETCH(QStringList, log);
    QVERIFY(startServer(script));
    QVERIFY(WriteFile(localPath("report.pdf"), PatternBytes(100000)));
    m_host.sink.onUpdate = [&](int update) {
        if (update == cancelAt)
            CancelRequested = true;
    };
    const bool result = UploadFile(m_host, localPath("report.pdf"), TransferMode::Binary);
    QCOMPARE(CancelRequested, cancelAt > 0);
    QStringList received = m_server->received();
    const qsizetype stor = received.indexOf(QRegularExpression("STOR .*"));
    QVERIFY(stor > 0);
    const QString temporary = received[stor].mid(5);
    QVERIFY2(QRegularExpression("^report\\.pdf\\.[0-9a-f]{8}\\.zulftp-upload$")
                 .match(temporary)
                 .hasMatch(),
             qPrintable(temporary));
    // The target holds the whole new file, or the user was told what is where; a cancel
    // is no failure.
    QCOMPARE(result, log.isEmpty() || cancelAt > 0);
    QCOMPARE(m_host.log.replaceInStrings(temporary, "T"), log);
    received = received.mid(stor + 1).filter(QRegularExpression("^(STOR|APPE|DELE|RNFR|RNTO) "));
    received.replaceInStrings(temporary, "T");
    QCOMPARE(received, afterUpload);
}

void TransferFaultsTest::serverWithoutRenameKeepsTheOriginal()
{
    // A real server where the user may write and delete but not rename: the new data ends up
    // under the file's name, the original is never deleted first, and nothing is left over.
    QTemporaryDir root;
    FtpServerFixture server;
    FtpServerFixture::Options options;
    options.noRename = true;
    QVERIFY2(server.start(root.path(), options), qPrintable(server.errorOutput()));
    QVERIFY(m_connection.open(server.port()));
    m_host.connection = m_connection.connection;
    QVERIFY(WriteFile(root.filePath("index.html"), "the site's page"));
    QVERIFY(WriteFile(localPath("index.html"), PatternBytes(50000)));
    QVERIFY(WriteFile(localPath("new.html"), "a new page"));
    QVERIFY(UploadFile(m_host, localPath("index.html"), TransferMode::Binary));
    QVERIFY(UploadFile(m_host, localPath("new.html"), TransferMode::Binary));
    QCOMPARE(m_host.log, QStringList());
    QCOMPARE(ReadFile(root.filePath("index.html")), PatternBytes(50000));
    QCOMPARE(ReadFile(root.filePath("new.html")), QByteArray("a new page"));
    QCOMPARE(QDir(root.path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"index.html", "new.html"}));
}

void TransferFaultsTest::failedWayUpStopsTheBatch_data()
{
    QTest::addColumn<bool>("upload");
    QTest::newRow("upload") << true;
    QTest::newRow("download") << false;
}

void TransferFaultsTest::failedWayUpStopsTheBatch()
{
    // The way back up from t/u is refused. Whatever came next (t's own z.txt, the next row)
    // would land in or come from t/u, where it does not belong.
    QFETCH(bool, upload);
    QVERIFY(startServer({{"listings", QJsonArray{"drwxr-xr-x 2 u g 0 Jan 01 2020 u\r\n"
                                                 "-rw-r--r-- 1 u g 1 Jan 01 2020 z.txt\r\n",
                                                 "-rw-r--r-- 1 u g 1 Jan 01 2020 a.txt\r\n"}},
                         {"files", QJsonObject{{"a.txt", "a"}, {"z.txt", "z"}, {"after.txt", "!"}}},
                         {"rules", Rule("CDUP", {{"reply", "550 Permission denied."}})}}));
    QVERIFY(WriteFile(localPath("t/u/a.txt"), "a"));
    QVERIFY(WriteFile(localPath("t/z.txt"), "z"));
    QVERIFY(WriteFile(localPath("after.txt"), "!"));
    TestSelection rows;
    rows.add("t", 0, true);
    rows.add("after.txt", 1);
    if (upload) {
        UploadSelection(m_host, rows);
    } else {
        QVERIFY(QDir(localPath("t")).removeRecursively());
        QVERIFY(QFile::remove(localPath("after.txt")));
        DownloadSelection(m_host, rows);
        QCOMPARE(ReadFile(localPath("t/u/a.txt")), QByteArray("a"));
        QVERIFY(!QFile::exists(localPath("t/z.txt")) && !QFile::exists(localPath("after.txt")));
    }
    QCOMPARE(m_host.log, (QStringList{"error FTP Set Current Directory Failed", "list remote"}));
    // The refused CDUP was the last command: nothing moved after it, not even another try.
    const QStringList received = m_server->received().filter(QRegularExpression("^(?!QUIT)"));
    QCOMPARE(received.last(), QStringLiteral("CDUP"));
    QCOMPARE(received.filter("after.txt"), QStringList());
    QCOMPARE(
        received
            .filter(QRegularExpression("^(STOR|RETR) a\\.txt(\\.[0-9a-f]{8}\\.zulftp-upload)?$"))
            .size(),
        1);
}

void TransferFaultsTest::namesInAListingNotUnderstoodMayAllExist_data()
{
    QTest::addColumn<bool>("mlsd");
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QByteArray>("listed"); // a name shown with a fact no file can have
    QTest::addColumn<bool>("anyName");      // no name at all is proved free
    const QString known = "total 8\r\n-rw-r--r--    1 1001     1001     9 Dec 10 11:07 a.bin\r\n";
    QTest::newRow("every line understood") << false << known << QByteArray("a.bin") << false;
    QTest::newRow("a line not understood") << false << known + "?rw-r--r-- 1 u g 9 Jan 1 2020 h\r\n"
                                           << QByteArray("a.bin") << true;
    QTest::newRow("nothing but a line not understood") << false << "ls: .: Permission denied\r\n"
                                                       << QByteArray("a.bin") << true;
    QTest::newRow("year above 9999")
        << false << known + "-rw-r--r--    1 1001     1001     3000000 Dec 10  10000 big.bin\r\n"
        << QByteArray("big.bin") << false;
    QTest::newRow("negative size")
        << false << known + "-rw-r--r--    1 1001     1001     -1294967296 Dec 10 11:07 big.bin\r\n"
        << QByteArray("BIG.bin") << false;
    QTest::newRow("mlsd, every line understood") << true << "type=file;size=3; a.bin\r\n"
                                                 << QByteArray("a.bin") << false;
    QTest::newRow("mlsd, unknown type") << true << "type=weird;size=3; big.bin\r\n"
                                        << QByteArray("big.bin") << false;
    QTest::newRow("mlsd, 20-digit size")
        << true << "type=file;size=99999999999999999999; big.bin\r\n"
        << QByteArray("big.bin") << false;
    QTest::newRow("mlsd, line without a type")
        << true << "type=file;size=3; a.bin\r\nsize=3; hidden.bin\r\n"
        << QByteArray("a.bin") << true;
}

void TransferFaultsTest::namesInAListingNotUnderstoodMayAllExist()
{
    // A name the listing did not show is taken as free, and an upload of it goes straight
    // over whatever has that name; only a listing understood whole can prove a name free.
    QFETCH(bool, mlsd);
    QFETCH(QString, listing);
    QFETCH(QByteArray, listed);
    QFETCH(bool, anyName);
    QJsonObject script{{"listing", listing}};
    if (mlsd)
        script["features"] = QJsonArray{"MLST type*;size*;modify*;"};
    QVERIFY(startServer(script));
    RemoteFolderNames names(&m_host.session());
    QVERIFY(names.mayExist(listed));
    QCOMPARE(names.mayExist("new.bin"), anyName);
}

void TransferFaultsTest::fileOfUnknownSizeDownloadsWhole()
{
    // A 32-bit server lists a file over 2 GiB with a negative size; the row has no size, and
    // the download must neither stop early nor be taken for a short one.
    QVERIFY(
        startServer({{"listing", "-rw-r--r-- 1 1001 1001 -1294967296 Dec 10 11:07 big32.bin\r\n"},
                     {"files", QJsonObject{{"big32.bin", "@300000"}}}}));
    TestSelection rows;
    rows.add("big32.bin", kUnknownRowSize);
    DownloadSelection(m_host, rows);
    QCOMPARE(m_host.log, QStringList{"list local"});
    QCOMPARE(QFile(localPath("big32.bin")).size(), qint64(300000));
}

QTEST_GUILESS_MAIN(TransferFaultsTest)
#include "tst_transferfaults.moc"
