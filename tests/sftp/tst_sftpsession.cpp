// The server session over SFTP against OpenSSH's sshd: what the core sees of every command.
#include "SshServer.h"

#include "ScriptedPrompter.h"
#include "remote/SftpServerSession.h"
#include "remote/SiteSession.h"
#include "remote/TrustedThisRun.h"
#include "sites/ProfileStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

Q_DECLARE_METATYPE(RemoteFailure)

namespace {

// The whole stream, read in blocks of an odd size so the engine's blocks never line up.
RemoteResult readAll(RemoteStream& stream, QByteArray& got)
{
    char buffer[50000];
    for (;;) {
        qint64 count = 0;
        const RemoteResult result = stream.read(buffer, sizeof buffer, count);
        if (!result || count == 0)
            return result;
        got.append(buffer, count);
    }
}

} // namespace

class TestSftpSession : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SftpServerSession> open()
    {
        QFile known(m_home.filePath(QStringLiteral("known_hosts")));
        if (!known.open(QIODevice::WriteOnly))
            return nullptr;
        known.write(QStringLiteral("[127.0.0.1]:%1 ").arg(m_sshd.port()).toUtf8() +
                    m_sshd.hostKeyLine() + "\n");
        known.close();
        sftp::ConnectOptions options;
        options.host = "127.0.0.1";
        options.port = m_sshd.port();
        options.user = m_sshd.user().toStdString();
        options.configFile = "/dev/null";
        options.askpassProgram = ZUL_SFTP_ASKPASS;
        options.keyFile = m_sshd.clientKey().toStdString();
        options.extraOptions = {"UserKnownHostsFile=" + known.fileName().toStdString(),
                                "GlobalKnownHostsFile=/dev/null", "IdentityAgent=none",
                                "IdentitiesOnly=yes"};
        RemoteResult result;
        QString why;
        auto session = OpenSftpSession(
            options, [](const sftp::PromptRequest&) { return sftp::PromptAnswer{}; }, result, why);
        if (!session)
            qWarning("%s", qPrintable(why));
        return session;
    }
    // What ssh is told beyond the site: this test's known hosts and no user configuration.
    sftp::ConnectOptions base(bool keyFile, const QString& knownHostsFile) const
    {
        sftp::ConnectOptions options;
        options.configFile = "/dev/null";
        options.askpassProgram = ZUL_SFTP_ASKPASS;
        options.extraOptions = {"UserKnownHostsFile=" + knownHostsFile.toStdString(),
                                "GlobalKnownHostsFile=/dev/null", "IdentityAgent=none"};
        if (keyFile) {
            options.keyFile = m_sshd.clientKey().toStdString();
            options.extraOptions.push_back("IdentitiesOnly=yes");
        } else {
            options.extraOptions.push_back("PubkeyAuthentication=no");
        }
        return options;
    }
    QString knownHosts() const { return m_home.filePath(QStringLiteral("site_known_hosts")); }
    static QString fingerprintOf(const QString& publicKey)
    {
        QProcess keygen;
        keygen.start(QStringLiteral("ssh-keygen"), {"-l", "-f", publicKey});
        keygen.waitForFinished(10000);
        return QString::fromLatin1(keygen.readAllStandardOutput()).section(' ', 1, 1);
    }
    QString served(const QString& name) const { return m_served.filePath(name); }
    QByteArray remote(const QString& name) const
    {
        return (m_sshd.serverPath(m_served.path()) + "/" + name).toUtf8();
    }

    QTemporaryDir m_home;
    QTemporaryDir m_served;
    SshServer m_sshd;

private Q_SLOTS:
    void initTestCase()
    {
        const QString reason = SshServer::unavailableReason(SshServer::Kind::OpenSsh);
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
        QVERIFY2(m_sshd.start(SshServer::Kind::OpenSsh, m_served.path()),
                 qPrintable(m_sshd.errorText()));
        m_sshd.handOver(m_served.path());
    }

    void init()
    {
        TrustedThisRun::forgetAll();
        QDir served(m_served.path());
        for (const QFileInfo& entry :
             served.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            if (entry.isDir() && !entry.isSymLink())
                QVERIFY(QDir(entry.filePath()).removeRecursively());
            else
                QVERIFY(QFile::remove(entry.filePath()));
        }
    }

    void commands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("offset");
        QTest::newRow("list shows links; a walk never takes one for a folder")
            << "list" << 3LL << 0LL;
        QTest::newRow("folder: go, new, twice refused with the server's reply")
            << "folder" << 0LL << 0LL;
        QTest::newRow("rename replaces in one step") << "rename" << 5LL << 0LL;
        QTest::newRow("remove file and folder; a missing name is refused")
            << "remove" << 0LL << 0LL;
        QTest::newRow("a missing file is refused when opened") << "missing" << 0LL << 0LL;
        for (qint64 size : {0LL, 1LL, 5LL * 1024 * 1024 + 7}) {
            QTest::addRow("download %lld bytes", size) << "download" << size << 0LL;
            QTest::addRow("upload %lld bytes over an older file", size) << "upload" << size << 0LL;
        }
        QTest::newRow("download resumes at an offset") << "download" << 300000LL << 123457LL;
        QTest::newRow("upload continues at the server's end") << "upload" << 300000LL << 123457LL;
        QTest::newRow("upload at another point than the end is refused")
            << "misplaced" << 1000LL << 100LL;
        QTest::newRow("cancel from another thread ends a download; the session goes on")
            << "cancel" << 32LL * 1024 * 1024 << 0LL;
        QTest::newRow("an upload dropped before complete() ends early") << "dropped" << 9LL << 0LL;
    }

    void commands()
    {
        QFETCH(QString, command);
        QFETCH(qint64, size);
        QFETCH(qint64, offset);
        const auto session = open();
        QVERIFY(session);
        const SessionTraits traits = session->traits();
        QVERIFY(traits.resume && traits.append && traits.secure && traits.renameOver);
        QCOMPARE(traits.timePrecision, TimePrecision::Second);
        if (command == "list") {
            QVERIFY(writeFile(served("file"), "abc"));
            QVERIFY(QDir().mkdir(served("folder")));
            QVERIFY(QFile::link(served("folder"), served("link")));
            for (const ListPurpose purpose : {ListPurpose::Show, ListPurpose::Walk}) {
                RemoteListing listing;
                QVERIFY(session->list(remote(""), listing, purpose));
                std::sort(listing.entries.begin(), listing.entries.end(),
                          [](const auto& a, const auto& b) { return a.name < b.name; });
                QCOMPARE(listing.entries.size(), 3u);
                const RemoteEntry& file = listing.entries[0];
                QCOMPARE(file.serverName, QByteArray("file"));
                QVERIFY(!file.isFolder && !file.isLink);
                QCOMPARE(file.size, size);
                QCOMPARE(file.precision, TimePrecision::Second);
                QVERIFY(listing.entries[1].isFolder && !listing.entries[1].isLink);
                const RemoteEntry& link = listing.entries[2];
                QVERIFY(link.isLink);
                QCOMPARE(link.isFolder, purpose == ListPurpose::Show);
            }
        } else if (command == "folder") {
            QVERIFY(session->changeFolder(remote("")));
            QByteArray here;
            QVERIFY(session->currentFolder(here));
            QCOMPARE(here, remote("").chopped(1));
            QVERIFY(session->makeFolder(remote("new")));
            QVERIFY(QFileInfo(served("new")).isDir());
            const RemoteResult twice = session->makeFolder(remote("new"));
            QCOMPARE(twice.failure, RemoteFailure::Refused);
            QCOMPARE(twice.replyCode, int(sftp::kStatusFailure));
            QVERIFY(!twice.reply.isEmpty());
            QVERIFY(session->failureText().contains("/new\" on 127.0.0.1 failed"));
            QCOMPARE(session->changeFolder(remote("missing")).failure, RemoteFailure::Refused);
            QCOMPARE(session->knownFolder(), here);
        } else if (command == "rename") {
            QVERIFY(writeFile(served("from"), "fresh"));
            QVERIFY(writeFile(served("to"), "old contents"));
            m_sshd.handOver(m_served.path());
            QVERIFY(session->rename(remote("from"), remote("to")));
            QCOMPARE(readFile(served("to")), QByteArray("fresh"));
            RemoteEntry entry;
            QVERIFY(session->stat(remote("to"), entry));
            QCOMPARE(entry.size, size);
            QCOMPARE(entry.serverName, QByteArray("to"));
        } else if (command == "remove") {
            QVERIFY(writeFile(served("file"), "x"));
            QVERIFY(QDir().mkdir(served("folder")));
            m_sshd.handOver(m_served.path());
            QVERIFY(session->removeFile(remote("file")));
            QVERIFY(session->removeFolder(remote("folder")));
            QVERIFY(!QFileInfo::exists(served("file")) && !QFileInfo::exists(served("folder")));
            const RemoteResult missing = session->removeFile(remote("file"));
            QCOMPARE(missing.failure, RemoteFailure::Refused);
            QCOMPARE(missing.replyCode, int(sftp::kStatusNoSuchFile));
            QVERIFY(missing.reply.contains("No such file"));
        } else if (command == "missing") {
            RemoteResult result;
            QVERIFY(!session->openRead(remote("missing"), 0, result));
            QCOMPARE(result.replyCode, int(sftp::kStatusNoSuchFile));
            QVERIFY(!session->openWrite(remote("nofolder/file"), 0, result));
            QCOMPARE(result.failure, RemoteFailure::Refused);
            // The session goes on after both.
            RemoteListing listing;
            QVERIFY(session->list(remote(""), listing));
        } else if (command == "cancel") {
            QVERIFY(writeFile(served("data"), pattern(size)));
            RemoteResult result;
            auto stream = session->openRead(remote("data"), 0, result);
            QVERIFY(stream);
            char buffer[4096];
            qint64 got = 0;
            QVERIFY(stream->read(buffer, sizeof buffer, got) && got > 0);
            std::thread([&] { session->cancel(); }).join();
            qint64 total = got;
            RemoteResult last;
            while ((last = stream->read(buffer, sizeof buffer, got)) && got > 0)
                total += got;
            QCOMPARE(last.failure, RemoteFailure::Cancelled);
            QVERIFY(total < size);
            stream.reset();
            RemoteEntry entry;
            QVERIFY(session->stat(remote("data"), entry));
            QCOMPARE(entry.size, size);
        } else if (command == "download") {
            const QByteArray data = pattern(size);
            QVERIFY(writeFile(served("data"), data));
            RemoteResult result;
            auto stream = session->openRead(remote("data"), offset, result);
            QVERIFY(stream);
            QByteArray got;
            QVERIFY(readAll(*stream, got));
            QVERIFY(stream->complete());
            QCOMPARE(got.size(), size - offset);
            QVERIFY(got == data.mid(offset));
        } else if (command == "upload" || command == "misplaced" || command == "dropped") {
            const QByteArray data = pattern(size);
            const QByteArray before = offset > 0 ? data.left(offset) : QByteArray("older file");
            QVERIFY(writeFile(served("data"), before));
            m_sshd.handOver(m_served.path());
            RemoteResult result;
            const qint64 at = command == "misplaced" ? offset + 1 : offset;
            auto stream = session->openWrite(remote("data"), at, result);
            if (command == "misplaced") {
                QVERIFY(!stream);
                QCOMPARE(result.failure, RemoteFailure::Refused);
                QCOMPARE(readFile(served("data")), before);
                return;
            }
            QVERIFY(stream);
            for (qint64 from = offset; from < size; from += 70000)
                QVERIFY(
                    stream->write(data.constData() + from, std::min<qint64>(70000, size - from)));
            if (command == "dropped") {
                stream.reset();
                QVERIFY(readFile(served("data")).size() <= size);
                // The session is free for its next call at once.
                RemoteEntry entry;
                QVERIFY(session->stat(remote("data"), entry));
                return;
            }
            QVERIFY(stream->complete());
            QVERIFY(readFile(served("data")) == data);
        }
    }

    // The engine's batch and the one-after-the-other way every other session takes: the same
    // outcome per file, whatever fails beside it.
    void batchOfFiles_data()
    {
        QTest::addColumn<bool>("engine");
        QTest::newRow("several files in flight") << true;
        QTest::newRow("one file after the other") << false;
    }

    void batchOfFiles()
    {
        QFETCH(bool, engine);
        QVERIFY(writeFile(served("t1"), "the old t1"));
        m_sshd.handOver(m_served.path());
        const auto session = open();
        QVERIFY(session);
        const auto batch = [&](BatchDirection direction, std::vector<RemoteBatchFile>& files,
                               const std::function<bool(qint64)>& progress = {}) {
            return engine ? session->transferFiles(direction, files, progress)
                          : session->ServerSession::transferFiles(direction, files, progress);
        };
        using Outcome = RemoteBatchFile::Outcome;
        std::vector<RemoteBatchFile> up(3);
        const QStringList names{"t1", "nofolder/t2", "t3"};
        for (int i = 0; i < 3; ++i) {
            up[size_t(i)].path = remote(names[i]);
            up[size_t(i)].temporaryPath = remote(names[i] + ".part");
            up[size_t(i)].data = pattern(100000 * i + 7);
        }
        QVERIFY(batch(BatchDirection::Upload, up));
        QCOMPARE(up[0].outcome, Outcome::Done);
        QCOMPARE(up[1].outcome, Outcome::Failed);
        QCOMPARE(up[1].result.replyCode, int(sftp::kStatusNoSuchFile));
        QCOMPARE(up[2].outcome, Outcome::Done);
        QCOMPARE(QDir(m_served.path()).entryList(QDir::Files), (QStringList{"t1", "t3"}));
        QVERIFY(readFile(served("t1")) == up[0].data && readFile(served("t3")) == up[2].data);

        std::vector<RemoteBatchFile> down(3);
        for (int i = 0; i < 3; ++i) {
            down[size_t(i)].path = remote(i == 1 ? "missing" : names[i]);
            down[size_t(i)].expectedSize = i == 2 ? 10 : up[size_t(i)].data.size();
        }
        qint64 moved = 0;
        QVERIFY(batch(BatchDirection::Download, down, [&](qint64 bytes) {
            moved = bytes;
            return true;
        }));
        QCOMPARE(down[0].outcome, Outcome::Done);
        QVERIFY(down[0].data == up[0].data);
        QCOMPARE(down[1].outcome, Outcome::Failed);
        QVERIFY(down[1].result.noSuchName);
        QCOMPARE(down[2].outcome, Outcome::Done); // grew since it was listed: read to its end
        QVERIFY(down[2].data == up[2].data);
        QCOMPARE(moved, up[0].data.size() + up[2].data.size());

        // A cancel at the first word of progress: nothing counts as done, no copy stays, and
        // the session goes on.
        for (RemoteBatchFile& file : up)
            file.outcome = Outcome::NotDone;
        const RemoteResult cancelled =
            batch(BatchDirection::Upload, up, [](qint64) { return false; });
        QCOMPARE(cancelled.failure, RemoteFailure::Cancelled);
        for (const RemoteBatchFile& file : up)
            QCOMPARE(file.outcome, Outcome::NotDone);
        RemoteListing listing;
        QVERIFY(session->list(remote(""), listing));
        QCOMPARE(QDir(m_served.path()).entryList(QDir::Files), (QStringList{"t1", "t3"}));
        QVERIFY(readFile(served("t1")) == up[0].data);
    }

    void siteLogOn_data()
    {
        QTest::addColumn<bool>("misbehaving"); // the password server, else sshd with a key
        // "", "host" or "other"; "unwritable": none, in a known_hosts that cannot be written
        QTest::addColumn<QString>("knownKey");
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QString>("stored"); // the profile's password
        QTest::addColumn<int>("trust");      // the host-key box's answer; -1: no box
        QTest::addColumn<QString>("asked");  // the password box's prompt; empty: none
        QTest::addColumn<RemoteFailure>("failure");
        QTest::addColumn<QString>("why");
        using C = CertificateAnswer;
        const auto none = RemoteFailure::None;
        QTest::newRow("first contact shows type and fingerprint, trusted once")
            << false << ""
            << "sftp"
            << "" << int(C::TrustOnce) << "" << none << "";
        QTest::newRow("first contact refused: nothing sent")
            << false << ""
            << "sftp"
            << "" << int(C::Refuse) << "" << RemoteFailure::Security
            << "was not trusted, so nothing was sent";
        // The misbehaving server takes the stored password: had it gone out, these would log on.
        QTest::newRow("changed key: a loud warning naming the new fingerprint, refused")
            << true << "other"
            << "sftp"
            << "secret" << int(C::Refuse) << "" << RemoteFailure::Security
            << "WARNING: the host key of 127.0.0.1 has changed";
        QTest::newRow("changed key: trusting once is not enough")
            << true << "other"
            << "sftp"
            << "secret" << int(C::TrustOnce) << "" << RemoteFailure::Security
            << "WARNING: the host key of 127.0.0.1 has changed";
        QTest::newRow("changed key: \"always\" replaces the known key and logs on")
            << false << "other"
            << "sftp"
            << "" << int(C::TrustAlways) << "" << none << "";
        // Said in plain words, and the connection goes on with the key trusted this time.
        QTest::newRow("trusted always, known_hosts not writable: said, and logs on")
            << false << "unwritable"
            << "sftp"
            << "" << int(C::TrustAlways) << "" << none << "";
        QTest::newRow("the stored password logs on unasked") << true << "host"
                                                             << "sftp"
                                                             << "secret" << -1 << "" << none << "";
        QTest::newRow("a wrong stored password is asked again in plain words")
            << true << "host"
            << "sftp"
            << "wrong" << -1 << "127.0.0.1 did not accept the password of tester." << none << "";
        QTest::newRow("a protocol of a later version is never taken for FTP")
            << true << "host"
            << "ftp-over-quic"
            << "secret" << -1 << "" << RemoteFailure::Other
            << "which this version does not know; nothing was sent to 127.0.0.1";
    }

    void siteLogOn()
    {
        QFETCH(bool, misbehaving);
        QFETCH(QString, knownKey);
        QFETCH(QString, protocol);
        QFETCH(QString, stored);
        QFETCH(int, trust);
        QFETCH(QString, asked);
        QFETCH(RemoteFailure, failure);
        QFETCH(QString, why);
        SshServer fault;
        if (misbehaving && !SshServer::unavailableReason(SshServer::Kind::Misbehaving).isEmpty())
            QSKIP(qPrintable(SshServer::unavailableReason(SshServer::Kind::Misbehaving)));
        if (misbehaving)
            QVERIFY2(fault.start(SshServer::Kind::Misbehaving, m_served.path()),
                     qPrintable(fault.errorText()));
        const SshServer& server = misbehaving ? fault : m_sshd;
        QFile::remove(knownHosts());
        // A folder that cannot be made, as it is a file: fails for root as well.
        const QString blocked = m_home.filePath(QStringLiteral("blocked"));
        QVERIFY(writeFile(blocked, "not a folder"));
        const bool unwritable = knownKey == "unwritable";
        const QString knownHostsFile = unwritable ? blocked + "/known_hosts" : knownHosts();
        if (unwritable) {
            knownKey.clear();
        } else if (!knownKey.isEmpty()) {
            QFile known(knownHosts());
            QVERIFY(known.open(QIODevice::WriteOnly));
            known.write(QStringLiteral("[127.0.0.1]:%1 ").arg(server.port()).toUtf8() +
                        (knownKey == "host" ? server.hostKeyLine() : server.otherKeyLine()) + "\n");
        }
        // The profile as the program stores and reads it.
        ProfileStore store(m_home.filePath(QStringLiteral("zulftp.ini")));
        SiteProfile written;
        written.siteName = QStringLiteral("Shell box");
        written.host = QStringLiteral("127.0.0.1");
        written.port = QString::number(server.port());
        written.userID = server.user();
        written.password = stored;
        written.protocol = protocol;
        QVERIFY(store.write(written));
        const SiteProfile site = store.read(written.siteName);
        QCOMPARE(site.protocol, protocol);
        ScriptedPrompter prompter;
        const bool changed = knownKey == "other";
        if (changed)
            prompter.expectBeep(MB_ICONEXCLAMATION);
        if (trust >= 0)
            prompter.expectCertificate(changed, CertificateAnswer(trust));
        if (!asked.isEmpty())
            prompter.expectPassword(asked, QStringLiteral("secret"));
        if (unwritable)
            prompter.expectMessage(
                QStringLiteral("The host key of 127.0.0.1 could not be saved in %1: Not a "
                               "directory. It is trusted "
                               "for now only and will be asked about again.")
                    .arg(knownHostsFile));
        RemoteResult result;
        QString text;
        const auto session =
            OpenSiteSession(site, prompter, result, text, base(!misbehaving, knownHostsFile));
        QVERIFY(prompter.verifyDone());
        QCOMPARE(result.failure, failure);
        QCOMPARE(bool(session), failure == RemoteFailure::None);
        QVERIFY2(text.contains(why), qPrintable(text));
        const QString fingerprint = fingerprintOf(server.hostPublicKeyFile());
        if (trust >= 0 && !unwritable) {
            QVERIFY(prompter.seen().constLast().text.contains(fingerprint));
            QVERIFY(prompter.seen().constLast().text.contains(QStringLiteral("ED25519")));
        }
        if (changed && !session)
            QVERIFY2(text.contains(fingerprint), qPrintable(text));
        if (changed)
            QCOMPARE(readFile(knownHosts()).contains(server.hostKeyLine()), bool(session));
        if (session) {
            RemoteListing listing;
            QVERIFY(session->list(server.serverPath(m_served.path()).toUtf8(), listing));
        }
        // Back to FTP, the profile keeps no protocol key an older version would not know.
        written.protocol.clear();
        QVERIFY(store.write(written));
        QVERIFY(!readFile(store.filePath()).contains("Protocol"));
    }
};

QTEST_GUILESS_MAIN(TestSftpSession)
#include "tst_sftpsession.moc"
