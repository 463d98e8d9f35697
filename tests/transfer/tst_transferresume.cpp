#include "TransferTestHost.h"
#include "transfer/TransferBatch.h"

#include "common/FileSystemError.h"
#include "faultserver.h"
#include "transfer/FolderTransfer.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"
#include "transfer/UnfinishedUploads.h"
#include "transfer/UploadFile.h"

#include <QDateTime>
#include <QJsonArray>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
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
    void onlyAFileOfTheRightSizeIsPutInPlace_data();
    void onlyAFileOfTheRightSizeIsPutInPlace();
    void sameSizeFileReplacedSecondsLaterStartsOver();
    void fullDiskKeepsOnlyDataThatCanBeResumed_data();
    void fullDiskKeepsOnlyDataThatCanBeResumed();
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
    // Folder downloads enter only where PWD confirms they arrived.
    QJsonObject moving = script;
    moving["followCwd"] = true;
    if (!m_server->start(moving) || !m_connection.open(m_server->port()))
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
        static const QStringList verbs{"SIZE", "MDTM", "STOR",   "APPE",    "DELE",
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
    if (!WriteFile(localPath(name), data) ||
        UploadFile(m_host, localPath(name), TransferMode::Binary) ||
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
    if (!DownloadFile(m_host, name, "back", size, TransferMode::Binary))
        return "<not fetched>";
    return ReadFile(localPath("back"));
}

namespace {
constexpr qint64 kUploadSize = 3 * 1024 * 1024;
constexpr qint64 kUploadBreak = 1024 * 1024;

// A server with a file of the uploaded name, whose first upload breaks off after 1 MiB: the
// server keeps only that much and says so at the end, or the connection drops.
QJsonObject BreakingUploadServer(const QString& name, const QJsonObject& breakRule,
                                 const QJsonObject& moreRules = {})
{
    QJsonObject rules = moreRules;
    rules["STOR"] = QJsonArray{breakRule, QJsonObject()};
    return {{"listing", QStringLiteral("-rw-r--r-- 1 u g 5 Jan 01 2020 %1\r\n").arg(name)},
            {"rules", rules}};
}
} // namespace

void TransferResumeTest::brokenUploadResumesWithAppendByteExact()
{
    const QJsonObject diskFull{{"keep", kUploadBreak}, {"final", "451 Disk full."}};
    QVERIFY(startServer(BreakingUploadServer("big.bin", diskFull)));
    const UnfinishedUploads uploads(localPath("uploads"));
    const QByteArray data = PatternBytes(kUploadSize);
    const QByteArray copy = breakUpload("big.bin", data, uploads);
    QVERIFY2(IsTemporaryRemoteNameOf(copy, "big.bin"), copy);
    const QString temporary = QString::fromUtf8(copy);
    // Kept, not deleted, and its length and time taken as it was left.
    QCOMPARE(uploadCommands(0),
             QStringList({"STOR " + temporary,
                          QStringLiteral("STORED %1 %2").arg(temporary).arg(kUploadBreak),
                          "SIZE " + temporary, "MDTM " + temporary}));

    // Resume: the copy is checked to be as it was left, only the rest is appended, then the
    // copy is put in place.
    const qsizetype before = m_server->received().size();
    m_host.resumeAnswers = {ResumeAnswer::Resume};
    QVERIFY(UploadFile(m_host, localPath("big.bin"), TransferMode::Binary));
    QCOMPARE(m_host.log,
             QStringList{"ask Resume the earlier upload of big.bin (1024 KB of 3072 KB)?"});
    QCOMPARE(uploadCommands(before),
             QStringList({"SIZE " + temporary, "MDTM " + temporary, "SIZE " + temporary,
                          "APPE " + temporary,
                          QStringLiteral("APPENDED %1 %2").arg(temporary).arg(2 * kUploadBreak),
                          "RNFR " + temporary, "RNTO big.bin"}));
    QCOMPARE(m_host.sink.lastDone, kUploadSize);
    QVERIFY(serverFile("big.bin", kUploadSize) == data);
    QVERIFY(!uploads.find(m_host.server, "/", "big.bin"));
}

void TransferResumeTest::uploadStartsOverWhenResumingIsNotSafe_data()
{
    QTest::addColumn<QJsonObject>("rules");
    QTest::addColumn<QString>("change"); // "local": the local file; "copy": the server's copy
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("verbs");
    const QStringList again{"DELE", "STOR", "STORED", "RNFR", "RNTO"};
    const QStringList checked = QStringList{"SIZE", "MDTM"} + again;
    const auto refused = [](const char* reply) {
        return QJsonArray{QJsonObject{{"reply", reply}}};
    };
    QTest::newRow("the server has no SIZE")
        << QJsonObject{{"SIZE", refused("502 No SIZE here.")}} << QString()
        << QStringList{"warn " + NoUploadResumeText("f.bin")} << QStringList{"SIZE"} + again;
    QTest::newRow("the local file changed since")
        << QJsonObject() << "local" << QStringList() << checked;
    QTest::newRow("someone replaced the copy since, same length")
        << QJsonObject() << "copy" << QStringList() << checked;
    // As when the connection was gone before the copy could be asked about.
    QTest::newRow("the server has no MDTM: the copy's state is unknown")
        << QJsonObject{{"MDTM", refused("502 No MDTM here.")}} << QString() << QStringList()
        << QStringList{"SIZE"} + again;
    QTest::newRow("the user starts over")
        << QJsonObject() << QString()
        << QStringList{"ask Resume the earlier upload of f.bin (1024 KB of 3072 KB)?"} << checked;
}

void TransferResumeTest::uploadStartsOverWhenResumingIsNotSafe()
{
    QFETCH(QJsonObject, rules);
    QFETCH(QString, change);
    QFETCH(QStringList, log);
    QFETCH(QStringList, verbs);
    const QJsonObject diskFull{{"keep", kUploadBreak}, {"final", "451 Disk full."}};
    QVERIFY(startServer(BreakingUploadServer("f.bin", diskFull, rules)));
    const UnfinishedUploads uploads(localPath("uploads"));
    QByteArray data = PatternBytes(kUploadSize);
    const QByteArray copy = breakUpload("f.bin", data, uploads);
    QVERIFY2(IsTemporaryRemoteNameOf(copy, "f.bin"), copy);
    if (change == "local") {
        data = PatternBytes(kUploadSize, 1);
        QVERIFY(WriteFile(localPath("f.bin"), data));
        QFile file(localPath("f.bin"));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(5),
                                 QFileDevice::FileModificationTime));
    } else if (change == "copy") {
        // Another client writes other data of the same length under the copy's name.
        QVERIFY(WriteFile(localPath("other"), PatternBytes(kUploadBreak, 2)));
        QCOMPARE(SendFileAs(m_host, localPath("other"), copy, TransferMode::Binary),
                 UploadOutcome::Stored);
    }

    const qsizetype before = m_server->received().size();
    m_host.resumeAnswers = {ResumeAnswer::StartOver};
    const bool uploaded = UploadFile(m_host, localPath("f.bin"), TransferMode::Binary);
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

void TransferResumeTest::onlyAFileOfTheRightSizeIsPutInPlace_data()
{
    QTest::addColumn<qint64>("listedSize");
    QTest::addColumn<bool>("resume");
    QTest::addColumn<QJsonObject>("rules");
    QTest::addColumn<qint64>("arrived"); // the bytes the local data holds at the end
    QTest::addColumn<bool>("whole");
    QTest::newRow("the server sends from the start although it took REST")
        << kFileSize << true << QJsonObject{{"RETR", QJsonArray{QJsonObject{{"ignoreRest", true}}}}}
        << 100000 + kFileSize << false;
    QTest::newRow("the listing and SIZE both disagree with the data")
        << qint64(250000) << false
        << QJsonObject{{"SIZE", QJsonArray{QJsonObject{{"reply", "213 250000"}}}}} << kFileSize
        << false;
    QTest::newRow("a stale listing, the server's SIZE agrees")
        << qint64(250000) << false << QJsonObject() << kFileSize << true;
}

void TransferResumeTest::onlyAFileOfTheRightSizeIsPutInPlace()
{
    QFETCH(qint64, listedSize);
    QFETCH(bool, resume);
    QFETCH(QJsonObject, rules);
    QFETCH(qint64, arrived);
    QFETCH(bool, whole);
    QVERIFY(startServer({{"features", QJsonArray{"REST STREAM"}},
                         {"files", QJsonObject{{"f.bin", "@300000"}}},
                         {"rules", rules}}));
    QVERIFY(WriteFile(localPath("f.bin"), "the user's earlier copy"));
    const RemoteStamp listed{"f.bin", listedSize, 1234567};
    QStringList log;
    if (resume) {
        leavePartial("f.bin", listed, 100000);
        m_host.resumeAnswers = {ResumeAnswer::Resume};
        log << "ask " + ResumeQuestionText("f.bin", 100000, listedSize);
    }

    QCOMPARE(DownloadListedFile(m_host, listed, "f.bin"), whole);
    const QStringList partials = PartialFiles(m_localDir->path(), "f.bin");
    if (whole) {
        QCOMPARE(m_host.log, log);
        QCOMPARE(ReadFile(localPath("f.bin")), ServedBytes(kFileSize));
        QCOMPARE(partials, QStringList());
        return;
    }
    // The earlier file is as it was; the user reads what arrived and where it is.
    QCOMPARE(ReadFile(localPath("f.bin")), QByteArray("the user's earlier copy"));
    QCOMPARE(partials.size(), 1);
    QCOMPARE(QFileInfo(localPath(partials.first())).size(), arrived);
    log << "warn " + SizeMismatchText(localPath("f.bin"), arrived, listedSize,
                                      localPath(partials.first()));
    QCOMPARE(m_host.log, log);
}

void TransferResumeTest::sameSizeFileReplacedSecondsLaterStartsOver()
{
    // Both listings show the same size and the same minute; only the seconds tell the files
    // apart.
    const QString before = QStringLiteral("type=file;size=300000;modify=20261210110500; f.bin\r\n");
    QString after = before;
    after.replace("110500", "110545");
    QVERIFY(startServer(
        {{"features", QJsonArray{"MLST type*;size*;modify*;", "REST STREAM"}},
         {"listings", QJsonArray{before, after}},
         {"files", QJsonObject{{"f.bin", "@300000"}}},
         {"rules",
          QJsonObject{{"RETR", QJsonArray{QJsonObject{{"cutAfter", 100000}}, QJsonObject()}}}}}));
    QCOMPARE(DownloadFolder(m_host, "dir"), FolderOutcome::Failed);
    QCOMPARE(m_host.log, QStringList{"error Internet Read File Failed."});
    QCOMPARE(PartialFiles(localPath("dir"), "f.bin").size(), 1);

    m_host.log.clear();
    m_host.resumeAnswers = {ResumeAnswer::Resume};
    QCOMPARE(DownloadFolder(m_host, "dir"), FolderOutcome::Done);
    QCOMPARE(m_host.log, QStringList());
    QCOMPARE(transferCommands(), QStringList({"RETR f.bin", "RETR f.bin"}));
    QCOMPARE(ReadFile(localPath("dir/f.bin")), ServedBytes(kFileSize));
    QCOMPARE(PartialFiles(localPath("dir"), "f.bin"), QStringList());
}

namespace {
// A limit on the size of any file this process writes, as a full disk would set one: writes
// beyond it fail (EFBIG) instead of raising the signal that ends the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool set() const { return m_set; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_set = false;
};
} // namespace

void TransferResumeTest::fullDiskKeepsOnlyDataThatCanBeResumed_data()
{
    QTest::addColumn<bool>("listed");
    QTest::newRow("a listed file: its data can be resumed") << true;
    QTest::newRow("a file without a listing: its data cannot") << false;
}

void TransferResumeTest::fullDiskKeepsOnlyDataThatCanBeResumed()
{
    QFETCH(bool, listed);
    QVERIFY(startServer(
        {{"features", QJsonArray{"REST STREAM"}}, {"files", QJsonObject{{"f.bin", "@300000"}}}}));
    const RemoteStamp stamp{"f.bin", kFileSize, 1234567};
    QString error;
    {
        const FileSizeLimit limit(100000);
        QVERIFY(limit.set());
        try {
            if (listed)
                DownloadListedFile(m_host, stamp, "f.bin");
            else
                DownloadFile(m_host, "f.bin", "f.bin", kFileSize, TransferMode::Binary);
        } catch (const FileSystemError& e) {
            error = e.text();
        }
    }
    const QStringList partials = PartialFiles(m_localDir->path(), "f.bin");
    QCOMPARE(partials.size(), listed ? 1 : 0);
    QCOMPARE(error, LocalWriteFailedText(localPath("f.bin"), ioErrorText(EFBIG),
                                         listed ? localPath(partials.first()) : QString()));
    QVERIFY(!QFile::exists(localPath("f.bin")));
    // The connection is free for the next command.
    m_host.resumeAnswers = {ResumeAnswer::Resume};
    QVERIFY(DownloadListedFile(m_host, stamp, "f.bin"));
    QCOMPARE(ReadFile(localPath("f.bin")), ServedBytes(kFileSize));
    if (listed)
        QCOMPARE(transferCommands().mid(1), QStringList({"REST 100000", "RETR f.bin"}));
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
