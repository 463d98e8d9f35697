#include "TransferTestHost.h"

#include "transfer/LocalFile.h"
#include "transfer/TransferPlan.h"

// Planned transfers carried out: the step that moves the bytes asks nothing and does exactly
// what was decided, against a real server.
class TransferPlanTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void planIsCarriedOutByteExactWithoutAsking_data();
    void planIsCarriedOutByteExactWithoutAsking();

private:
    std::unique_ptr<QTemporaryDir> m_serverRoot;
    std::unique_ptr<QTemporaryDir> m_localDir;
    FtpServerFixture m_server;
    TestConnection m_connection;
    TestTransferHost m_host;
};

namespace {
constexpr qint64 kOffset = 40000;
} // namespace

void TransferPlanTest::initTestCase()
{
    m_serverRoot = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_server.start(m_serverRoot->path()), qPrintable(m_server.errorOutput()));
}

void TransferPlanTest::init()
{
    CancelRequested = false;
    QFile::remove(m_serverRoot->filePath("f.bin"));
    m_localDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_connection.open(m_server.port()));
    m_host = {};
    m_host.connection = m_connection.connection;
    m_host.folder = m_localDir->path();
}

void TransferPlanTest::cleanup()
{
    m_connection.close();
}

void TransferPlanTest::planIsCarriedOutByteExactWithoutAsking_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<PlannedAction>("action");
    QTest::addColumn<QByteArray>("targetBefore"); // empty: no file there
    QTest::addColumn<QByteArray>("expected");

    const QByteArray source = PatternBytes(100000, 3);
    // The part a resume keeps differs from the source's start, so only an append at exactly
    // the planned offset gives the expected bytes.
    const QByteArray kept(kOffset, 'x');
    for (const bool upload : {false, true}) {
        const char* way = upload ? "upload" : "download";
        QTest::addRow("%s new", way) << upload << PlannedAction::Write << QByteArray() << source;
        QTest::addRow("%s overwrite", way)
            << upload << PlannedAction::Write << QByteArray("old contents") << source;
        QTest::addRow("%s resume at offset", way)
            << upload << PlannedAction::Resume << kept << kept + source.mid(kOffset);
        QTest::addRow("%s skip", way) << upload << PlannedAction::Skip << QByteArray("old contents")
                                      << QByteArray("old contents");
    }
}

void TransferPlanTest::planIsCarriedOutByteExactWithoutAsking()
{
    QFETCH(bool, upload);
    QFETCH(PlannedAction, action);
    QFETCH(QByteArray, targetBefore);
    QFETCH(QByteArray, expected);
    const QByteArray source = PatternBytes(100000, 3);
    const QString sourcePath = (upload ? m_localDir : m_serverRoot)->filePath("f.bin");
    const QString targetPath = (upload ? m_serverRoot : m_localDir)->filePath("f.bin");
    QVERIFY(WriteFile(sourcePath, source));
    if (!targetBefore.isEmpty())
        QVERIFY(WriteFile(targetPath, targetBefore));
    const bool resume = action == PlannedAction::Resume;

    // The moving step is given only a host that cannot ask; every question the test host
    // could answer would show in its log.
    TransferHost& mover = m_host;
    bool result = false;
    if (upload) {
        LocalFileReader reader(LocalSource{sourcePath});
        UploadPlan plan;
        plan.action = action;
        plan.local = LocalStamp{QFile::encodeName(sourcePath), reader.size(), reader.modifiedNs()};
        plan.shownName = "f.bin";
        plan.targetName = plan.continued = "f.bin";
        plan.offset = resume ? kOffset : 0;
        plan.ownFile = resume;
        result = UploadPlanned(mover, reader, plan, TransferMode::Binary);
    } else {
        DownloadPlan plan;
        plan.action = action;
        plan.listed = RemoteStamp{"f.bin", source.size(), 0};
        plan.localName = "f.bin";
        if (resume) {
            plan.offset = kOffset;
            plan.earlier = PartialDownload{"f.bin", kOffset, true};
            plan.ownFile = true;
        }
        result = DownloadPlanned(mover, LocalDirectory(m_localDir->path()), plan);
    }
    QVERIFY(result);
    QCOMPARE(m_host.log, QStringList());
    QVERIFY(ReadFile(targetPath) == expected);
    // Nothing is left beside the target: no temporary copy on the server, no partial data here.
    QCOMPARE(QDir(m_serverRoot->path()).entryList(QDir::Files | QDir::Hidden), {"f.bin"});
    QCOMPARE(QDir(m_localDir->path()).entryList(QDir::Files | QDir::Hidden), {"f.bin"});
}

QTEST_MAIN(TransferPlanTest)
#include "tst_transferplan.moc"
