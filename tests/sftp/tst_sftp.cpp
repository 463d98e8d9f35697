// The file-transfer engine end to end, through OpenSSH's client, against OpenSSH's sshd and a
// server that misbehaves on purpose.
#include "SshServer.h"

#include "sftp/KnownHosts.h"
#include "sftp/SftpClient.h"
#include "sftp/SftpLog.h"

#include <QDir>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <sys/stat.h>
#include <thread>

using sftp::ErrorKind;
using sftp::PromptKind;

Q_DECLARE_METATYPE(sftp::ErrorKind)
Q_DECLARE_METATYPE(sftp::HostKeyTrust)

namespace {

std::string bytes(const QString& text)
{
    return text.toStdString();
}

// What a test answers to ssh's questions, and what was asked.
struct Answers
{
    sftp::HostKeyTrust trust = sftp::HostKeyTrust::Once;
    std::string password = "secret";
    std::string code = "123456";
    QList<PromptKind> asked;
    std::string fingerprint;

    sftp::PromptHandler handler()
    {
        return [this](const sftp::PromptRequest& request) {
            asked.append(request.kind);
            sftp::PromptAnswer answer;
            answer.cancelled = false;
            if (request.kind == PromptKind::HostKey || request.kind == PromptKind::HostKeyChanged) {
                fingerprint = request.fingerprint;
                answer.trust = trust;
            }
            answer.text = request.kind == PromptKind::Text ? code : password;
            return answer;
        };
    }
};

} // namespace

class TestSftp : public QObject
{
    Q_OBJECT

private:
    sftp::ConnectOptions options(const SshServer& server) const
    {
        sftp::ConnectOptions result;
        result.host = "127.0.0.1";
        result.port = server.port();
        result.user = bytes(server.user());
        result.configFile = "/dev/null";
        result.askpassProgram = ZUL_SFTP_ASKPASS;
        result.extraOptions = {"UserKnownHostsFile=" + bytes(knownHosts()),
                               "GlobalKnownHostsFile=/dev/null", "IdentityAgent=none"};
        result.timeouts.reply = std::chrono::milliseconds(10000);
        if (&server == &m_sshd) {
            result.keyFile = bytes(server.clientKey());
            result.extraOptions.push_back("IdentitiesOnly=yes");
        } else {
            result.extraOptions.push_back("PubkeyAuthentication=no");
        }
        return result;
    }
    QString knownHosts() const { return m_home.filePath(QStringLiteral("known_hosts")); }
    void trustKey(const SshServer& server, const QByteArray& keyLine)
    {
        QVERIFY(
            writeFile(knownHosts(), QStringLiteral("[127.0.0.1]:%1 ").arg(server.port()).toUtf8() +
                                        keyLine + "\n"));
    }
    QString fingerprintOf(const QString& publicKey)
    {
        QProcess keygen;
        keygen.start(QStringLiteral("ssh-keygen"), {"-l", "-f", publicKey});
        keygen.waitForFinished(10000);
        return QString::fromLatin1(keygen.readAllStandardOutput()).section(' ', 1, 1);
    }
    // A client logged on to sshd, the host's key already trusted.
    void connectToSshd(sftp::SftpClient& client)
    {
        trustKey(m_sshd, m_sshd.hostKeyLine());
        Answers answers;
        QVERIFY2(client.connect(options(m_sshd), answers.handler()),
                 client.lastError().text.c_str());
        QVERIFY(answers.asked.isEmpty());
    }
    QString served(const QString& name) const { return m_served.filePath(name); }
    std::string remote(const QString& name) const
    {
        return bytes(m_sshd.serverPath(m_served.path()) + "/" + name);
    }

    QTemporaryDir m_home;
    QTemporaryDir m_served;
    SshServer m_sshd;

private Q_SLOTS:
    void initTestCase()
    {
        const QString reason = SshServer::unavailableReason(SshServer::Kind::OpenSsh) +
                               SshServer::unavailableReason(SshServer::Kind::Misbehaving);
        if (!reason.isEmpty())
            QSKIP(qPrintable(reason));
        QVERIFY2(m_sshd.start(SshServer::Kind::OpenSsh, m_served.path()),
                 qPrintable(m_sshd.errorText()));
        m_sshd.handOver(m_served.path());
    }

    void init()
    {
        QFile::remove(knownHosts());
        // The served folder stays (sshd's account owns it); what a row left in it goes.
        QDir served(m_served.path());
        for (const QFileInfo& entry :
             served.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            if (entry.isDir() && !entry.isSymLink())
                QVERIFY(QDir(entry.filePath()).removeRecursively());
            else
                QVERIFY(QFile::remove(entry.filePath()));
        }
    }

    void commandsOnSshd_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("offset");
        QTest::newRow("list: kinds, sizes, times, links") << "list" << 3LL << 0LL;
        QTest::newRow("stat follows a link, lstat does not") << "stat" << 3LL << 0LL;
        QTest::newRow("new folder; twice is refused") << "mkdir" << 0LL << 0LL;
        QTest::newRow("rename replaces an existing name") << "rename" << 5LL << 0LL;
        QTest::newRow("remove file and folder; missing name") << "remove" << 0LL << 0LL;
        QTest::newRow("a path with NUL is never sent") << "nul" << 0LL << 0LL;
        for (qint64 size : {0LL, 1LL, 32768LL, 32769LL, 5LL * 1024 * 1024 + 7}) {
            QTest::addRow("download %lld bytes", size) << "download" << size << 0LL;
            QTest::addRow("upload %lld bytes", size) << "upload" << size << 0LL;
        }
        QTest::newRow("download resumes at an offset") << "download" << 300000LL << 123457LL;
        QTest::newRow("upload resumes at an offset") << "upload" << 300000LL << 123457LL;
        QTest::newRow("upload under a new name never replaces") << "exclusive" << 10LL << 0LL;
        QTest::newRow("cancel mid-download, then go on") << "cancel" << 32LL << 0LL;
    }

    void commandsOnSshd()
    {
        QFETCH(QString, command);
        QFETCH(qint64, size);
        QFETCH(qint64, offset);
        sftp::SftpClient client;
        connectToSshd(client);
        if (QTest::currentTestFailed())
            return;
        if (command == "list") {
            QVERIFY(writeFile(served("file"), "abc"));
            QVERIFY(QDir().mkdir(served("folder")));
            QVERIFY(QFile::link(served("file"), served("link")));
            QFile stamped(served("file"));
            QVERIFY(stamped.open(QIODevice::ReadWrite) &&
                    stamped.setFileTime(QDateTime::fromSecsSinceEpoch(1700000000),
                                        QFileDevice::FileModificationTime));
            stamped.close();
            std::vector<sftp::NameEntry> entries;
            std::size_t refused = 99;
            QVERIFY(client.list(remote(""), entries, refused));
            QCOMPARE(refused, 0u);
            QCOMPARE(entries.size(), 3u);
            std::sort(entries.begin(), entries.end(),
                      [](const auto& a, const auto& b) { return a.name < b.name; });
            QCOMPARE(entries[0].name, "file");
            QVERIFY(entries[0].attributes.isRegular());
            QCOMPARE(entries[0].attributes.size.value_or(0), quint64(size));
            QCOMPARE(entries[0].attributes.modifyTime.value_or(0), 1700000000u);
            QVERIFY(entries[1].attributes.isFolder());
            QVERIFY(entries[2].attributes.isLink());
        } else if (command == "stat") {
            QVERIFY(writeFile(served("file"), "abc"));
            QVERIFY(QFile::link(served("file"), served("link")));
            sftp::Attributes attributes;
            QVERIFY(client.stat(remote("link"), attributes));
            QVERIFY(attributes.isRegular());
            QCOMPARE(attributes.size.value_or(0), quint64(size));
            QVERIFY(client.lstat(remote("link"), attributes));
            QVERIFY(attributes.isLink());
        } else if (command == "mkdir") {
            QVERIFY(client.makeFolder(remote("new")));
            QVERIFY(QFileInfo(served("new")).isDir());
            QVERIFY(!client.makeFolder(remote("new")));
            QCOMPARE(client.lastError().kind, ErrorKind::Server);
            QVERIFY(client.lastError().text.find("/new\" on 127.0.0.1 failed") !=
                    std::string::npos);
        } else if (command == "rename") {
            QVERIFY(client.hasExtension("posix-rename@openssh.com"));
            QVERIFY(writeFile(served("from"), "fresh"));
            QVERIFY(writeFile(served("to"), "old contents"));
            m_sshd.handOver(m_served.path());
            QVERIFY(client.rename(remote("from"), remote("to")));
            QCOMPARE(readFile(served("to")), QByteArray("fresh"));
            QVERIFY(!QFileInfo::exists(served("from")));
        } else if (command == "remove") {
            QVERIFY(writeFile(served("file"), "x"));
            QVERIFY(QDir().mkdir(served("folder")));
            m_sshd.handOver(m_served.path());
            QVERIFY(client.removeFile(remote("file")));
            QVERIFY(client.removeFolder(remote("folder")));
            QVERIFY(!QFileInfo::exists(served("file")) && !QFileInfo::exists(served("folder")));
            QVERIFY(!client.removeFile(remote("file")));
            QCOMPARE(client.lastError().statusCode, quint32(sftp::kStatusNoSuchFile));
            QVERIFY(client.lastError().text.find("No such file") != std::string::npos);
        } else if (command == "nul") {
            QVERIFY(writeFile(served("file"), "x"));
            m_sshd.handOver(m_served.path());
            QVERIFY(!client.removeFile(remote("file") + std::string("\0/x", 3)));
            QCOMPARE(client.lastError().kind, ErrorKind::Local);
            QVERIFY(QFileInfo::exists(served("file")));
            sftp::Attributes attributes;
            QVERIFY(client.stat(remote("file"), attributes));
        } else if (command == "download") {
            const QByteArray data = pattern(size);
            QVERIFY(writeFile(served("data"), data));
            std::string got;
            std::uint64_t received = 0;
            QVERIFY2(client.download(
                         remote("data"), quint64(offset),
                         [&](std::string_view block) {
                             got.append(block);
                             return true;
                         },
                         received),
                     client.lastError().text.c_str());
            QCOMPARE(received, quint64(size - offset));
            QVERIFY(QByteArray::fromStdString(got) == data.mid(offset));
        } else if (command == "upload" || command == "exclusive") {
            const QByteArray data = pattern(size);
            if (offset > 0 || command == "exclusive")
                QVERIFY(writeFile(served("data"), data.left(offset)));
            m_sshd.handOver(m_served.path());
            qint64 at = offset;
            const auto source = [&](std::string& chunk, std::size_t max) {
                const QByteArray part = data.mid(at, qint64(max));
                chunk.assign(part.constData(), std::size_t(part.size()));
                at += part.size();
                return true;
            };
            std::uint64_t sent = 0;
            const auto mode = command == "exclusive" ? sftp::UploadMode::CreateNew
                              : offset > 0           ? sftp::UploadMode::Resume
                                                     : sftp::UploadMode::Replace;
            const bool ok =
                client.upload(remote("data"), mode, quint64(offset), source, sent, true);
            if (command == "exclusive") {
                QVERIFY(!ok);
                QCOMPARE(sent, 0u);
                QCOMPARE(readFile(served("data")), QByteArray());
                return;
            }
            QVERIFY2(ok, client.lastError().text.c_str());
            QCOMPARE(sent, quint64(size - offset));
            QVERIFY(readFile(served("data")) == data);
        } else if (command == "cancel") {
            QVERIFY(writeFile(served("data"), pattern(size * 1024 * 1024)));
            std::chrono::steady_clock::time_point cancelled;
            int blocksAfterCancel = 0;
            const auto sink = [&](std::string_view) {
                if (cancelled == std::chrono::steady_clock::time_point()) {
                    // Small blocks and a pause: many replies wait, already read, when the
                    // cancel comes; none of them may reach the file any more.
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    cancelled = std::chrono::steady_clock::now();
                    client.cancel();
                } else {
                    ++blocksAfterCancel;
                }
                return true;
            };
            std::uint64_t received = 0;
            client.readLength = 4096;
            QVERIFY(!client.download(remote("data"), 0, sink, received));
            const auto took = std::chrono::steady_clock::now() - cancelled;
            QCOMPARE(client.lastError().kind, ErrorKind::Cancelled);
            QVERIFY(took < std::chrono::milliseconds(200));
            QCOMPARE(blocksAfterCancel, 0);
            // The replies still due are dropped: the next command gets its own answer.
            client.clearCancel();
            sftp::Attributes attributes;
            QVERIFY2(client.stat(remote("data"), attributes), client.lastError().text.c_str());
            QCOMPARE(attributes.size.value_or(0), quint64(size * 1024 * 1024));
        }
    }

    void logOn_data()
    {
        QTest::addColumn<bool>("misbehaving");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("knownKey"); // "", "host" or "other"
        QTest::addColumn<sftp::HostKeyTrust>("trust");
        QTest::addColumn<QString>("password");
        QTest::addColumn<ErrorKind>("expected");
        QTest::addColumn<QList<PromptKind>>("asked");
        QTest::addColumn<QString>("text");
        using T = sftp::HostKeyTrust;
        const QList<PromptKind> hostKey{PromptKind::HostKey};
        QTest::newRow("first contact, trusted once")
            << false << QByteArray() << "" << T::Once << "" << ErrorKind::None << hostKey << "";
        QTest::newRow("first contact, trusted always")
            << false << QByteArray() << "" << T::Always << "" << ErrorKind::None << hostKey << "";
        QTest::newRow("first contact, not trusted")
            << false << QByteArray() << "" << T::Cancel << "" << ErrorKind::HostKeyRefused
            << hostKey << "was not trusted, so nothing was sent";
        // The misbehaving server takes the password "secret": had it gone out, these would log on.
        const QList<PromptKind> changed{PromptKind::HostKeyChanged};
        QTest::newRow("changed key trusted once: stopped before the password")
            << true << QByteArray() << "other" << T::Once << "secret" << ErrorKind::HostKeyChanged
            << changed << "has changed";
        QTest::newRow("changed key trusted always as if new: stopped before the password")
            << true << QByteArray() << "other" << T::Always << "secret" << ErrorKind::HostKeyChanged
            << changed << "has changed";
        QTest::newRow("changed key replaced explicitly: known_hosts holds the new key")
            << false << QByteArray() << "other" << T::Replace << "" << ErrorKind::None << changed
            << "";
        // On sshd a password is the passphrase of the locked key.
        QTest::newRow("key file with passphrase")
            << false << QByteArray() << "host" << T::Once << "secret" << ErrorKind::None
            << QList<PromptKind>{PromptKind::KeyPassphrase} << "";
        QTest::newRow("password") << true << QByteArray() << "host" << T::Once << "secret"
                                  << ErrorKind::None << QList<PromptKind>{PromptKind::Password}
                                  << "";
        QTest::newRow("wrong password in plain words")
            << true << QByteArray() << "host" << T::Once << "wrong" << ErrorKind::LogOnFailed
            << QList<PromptKind>(3, PromptKind::Password)
            << "refused the log-on: the user name, password or key is wrong";
        QTest::newRow("keyboard-interactive code")
            << true << QByteArray(R"({"kbd": [["Verification code: ", "123456"]]})") << "host"
            << T::Once << "" << ErrorKind::None << QList<PromptKind>{PromptKind::Text} << "";
    }

    void logOn()
    {
        QFETCH(bool, misbehaving);
        QFETCH(QByteArray, script);
        QFETCH(QString, knownKey);
        QFETCH(sftp::HostKeyTrust, trust);
        QFETCH(QString, password);
        QFETCH(ErrorKind, expected);
        QFETCH(QList<PromptKind>, asked);
        QFETCH(QString, text);
        SshServer fault;
        if (misbehaving)
            QVERIFY2(fault.start(SshServer::Kind::Misbehaving, m_served.path(), script),
                     qPrintable(fault.errorText()));
        const SshServer& server = misbehaving ? fault : m_sshd;
        if (knownKey == "host")
            trustKey(server, server.hostKeyLine());
        else if (knownKey == "other")
            trustKey(server, server.otherKeyLine());
        // Another host's line and the file's mode must outlive a replaced key.
        const QByteArray elsewhere = "[127.0.0.1]:1 " + server.otherKeyLine() + "\n";
        if (knownKey == "other") {
            QVERIFY(writeFile(knownHosts(), elsewhere + readFile(knownHosts())));
            QVERIFY(QFile::setPermissions(knownHosts(),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        }
        const QByteArray before = readFile(knownHosts());
        Answers answers;
        answers.trust = trust;
        answers.password = bytes(password);
        sftp::SftpClient client;
        sftp::ConnectOptions connectOptions = options(server);
        if (!misbehaving && !password.isEmpty())
            connectOptions.keyFile = bytes(server.lockedClientKey());
        const bool ok = client.connect(connectOptions, answers.handler());
        QCOMPARE(answers.asked, asked);
        QCOMPARE(client.lastError().kind, expected);
        QCOMPARE(ok, expected == ErrorKind::None);
        QVERIFY2(client.lastError().text.find(bytes(text)) != std::string::npos,
                 client.lastError().text.c_str());
        if (asked.contains(PromptKind::HostKey)) {
            QCOMPARE(QString::fromStdString(answers.fingerprint),
                     fingerprintOf(server.hostPublicKeyFile()));
            // Only "always" writes the user's known_hosts, in ssh's own format.
            QCOMPARE(readFile(knownHosts()).isEmpty(), trust != sftp::HostKeyTrust::Always);
        }
        if (knownKey == "other") {
            // The question named the new key; only "replace" changed the file.
            QCOMPARE(QString::fromStdString(answers.fingerprint),
                     fingerprintOf(server.hostPublicKeyFile()));
            const QByteArray now = readFile(knownHosts());
            if (trust == sftp::HostKeyTrust::Replace) {
                QCOMPARE(now, elsewhere +
                                  QStringLiteral("[127.0.0.1]:%1 ").arg(server.port()).toUtf8() +
                                  server.hostKeyLine() + "\n");
                struct stat info
                {};
                QCOMPARE(::stat(QFile::encodeName(knownHosts()).constData(), &info), 0);
                QCOMPARE(info.st_mode & 0777, 0640u);
            } else {
                QCOMPARE(now, before);
            }
        }
        if (expected == ErrorKind::HostKeyChanged)
            QCOMPARE(QString::fromStdString(client.lastError().fingerprint),
                     fingerprintOf(server.hostPublicKeyFile()));
        if (ok && (trust == sftp::HostKeyTrust::Always || trust == sftp::HostKeyTrust::Replace)) {
            client.disconnect();
            Answers again;
            QVERIFY(client.connect(options(server), again.handler()));
            QVERIFY(again.asked.isEmpty());
        }
    }

    // The message log of a connection: an upload, a failed write, a listing and a rename as
    // the lines the user reads, a transfer as its start and one line with what it moved.
    void messageLogSummarisesTransfers()
    {
        using sftp::PacketType;
        QStringList lines;
        sftp::setThreadLog(
            [](void* context, bool sent, const char* line, std::size_t length) {
                *static_cast<QStringList*>(context)
                    << (sent ? "> " : "< ") + QString::fromUtf8(line, qsizetype(length));
            },
            &lines);
        sftp::PacketLog log;
        log.attach();
        sftp::setThreadLog(nullptr, nullptr);
        const auto status = [&](std::uint32_t id, std::uint32_t code, std::string message = {}) {
            sftp::Reply reply;
            reply.id = id;
            reply.statusCode = code;
            reply.message = std::move(message);
            log.reply(reply);
        };
        const auto handle = [&](std::uint32_t id, std::string value) {
            sftp::Reply reply;
            reply.type = PacketType::Handle;
            reply.id = id;
            reply.handle = std::move(value);
            log.reply(reply);
        };
        const std::string chunk(32768, 'x');
        log.request(sftp::encodeOpen(
            1, "/up/a", sftp::kOpenWrite | sftp::kOpenCreate | sftp::kOpenTruncate, 0644u));
        handle(1, "\x01");
        for (std::uint32_t id = 2; id <= 4; ++id)
            log.request(sftp::encodeWrite(id, "\x01", (id - 2) * chunk.size(), chunk));
        for (std::uint32_t id = 2; id <= 4; ++id)
            status(id, sftp::kStatusOk);
        log.request(sftp::encodeHandle(PacketType::Close, 5, "\x01"));
        status(5, sftp::kStatusOk);
        log.request(sftp::encodeWrite(6, "\x01", 0, chunk));
        status(6, sftp::kStatusFailure, "disk full");
        log.request(sftp::encodePath(PacketType::Opendir, 7, "/d"));
        handle(7, "\x02");
        log.request(sftp::encodeHandle(PacketType::Readdir, 8, "\x02"));
        log.request(sftp::encodeHandle(PacketType::Readdir, 9, "\x02"));
        sftp::Reply names;
        names.type = PacketType::Name;
        names.id = 8;
        names.names.resize(2);
        log.reply(names);
        status(9, sftp::kStatusEof);
        log.request(sftp::encodeExtended(10, "posix-rename@openssh.com", {"/a\nb", "/c"}));
        status(10, sftp::kStatusNoSuchFile, "gone");
        const QStringList expected{
            R"(> OPEN "/up/a" (write, create, truncate))",
            "< HANDLE 01",
            R"(> WRITE "/up/a": 98304 bytes in 3 requests)",
            "> CLOSE handle 01",
            "< STATUS 0 OK",
            R"(< STATUS 4 FAILURE: "disk full")",
            R"(> OPENDIR "/d")",
            "< HANDLE 02",
            "< READDIR \u2192 2 names",
            "< READDIR \u2192 end of the folder",
            "> EXTENDED posix-rename@openssh.com \"/a?b\" \u2192 \"/c\"",
            R"(< STATUS 2 NO_SUCH_FILE: "gone")",
        };
        QCOMPARE(lines, expected);
    }

    // What a replaced key takes out of known_hosts: the host's own lines, hashed or not, and
    // nothing of any other host, marker or comment.
    void knownHostsLinesOfAHost_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("kept");
        const QByteArray key = " ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIOld\n";
        // "|1|" salt "|" HMAC-SHA1(salt, "[h.example]:2222"), as ssh hashes names.
        const QByteArray salt = QByteArray(20, '\x5a');
        const QByteArray hashed =
            "|1|" + salt.toBase64() + "|" +
            QMessageAuthenticationCode::hash("[h.example]:2222", salt, QCryptographicHash::Sha1)
                .toBase64();
        QTest::newRow("the host's line goes, others stay")
            << "a.example" + key + "[h.example]:2222" + key + "# note\n\n[h.example]:22" + key
            << "a.example" + key + "# note\n\n[h.example]:22" + key;
        QTest::newRow("a line for several hosts keeps the others")
            << "b.example,[H.example]:2222,10.0.0.1" + key << "b.example,10.0.0.1" + key;
        QTest::newRow("a hashed name goes, another hashed one stays")
            << hashed + key + "|1|" + salt.toBase64() + "|AAAAAAAAAAAAAAAAAAAAAAAAAAA=" + key
            << "|1|" + salt.toBase64() + "|AAAAAAAAAAAAAAAAAAAAAAAAAAA=" + key;
        QTest::newRow("revoked keys, authorities and wildcards stay")
            << "@revoked [h.example]:2222" + key + "@cert-authority *.example" + key +
                   "[h.*]:2222" + key
            << "@revoked [h.example]:2222" + key + "@cert-authority *.example" + key +
                   "[h.*]:2222" + key;
        QTest::newRow("only negations left: the line goes")
            << "!x.example,[h.example]:2222" + key << QByteArray();
        QTest::newRow("CR LF line ends and a last line without one")
            << QByteArray("a.example ssh-rsa AAAA\r\n[h.example]:2222 ssh-rsa AAAB")
            << QByteArray("a.example ssh-rsa AAAA\r\n");
    }

    void knownHostsLinesOfAHost()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, kept);
        QCOMPARE(QByteArray::fromStdString(sftp::withoutHostKeys(
                     text.toStdString(), sftp::knownHostsName("H.example", 2222, ""))),
                 kept);
    }

    void hostileServer_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("command");
        QTest::addColumn<ErrorKind>("expected");
        QTest::addColumn<QString>("text");
        QTest::newRow("names with '/', '..', NUL or none are refused")
            << QByteArray(R"({"names": ["a/b", "../up", "..", ".", "x\u0000y", ""]})") << "list"
            << ErrorKind::None << "";
        QTest::newRow("a name count larger than the reply")
            << QByteArray(R"({"nameCount": 2147483647})") << "list" << ErrorKind::Protocol
            << "claims more names than its reply holds";
        QTest::newRow("a packet length far past any reply")
            << QByteArray(R"({"badLength": true})") << "list" << ErrorKind::Protocol
            << "impossible length";
        QTest::newRow("channel dies mid-transfer")
            << QByteArray(R"({"dieAfter": 100000})") << "download" << ErrorKind::ConnectionLost
            << "The connection to 127.0.0.1 was lost";
        QTest::newRow("more data than asked for")
            << QByteArray(R"({"overlong": true})") << "download" << ErrorKind::Protocol
            << "bytes for a read of";
        QTest::newRow("end of file, then more data")
            << QByteArray(R"({"lieEofAt": 65536})") << "download" << ErrorKind::Protocol
            << "ended the file at byte 65536 but sent data after";
        QTest::newRow("64 reads in flight, byte-exact")
            << QByteArray(R"({"inFlightLog": "@LOG@"})") << "pipelined" << ErrorKind::None << "";
        QTest::newRow("a batch: the file whose close fails is not done, the others are")
            << QByteArray(R"({"closeFails": "b"})") << "batch" << ErrorKind::None << "";
        QTest::newRow("silent server cancelled from another thread")
            << QByteArray(R"({"stallAfter": 65536})") << "cancel" << ErrorKind::Cancelled << "";
    }

    void hostileServer()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, command);
        QFETCH(ErrorKind, expected);
        QFETCH(QString, text);
        const QString inFlightLog = m_home.filePath(QStringLiteral("in-flight"));
        script.replace("@LOG@", inFlightLog.toUtf8());
        SshServer fault;
        QVERIFY2(fault.start(SshServer::Kind::Misbehaving, m_served.path(), script),
                 qPrintable(fault.errorText()));
        trustKey(fault, fault.hostKeyLine());
        const QByteArray data = pattern(1024 * 1024);
        QVERIFY(writeFile(served("data"), data));
        sftp::SftpClient client;
        client.readLength = 32 * 1024;
        Answers answers;
        QVERIFY2(client.connect(options(fault), answers.handler()),
                 client.lastError().text.c_str());
        bool ok = false;
        std::uint64_t received = 0;
        std::string got;
        const auto sink = [&](std::string_view block) {
            got.append(block);
            return true;
        };
        if (command == "list") {
            std::vector<sftp::NameEntry> entries;
            std::size_t refused = 0;
            ok = client.list("/", entries, refused);
            if (ok) {
                QCOMPARE(refused, 4u);
                QCOMPARE(entries.size(), 1u);
                QCOMPARE(entries[0].name, "data");
            }
        } else if (command == "download") {
            ok = client.download("/data", 0, sink, received);
            QVERIFY(received < quint64(data.size()));
            QVERIFY(QByteArray::fromStdString(got) == data.left(qsizetype(got.size())));
        } else if (command == "pipelined") {
            ok = client.download("/data", 0, sink, received);
            QVERIFY(QByteArray::fromStdString(got) == data);
            QCOMPARE(readFile(inFlightLog).toInt(), 64);
        } else if (command == "batch") {
            // Sizes around the read length, so the reads past the listed size meet both a short
            // block and the end of the file.
            const QList<qsizetype> sizes{40000, 5, 32 * 1024, 0};
            std::vector<sftp::BatchFile> files;
            for (int i = 0; i < sizes.size(); ++i) {
                const QString name = QStringList{"a", "b", "c", "d"}[i];
                QVERIFY(writeFile(served(name), data.left(sizes[i])));
                sftp::BatchFile file;
                file.path = "/" + bytes(name);
                file.expectedSize = quint64(sizes[i]);
                files.push_back(file);
            }
            files[2].expectedSize = 100; // listed before it grew
            ok = client.downloadBatch(files, {});
            using Outcome = sftp::BatchFile::Outcome;
            for (int i = 0; i < sizes.size(); ++i) {
                QCOMPARE(files[size_t(i)].outcome, i == 1 ? Outcome::Failed : Outcome::Done);
                if (i != 1)
                    QVERIFY(QByteArray::fromStdString(files[size_t(i)].data) ==
                            data.left(sizes[i]));
            }
            QVERIFY(files[1].opened);
            QVERIFY2(files[1].error.text.find("Closing \"/b\"") != std::string::npos,
                     files[1].error.text.c_str());
        } else if (command == "cancel") {
            std::atomic<bool> stalled{false};
            std::chrono::steady_clock::time_point raised;
            std::thread canceller([&] {
                while (!stalled.load())
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                // Time for the engine to sit in its wait on the silent server.
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                raised = std::chrono::steady_clock::now();
                client.cancel();
            });
            ok = client.download(
                "/data", 0,
                [&](std::string_view block) {
                    stalled = true;
                    return sink(block);
                },
                received);
            const auto took = std::chrono::steady_clock::now() - raised;
            canceller.join();
            QVERIFY(took < std::chrono::milliseconds(200));
            QCOMPARE(received, 65536u);
        }
        QCOMPARE(client.lastError().kind, expected);
        QCOMPARE(ok, expected == ErrorKind::None);
        QVERIFY2(client.lastError().text.find(bytes(text)) != std::string::npos,
                 client.lastError().text.c_str());
    }
};

QTEST_GUILESS_MAIN(TestSftp)
#include "tst_sftp.moc"
