#include "TransferTestHost.h"

#include "common/FileSystemError.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"
#include "transfer/UploadFile.h"

#include <sys/stat.h>
#include <unistd.h>

// The single-file engine against a real FTP server on loopback.
class TransferEngineTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void roundTripIsByteExact_data();
    void roundTripIsByteExact();
    void lowerCaseUploadTouchesOnlyAsciiCapitals_data();
    void lowerCaseUploadTouchesOnlyAsciiCapitals();
    void uploadWithCancelAlreadySetSendsNothing();
    void cancelStopsUploadAfterCurrentBlock();
    void downloadClearsPendingCancel();
    void cancelledDownloadKeepsEarlierFileAndPartialData();
    void downloadReadsUntilServerEndsData_data();
    void downloadReadsUntilServerEndsData();
    void downloadReplacesEarlierFileOnlyWhenComplete();
    void replacedFileKeepsItsPermissions_data();
    void replacedFileKeepsItsPermissions();
    void missingRemoteFileLeavesNothingLocally();
    void notPlainNameIsRefusedBeforeAnythingIsWritten_data();
    void notPlainNameIsRefusedBeforeAnythingIsWritten();
    void refusedUploadIsReportedAsFailure();
    void localErrorLeavesConnectionUsable();

private:
    QString serverPath(const QString& name) const { return m_serverRoot.filePath(name); }
    QString localPath(const QString& name) const { return m_localDir->filePath(name); }

    QTemporaryDir m_serverRoot;
    std::unique_ptr<QTemporaryDir> m_localDir;
    FtpServerFixture m_server;
    TestConnection m_connection;
    std::unique_ptr<TestTransferHost> m_host;
};

void TransferEngineTest::initTestCase()
{
    QVERIFY(m_serverRoot.isValid());
    QVERIFY2(m_server.start(m_serverRoot.path()), qPrintable(m_server.errorOutput()));
}

void TransferEngineTest::init()
{
    CancelRequested = false;
    m_localDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_connection.open(m_server.port()));
    m_host = std::make_unique<TestTransferHost>();
    m_host->connection = m_connection.connection;
    m_host->folder = m_localDir->path();
}

void TransferEngineTest::cleanup()
{
    m_connection.close();
    CancelRequested = false;
}

void TransferEngineTest::roundTripIsByteExact_data()
{
    QTest::addColumn<qint64>("size");
    for (qint64 size : {0, 1, 4095, 4096, 4097, 1024 * 1024 + 1})
        QTest::addRow("%lld bytes", size) << size;
}

void TransferEngineTest::roundTripIsByteExact()
{
    QFETCH(qint64, size);
    const QByteArray data = PatternBytes(size);
    const QString name = QStringLiteral("file%1.bin").arg(size);
    QVERIFY(WriteFile(localPath(name), data));

    QVERIFY(UploadFile(*m_host, localPath(name), TransferMode::Binary));
    QCOMPARE(ReadFile(serverPath(name)), data);
    // One progress report per block; an empty file reports nothing.
    QCOMPARE(m_host->sink.updates, int((size + 4095) / 4096));
    if (size > 0) {
        QCOMPARE(m_host->sink.lastPercent, 100);
        QCOMPARE(m_host->sink.lastDone, size);
        QCOMPARE(m_host->sink.lastTotal, size);
    }

    m_host->sink.updates = 0;
    QVERIFY(DownloadFile(*m_host, name.toUtf8(), "back.bin", size, TransferMode::Binary));
    QCOMPARE(ReadFile(localPath("back.bin")), data);
    // A read hands out what has arrived, so a block may come in more than one report.
    QVERIFY(m_host->sink.updates >= int((size + 4095) / 4096));
    if (size > 0) {
        QCOMPARE(m_host->sink.lastPercent, 100);
        QCOMPARE(m_host->sink.lastDone, size);
    }
    QCOMPARE(PartialFiles(m_localDir->path(), "back.bin"), QStringList());
    QCOMPARE(m_host->log, QStringList());
}

void TransferEngineTest::lowerCaseUploadTouchesOnlyAsciiCapitals_data()
{
    QTest::addColumn<QString>("localName");
    QTest::addColumn<bool>("lowerCase");
    QTest::addColumn<QString>("remoteName");
    QTest::newRow("lowered") << "ReadMe.TXT" << true << "readme.txt";
    QTest::newRow("capital outside A-Z") << "ÄRGER.Txt" << true << "Ärger.txt";
    QTest::newRow("option off") << "KeepMe.TXT" << false << "KeepMe.TXT";
}

void TransferEngineTest::lowerCaseUploadTouchesOnlyAsciiCapitals()
{
    QFETCH(QString, localName);
    QFETCH(bool, lowerCase);
    QFETCH(QString, remoteName);
    QVERIFY(WriteFile(localPath(localName), "text"));
    m_host->lowerCase = lowerCase;
    QVERIFY(UploadFile(*m_host, localPath(localName), TransferMode::Binary));
    QCOMPARE(QDir(m_serverRoot.path()).entryList({remoteName}, QDir::Files),
             QStringList{remoteName});
    QCOMPARE(ReadFile(serverPath(remoteName)), QByteArray("text"));
    QVERIFY(QFile::exists(localPath(localName))); // the local file keeps its name
    QFile::remove(serverPath(remoteName));
}

void TransferEngineTest::uploadWithCancelAlreadySetSendsNothing()
{
    QVERIFY(WriteFile(localPath("early.txt"), "data"));
    CancelRequested = true;
    QVERIFY(UploadFile(*m_host, localPath("early.txt"), TransferMode::Binary));
    QVERIFY(CancelRequested);
    QVERIFY(!QFile::exists(serverPath("early.txt")));
    // Nothing is opened locally either: a missing file is not even noticed.
    QVERIFY(UploadFile(*m_host, localPath("missing.txt"), TransferMode::Binary));
}

void TransferEngineTest::cancelStopsUploadAfterCurrentBlock()
{
    QVERIFY(WriteFile(localPath("big.bin"), PatternBytes(100 * 1024)));
    m_host->sink.onUpdate = [](int update) {
        if (update == 3)
            CancelRequested = true;
    };
    QVERIFY(UploadFile(*m_host, localPath("big.bin"), TransferMode::Binary));
    QVERIFY(CancelRequested);
    QCOMPARE(m_host->sink.updates, 3);
    // The transfer was aborted, not completed: nothing of it stands under the name, where it
    // would be taken for the file, and the partial copy is gone too. No error.
    QCOMPARE(QDir(serverPath("")).entryList({"big.bin*"}, QDir::Files | QDir::Hidden),
             QStringList());
    QCOMPARE(m_host->log, QStringList());
}

void TransferEngineTest::downloadClearsPendingCancel()
{
    QVERIFY(WriteFile(serverPath("whole.bin"), PatternBytes(20000)));
    CancelRequested = true;
    QVERIFY(DownloadFile(*m_host, "whole.bin", "whole.bin", 20000, TransferMode::Binary));
    QVERIFY(!CancelRequested);
    QCOMPARE(ReadFile(localPath("whole.bin")), PatternBytes(20000));
}

void TransferEngineTest::cancelledDownloadKeepsEarlierFileAndPartialData()
{
    QVERIFY(WriteFile(serverPath("doc.bin"), PatternBytes(100 * 1024, 1)));
    QVERIFY(WriteFile(localPath("doc.bin"), "the user's earlier copy"));
    m_host->sink.onUpdate = [](int update) {
        if (update == 2)
            CancelRequested = true;
    };
    QVERIFY(DownloadFile(*m_host, "doc.bin", "doc.bin", 100 * 1024, TransferMode::Binary));
    QVERIFY(CancelRequested);
    QCOMPARE(ReadFile(localPath("doc.bin")), QByteArray("the user's earlier copy"));
    QCOMPARE(ReadPartial(m_localDir->path(), "doc.bin"), PatternBytes(100 * 1024, 1).left(8192));
    // The connection is free again for the next command.
    CancelRequested = false;
    QVERIFY(DownloadFile(*m_host, "doc.bin", "doc.bin", 100 * 1024, TransferMode::Binary));
    QCOMPARE(ReadFile(localPath("doc.bin")), PatternBytes(100 * 1024, 1));
}

void TransferEngineTest::downloadReadsUntilServerEndsData_data()
{
    QTest::addColumn<qint64>("listedSize");
    QTest::addColumn<qint64>("actualSize");
    QTest::newRow("grew since the listing") << qint64(1000) << qint64(50000);
    QTest::newRow("shrank since the listing") << qint64(50000) << qint64(1000);
    QTest::newRow("listed as empty") << qint64(0) << qint64(9000);
    QTest::newRow("empty") << qint64(0) << qint64(0);
}

void TransferEngineTest::downloadReadsUntilServerEndsData()
{
    QFETCH(qint64, listedSize);
    QFETCH(qint64, actualSize);
    QVERIFY(WriteFile(serverPath("changing.bin"), PatternBytes(actualSize, 2)));
    QVERIFY(
        DownloadFile(*m_host, "changing.bin", "changing.bin", listedSize, TransferMode::Binary));
    QCOMPARE(ReadFile(localPath("changing.bin")), PatternBytes(actualSize, 2));
    if (actualSize > 0) {
        QCOMPARE(m_host->sink.lastDone, actualSize);
        QVERIFY(m_host->sink.lastPercent <= 100);
        QVERIFY(m_host->sink.lastTotal >= actualSize);
    }
}

void TransferEngineTest::downloadReplacesEarlierFileOnlyWhenComplete()
{
    QVERIFY(WriteFile(serverPath("new.txt"), "fresh contents"));
    QVERIFY(WriteFile(localPath("new.txt"), "stale contents that are longer"));
    QVERIFY(WriteFile(localPath("new.txt.zulftp-part"), "left over from an earlier failure"));
    QVERIFY(DownloadFile(*m_host, "new.txt", "new.txt", 14, TransferMode::Binary));
    QCOMPARE(ReadFile(localPath("new.txt")), QByteArray("fresh contents"));
    // A file that merely looks like partial data may be one the user wants: it is not touched.
    QCOMPARE(ReadFile(localPath("new.txt.zulftp-part")),
             QByteArray("left over from an earlier failure"));
    QCOMPARE(PartialFiles(m_localDir->path(), "new.txt"), QStringList());
}

namespace {
// The permission bits of `path`, or -1 when it cannot be looked at.
int ModeOf(const QString& path)
{
    struct stat info
    {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                    : -1;
}
} // namespace

void TransferEngineTest::replacedFileKeepsItsPermissions_data()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    QTest::addColumn<int>("earlierMode"); // -1: no earlier file
    QTest::addColumn<bool>("otherLink");
    QTest::addColumn<int>("mode");
    QTest::newRow("private file") << 0600 << false << 0600;
    QTest::newRow("program") << 0755 << false << 0755;
    QTest::newRow("set-id bits are not handed on") << 06755 << false << 0755;
    QTest::newRow("new file") << -1 << false << int(0666 & ~mask);
    QTest::newRow("file with another hard link") << 0640 << true << 0640;
}

void TransferEngineTest::replacedFileKeepsItsPermissions()
{
    QFETCH(int, earlierMode);
    QFETCH(bool, otherLink);
    QFETCH(int, mode);
    const QByteArray data = PatternBytes(20000);
    QVERIFY(WriteFile(serverPath("m.bin"), data));
    const QString target = localPath("m.bin");
    if (earlierMode >= 0) {
        QVERIFY(WriteFile(target, "earlier"));
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), mode_t(earlierMode)), 0);
    }
    if (otherLink) {
        QCOMPARE(::link(QFile::encodeName(target).constData(),
                        QFile::encodeName(localPath("other")).constData()),
                 0);
    }
    // What arrives may be a private file's new contents: nobody else reads it meanwhile.
    QList<int> partialModes;
    m_host->sink.onUpdate = [&](int) {
        for (const QString& name : PartialFiles(m_localDir->path(), "m.bin"))
            partialModes << ModeOf(localPath(name));
    };

    QVERIFY(DownloadFile(*m_host, "m.bin", "m.bin", data.size(), TransferMode::Binary));
    QCOMPARE(ReadFile(target), data);
    QCOMPARE(ModeOf(target), mode);
    QVERIFY(!partialModes.isEmpty());
    QCOMPARE(partialModes, QList<int>(partialModes.size(), 0600));
    // The rename gives the name a file of its own; the user is told the other name was left.
    if (otherLink) {
        QCOMPARE(ReadFile(localPath("other")), QByteArray("earlier"));
        QCOMPARE(m_host->log, QStringList{"warn " + OtherLinksKeptText(target)});
    } else {
        QCOMPARE(m_host->log, QStringList());
    }
}

void TransferEngineTest::missingRemoteFileLeavesNothingLocally()
{
    QVERIFY(WriteFile(localPath("absent.txt"), "mine"));
    QVERIFY(!DownloadFile(*m_host, "absent.txt", "absent.txt", 10, TransferMode::Binary));
    QCOMPARE(m_host->log, QStringList{"error FTP Open File Failed."});
    QCOMPARE(ReadFile(localPath("absent.txt")), QByteArray("mine"));
    QCOMPARE(QDir(m_localDir->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"absent.txt"});
}

void TransferEngineTest::notPlainNameIsRefusedBeforeAnythingIsWritten_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("parent path") << "../evil";
    QTest::newRow("dot dot") << "..";
    QTest::newRow("dot") << ".";
    QTest::newRow("empty") << "";
    QTest::newRow("subfolder path") << "sub/evil";
}

void TransferEngineTest::notPlainNameIsRefusedBeforeAnythingIsWritten()
{
    QFETCH(QString, name);
    QDir(m_localDir->path()).mkdir("sub");
    m_host->folder = localPath("sub");
    QVERIFY(WriteFile(serverPath("evil"), "payload"));
    QVERIFY(!DownloadFile(*m_host, "evil", name, 7, TransferMode::Binary));
    QCOMPARE(m_host->log, QStringList{"warn " + NotPlainNameText(name)});
    QCOMPARE(
        QDir(m_localDir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"sub"});
    QVERIFY(QDir(localPath("sub")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

void TransferEngineTest::refusedUploadIsReportedAsFailure()
{
    QTemporaryDir root;
    FtpServerFixture readOnly;
    FtpServerFixture::Options options;
    options.readOnly = true;
    QVERIFY(readOnly.start(root.path(), options));
    TestConnection connection;
    QVERIFY(connection.open(readOnly.port()));
    m_host->connection = connection.connection;
    QVERIFY(WriteFile(localPath("refused.txt"), "data"));
    QVERIFY(!UploadFile(*m_host, localPath("refused.txt"), TransferMode::Binary));
    QCOMPARE(m_host->log.size(), 1);
    QVERIFY(m_host->log.first().startsWith("error "));
    QVERIFY(!QFile::exists(root.filePath("refused.txt")));
}

void TransferEngineTest::localErrorLeavesConnectionUsable()
{
    QVERIFY(WriteFile(serverPath("remote.txt"), "contents"));
    m_host->folder = localPath("no/such/folder");
    QVERIFY_THROWS_EXCEPTION(FileSystemError, DownloadFile(*m_host, "remote.txt", "remote.txt", 8,
                                                           TransferMode::Binary));
    // The remote file was closed on the way out, so the next transfer is not refused.
    m_host->folder = m_localDir->path();
    QVERIFY(DownloadFile(*m_host, "remote.txt", "remote.txt", 8, TransferMode::Binary));
    QCOMPARE(ReadFile(localPath("remote.txt")), QByteArray("contents"));
    QVERIFY_THROWS_EXCEPTION(FileSystemError,
                             UploadFile(*m_host, localPath("missing"), TransferMode::Binary));
    QVERIFY(UploadFile(*m_host, localPath("remote.txt"), TransferMode::Binary));
}

QTEST_GUILESS_MAIN(TransferEngineTest)
#include "tst_transferengine.moc"
