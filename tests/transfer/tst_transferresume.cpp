#include "TransferTestHost.h"
#include "transfer/TransferBatch.h"

#include "faultserver.h"
#include "transfer/FolderTransfer.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"
#include "transfer/UnfinishedUploads.h"

#include <QDateTime>
#include <QJsonArray>

#include <fcntl.h>
#include <unistd.h>

// Downloads and uploads that continue where an earlier one broke off: byte-exact after a
// broken transfer, and starting over wherever continuing could corrupt the file.
class TransferResumeTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void brokenDownloadResumesByteExact();
    void startsOverWhenResumingIsNotSafe_data();
    void startsOverWhenResumingIsNotSafe();
    void folderDownloadStartedAgainSkipsWholeFiles();
    void resumeOntoTheFileHereKeepsItWhereTheServerCannot_data();
    void resumeOntoTheFileHereKeepsItWhereTheServerCannot();
    void brokenUploadResumesWithAppendByteExact();
    void uploadStartsOverWhenResumingIsNotSafe_data();
    void uploadStartsOverWhenResumingIsNotSafe();

private:
    bool startServer(const QJsonObject& script);
    QString localPath(const QString& name) const { return m_localDir->filePath(name); }
    // Partial data as a download of `stamp` would have left it: the first `size` bytes.
    void leavePartial(const QString& name, const RemoteStamp& stamp, qint64 size);
    QStringList transferCommands() const;
    // The upload's commands on the server from the `from`th line on, with what it stored.
    QStringList uploadCommands(qsizetype from) const;
    // An upload of `data` from the local file `name` that breaks off after 1 MiB, remembered
    // in `uploads`; the connection is opened anew afterwards when the server dropped it. The
    // name of the copy it left.
    QByteArray breakUpload(const QString& name, const QByteArray& data,
                           const UnfinishedUploads& uploads);
    // The server's file `name`, fetched back.
    QByteArray serverFile(const QByteArray& name, qint64 size);

    std::unique_ptr<FaultServer> m_server;
    std::unique_ptr<QTemporaryDir> m_localDir;
    TestConnection m_connection;
    TestTransferHost m_host;
};

namespace {

constexpr qint64 kFileSize = 300000;

// What the fault server sends for "@N".
QByteArray ServedBytes(qint64 size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        data[i] = char(i % 251);
    return data;
}

} // namespace

void TransferResumeTest::init()
{
    CancelRequested = false;
    m_localDir = std::make_unique<QTemporaryDir>();
    m_host = {};
    m_host.folder = m_localDir->path();
}

void TransferResumeTest::cleanup()
{
    m_connection.close();
    m_server.reset();
}

bool TransferResumeTest::startServer(const QJsonObject& script)
{
    m_server = std::make_unique<FaultServer>();
    if (!m_server->start(script) || !m_connection.open(m_server->port()))
        return false;
    m_host.connection = m_connection.connection;
    return true;
}

void TransferResumeTest::leavePartial(const QString& name, const RemoteStamp& stamp, qint64 size)
{
    const LocalDirectory folder(m_localDir->path());
    LocalFileWriter writer(folder, PartialDownloadName(name));
    RememberRemoteStamp(writer.fd(), stamp);
    const QByteArray data = ServedBytes(size);
    writer.write(data.constData(), data.size());
    writer.close();
}

QStringList TransferResumeTest::transferCommands() const
{
    QStringList commands;
    for (const QString& line : m_server->received()) {
        if (line.startsWith("REST") || line.startsWith("RETR"))
            commands << line;
    }
    return commands;
}

QStringList TransferResumeTest::uploadCommands(qsizetype from) const
{
    QStringList commands;
    for (const QString& line : m_server->received().mid(from)) {
        static const QStringList verbs{"SIZE", "STOR", "APPE",   "DELE",
                                       "RNFR", "RNTO", "STORED", "APPENDED"};
        if (verbs.contains(line.section(' ', 0, 0)))
            commands << line;
    }
    return commands;
}

QByteArray TransferResumeTest::breakUpload(const QString& name, const QByteArray& data,
                                           const UnfinishedUploads& uploads)
{
    m_host.uploads = &uploads;
    if (!WriteFile(localPath(name), data) || UploadFile(m_host, localPath(name), 2) ||
        m_host.log != QStringList{"error Internet Write File Failed."})
        return "<the upload did not break>";
    m_host.log.clear();
    if (!m_connection.currentDirectory().startsWith('/')) {
        m_connection.close();
        if (!m_connection.open(m_server->port()))
            return "<no connection>";
        m_host.connection = m_connection.connection;
    }
    const auto earlier = uploads.find(m_host.server, "/", name.toUtf8());
    return earlier ? earlier->temporaryName : "<not remembered>";
}

QByteArray TransferResumeTest::serverFile(const QByteArray& name, qint64 size)
{
    if (!DownloadFile(m_host, name, "back", size, FTP_TRANSFER_TYPE_BINARY))
        return "<not fetched>";
    return ReadFile(localPath("back"));
}

namespace {
constexpr qint64 kUploadSize = 3 * 1024 * 1024;
constexpr qint64 kUploadBreak = 1024 * 1024;

// A server with a file of the uploaded name, whose first upload breaks off after 1 MiB: the
// connection drops, or the server keeps only that much and says so at the end.
QJsonObject BreakingUploadServer(const QString& name, const QJsonObject& breakRule,
                                 const QJsonObject& sizeRule = {})
{
    return {{"listing", QStringLiteral("-rw-r--r-- 1 u g 5 Jan 01 2020 %1\r\n").arg(name)},
            {"rules", QJsonObject{{"STOR", QJsonArray{breakRule, QJsonObject()}},
                                  {"SIZE", QJsonArray{sizeRule}}}}};
}
} // namespace

void TransferResumeTest::brokenUploadResumesWithAppendByteExact()
{
    QVERIFY(startServer(BreakingUploadServer("big.bin", {{"dropAfter", kUploadBreak}})));
    const UnfinishedUploads uploads(localPath("uploads"));
    const QByteArray data = PatternBytes(kUploadSize);
    const QByteArray copy = breakUpload("big.bin", data, uploads);
    QVERIFY2(IsTemporaryRemoteNameOf(copy, "big.bin"), copy);
    const QString temporary = QString::fromUtf8(copy);
    QCOMPARE(uploadCommands(0), QStringList{"STOR " + temporary}); // kept, not deleted

    // Resume: the server's length is checked, only the rest is appended, then put in place.
    const qsizetype before = m_server->received().size();
    m_host.resumeAnswers = {ResumeAnswer::Resume};
    QVERIFY(UploadFile(m_host, localPath("big.bin"), FTP_TRANSFER_TYPE_BINARY));
    QCOMPARE(m_host.log,
             QStringList{"ask Resume the earlier upload of big.bin (1024 KB of 3072 KB)?"});
    QCOMPARE(uploadCommands(before),
             QStringList({"SIZE " + temporary, "SIZE " + temporary, "APPE " + temporary,
                          QStringLiteral("APPENDED %1 %2").arg(temporary).arg(2 * kUploadBreak),
                          "RNFR " + temporary, "RNTO big.bin"}));
    QCOMPARE(m_host.sink.lastDone, kUploadSize);
    QVERIFY(serverFile("big.bin", kUploadSize) == data);
    QVERIFY(!uploads.find(m_host.server, "/", "big.bin"));
}

void TransferResumeTest::uploadStartsOverWhenResumingIsNotSafe_data()
{
    QTest::addColumn<QJsonObject>("sizeRule");
    QTest::addColumn<bool>("changeLocalFile");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("verbs");
    const QStringList again{"DELE", "STOR", "STORED", "RNFR", "RNTO"};
    QTest::newRow("the server has no SIZE")
        << QJsonObject{{"reply", "502 No SIZE here."}} << false
        << QStringList{"warn " + NoUploadResumeText("f.bin")} << QStringList{"SIZE"} + again;
    QTest::newRow("the local file changed since")
        << QJsonObject() << true << QStringList() << again;
    QTest::newRow("the user starts over")
        << QJsonObject() << false
        << QStringList{"ask Resume the earlier upload of f.bin (1024 KB of 3072 KB)?"}
        << QStringList{"SIZE"} + again;
}

void TransferResumeTest::uploadStartsOverWhenResumingIsNotSafe()
{
    QFETCH(QJsonObject, sizeRule);
    QFETCH(bool, changeLocalFile);
    QFETCH(QStringList, log);
    QFETCH(QStringList, verbs);
    QVERIFY(startServer(BreakingUploadServer(
        "f.bin", {{"keep", kUploadBreak}, {"final", "451 Disk full."}}, sizeRule)));
    const UnfinishedUploads uploads(localPath("uploads"));
    QByteArray data = PatternBytes(kUploadSize);
    const QByteArray copy = breakUpload("f.bin", data, uploads);
    QVERIFY2(IsTemporaryRemoteNameOf(copy, "f.bin"), copy);
    if (changeLocalFile) {
        data = PatternBytes(kUploadSize, 1);
        QVERIFY(WriteFile(localPath("f.bin"), data));
        QFile file(localPath("f.bin"));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(5),
                                 QFileDevice::FileModificationTime));
    }

    const qsizetype before = m_server->received().size();
    m_host.resumeAnswers = {ResumeAnswer::StartOver};
    const bool uploaded = UploadFile(m_host, localPath("f.bin"), FTP_TRANSFER_TYPE_BINARY);
    QCOMPARE(m_host.log, log);
    QVERIFY(uploaded);
    const QStringList commands = uploadCommands(before);
    QStringList seen;
    for (const QString& command : commands)
        seen << command.section(' ', 0, 0);
    QCOMPARE(seen, verbs);
    // Only the earlier copy was deleted; the whole file went up anew under a name of its own.
    QVERIFY(commands.contains("DELE " + QString::fromUtf8(copy)));
    QVERIFY(!commands.contains("STOR " + QString::fromUtf8(copy)));
    QVERIFY(serverFile("f.bin", kUploadSize) == data);
    QVERIFY(!uploads.find(m_host.server, "/", "f.bin"));
}

void TransferResumeTest::brokenDownloadResumesByteExact()
{
    QVERIFY(startServer(
        {{"features", QJsonArray{"REST STREAM"}},
         {"files", QJsonObject{{"big.bin", "@300000"}}},
         {"rules",
          QJsonObject{{"RETR", QJsonArray{QJsonObject{{"cutAfter", 123457}}, QJsonObject()}}}}}));
    const RemoteStamp listed{"big.bin", kFileSize, 1234567};
    QVERIFY(!DownloadListedFile(m_host, listed, "big.bin"));
    QCOMPARE(m_host.log, QStringList{"error Internet Read File Failed."});
    QCOMPARE(ReadPartial(m_localDir->path(), "big.bin"), ServedBytes(123457));

    // Cancel at the question: nothing is asked of the server, nothing changes.
    m_host.log.clear();
    m_host.resumeAnswers = {ResumeAnswer::Cancel, ResumeAnswer::Resume};
    const QString question =
        QStringLiteral("ask Resume the earlier download of big.bin (120 KB of 292 KB)?");
    QVERIFY(DownloadListedFile(m_host, listed, "big.bin"));
    QVERIFY(CancelRequested);
    QCOMPARE(m_host.log, QStringList{question});
    QCOMPARE(transferCommands(), QStringList{"RETR big.bin"});

    // Resume: only the rest moves, appended to the partial data, and the file is put in place.
    CancelRequested = false;
    m_host.log.clear();
    QVERIFY(DownloadListedFile(m_host, listed, "big.bin"));
    QCOMPARE(m_host.log, QStringList{question});
    QCOMPARE(transferCommands(), QStringList({"RETR big.bin", "REST 123457", "RETR big.bin"}));
    QCOMPARE(ReadFile(localPath("big.bin")), ServedBytes(kFileSize));
    QCOMPARE(m_host.sink.lastDone, kFileSize);
    QVERIFY(PartialFiles(m_localDir->path(), "big.bin").isEmpty());
}

void TransferResumeTest::startsOverWhenResumingIsNotSafe_data()
{
    QTest::addColumn<QJsonArray>("features");
    QTest::addColumn<qint64>("listedMinutes");
    QTest::addColumn<int>("answer"); // a ResumeAnswer, or -1: no question expected
    QTest::addColumn<QStringList>("log");
    const QString ask =
        QStringLiteral("ask Resume the earlier download of f.bin (97 KB of 292 KB)?");
    const QJsonArray rest{"REST STREAM"};
    QTest::newRow("the server cannot continue")
        << QJsonArray{"SIZE"} << qint64(100) << int(ResumeAnswer::Resume)
        << QStringList{ask, "warn " + NoResumeText("f.bin")};
    QTest::newRow("the remote file changed since") << rest << qint64(101) << -1 << QStringList();
    QTest::newRow("the user starts over")
        << rest << qint64(100) << int(ResumeAnswer::StartOver) << QStringList{ask};
}

void TransferResumeTest::startsOverWhenResumingIsNotSafe()
{
    QFETCH(QJsonArray, features);
    QFETCH(qint64, listedMinutes);
    QFETCH(int, answer);
    QFETCH(QStringList, log);
    QVERIFY(startServer({{"features", features}, {"files", QJsonObject{{"f.bin", "@300000"}}}}));
    leavePartial("f.bin", {"f.bin", kFileSize, 100}, 100000);
    // Neither a lookalike the user made nor the data of another remote name is ever touched.
    QVERIFY(WriteFile(localPath(PartialDownloadName("f.bin") + ".mine00"), "the user's"));
    leavePartial("f.bin", {"F.BIN", kFileSize, 100}, 200000);

    if (answer >= 0)
        m_host.resumeAnswers = {ResumeAnswer(answer)};
    QVERIFY(DownloadListedFile(m_host, {"f.bin", kFileSize, listedMinutes}, "f.bin"));
    QCOMPARE(m_host.log, log);
    QCOMPARE(transferCommands(), QStringList{"RETR f.bin"});
    QCOMPARE(ReadFile(localPath("f.bin")), ServedBytes(kFileSize));
    QStringList left = PartialFiles(m_localDir->path(), "f.bin");
    QCOMPARE(left.size(), 2);
    QVERIFY(left.removeAll(PartialDownloadName("f.bin") + ".mine00") == 1);
    QCOMPARE(QFileInfo(localPath(left.first())).size(), 200000);
}

void TransferResumeTest::folderDownloadStartedAgainSkipsWholeFiles()
{
    const QString listing = QStringLiteral("-rw-r--r-- 1 u g 300000 Jan 01 2020 a.bin\r\n"
                                           "-rw-r--r-- 1 u g 300000 Jan 01 2020 b.bin\r\n"
                                           "-rw-r--r-- 1 u g 300000 Jan 01 2020 c.bin\r\n");
    const QJsonObject files{{"a.bin", "@300000"}, {"b.bin", "@300000"}, {"c.bin", "@300000"}};
    QVERIFY(startServer(
        {{"features", QJsonArray{"REST STREAM"}},
         {"listing", listing},
         {"files", files},
         {"rules", QJsonObject{{"RETR", QJsonArray{QJsonObject(), QJsonObject{{"cutAfter", 50000}},
                                                   QJsonObject()}}}}}));
    // The first run breaks off in b.bin and goes on with c.bin.
    QCOMPARE(DownloadFolder(m_host, "dir"), FolderOutcome::Failed);
    QCOMPARE(m_host.log, QStringList{"error Internet Read File Failed."});
    QCOMPARE(ReadFile(localPath("dir/c.bin")), ServedBytes(kFileSize));

    // Started again: asked once, the whole files stay as they are, b.bin gets only its rest.
    m_host.log.clear();
    m_host.yesNoAnswers = {true};
    m_host.resumeAnswers = {ResumeAnswer::Resume};
    const qsizetype before = transferCommands().size();
    QCOMPARE(DownloadFolder(m_host, "dir"), FolderOutcome::Done);
    QCOMPARE(m_host.log,
             QStringList({"ask Skip files that are already here?",
                          "ask Resume the earlier download of b.bin (48 KB of 292 KB)?"}));
    QCOMPARE(transferCommands().mid(before), QStringList({"REST 50000", "RETR b.bin"}));
    for (const char* name : {"dir/a.bin", "dir/b.bin", "dir/c.bin"})
        QCOMPARE(ReadFile(localPath(name)), ServedBytes(kFileSize));
    QVERIFY(PartialFiles(localPath("dir"), "b.bin").isEmpty());
}

void TransferResumeTest::resumeOntoTheFileHereKeepsItWhereTheServerCannot_data()
{
    QTest::addColumn<QJsonArray>("features");
    QTest::addColumn<bool>("continued");
    QTest::newRow("the server continues") << QJsonArray{"REST STREAM"} << true;
    QTest::newRow("the server cannot") << QJsonArray{"SIZE"} << false;
}

void TransferResumeTest::resumeOntoTheFileHereKeepsItWhereTheServerCannot()
{
    QFETCH(QJsonArray, features);
    QFETCH(bool, continued);
    QVERIFY(startServer({{"features", features}, {"files", QJsonObject{{"f.bin", "@300000"}}}}));
    // The file here is the user's, not a partial download: its first bytes are their own.
    const QByteArray mine = "MINE" + ServedBytes(100000).mid(4);
    QVERIFY(WriteFile(localPath("f.bin"), mine));
    m_host.existsAnswers = {{ExistsAction::Resume, false}};
    TestSelection rows;
    rows.add("f.bin", kFileSize);
    DownloadSelection(m_host, rows);
    const QString asked = QStringLiteral("exists The file \"f.bin\" already exists in %1. [resume]")
                              .arg(m_localDir->path());
    if (continued) {
        QCOMPARE(m_host.log, (QStringList{asked, "list local"}));
        QCOMPARE(transferCommands(), QStringList({"REST 100000", "RETR f.bin"}));
        QCOMPARE(ReadFile(localPath("f.bin")), mine + ServedBytes(kFileSize).mid(100000));
    } else {
        QCOMPARE(m_host.log, (QStringList{asked, "warn " + NoResumeKeptText("f.bin", false)}));
        QCOMPARE(transferCommands(), QStringList());
        QCOMPARE(ReadFile(localPath("f.bin")), mine);
    }
    QVERIFY(PartialFiles(m_localDir->path(), "f.bin").isEmpty());
}

QTEST_MAIN(TransferResumeTest)
#include "tst_transferresume.moc"
