#include "FtpServerFixture.h"
#include "ScriptedPrompter.h"
#include "SshServer.h"
#include "faultserver.h"
#include "queue/PrompterOnThread.h"
#include "queue/QueuePlanning.h"
#include "queue/QueueStore.h"
#include "queue/TransferQueue.h"
#include "remote/FtpServerSession.h"
#include "remote/SftpServerSession.h"
#include "remote/SiteSession.h"
#include "remote/TrustedThisRun.h"
#include "sites/ProfileStore.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferNames.h"
#include "transfer/UnfinishedUploads.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>

// The background queue against real servers: files and trees moved byte for byte by one and
// by several workers, Cancel of one item, a server that allows fewer connections than asked
// for, and a queue that a program left behind.
class TransferQueueTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void queueMovesFilesAndTreesWhole_data();
    void queueMovesFilesAndTreesWhole();
    void cancelStopsOneItemAtOnce();                  // and Retry continues its partial data
    void refusedLogonLowersWorkersInsteadOfFailing(); // and the log masks the password
    void queueLeftBehindContinuesNextTime();          // its partial data continued
    void sftpKeyTrustedOnceIsAskedOnceAndLogged();    // the log without the password
    void stoppedUploadSendsOnlyTheRest_data();
    void stoppedUploadSendsOnlyTheRest();
    void uploadLeftByACrashContinues_data();
    void uploadLeftByACrashContinues();
    void sftpSmallFilesGoInBatches_data();
    void sftpSmallFilesGoInBatches(); // existing names, and Cancel of one item in a batch
};

namespace {

SessionOpener openerFor(const QString& host, quint16 port, const QByteArray& user,
                        const QByteArray& password)
{
    return [=](RemoteResult& result, QString& why) -> std::unique_ptr<ServerSession> {
        SessionLogon logon;
        logon.host = host;
        logon.port = port;
        logon.user = user;
        logon.password = password;
        auto session = OpenServerSession(logon, result);
        if (!session)
            why = result.reply;
        return session;
    };
}

// Sessions to OpenSSH's sshd, logged on with the fixture's key; its host key is known.
SessionOpener sftpOpenerFor(const SshServer& sshd, const QString& knownHosts)
{
    return [&sshd, knownHosts](RemoteResult& result, QString& why) {
        sftp::ConnectOptions options;
        options.host = "127.0.0.1";
        options.port = sshd.port();
        options.user = sshd.user().toStdString();
        options.configFile = "/dev/null";
        options.askpassProgram = ZUL_SFTP_ASKPASS;
        options.keyFile = sshd.clientKey().toStdString();
        options.extraOptions = {"UserKnownHostsFile=" + knownHosts.toStdString(),
                                "GlobalKnownHostsFile=/dev/null", "IdentityAgent=none",
                                "IdentitiesOnly=yes"};
        return OpenSftpSession(
            options, [](const sftp::PromptRequest&) { return sftp::PromptAnswer{}; }, result, why);
    };
}

// pyftpdlib or OpenSSH's sshd serving a folder: sessions to it, and its own path of the
// folder (empty for pyftpdlib, whose "/" it is).
struct StockServer
{
    FtpServerFixture ftp;
    SshServer sshd;
    QTemporaryDir home;
    SessionOpener opener;
    QByteArray root;

    bool start(bool sftp, const QString& folder)
    {
        if (!sftp) {
            if (!ftp.start(folder))
                return false;
            opener = openerFor(ftp.host(), ftp.port(), "user", "secret");
            return true;
        }
        if (!sshd.start(SshServer::Kind::OpenSsh, folder)) {
            qWarning("%s", qPrintable(sshd.errorText()));
            return false;
        }
        sshd.handOver(folder);
        QFile known(home.filePath("known_hosts"));
        if (!known.open(QIODevice::WriteOnly) ||
            known.write(QStringLiteral("[127.0.0.1]:%1 ").arg(sshd.port()).toUtf8() +
                        sshd.hostKeyLine() + "\n") < 0)
            return false;
        opener = sftpOpenerFor(sshd, known.fileName());
        root = sshd.serverPath(folder).toUtf8();
        return true;
    }
};

void putFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

// A file of `size` bytes that repeat only every 251, so a part sent to the wrong place shows.
QByteArray putLargeFile(const QString& path, qsizetype size)
{
    QByteArray content(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        content[i] = char(i * 13 % 251);
    putFile(path, content);
    return content;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Sizes that cross the block boundaries, an empty file, and a tree two levels deep with a
// link that must not be followed.
QMap<QString, QByteArray> makeTree(const QString& root)
{
    QMap<QString, QByteArray> files;
    const auto add = [&](const QString& name, qsizetype size) {
        QByteArray data(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            data[i] = static_cast<char>((i * 7 + name.size()) % 251);
        files[name] = data;
        putFile(root + "/" + name, data);
    };
    add("one.bin", 65536 + 17);
    add("two.txt", 0);
    add("three.bin", 200000);
    add("tree/a.bin", 3000);
    add("tree/sub/b.bin", 131072);
    add("tree/sub/c.bin", 1);
    // A link to a folder above: entering it would copy the tree into itself without end.
    QFile::link(root, root + "/tree/loop");
    return files;
}

bool allSettled(const TransferQueue& queue)
{
    return !queue.busy();
}

QStringList failures(const TransferQueue& queue)
{
    QStringList texts;
    for (const QueueItem& item : queue.items()) {
        if (item.state == QueueState::Failed || item.state == QueueState::Cancelled)
            texts << item.localName + ": " + item.error;
    }
    return texts;
}

// The whole file `path` as the server gives it now, over a connection of its own.
QByteArray serverContent(const SessionOpener& opener, const QByteArray& path)
{
    RemoteResult result;
    QString why;
    const auto session = opener(result, why);
    QByteArray folder;
    if (!session || !session->currentFolder(folder))
        return "<no connection>";
    const auto stream = session->openRead(path, 0, result);
    if (!stream)
        return "<missing>";
    QByteArray all;
    std::vector<char> buffer(65536);
    for (qint64 got = 1; got > 0;) {
        if (!stream->read(buffer.data(), qint64(buffer.size()), got))
            return "<failed>";
        all.append(buffer.data(), got);
    }
    return stream->complete() ? all : "<failed>";
}

QueueItem itemFor(QueueDirection direction, const QString& localFolder, const QString& name,
                  const QByteArray& remotePath, bool folder = false)
{
    QueueItem item;
    item.direction = direction;
    item.localFolder = localFolder;
    item.localName = name;
    item.remotePath = remotePath;
    item.folder = folder;
    return item;
}

} // namespace

void TransferQueueTest::queueMovesFilesAndTreesWhole_data()
{
    QTest::addColumn<int>("workers");
    QTest::addColumn<bool>("upload");
    QTest::addColumn<bool>("sftp");
    QTest::newRow("download, one worker") << 1 << false << false;
    QTest::newRow("download, three workers") << 3 << false << false;
    QTest::newRow("upload, one worker") << 1 << true << false;
    QTest::newRow("upload, three workers") << 3 << true << false;
    QTest::newRow("download over SFTP, three workers") << 3 << false << true;
    QTest::newRow("upload over SFTP, three workers") << 3 << true << true;
}

void TransferQueueTest::queueMovesFilesAndTreesWhole()
{
    QFETCH(int, workers);
    QFETCH(bool, upload);
    QFETCH(bool, sftp);
    if (sftp && !SshServer::unavailableReason(SshServer::Kind::OpenSsh).isEmpty())
        QSKIP(qPrintable(SshServer::unavailableReason(SshServer::Kind::OpenSsh)));
    QTemporaryDir serverRoot;
    QTemporaryDir localRoot;
    const QString source = upload ? localRoot.path() : serverRoot.path();
    const QString target = upload ? serverRoot.path() + "/in" : localRoot.path();
    const QMap<QString, QByteArray> files = makeTree(source);
    if (upload)
        QVERIFY(QDir().mkpath(target));
    StockServer server;
    QVERIFY(server.start(sftp, serverRoot.path()));
    const QByteArray remote = server.root + (upload ? "/in/" : "/");

    TransferQueue queue(server.opener, "test");
    queue.setWorkerLimit(workers);
    const QueueDirection direction = upload ? QueueDirection::Upload : QueueDirection::Download;
    QList<QueueItem> items;
    for (const QString name : {"one.bin", "two.txt", "three.bin"})
        items << itemFor(direction, localRoot.path(), name, remote + name.toUtf8());
    items << itemFor(direction, localRoot.path(), "tree", remote + "tree", true);
    queue.add(items);
    QTRY_VERIFY_WITH_TIMEOUT(allSettled(queue), 30000);

    QVERIFY2(failures(queue).isEmpty(), qPrintable(failures(queue).join("\n")));
    for (auto it = files.begin(); it != files.end(); ++it)
        QCOMPARE(contentOf(target + "/" + it.key()), it.value());
    // The link was passed over, and said so on its folder's item.
    QVERIFY(!QFileInfo::exists(target + "/tree/loop"));
    QStringList notes;
    for (const QueueItem& item : queue.items())
        notes << item.error;
    QVERIFY2(notes.join('|').contains("1 link(s)"), qPrintable(notes.join('|')));
    // No partial or temporary file was left.
    QDir result(target);
    QCOMPARE(result.entryList(QDir::Files | QDir::Hidden).size(), 3);
}

// With it, a file the server sends shorter than listed, with a success reply: never put in place.
void TransferQueueTest::cancelStopsOneItemAtOnce()
{
    // The first file comes one byte every 10 s: the cancel must not wait for the next byte
    // (or a time-out, from a server gone silent) to free the worker.
    FaultServer server;
    QVERIFY(server.start(QJsonObject{
        {"files",
         QJsonObject{{"slow.bin", "@100000"}, {"quick.bin", "@3000"}, {"short.bin", "@3000"}}},
        {"rules", QJsonObject{{"RETR", QJsonArray{QJsonObject{{"trickle", 10}}, QJsonObject{}}}}},
        {"maxSessions", 4},
    }));
    QTemporaryDir local;
    TransferQueue queue(openerFor(server.host(), server.port(), "user", "secret"), "test");
    queue.setWorkerLimit(1);
    QueueItem listedLonger =
        itemFor(QueueDirection::Download, local.path(), "short.bin", "/short.bin");
    listedLonger.size = 4000;
    const quint64 slow = queue.add(
        {itemFor(QueueDirection::Download, local.path(), "slow.bin", "/slow.bin"),
         itemFor(QueueDirection::Download, local.path(), "quick.bin", "/quick.bin"), listedLonger});
    QTRY_VERIFY(server.received().join('|').contains("RETR"));
    QElapsedTimer clock;
    clock.start();
    queue.cancel(slow);
    QCOMPARE(queue.item(slow)->state, QueueState::Cancelled);
    QVERIFY(clock.elapsed() < 200);
    QTRY_VERIFY2_WITH_TIMEOUT(
        allSettled(queue),
        qPrintable(QString::number(int(queue.item(slow + 1)->state)) + server.received().join('|')),
        5000);
    QCOMPARE(queue.item(slow + 1)->state, QueueState::Finished);
    QCOMPARE(contentOf(local.path() + "/quick.bin").size(), 3000);
    QCOMPARE(queue.item(slow + 2)->state, QueueState::Failed);
    QVERIFY2(queue.item(slow + 2)->error.contains("sent 3000 bytes of the 4000"),
             qPrintable(queue.item(slow + 2)->error));
    QVERIFY(!QFileInfo::exists(local.path() + "/short.bin"));
    // The cancelled file never took its name; what arrived stays beside it for a resume.
    QVERIFY(!QFileInfo::exists(local.path() + "/slow.bin"));
    QCOMPARE(QDir(local.path()).entryList({"slow.bin.zulftp-part.*"}, QDir::Files).size(), 1);
}

void TransferQueueTest::refusedLogonLowersWorkersInsteadOfFailing()
{
    FaultServer server;
    QJsonObject files;
    for (int i = 0; i < 6; ++i)
        files.insert(QString("f%1.bin").arg(i), "@20000");
    QVERIFY(server.start(QJsonObject{{"files", files}, {"maxSessions", 1}}));
    QTemporaryDir local;
    TransferQueue queue(openerFor(server.host(), server.port(), "user", "secret"), "test");
    // Gathered on this thread: workers log from theirs, at the same time.
    QStringList lines;
    connect(
        &queue, &TransferQueue::logLine, &queue, [&lines](const QString& line) { lines << line; },
        Qt::QueuedConnection);
    queue.setWorkerLimit(3);
    QList<QueueItem> items;
    for (auto it = files.begin(); it != files.end(); ++it)
        items << itemFor(QueueDirection::Download, local.path(), it.key(), "/" + it.key().toUtf8());
    queue.add(items);
    QTRY_VERIFY_WITH_TIMEOUT(allSettled(queue), 30000);
    QVERIFY2(failures(queue).isEmpty(), qPrintable(failures(queue).join('|')));
    QCOMPARE(queue.activeLimit(), 1);
    for (auto it = files.begin(); it != files.end(); ++it)
        QCOMPARE(contentOf(local.path() + "/" + it.key()).size(), 20000);
    QCoreApplication::processEvents(); // the lines posted before the queue settled
    const QString all = lines.join('\n');
    QVERIFY2(all.contains("test refused another connection ("), qPrintable(all));
    QVERIFY2(all.contains("< 421 Too many connections (1) from this IP"), qPrintable(all));
    // The message log shows each connection's conversation, the password masked.
    QVERIFY2(all.contains(QRegularExpression(R"(\[test #\d\] > PASS \*\*\*\*\n)")),
             qPrintable(all));
    QVERIFY2(all.contains(QRegularExpression(R"(\[test #\d\] < 230 )")), qPrintable(all));
    QVERIFY(!all.contains("secret"));
}

void TransferQueueTest::queueLeftBehindContinuesNextTime()
{
    QTemporaryDir serverRoot;
    QTemporaryDir local;
    QTemporaryDir data;
    const QMap<QString, QByteArray> files = makeTree(serverRoot.path());
    FtpServerFixture server;
    QVERIFY(server.start(serverRoot.path()));
    const QString storePath = data.path() + "/zulftp-queue";
    {
        // A run that ended in the middle of its queue (a crash: one item was running).
        QueueStore store(storePath);
        QVERIFY(store.owned());
        store.setSite("Test site");
        // A second copy of the program does not get the store.
        QVERIFY(!QueueStore(storePath).owned());
        QueueItem tree = itemFor(QueueDirection::Download, local.path(), "tree", "/tree", true);
        tree.id = 7;
        tree.state = QueueState::Running;
        QueueItem one = itemFor(QueueDirection::Download, local.path(), "one.bin", "/one.bin");
        one.id = 8;
        one.size = files["one.bin"].size();
        one.listedTime = 133000000000000000;
        // What that run had received of one.bin, marked as its data: continued, not fetched
        // again (the marks show in the result).
        const LocalDirectory folder(local.path());
        LocalFileWriter partial(folder, PartialDownloadName("one.bin"));
        QVERIFY(RememberRemoteStamp(partial.fd(), {"one.bin", one.size, one.listedTime}));
        partial.write(QByteArray(1000, 'X').constData(), 1000);
        partial.close();
        QueueItem done = one;
        done.state = QueueState::Finished;
        QVERIFY(store.write({tree, one, done}));
    }
    auto store = std::make_unique<QueueStore>(storePath);
    QString site;
    const QList<QueueItem> left = store->read(site);
    QCOMPARE(site, QString("Test site"));
    QCOMPARE(left.size(), 2);
    TransferQueue queue(openerFor(server.host(), server.port(), "user", "secret"), "test",
                        std::move(store));
    queue.add(left);
    QTRY_VERIFY_WITH_TIMEOUT(allSettled(queue), 30000);
    QVERIFY2(failures(queue).isEmpty(), qPrintable(failures(queue).join("\n")));
    QCOMPARE(contentOf(local.path() + "/one.bin"),
             QByteArray(1000, 'X') + files["one.bin"].mid(1000));
    QVERIFY(QDir(local.path()).entryList({"*.zulftp-part.*"}, QDir::Files).isEmpty());
    QCOMPARE(contentOf(local.path() + "/tree/sub/b.bin"), files["tree/sub/b.bin"]);
    // Nothing is left to continue once everything arrived.
    queue.stop();
    QCOMPARE(queue.store()->read(site).size(), 0);
}

void TransferQueueTest::sftpKeyTrustedOnceIsAskedOnceAndLogged()
{
    if (!SshServer::unavailableReason(SshServer::Kind::Misbehaving).isEmpty())
        QSKIP(qPrintable(SshServer::unavailableReason(SshServer::Kind::Misbehaving)));
    TrustedThisRun::forgetAll();
    QTemporaryDir served;
    QTemporaryDir local;
    QTemporaryDir home;
    const QStringList names{"a.bin", "b.bin", "c.bin"};
    for (const QString& name : names)
        putFile(served.filePath(name), QByteArray(70000, name[0].toLatin1()));
    SshServer server; // logs on by password
    QVERIFY2(server.start(SshServer::Kind::Misbehaving, served.path()),
             qPrintable(server.errorText()));
    SiteProfile site;
    site.host = QStringLiteral("127.0.0.1");
    site.port = QString::number(server.port());
    site.userID = server.user();
    site.password = QStringLiteral("secret");
    site.protocol = QString::fromLatin1(kProtocolSftp);
    sftp::ConnectOptions options;
    options.configFile = "/dev/null";
    options.askpassProgram = ZUL_SFTP_ASKPASS;
    options.extraOptions = {"UserKnownHostsFile=" + home.filePath("known_hosts").toStdString(),
                            "GlobalKnownHostsFile=/dev/null", "IdentityAgent=none",
                            "PubkeyAuthentication=no"};
    // The key is unknown: each worker's ssh meets it anew, and the user answers once.
    ScriptedPrompter prompter;
    prompter.expectCertificate(false, CertificateAnswer::TrustOnce);
    const std::atomic<bool> stopping{false};
    QObject window;
    PrompterOnThread onWindow(prompter, &window, stopping);
    TransferQueue queue(
        [&](RemoteResult& result, QString& why) {
            return OpenSiteSession(site, onWindow, result, why, options);
        },
        "test");
    QStringList lines;
    connect(
        &queue, &TransferQueue::logLine, &queue, [&lines](const QString& line) { lines << line; },
        Qt::QueuedConnection);
    queue.setWorkerLimit(3);
    QList<QueueItem> items;
    for (const QString& name : names)
        items << itemFor(QueueDirection::Download, local.path(), name,
                         (server.serverPath(served.path()) + "/" + name).toUtf8());
    queue.add(items);
    QTRY_VERIFY_WITH_TIMEOUT(allSettled(queue), 30000);
    QVERIFY2(failures(queue).isEmpty(), qPrintable(failures(queue).join('|')));
    QVERIFY(prompter.verifyDone());
    for (const QString& name : names)
        QCOMPARE(contentOf(local.filePath(name)), QByteArray(70000, name[0].toLatin1()));
    QCoreApplication::processEvents();
    const QString all = lines.join('\n');
    // Each connection's requests and replies, a download as its start and end. A batch sends
    // several requests before their replies, so a request and its reply need not be neighbours.
    for (const char* expected :
         {R"(\[test #\d\] > \[ssh\] Started ssh \(process \d+\) for tester@127\.0\.0\.1, port)",
          R"(\[test #\d\] > \[ssh\] Host key ED25519 SHA256:\S+ trusted for now\n)",
          R"(\[test #\d\] > \[ssh\] ssh asked for the password \(attempt 1\)\n)",
          R"(\[test #\d\] > OPEN ".*/a\.bin" \(read\)\n)", R"(\[test #\d\] < HANDLE [0-9a-f]+\n)",
          R"(\[test #\d\] > READ ".*/b\.bin": 70000 bytes in \d+ requests\n)",
          R"(\[test #\d\] > CLOSE handle [0-9a-f]+\n)", R"(\[test #\d\] < STATUS 0 OK\n)"})
        QVERIFY2(all.contains(QRegularExpression(expected)), qPrintable(expected + ("\n" + all)));
    QVERIFY2(!all.contains("secret"), qPrintable(all));
    TrustedThisRun::forgetAll();
}

void TransferQueueTest::stoppedUploadSendsOnlyTheRest_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("append");    // the server can continue a file
    QTest::addColumn<bool>("continued"); // the copy is continued
    QTest::newRow("cancelled, then retried") << "retry" << true << true;
    QTest::newRow("program ended, queue continued") << "restart" << true << true;
    QTest::newRow("copy replaced on the server meanwhile") << "replaced" << true << false;
    QTest::newRow("server cannot append: sent again") << "retry" << false << false;
    // Queued anew, the item is planned again: the question is asked then, on this thread.
    QTest::newRow("queued again, Resume") << "Resume" << true << true;
    QTest::newRow("queued again, Start Over") << "Start Over" << true << false;
    // The connection broke off: how far the copy got was never asked, so its end is compared.
    // Removed, the item takes its copy along; the same file queued again starts anew.
    QTest::newRow("removed, then queued again") << "removed" << true << false;
    QTest::newRow("connection lost, then retried") << "dropped" << true << true;
    QTest::newRow("connection lost, copy replaced meanwhile")
        << "dropped, replaced" << true << false;
}

// A stopped upload leaves its copy under its temporary name; the next try of the same item
// appends only the rest to it, unless the copy is no longer the one it left.
void TransferQueueTest::stoppedUploadSendsOnlyTheRest()
{
    QFETCH(QString, how);
    QFETCH(bool, append);
    QFETCH(bool, continued);
    // The first upload is read slowly, so that it can be stopped midway, or broken off by the
    // server; every later one (on any connection) runs at full speed.
    const bool dropped = how.startsWith("dropped");
    constexpr qint64 kDropAt = 3 << 20;
    const QJsonObject firstStore =
        dropped ? QJsonObject{{"dropAfter", kDropAt}} : QJsonObject{{"throttle", 0.02}};
    FaultServer server;
    QVERIFY(server.start(QJsonObject{
        {"features", append ? QJsonArray{"REST STREAM", "SIZE", "MDTM"} : QJsonArray{}},
        {"rules", QJsonObject{{"STOR", QJsonArray{firstStore, QJsonObject{}}}}},
        {"maxSessions", 4},
        {"sharedRules", true},
    }));
    const SessionOpener opener = openerFor(server.host(), server.port(), "user", "secret");
    QTemporaryDir local;
    QTemporaryDir data;
    const QByteArray content = putLargeFile(local.filePath("big.bin"), 12 << 20);
    const auto uploads = std::make_shared<UnfinishedUploads>(data.filePath("zulftp-uploads"));
    const QString storePath = data.filePath("zulftp-queue");
    auto queue =
        std::make_unique<TransferQueue>(opener, "test", std::make_unique<QueueStore>(storePath));
    queue->setUnfinishedUploads(uploads);
    queue->setWorkerLimit(1);
    quint64 id = queue->add({itemFor(QueueDirection::Upload, local.path(), "big.bin", "/big.bin")});
    const auto kept = [&] { return uploads->find("test", "/", "big.bin"); };
    if (!dropped)
        QTRY_VERIFY_WITH_TIMEOUT(queue->item(id)->bytesDone > (4 << 20), 20000);
    QList<QueueItem> left;
    if (dropped) {
        QTRY_VERIFY_WITH_TIMEOUT(!queue->busy(), 20000);
        QCOMPARE(queue->item(id)->state, QueueState::Failed);
        QVERIFY(kept() && kept()->copySize < 0);
    } else if (how == "restart") {
        queue.reset(); // as the window's end stops it
        auto store = std::make_unique<QueueStore>(storePath);
        QString site;
        left = store->read(site);
        QCOMPARE(left.size(), 1);
        queue = std::make_unique<TransferQueue>(opener, "test", std::move(store));
        queue->setUnfinishedUploads(uploads);
        QVERIFY(kept() && kept()->copySize > 0);
    } else {
        queue->cancel(id);
        QTRY_VERIFY(!queue->busy() && kept() && kept()->copySize > 0);
    }
    const UnfinishedUpload stopped = *kept();
    const qint64 have = dropped ? kDropAt : stopped.copySize;
    QVERIFY(have < content.size());
    if (how.endsWith("replaced")) {
        // Someone else's upload under the copy's name.
        RemoteResult result;
        QString why;
        const auto other = opener(result, why);
        QByteArray folder;
        QVERIFY(other && other->currentFolder(folder));
        auto stream = other->openWrite("/" + stopped.temporaryName, 0, result);
        QVERIFY(stream && stream->write(QByteArray(1000, 'x'), 1000) && stream->complete());
    }
    ScriptedPrompter prompter;
    if (how == "removed") {
        queue->remove({id});
        QTRY_VERIFY(!kept());
        QVERIFY(server.received().contains("DELE " + stopped.temporaryName));
        id = queue->add({itemFor(QueueDirection::Upload, local.path(), "big.bin", "/big.bin")});
    } else if (how == "restart") {
        id = queue->add(left);
    } else if (how.startsWith("Resume") || how.startsWith("Start Over")) {
        prompter.expectChoice(UploadResumeQuestionText("big.bin", stopped.copySize, content.size()),
                              how == "Resume" ? PromptAnswer::Yes : PromptAnswer::No);
        QueuePlanner planner(prompter);
        planner.setUnfinishedUploads(uploads.get(), "test");
        const auto planned = planner.uploads({{local.path(), "big.bin", false, content.size()}},
                                             "/", [](const QString&) { return std::nullopt; });
        QVERIFY(planned && prompter.verifyDone());
        id = queue->add(*planned);
    } else {
        queue->retry(id);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!queue->busy(), 20000);
    QVERIFY2(queue->item(id)->state == QueueState::Finished, qPrintable(queue->item(id)->error));
    QCOMPARE(serverContent(opener, "/big.bin"), content);
    const QString log = server.received().join('\n');
    const QString rest =
        QString("APPENDED %1 %2").arg(QString(stopped.temporaryName)).arg(content.size() - have);
    QVERIFY2(log.contains(rest) == continued, qPrintable(log.right(2000)));
    QCOMPARE(log.count("APPENDED"), continued ? 1 : 0);
    // Once in place, nothing is remembered and no copy is left.
    QVERIFY(!kept());
    QVERIFY2(log.contains("DELE " + stopped.temporaryName) == !continued, qPrintable(log));
}

void TransferQueueTest::uploadLeftByACrashContinues_data()
{
    QTest::addColumn<bool>("sftp");
    QTest::newRow("FTP") << false;
    QTest::newRow("SFTP") << true;
}

// A run that ended without a word (a crash) left its copy remembered in an unknown state; the
// stock servers continue it.
void TransferQueueTest::uploadLeftByACrashContinues()
{
    QFETCH(bool, sftp);
    if (sftp && !SshServer::unavailableReason(SshServer::Kind::OpenSsh).isEmpty())
        QSKIP(qPrintable(SshServer::unavailableReason(SshServer::Kind::OpenSsh)));
    QTemporaryDir serverRoot;
    QTemporaryDir local;
    QTemporaryDir data;
    const QByteArray content = putLargeFile(local.filePath("big.bin"), 3 << 20);
    // What the copy got before the crash, its start marked: continued, not sent again, the
    // marks show in the result.
    const QByteArray copyName = TemporaryRemoteName("big.bin");
    const QByteArray marked = QByteArray(1000, 'X') + content.mid(1000, (2 << 20) - 1000);
    putFile(serverRoot.filePath(copyName), marked);
    StockServer server;
    QVERIFY(server.start(sftp, serverRoot.path()));
    const QByteArray folder = server.root.isEmpty() ? "/" : server.root;
    struct stat info = {};
    QVERIFY(::stat(QFile::encodeName(local.filePath("big.bin")).constData(), &info) == 0);
    const auto uploads = std::make_shared<UnfinishedUploads>(data.filePath("zulftp-uploads"));
    const QByteArray localPath = QFile::encodeName(local.filePath("big.bin"));
    QVERIFY(uploads->remember({"test",
                               folder,
                               "big.bin",
                               copyName,
                               {localPath, content.size(),
                                qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec},
                               -1,
                               {}}));

    TransferQueue queue(server.opener, "test");
    queue.setUnfinishedUploads(uploads);
    const quint64 id = queue.add({itemFor(QueueDirection::Upload, local.path(), "big.bin",
                                          RemotePath::join(folder, "big.bin"))});
    QTRY_VERIFY_WITH_TIMEOUT(!queue.busy(), 20000);
    QVERIFY2(queue.item(id)->state == QueueState::Finished, qPrintable(queue.item(id)->error));
    QCOMPARE(contentOf(serverRoot.filePath("big.bin")), marked + content.mid(marked.size()));
    QVERIFY(!QFileInfo::exists(serverRoot.filePath(copyName)));
    QVERIFY(!uploads->find("test", folder, "big.bin"));
}

void TransferQueueTest::sftpSmallFilesGoInBatches_data()
{
    QTest::addColumn<bool>("upload");
    QTest::newRow("download") << false;
    QTest::newRow("upload") << true;
}

// Two trees of small files: in one the user chose to replace what exists, in the other to
// skip it. One item of a running batch is cancelled; the rest of its batch is taken again.
void TransferQueueTest::sftpSmallFilesGoInBatches()
{
    QFETCH(bool, upload);
    if (!SshServer::unavailableReason(SshServer::Kind::OpenSsh).isEmpty())
        QSKIP(qPrintable(SshServer::unavailableReason(SshServer::Kind::OpenSsh)));
    QTemporaryDir serverRoot;
    QTemporaryDir localRoot;
    const QString source = upload ? localRoot.path() : serverRoot.path();
    const QString target = upload ? serverRoot.path() : localRoot.path();
    QMap<QString, QByteArray> files;
    for (const QString tree : {"over", "skip"}) {
        for (int i = 0; i < 40; ++i) {
            const QString name = QStringLiteral("%1/f%2.bin").arg(tree).arg(i, 2, 10, QChar('0'));
            files[name] = putLargeFile(source + "/" + name, 150000 + i).mid(i % 7);
            putFile(source + "/" + name, files[name]);
        }
        putFile(target + "/" + tree + "/f00.bin", "what the user had");
    }
    StockServer server;
    QVERIFY(server.start(true, serverRoot.path()));

    TransferQueue queue(server.opener, "test");
    const QueueDirection direction = upload ? QueueDirection::Upload : QueueDirection::Download;
    QueueItem over = itemFor(direction, localRoot.path(), "over", server.root + "/over", true);
    over.existing = ExistingTarget::Overwrite;
    QueueItem skip = itemFor(direction, localRoot.path(), "skip", server.root + "/skip", true);
    skip.existing = ExistingTarget::Skip;
    quint64 cancelled = 0;
    connect(&queue, &TransferQueue::itemChanged, &queue, [&](quint64 id) {
        const auto item = queue.item(id);
        if (!cancelled && item && item->localName == "over/f39.bin" &&
            item->state == QueueState::Running) {
            cancelled = id;
            queue.cancel(id);
        }
    });
    queue.add({over, skip});
    QTRY_VERIFY_WITH_TIMEOUT(allSettled(queue), 30000);

    QVERIFY(cancelled != 0);
    QCOMPARE(queue.item(cancelled)->state, QueueState::Cancelled);
    QMap<int, int> perTry;
    for (const QueueItem& item : queue.items()) {
        if (item.id != cancelled)
            QVERIFY2(item.state == QueueState::Finished,
                     qPrintable(item.localName + ": " + item.error));
        ++perTry[item.logAttempt];
    }
    // Several files went in one try: they were moved as a batch.
    QVERIFY(std::ranges::max(perTry.values()) > 1);
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QString path = target + "/" + it.key();
        if (it.key() == "skip/f00.bin")
            QCOMPARE(contentOf(path), QByteArray("what the user had"));
        else if (it.key() == "over/f39.bin" && !QFileInfo::exists(path))
            continue; // cancelled before it was whole
        else
            QCOMPARE(contentOf(path), it.value());
    }
    // No partial download, no temporary copy on the server: the cancelled file whole or absent.
    const int missing = QFileInfo::exists(target + "/over/f39.bin") ? 0 : 1;
    QCOMPARE(QDir(target + "/over").entryList(QDir::Files | QDir::Hidden).size(), 40 - missing);
    QCOMPARE(QDir(target + "/skip").entryList(QDir::Files | QDir::Hidden).size(), 40);
}

QTEST_GUILESS_MAIN(TransferQueueTest)
#include "tst_transferqueue.moc"
