#include "ScriptedPrompter.h"
#include "SshServer.h"
#include "StockServer.h"
#include "TransferTestHost.h"
#include "common/FileListModel.h"
#include "editor/RemoteEdit.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteDelete.h"
#include "ftp/RemoteHost.h"
#include "ftp/RemoteListing.h"
#include "ftp/RemoteSession.h"
#include "queue/TransferQueue.h"
#include "remote/FtpServerSession.h"
#include "remote/SiteSession.h"
#include "sites/ProfileStore.h"
#include "transfer/FolderTransfer.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"
#include "transfer/UnfinishedUploads.h"
#include "transfer/UploadFile.h"
#include "wininet/InternetTimeouts.h"

#include <QDateTime>
#include <QDirIterator>
#include <QtTest>

#include <fcntl.h>
#include <map>
#include <sys/stat.h>

// The same cases against every server people run, each plain and with explicit TLS, through
// the calls the window makes, and against an SSH server over SFTP: what each server lists,
// replaces, deletes and resumes must come out as the user expects, and never cost a file outside
// what the user picked.
class TestRealServers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase_data();
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void listingShowsSizesFoldersAndDates();
    void uploadReplacesExistingFileWhole();
    void treeDeleteLeavesLinkTargetsAlone();
    void editorSaveReplacesRemoteFile();
    void downloadResumesByteExact();
    void uploadResumesByteExact();
    void implicitTlsSiteListsAndTransfers();
    void folderTransfersKeepEveryFile_data();
    void folderTransfersKeepEveryFile();
    void queuedUploadContinuesItsCopy();

private:
    StockServer& server();
    // The row's server's path of `localPath`, whichever kind of server it is.
    QString serverPath(const QString& localPath) const;
    QString casePath(const QString& name = {}) const { return m_case + '/' + name; }
    // The stored site for the row's server, in the case's folder (handed over to its user).
    bool caseSite(SiteProfile& site);
    // Connects as the window does and enters the case's folder; lists it into `window`.
    bool connectAndList(WindowTestHost& window);
    const FileListRow* row(const WindowTestHost& window, const QString& name) const;
    // After a cancelled transfer: connects again, as the user would, where the server closed
    // the connection (pure-ftpd at times ends the session when a data connection is reset).
    bool connectAgainIfLost();
    // The case folder's entries on disk, leftovers of temporary names included.
    QStringList entries(const QString& folder = {}) const;
    static bool setTime(const QString& path, const QDateTime& time);

    QTemporaryDir m_home;
    QTemporaryDir m_certificates;
    std::map<QString, std::unique_ptr<StockServer>> m_servers;
    std::map<QString, std::unique_ptr<QTemporaryDir>> m_roots;
    std::unique_ptr<SshServer> m_sshd; // the "sshd" row's, with its root in m_roots
    SshOptions m_sshOptions;
    std::unique_ptr<QTemporaryDir> m_local;
    QString m_row; // the global row's key into m_servers and m_roots
    QString m_case;
    bool m_tls = false;
    bool m_ssh = false;
    TestTransferHost m_host;
};

namespace {
constexpr qint64 kResumeSize = 6 * 1024 * 1024;
constexpr qint64 kStopAfter = 1024 * 1024;
const QString kOldStamp = QStringLiteral("2022-03-03T10:00:00Z");
constexpr int kSshd = -1; // the kind of the row against OpenSSH's sshd

// Every file under `root` by its path below it, with its contents: leftovers show as well.
QMap<QString, QByteArray> TreeOf(const QString& root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(root).relativeFilePath(path)] = ReadFile(path);
    }
    return files;
}

// The files of `tree` that `after` holds are those of `sent`, whole.
bool NoPartialFile(const QMap<QString, QByteArray>& sent, const QMap<QString, QByteArray>& after)
{
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (!it.key().endsWith(".zulftp-upload") && sent.value(it.key()) != it.value()) {
            qWarning("not whole: %s", qPrintable(it.key()));
            return false;
        }
    }
    return true;
}
} // namespace

void TestRealServers::initTestCase_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("rename"); // the server renames files
    const std::pair<const char*, StockServer::Kind> kinds[] = {
        {"pyftpdlib", StockServer::Kind::Pyftpdlib},
        {"vsftpd", StockServer::Kind::Vsftpd},
        {"proftpd", StockServer::Kind::Proftpd},
        {"pure-ftpd", StockServer::Kind::PureFtpd}};
    for (const auto& [name, kind] : kinds) {
        QTest::addRow("%s", name) << int(kind) << false << true;
        QTest::addRow("%s+TLS", name) << int(kind) << true << true;
    }
    // Sites that may write but not rename exist (upload-only drop folders): what replaces a
    // file must then never leave the name without a whole file.
    QTest::addRow("proftpd, no rename") << int(StockServer::Kind::Proftpd) << false << false;
    QTest::addRow("sshd") << kSshd << false << true;
}

void TestRealServers::initTestCase()
{
    QVERIFY(m_home.isValid() && m_certificates.isValid());
    qputenv("ZULFTP_HOME", QFile::encodeName(m_home.path()));
    wininet::setReceiveTimeoutMs(10000);
    QVERIFY(FtpServerFixture::makeCertificate(m_certificates.path(), {"127.0.0.1"}, false));
    qputenv("SSL_CERT_FILE", QFile::encodeName(m_certificates.filePath("ca.pem")));
    qputenv("SSL_CERT_DIR", QFile::encodeName(m_certificates.filePath("none")));
    m_sshOptions.configFile = "/dev/null";
    m_sshOptions.askpassProgram = ZUL_SFTP_ASKPASS;
    m_sshOptions.extraOptions = {
        "UserKnownHostsFile=" + m_home.filePath("known_hosts").toStdString(),
        "GlobalKnownHostsFile=/dev/null", "IdentityAgent=none", "IdentitiesOnly=yes"};
}

StockServer& TestRealServers::server()
{
    return *m_servers.at(m_row);
}

QString TestRealServers::serverPath(const QString& localPath) const
{
    return m_ssh ? m_sshd->serverPath(localPath) : m_servers.at(m_row)->serverPath(localPath);
}

void TestRealServers::init()
{
    QFETCH_GLOBAL(int, kind);
    QFETCH_GLOBAL(bool, tls);
    QFETCH_GLOBAL(bool, rename);
    m_tls = tls;
    m_ssh = kind == kSshd;
    CancelRequested = false;
    FtpConnection = TFtpConnection();
    const auto serverKind = StockServer::Kind(kind);
    const QString reason = m_ssh ? SshServer::unavailableReason(SshServer::Kind::OpenSsh)
                                 : StockServer::unavailableReason(serverKind);
    // CI runs as root with everything unpacked: there a missing server is a failure.
    const bool required =
        qEnvironmentVariableIsSet("CI") || qEnvironmentVariable("ZULFTP_REQUIRE_SERVERS") == "1";
    if (!reason.isEmpty() && required)
        QFAIL(qPrintable(reason));
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));

    // One server per row, started the first time the row comes up and kept for the others.
    m_row = QStringLiteral("%1 %2 %3").arg(kind).arg(tls).arg(rename);
    auto& running = m_servers[m_row];
    auto& root = m_roots[m_row];
    if (m_ssh && !m_sshd) {
        root = std::make_unique<QTemporaryDir>();
        m_sshd = std::make_unique<SshServer>();
        QVERIFY2(root->isValid() && m_sshd->start(SshServer::Kind::OpenSsh, root->path()),
                 qPrintable(m_sshd->errorText()));
        // The host key is trusted beforehand, as after the first connect the user confirmed.
        QFile known(m_home.filePath("known_hosts"));
        QVERIFY(known.open(QIODevice::WriteOnly | QIODevice::Truncate));
        known.write(QStringLiteral("[127.0.0.1]:%1 ").arg(m_sshd->port()).toUtf8() +
                    m_sshd->hostKeyLine() + "\n");
        m_sshOptions.keyFile = m_sshd->clientKey().toStdString();
    } else if (!m_ssh && !running) {
        root = std::make_unique<QTemporaryDir>();
        auto started = std::make_unique<StockServer>();
        const QString pem = tls ? m_certificates.filePath("server.pem") : QString();
        QVERIFY2(root->isValid() && started->start(serverKind, root->path(), pem, rename),
                 qPrintable(started->errorText()));
        running = std::move(started);
    }
    m_case = QDir(root->path()).canonicalPath() + '/' + QTest::currentTestFunction();
    QDir(m_case).removeRecursively();
    QVERIFY(QDir().mkpath(m_case));
    m_local = std::make_unique<QTemporaryDir>();
    m_host = {};
    m_host.folder = m_local->path();
    m_host.server = QStringLiteral("%1@127.0.0.1:%2")
                        .arg(m_ssh ? m_sshd->user() : running->user())
                        .arg(m_ssh ? m_sshd->port() : running->port())
                        .toUtf8();
}

void TestRealServers::cleanup()
{
    if (FtpConnection.isOpen()) {
        WindowTestHost window;
        DisconnectFromSite(window);
    }
    FtpConnection = TFtpConnection();
    CancelRequested = false;
    if (QTest::currentTestFailed()) {
        if (const auto found = m_servers.find(m_row); found != m_servers.end() && found->second)
            qWarning("server output: %s", qPrintable(found->second->errorText()));
        if (m_ssh && m_sshd)
            qWarning("sshd output: %s", qPrintable(m_sshd->errorText()));
    }
}

void TestRealServers::cleanupTestCase()
{
    m_servers.clear();
}

bool TestRealServers::caseSite(SiteProfile& site)
{
    if (m_ssh) {
        m_sshd->handOver(m_case);
        site = {"Site",         "127.0.0.1", QString::number(m_sshd->port()),
                m_sshd->user(), QString(),   m_sshd->serverPath(m_case)};
        site.protocol = QString::fromLatin1(kProtocolSftp);
    } else {
        StockServer& stock = server();
        if (!stock.handOver(m_case))
            return false;
        site = {"Site",       "127.0.0.1",      QString::number(stock.port()),
                stock.user(), stock.password(), stock.serverPath(m_case)};
        site.encryption = m_tls ? kEncryptionRequired : kEncryptionNone;
    }
    return ProfileStore(ProfileFilePath()).write(site);
}

bool TestRealServers::connectAndList(WindowTestHost& window)
{
    SiteProfile site;
    if (!caseSite(site))
        return false;
    if (m_ssh)
        window.ssh = m_sshOptions;
    window.script.setIgnoreBeeps(true);
    if (!ConnectToSite(window)) {
        qWarning("not connected: %s",
                 qPrintable(window.script.seen().isEmpty() ? QString()
                                                           : window.script.seen().last().detail));
        return false;
    }
    // A TLS row that quietly went plain would test nothing of the encrypted connection, nor
    // the SSH row one that went anywhere but over SSH.
    if (window.status.contains(QLatin1String("(TLS")) != m_tls ||
        window.status.contains(QLatin1String("(SFTP")) != m_ssh) {
        qWarning("connected as: %s", qPrintable(window.status));
        return false;
    }
    m_host.shared = &FtpConnection.session();
    ListRemoteFiles(window);
    return window.script.verifyDone();
}

bool TestRealServers::connectAgainIfLost()
{
    QByteArray folder;
    if (FtpConnection.session().currentFolder(folder))
        return true;
    WindowTestHost window;
    DisconnectFromSite(window);
    FtpConnection = TFtpConnection();
    return connectAndList(window);
}

const FileListRow* TestRealServers::row(const WindowTestHost& window, const QString& name) const
{
    for (const FileListRow& item : window.files.rows()) {
        if (item.name == name)
            return &item;
    }
    return nullptr;
}

QStringList TestRealServers::entries(const QString& folder) const
{
    return QDir(casePath(folder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                   QDir::Name);
}

bool TestRealServers::setTime(const QString& path, const QDateTime& time)
{
    const timespec stamp{static_cast<time_t>(time.toSecsSinceEpoch()), 0};
    const timespec both[2] = {stamp, stamp};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), both, AT_SYMLINK_NOFOLLOW) ==
           0;
}

void TestRealServers::listingShowsSizesFoldersAndDates()
{
    // Sizes a listing could take for a group number or a year, names that start with digits,
    // recent entries (time of day), ones older than six months and one in the future (year).
    struct Entry
    {
        QString name;
        qint64 size; // -1: a folder
        QDateTime modified;
    };
    const QDateTime recent = QDateTime::currentDateTimeUtc().addSecs(-2 * 3600);
    const QDateTime old = QDateTime::fromString(kOldStamp, Qt::ISODate);
    const QList<Entry> expected{{"f1000.bin", 1000, recent},
                                {"f4095.bin", 4095, recent},
                                {"f9999.bin", 9999, recent},
                                {"1999", 1999, recent},
                                {"2048 old.bin", 2048, old},
                                {"sub", -1, recent},
                                {"oldfolder", -1, old},
                                {"4096", -1, old},
                                {"future.bin", 3000, recent.addDays(400)}};
    for (const Entry& entry : expected) {
        const QString path = casePath(entry.name);
        if (entry.size < 0)
            QVERIFY(QDir().mkpath(path));
        else
            QVERIFY(WriteFile(path, PatternBytes(entry.size)));
        QVERIFY(setTime(path, entry.modified));
    }
    WindowTestHost window;
    QVERIFY(connectAndList(window));
    QStringList listed;
    // Whether "." and ".." come as rows is the server's choice (MLSD's cdir and pdir).
    for (const FileListRow& item : window.files.rows())
        listed << item.name;
    listed.removeIf([](const QString& name) { return name == "." || name == ".."; });
    listed.sort();
    QStringList names;
    for (const Entry& entry : expected)
        names << entry.name;
    names.sort();
    QCOMPARE(listed.join(" | "), names.join(" | "));

    const QDate zero(1899, 12, 30); // what the rows count their minutes from
    for (const Entry& entry : expected) {
        const FileListRow* item = row(window, entry.name);
        QVERIFY(item);
        QCOMPARE(item->isFolder(), entry.size < 0);
        if (entry.size >= 0)
            QCOMPARE(item->size, entry.size);
        const QDateTime local = entry.modified.toLocalTime();
        QCOMPARE(zero.addDays(item->modifiedMinutes / (24 * 60)), local.date());
        if (entry.modified == recent) {
            const qint64 minutes =
                zero.daysTo(local.date()) * 24 * 60 + local.time().msecsSinceStartOfDay() / 60000;
            QCOMPARE(item->modifiedMinutes, minutes);
        }
    }
}

void TestRealServers::uploadReplacesExistingFileWhole()
{
    QVERIFY(WriteFile(casePath("index.html"), "the old page"));
    const QByteArray page = PatternBytes(5000);
    QVERIFY(WriteFile(m_local->filePath("index.html"), page));
    WindowTestHost window;
    QVERIFY(connectAndList(window));
    QVERIFY2(UploadFile(m_host, m_local->filePath("index.html"), TransferMode::Binary),
             qPrintable(m_host.log.join('\n') + " | left: " + entries().join(' ')));
    QCOMPARE(m_host.log, QStringList());
    QVERIFY(ReadFile(casePath("index.html")) == page);
    QCOMPARE(entries(), QStringList{"index.html"}); // no temporary copy left behind
}

void TestRealServers::treeDeleteLeavesLinkTargetsAlone()
{
    // Links inside the tree to a folder and a file beside it, one of them in a folder the
    // server may not write (where file modes bind the server, DELE of it is refused).
    QVERIFY(WriteFile(casePath("victim/important1.txt"), "keep me"));
    QVERIFY(WriteFile(casePath("victim/important2.txt"), "keep me too"));
    QVERIFY(WriteFile(casePath("tree/a.txt"), "a") && WriteFile(casePath("tree/sub/b.txt"), "b"));
    QVERIFY(QDir().mkpath(casePath("tree/ro")));
    QVERIFY(QFile::link("../victim", casePath("tree/link")));
    QVERIFY(QFile::link("../../victim", casePath("tree/ro/link")));
    QVERIFY(QFile::link("../victim/important1.txt", casePath("tree/file-link")));
    WindowTestHost window;
    QVERIFY(connectAndList(window));
    QVERIFY(::chmod(QFile::encodeName(casePath("tree/ro")).constData(), 0555) == 0);
    const FileListRow* tree = row(window, "tree");
    QVERIFY(tree && tree->isFolder());
    // sshd never runs as root here: file modes bind it.
    const bool refusesInReadOnly = m_ssh || server().honoursFileModes();
    window.script.expectYesNoStartingWith(kDeleteQuestion, true);
    if (refusesInReadOnly)
        window.script.expectMessageStartingWith("FTP Delete Failed");
    RemoteDeleteSelection(window, {*tree});
    ::chmod(QFile::encodeName(casePath("tree/ro")).constData(), 0755); // where it is left
    QVERIFY(window.script.verifyDone());
    QCOMPARE(entries("victim"), (QStringList{"important1.txt", "important2.txt"}));
    QCOMPARE(ReadFile(casePath("victim/important1.txt")), QByteArray("keep me"));
    if (refusesInReadOnly)
        QVERIFY(QFileInfo(casePath("tree/ro/link")).isSymLink());
    else
        QCOMPARE(entries(), QStringList{"victim"});
}

void TestRealServers::editorSaveReplacesRemoteFile()
{
    QVERIFY(WriteFile(casePath("notes.txt"), "line one\r\nline two\r\n"));
    WindowTestHost window;
    QVERIFY(connectAndList(window));
    const FileListRow* notes = row(window, "notes.txt");
    QVERIFY(notes);
    RemoteVersion opened;
    const std::optional<QString> copy = FetchForEditing(m_host, *notes, &opened);
    QVERIFY2(copy, qPrintable(m_host.log.join('\n')));
    QCOMPARE(ReadFile(*copy), QByteArray("line one\r\nline two\r\n"));
    const QByteArray edited = "line one\r\nline two, edited\r\nline three\r\n";
    QVERIFY2(StoreOnServer(m_host, *copy, notes->serverName(), edited, opened) ==
                 RemoteSave::Stored,
             qPrintable(m_host.log.join('\n') + " | left: " + entries().join(' ')));
    QVERIFY(RemoveTemporaryCopy(*copy));
    QCOMPARE(m_host.log, QStringList());
    QCOMPARE(ReadFile(casePath("notes.txt")), edited);
    QCOMPARE(entries(), QStringList{"notes.txt"});
}

void TestRealServers::downloadResumesByteExact()
{
    const QByteArray data = PatternBytes(kResumeSize, 3);
    QVERIFY(WriteFile(casePath("big.bin"), data));
    WindowTestHost window;
    QVERIFY(connectAndList(window));
    const FileListRow* big = row(window, "big.bin");
    QVERIFY(big);
    const RemoteStamp listed{big->serverName(), big->size, big->modifiedMinutes};

    // The user cancels after a megabyte: the data so far stays beside the target.
    m_host.sink.onUpdate = [this](int) { CancelRequested = m_host.sink.lastDone >= kStopAfter; };
    QVERIFY(DownloadListedFile(m_host, listed, "big.bin"));
    QVERIFY(CancelRequested);
    const QByteArray partial = ReadPartial(m_local->path(), "big.bin");
    QVERIFY2(partial.size() >= kStopAfter && partial.size() < kResumeSize, partial.left(40));
    QVERIFY(connectAgainIfLost());

    // Again, resumed: the server is asked for the rest only, and the file is whole.
    CancelRequested = false;
    m_host.sink.onUpdate = nullptr;
    m_host.resumeAnswers = {ResumeAnswer::Resume};
    QVERIFY(DownloadListedFile(m_host, listed, "big.bin"));
    QCOMPARE(m_host.log,
             QStringList{"ask " + ResumeQuestionText("big.bin", partial.size(), kResumeSize)});
    QVERIFY(ReadFile(m_local->filePath("big.bin")) == data);
    QVERIFY(PartialFiles(m_local->path(), "big.bin").isEmpty());
}

void TestRealServers::uploadResumesByteExact()
{
    // An SFTP upload runs up to 20 MB ahead of the server's first write (a 4 MB buffer, then 64
    // requests of 255 KB in flight): a larger file lets the cancel come while it still writes.
    const qint64 size = m_ssh ? 4 * kResumeSize : kResumeSize;
    const QByteArray data = PatternBytes(size, 5);
    QVERIFY(WriteFile(m_local->filePath("big.bin"), data));
    QVERIFY(WriteFile(casePath("big.bin"), "the copy on the server"));
    const UnfinishedUploads uploads(m_local->filePath("uploads"));
    m_host.uploads = &uploads;
    WindowTestHost window;
    QVERIFY(connectAndList(window));

    // Cancelled after a megabyte, once the server has written some of it (what is still on
    // the way when the data connection is reset is lost): the server's file is untouched, the
    // part it has is kept.
    m_host.sink.onUpdate = [this](int) {
        const QFileInfoList copies = QDir(m_case).entryInfoList({"*.zulftp-upload"});
        CancelRequested =
            m_host.sink.lastDone >= kStopAfter && !copies.isEmpty() && copies.first().size() > 0;
    };
    QVERIFY2(UploadFile(m_host, m_local->filePath("big.bin"), TransferMode::Binary),
             qPrintable(m_host.log.join('\n')));
    QVERIFY(CancelRequested);
    const QByteArray folder = serverPath(m_case).toUtf8();
    const auto earlier = uploads.find(m_host.server, folder, "big.bin");
    QVERIFY(earlier);
    QCOMPARE(ReadFile(casePath("big.bin")), QByteArray("the copy on the server"));
    const qint64 sent = QFileInfo(casePath(QString::fromUtf8(earlier->temporaryName))).size();
    QVERIFY2(sent > 0 && sent < size, qPrintable(QString::number(sent)));
    QVERIFY(connectAgainIfLost());

    // Again, resumed: only the rest goes up, and the whole file takes the name.
    CancelRequested = false;
    m_host.sink.onUpdate = nullptr;
    // A server that refuses to append (proftpd unless AllowStoreRestart is on) is said to
    // be unable to continue, and the whole file goes up again.
    m_host.resumeAnswers = {ResumeAnswer::Resume};
    QVERIFY2(UploadFile(m_host, m_local->filePath("big.bin"), TransferMode::Binary),
             qPrintable(m_host.log.join('\n') + " | " + LastFtpFailure().reply));
    // A server that ended the session at the cancel (pure-ftpd now and then) left the copy's
    // state unknown: the upload then starts over without asking.
    QStringList log;
    if (earlier->copySize >= 0)
        log << "ask " + UploadResumeQuestionText("big.bin", sent, size);
    if (m_host.log.size() == log.size() + 1)
        log << "warn " + NoUploadResumeText("big.bin");
    QCOMPARE(m_host.log, log);
    QVERIFY(ReadFile(casePath("big.bin")) == data);
    QCOMPARE(entries(), QStringList{"big.bin"});
    QVERIFY(!uploads.find(m_host.server, folder, "big.bin"));
}

void TestRealServers::implicitTlsSiteListsAndTransfers()
{
    // A site of the protocol "ftps": TLS from the first byte, through the one place sessions to
    // sites are opened. proftpd is the stock server that speaks it; its TLS row lends the
    // certificate.
    QFETCH_GLOBAL(int, kind);
    if (StockServer::Kind(kind) != StockServer::Kind::Proftpd || !m_tls)
        QSKIP("implicit TLS runs on proftpd's TLS row");
    StockServer implicit;
    implicit.setImplicitTls(true);
    QVERIFY2(
        implicit.start(StockServer::Kind::Proftpd, m_case, m_certificates.filePath("server.pem")),
        qPrintable(implicit.errorText()));
    QVERIFY(implicit.handOver(m_case));
    const QByteArray old = PatternBytes(3000);
    QVERIFY(WriteFile(casePath("old.bin"), old));
    QVERIFY(implicit.handOver(casePath("old.bin")));
    SiteProfile site{"Implicit",      "127.0.0.1",         QString::number(implicit.port()),
                     implicit.user(), implicit.password(), {}};
    site.protocol = QString::fromLatin1(kProtocolFtps);
    site.encryption = QString::fromLatin1(kEncryptionNone); // not asked for implicit TLS
    ScriptedPrompter prompter;
    RemoteResult result;
    QString why;
    const auto session = OpenSiteSession(site, prompter, result, why);
    QVERIFY2(session, qPrintable(why + " | " + implicit.errorText()));
    QVERIFY(session->traits().secure);
    const QByteArray folder = implicit.serverPath(m_case).toUtf8();
    RemoteListing listing;
    QVERIFY(session->list(folder, listing));
    QStringList names;
    for (const RemoteEntry& entry : listing.entries)
        names << entry.name;
    QVERIFY2(names.contains("old.bin"), qPrintable(names.join(' ')));
    const QByteArray data = PatternBytes(200000);
    auto upload = session->openWrite(RemotePath::join(folder, "new.bin"), 0, result);
    QVERIFY(upload && upload->write(data.constData(), data.size()) && upload->complete());
    upload.reset();
    QVERIFY(ReadFile(casePath("new.bin")) == data);
    auto download = session->openRead(RemotePath::join(folder, "old.bin"), 0, result);
    QVERIFY(download);
    QByteArray got;
    char buffer[8192];
    for (qint64 count = 1; count > 0;) {
        QVERIFY(download->read(buffer, sizeof buffer, count));
        got.append(buffer, count);
    }
    QVERIFY(download->complete());
    QVERIFY(got == old);
    QVERIFY(prompter.verifyDone());
}

// A queued upload that a crash stopped: its copy is continued where the server can append,
// otherwise sent again; either way the file arrives whole and no copy is left behind.
void TestRealServers::queuedUploadContinuesItsCopy()
{
    const QByteArray data = PatternBytes(3 << 20, 7);
    QVERIFY(WriteFile(m_local->filePath("big.bin"), data));
    const QByteArray copyName = TemporaryRemoteName("big.bin");
    // The copy's start is marked: a continued copy keeps the marks, a new one has none.
    const QByteArray marked = QByteArray(1000, 'X') + data.mid(1000, (2 << 20) - 1000);
    QVERIFY(WriteFile(casePath(QString::fromUtf8(copyName)), marked));
    SiteProfile site;
    QVERIFY(caseSite(site));
    const QByteArray folder = serverPath(m_case).toUtf8();
    struct stat info = {};
    const QByteArray localPath = QFile::encodeName(m_local->filePath("big.bin"));
    QVERIFY(::stat(localPath.constData(), &info) == 0);
    const auto uploads = std::make_shared<UnfinishedUploads>(m_local->filePath("uploads"));
    QVERIFY(uploads->remember(
        {"test",
         folder,
         "big.bin",
         copyName,
         {localPath, data.size(), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec},
         -1,
         {}}));

    ScriptedPrompter prompter; // nothing is asked: keys and certificates are trusted already
    TransferQueue queue(
        [&](RemoteResult& result, QString& why) {
            return OpenSiteSession(site, prompter, result, why, m_sshOptions);
        },
        "test");
    queue.setUnfinishedUploads(uploads);
    QueueItem item;
    item.direction = QueueDirection::Upload;
    item.localFolder = m_local->path();
    item.localName = "big.bin";
    item.remotePath = RemotePath::join(folder, "big.bin");
    const quint64 id = queue.add({item});
    QTRY_VERIFY_WITH_TIMEOUT(!queue.busy(), 60000);
    QVERIFY2(queue.item(id)->state == QueueState::Finished, qPrintable(queue.item(id)->error));
    const QByteArray stored = ReadFile(casePath("big.bin"));
    QVERIFY(stored == marked + data.mid(marked.size()) || stored == data);
    QCOMPARE(entries(), QStringList{"big.bin"});
    QVERIFY(!uploads->find("test", folder, "big.bin"));
}

QTEST_GUILESS_MAIN(TestRealServers)
void TestRealServers::folderTransfersKeepEveryFile_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("both ways, an existing file replaced") << "";
    QTest::newRow("cancelled at the first file, then again whole") << "cancel";
    QTest::newRow("a refused file in the middle fails, the others land") << "refused";
    QTest::newRow("Cancel at a question: the files before it land") << "question";
}

void TestRealServers::folderTransfersKeepEveryFile()
{
    QFETCH(QString, fault);
    if (!fault.isEmpty() && fault != "question" && !m_ssh)
        QSKIP("Only an SFTP session keeps several files in flight.");
    // Small files in the folder and a subfolder, and one too large for a batch.
    QMap<QString, QByteArray> sent;
    const int count = fault == "cancel" ? 60 : 6;
    for (int i = 0; i < count; ++i)
        sent[QStringLiteral("%1f%2.bin").arg(i % 2 && fault != "question" ? "sub/" : "").arg(i)] =
            PatternBytes(fault.isEmpty() ? i * 37000 : 10000, i);
    if (fault.isEmpty())
        sent["big.bin"] = PatternBytes(300000, 9);
    for (auto it = sent.begin(); it != sent.end(); ++it)
        QVERIFY(WriteFile(m_local->filePath("tree/" + it.key()), it.value()));
    QVERIFY(WriteFile(casePath("tree/f0.bin"), "the old file"));
    if (fault == "refused") // a name the server cannot put a file under
        QVERIFY(WriteFile(casePath("tree/f2.bin/inside"), "x"));
    if (fault == "question") {
        // Overwrite for the first file that is there, Cancel for the second: the files the
        // folder's listing gave before that one were sent, whatever waits for them.
        QVERIFY(WriteFile(casePath("tree/f4.bin"), "the old f4"));
        QMap<QString, QByteArray> expected{{"f0.bin", "the old file"}, {"f4.bin", "the old f4"}};
        const QStringList order =
            QDir(m_local->filePath("tree")).entryList(QDir::Files, QDir::Unsorted);
        bool asked = false;
        for (const QString& name : order) {
            if (expected.contains(name) && std::exchange(asked, true))
                break;
            expected[name] = sent[name];
        }
        WindowTestHost window;
        QVERIFY(connectAndList(window));
        m_host.existsAnswers = {{ExistsAction::Overwrite, false}, {ExistsAction::Cancel, false}};
        QCOMPARE(UploadFolder(m_host, m_local->filePath("tree")), FolderOutcome::Done);
        QVERIFY(CancelRequested);
        QCOMPARE(TreeOf(casePath("tree")).keys(), expected.keys());
        QVERIFY(TreeOf(casePath("tree")) == expected);
        return;
    }
    WindowTestHost window;
    QVERIFY(connectAndList(window));
    const QString down = m_local->filePath("down");
    QVERIFY(QDir().mkpath(down + "/tree/sub"));
    QVERIFY(WriteFile(down + "/tree/sub/f1.bin", "the old copy"));

    if (fault == "cancel") {
        // Cancel at the first word of progress, each way: what is there is whole, and the
        // same session then moves everything.
        m_host.sink.onUpdate = [](int) { CancelRequested = true; };
        QCOMPARE(UploadFolder(m_host, m_local->filePath("tree")), FolderOutcome::Done);
        QVERIFY(CancelRequested);
        QMap<QString, QByteArray> before = sent;
        before["f0.bin"] = "the old file";
        QVERIFY(NoPartialFile(before, TreeOf(casePath("tree"))));
        QVERIFY(TreeOf(casePath("tree")).size() < count);
        CancelRequested = false;
        m_host.sink.onUpdate = nullptr;
    }
    if (fault == "refused") {
        QCOMPARE(UploadFolder(m_host, m_local->filePath("tree")), FolderOutcome::Failed);
        QCOMPARE(m_host.log.size(), 4); // after the question about f0.bin
        QCOMPARE(m_host.log[1], "error FTP Open File Failed.");
        QVERIFY2(m_host.log[2].startsWith("warn \"f2.bin\" was not replaced"),
                 qPrintable(m_host.log[2]));
        QCOMPARE(m_host.log[3], "error Error uploading folder.");
        QMap<QString, QByteArray> landed = TreeOf(casePath("tree"));
        landed.removeIf([](auto it) { return it.key().endsWith(".zulftp-upload"); });
        QMap<QString, QByteArray> expected = sent;
        expected.remove("f2.bin");
        expected["f2.bin/inside"] = "x";
        QCOMPARE(landed.keys(), expected.keys());
        QVERIFY(landed == expected);
        // The download's refusal comes from a file the server may not read.
        QVERIFY(QDir(casePath("tree")).removeRecursively());
        for (auto it = sent.begin(); it != sent.end(); ++it)
            QVERIFY(WriteFile(casePath("tree/" + it.key()), it.value()));
        m_sshd->handOver(m_case);
        QVERIFY(::chmod(QFile::encodeName(casePath("tree/f2.bin")).constData(), 0) == 0);
        m_host.log.clear();
        m_host.folder = down;
        QCOMPARE(DownloadFolder(m_host, "tree"), FolderOutcome::Failed);
        // The refusal is reported once the folder's batch was sent, whichever the server
        // listed first.
        QStringList log = m_host.log;
        log.sort();
        QCOMPARE(log, (QStringList{"error FTP Open File Failed.",
                                   "exists The file \"f1.bin\" already exists in " + down +
                                       "/tree/sub. [resume]"}));
        expected = sent;
        expected.remove("f2.bin");
        QCOMPARE(TreeOf(down + "/tree"), expected);
        return;
    }
    QVERIFY2(UploadFolder(m_host, m_local->filePath("tree")) == FolderOutcome::Done,
             qPrintable(m_host.log.join('\n')));
    QVERIFY2(!m_host.log.join('\n').contains(
                 QRegularExpression("^(error|warn)", QRegularExpression::MultilineOption)),
             qPrintable(m_host.log.join('\n')));
    QVERIFY(m_host.log.value(0).startsWith("exists The file \"f0.bin\" already exists in \"" +
                                           serverPath(casePath("tree")) + "\" on the server."));
    QCOMPARE(TreeOf(casePath("tree")).keys(), sent.keys()); // no copy left under another name
    QVERIFY(TreeOf(casePath("tree")) == sent);

    m_host.log.clear();
    m_host.folder = down;
    if (fault == "cancel") {
        m_host.sink.onUpdate = [](int) { CancelRequested = true; };
        QCOMPARE(DownloadFolder(m_host, "tree"), FolderOutcome::Done);
        QVERIFY(CancelRequested);
        QMap<QString, QByteArray> before = sent;
        before["sub/f1.bin"] = "the old copy";
        QVERIFY(NoPartialFile(before, TreeOf(down + "/tree")));
        CancelRequested = false;
        m_host.sink.onUpdate = nullptr;
        m_host.log.clear();
    }
    QVERIFY2(DownloadFolder(m_host, "tree") == FolderOutcome::Done,
             qPrintable(m_host.log.join('\n')));
    QCOMPARE(m_host.log.value(0),
             "exists The file \"f1.bin\" already exists in " + down + "/tree/sub. [resume]");
    QCOMPARE(TreeOf(down + "/tree").keys(), sent.keys()); // no partial file left
    QVERIFY(TreeOf(down + "/tree") == sent);
}

#include "tst_realservers.moc"
