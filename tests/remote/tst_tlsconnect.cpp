#include "FtpServerFixture.h"
#include "RemoteTestHost.h"
#include "ScriptedPrompter.h"
#include "faultserver.h"
#include "ftp/CertificateTrust.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteSession.h"
#include "remote/SiteSession.h"
#include "remote/TrustedThisRun.h"
#include "sites/ProfileStore.h"
#include "wininet.h"
#include "wininet/InternetTimeouts.h"

#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(PlainFtpAnswer)

// Connecting to a site whose profile asks for encryption: the certificate questions, what is
// remembered, what is refused before the password goes out, and the question before plain FTP.
class TestTlsConnect : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_root;
    QTemporaryDir m_certificates;
    FtpServerFixture m_server;
    FaultServer m_faults;

    QString certificates(const QString& name) const { return m_certificates.filePath(name); }

    void writeSite(const QString& host, quint16 port, const QString& encryption)
    {
        SiteProfile site{"Site", host, QString::number(port), "user", "secret", {}};
        site.encryption = encryption;
        QVERIFY(ProfileStore(ProfileFilePath()).write(site));
    }

    bool startServer(const QString& certificateSet)
    {
        FtpServerFixture::Options options;
        options.tlsCertificate = certificates(certificateSet) + "/server.pem";
        options.tlsRequired = true;
        return m_server.start(m_root.path(), options);
    }

    static void disconnect()
    {
        if (!FtpConnection.isOpen())
            return;
        RemoteTestHost host;
        QVERIFY(DisconnectFromSite(host));
    }

    static QByteArray readAll(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A connection as a queue worker opens it, asking nothing.
    static bool queueConnects(quint16 port)
    {
        SiteProfile site{"Site", "127.0.0.1", QString::number(port), "user", "secret", {}};
        site.encryption = kEncryptionRequired;
        ScriptedPrompter asksNothing;
        RemoteResult result;
        QString why;
        const bool opened = OpenSiteSession(site, asksNothing, result, why) != nullptr;
        return asksNothing.verifyDone() && opened;
    }

    static QString connectionFailed(DWORD code)
    {
        return QStringLiteral("FTP Server Connection Failed  (%1)").arg(code);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid() && m_root.isValid() && m_certificates.isValid());
        qputenv("ZULFTP_HOME", m_home.path().toLocal8Bit());
        wininet::setReceiveTimeoutMs(10000);
        QVERIFY(FtpServerFixture::makeCertificate(certificates("self"), {"127.0.0.1"}, true));
        QVERIFY(FtpServerFixture::makeCertificate(certificates("other"), {"other.example"}, false));
        QVERIFY(
            FtpServerFixture::makeCertificate(certificates("otherself"), {"other.example"}, true));
        QVERIFY(FtpServerFixture::makeCertificate(certificates("trusted"), {"127.0.0.1"}, false));
    }

    void init()
    {
        TrustedThisRun::forgetAll();
        FtpConnection = TFtpConnection();
        QFile::remove(ProfileFilePath());
        QFile::remove(CertificateTrust::defaultFilePath());
        qputenv("SSL_CERT_FILE", QFile::encodeName(certificates("trusted") + "/ca.pem"));
        qputenv("SSL_CERT_DIR", QFile::encodeName(m_certificates.filePath("none")));
    }

    void cleanup()
    {
        disconnect();
        FtpConnection = TFtpConnection();
        m_server.stop();
        m_faults.stop();
    }

    void untrustedCertificateIsAskedRememberedAndWatched()
    {
        QVERIFY2(startServer("self"), qPrintable(m_server.errorOutput()));
        writeSite("127.0.0.1", m_server.port(), kEncryptionRequired);
        const CertificateTrust trust(CertificateTrust::defaultFilePath());

        // First sight: the question, "always", connected and remembered in a private file.
        RemoteTestHost first;
        first.siteName = "Site";
        first.script.setIgnoreBeeps(true);
        first.script.expectCertificate(false, CertificateAnswer::TrustAlways);
        ConnectCommand(first);
        QVERIFY(first.script.verifyDone());
        QVERIFY(FtpConnection.Connected);
        QCOMPARE(first.status, QStringLiteral("Connected to 127.0.0.1 (TLS 1.3)"));
        const QString shown = first.script.seen().at(1).text;
        const QString remembered = trust.fingerprint("127.0.0.1", m_server.port());
        QVERIFY(!remembered.isEmpty());
        QVERIFY2(shown.contains(remembered) && shown.contains("Subject: CN=127.0.0.1") &&
                     shown.contains("self-signed"),
                 qPrintable(shown));
        const QFile::Permissions ownerAndOthers =
            QFile::permissions(trust.filePath()) & ~(QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(ownerAndOthers, QFile::ReadOwner | QFile::WriteOwner);
        disconnect();

        // Remembered: no question.
        RemoteTestHost again;
        again.siteName = "Site";
        again.script.setIgnoreBeeps(true);
        ConnectCommand(again);
        QVERIFY(again.script.verifyDone());
        QVERIFY(FtpConnection.Connected);
        disconnect();
        QVERIFY(queueConnects(m_server.port()));

        // Another certificate than the trusted one: the warning, and "no" connects nothing and
        // keeps the trusted fingerprint.
        const QString other = QString(remembered).replace(QRegularExpression("[0-9A-F]"), "A");
        QVERIFY(trust.remember("127.0.0.1", m_server.port(), other));
        RemoteTestHost changed;
        changed.siteName = "Site";
        changed.script.setIgnoreBeeps(true);
        changed.script.expectCertificate(true, CertificateAnswer::Refuse)
            .expectMessageStartingWith(connectionFailed(ERROR_INTERNET_INVALID_CA));
        ConnectCommand(changed);
        QVERIFY(changed.script.verifyDone());
        QVERIFY(!FtpConnection.Connected);
        QVERIFY(!FtpConnection.isOpen());
        QVERIFY(changed.script.seen().at(1).text.startsWith("WARNING"));
        QCOMPARE(trust.fingerprint("127.0.0.1", m_server.port()), other);

        // "Once" connects this time and remembers nothing.
        QVERIFY(QFile::remove(trust.filePath()));
        RemoteTestHost once;
        once.siteName = "Site";
        once.script.setIgnoreBeeps(true);
        once.script.expectCertificate(false, CertificateAnswer::TrustOnce);
        ConnectCommand(once);
        QVERIFY(once.script.verifyDone());
        QVERIFY(FtpConnection.Connected);
        QVERIFY(trust.fingerprint("127.0.0.1", m_server.port()).isEmpty());
        // ... for this run: the queue's own connections, which cannot ask, take it as well.
        QVERIFY(queueConnects(m_server.port()));
        TrustedThisRun::forgetAll();
        QVERIFY(!queueConnects(m_server.port()));
    }

    // A certificate made out to another host name is refused without a question, whoever
    // issued it, and even when its fingerprint is in the trust file.
    void certificateForAnotherNameIsRefusedWithoutQuestion_data()
    {
        QTest::addColumn<QString>("certificateSet");
        QTest::addColumn<bool>("remembered");
        QTest::newRow("from an authority") << "other" << false;
        QTest::newRow("self-signed") << "otherself" << false;
        QTest::newRow("self-signed, remembered") << "otherself" << true;
    }

    void certificateForAnotherNameIsRefusedWithoutQuestion()
    {
        QFETCH(QString, certificateSet);
        QFETCH(bool, remembered);
        qputenv("SSL_CERT_FILE", QFile::encodeName(certificates("other") + "/ca.pem"));
        QVERIFY(startServer(certificateSet));
        writeSite("127.0.0.1", m_server.port(), kEncryptionIfAvailable);
        for (int attempt = 0; attempt < (remembered ? 2 : 1); ++attempt) {
            RemoteTestHost host;
            host.siteName = "Site";
            host.script.setIgnoreBeeps(true);
            host.script.expectMessageStartingWith(
                connectionFailed(ERROR_INTERNET_SEC_CERT_CN_INVALID));
            ConnectCommand(host);
            QVERIFY(host.script.verifyDone());
            QVERIFY(host.script.seen().last().detail.startsWith(
                "The server's certificate was issued for another host name.\n"));
            QVERIFY(host.script.seen().last().detail.contains("not issued for 127.0.0.1"));
            QVERIFY(!FtpConnection.Connected);
            // As an older version could have left it: the certificate shown, trusted always.
            INTERNET_CERTIFICATE_INFOA info{};
            DWORD length = sizeof info;
            QVERIFY(InternetQueryOptionA(nullptr, INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT,
                                         &info, &length));
            QVERIFY(CertificateTrust(CertificateTrust::defaultFilePath())
                        .remember("127.0.0.1", m_server.port(), info.szFingerprintSha256));
        }
    }

    // What goes out to a server without TLS, by the profile's Encryption value, whether the
    // site allows plain FTP, whether the host's certificate is trusted always, and what the
    // user answers to the question before anything goes out in clear.
    void plainServerGetsWhatTheProfileAllows_data()
    {
        QTest::addColumn<QString>("encryption");
        QTest::addColumn<bool>("allowedBefore");
        QTest::addColumn<bool>("trustedHost");
        QTest::addColumn<QString>("question"); // "", "ask" or "loud"
        QTest::addColumn<PlainFtpAnswer>("answer");
        QTest::addColumn<QStringList>("received");
        QTest::addColumn<DWORD>("error"); // 0: connected
        const QStringList login{"USER user", "PASS secret"};
        const QStringList refused{"AUTH TLS"};
        const QStringList asked = QStringList{"AUTH TLS", "AUTH TLS"} + login;
        const auto cancel = PlainFtpAnswer::Cancel;
        const auto once = PlainFtpAnswer::ConnectOnce;
        const auto always = PlainFtpAnswer::AllowAlways;
        const QString ifAvailable(kEncryptionIfAvailable);
        QTest::newRow("no key") << QString() << false << false << "" << cancel << login << DWORD(0);
        QTest::newRow("none") << QString(kEncryptionNone) << false << false << "" << cancel << login
                              << DWORD(0);
        QTest::newRow("none, trusted host")
            << QString(kEncryptionNone) << false << true << "" << cancel << login << DWORD(0);
        QTest::newRow("if available, cancelled")
            << ifAvailable << false << false << "ask" << cancel << refused
            << ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED;
        QTest::newRow("if available, once")
            << ifAvailable << false << false << "ask" << once << asked << DWORD(0);
        QTest::newRow("if available, always")
            << ifAvailable << false << false << "ask" << always << asked << DWORD(0);
        QTest::newRow("if available, allowed before")
            << ifAvailable << true << false << "" << cancel << QStringList{"AUTH TLS"} + login
            << DWORD(0);
        QTest::newRow("trusted host, allowed before, cancelled")
            << ifAvailable << true << true << "loud" << cancel << refused
            << ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED;
        QTest::newRow("trusted host, once")
            << ifAvailable << false << true << "loud" << once << asked << DWORD(0);
        QTest::newRow("required") << QString(kEncryptionRequired) << false << false << "" << cancel
                                  << refused << ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    }

    void plainServerGetsWhatTheProfileAllows()
    {
        QFETCH(QString, encryption);
        QFETCH(bool, allowedBefore);
        QFETCH(bool, trustedHost);
        QFETCH(QString, question);
        QFETCH(PlainFtpAnswer, answer);
        QFETCH(QStringList, received);
        QFETCH(DWORD, error);
        QVERIFY(m_faults.start(QJsonObject{}));
        writeSite(m_faults.host(), m_faults.port(), encryption);
        const ProfileStore store(ProfileFilePath());
        if (allowedBefore)
            QVERIFY(store.allowPlainFtp("Site"));
        const CertificateTrust trust(CertificateTrust::defaultFilePath());
        if (trustedHost)
            QVERIFY(trust.remember(m_faults.host(), m_faults.port(), QString(95, 'A')));
        const QByteArray profileBefore = readAll(ProfileFilePath());

        RemoteTestHost host;
        host.siteName = "Site";
        host.script.setIgnoreBeeps(true);
        if (!question.isEmpty())
            host.script.expectPlainFtp(question == "loud", answer);
        if (error != 0)
            host.script.expectMessageStartingWith(connectionFailed(error));
        QCOMPARE(ConnectToSite(host), error == 0);
        QVERIFY(host.script.verifyDone());
        // Nothing past AUTH TLS before the user's yes; the password only after it.
        QCOMPARE(m_faults.received().mid(0, received.size()), received);
        if (error != 0)
            QCOMPARE(m_faults.received(), received);
        if (!question.isEmpty()) {
            const auto isQuestion = [](const ScriptedPrompter::Seen& seen) {
                return seen.kind == PromptKind::PlainFtp;
            };
            const auto shown =
                *std::find_if(host.script.seen().begin(), host.script.seen().end(), isQuestion);
            QVERIFY2(shown.text.contains(QString("127.0.0.1 (port %1)").arg(m_faults.port())) &&
                         shown.text.contains("500") && shown.text.contains("password"),
                     qPrintable(shown.text));
            QCOMPARE(shown.text.startsWith("WARNING"), question == "loud");
        }
        if (error == 0)
            QCOMPARE(host.status, QStringLiteral("Connected to 127.0.0.1"));

        // "Always" is the site's from now on, and only "always" changes the profile.
        QCOMPARE(store.read("Site").plainFtpAllowed,
                 allowedBefore || answer == PlainFtpAnswer::AllowAlways);
        if (answer != PlainFtpAnswer::AllowAlways) {
            QCOMPARE(readAll(ProfileFilePath()), profileBefore);
            return;
        }
        disconnect();
        RemoteTestHost again;
        again.siteName = "Site";
        again.script.setIgnoreBeeps(true);
        QVERIFY(ConnectToSite(again));
        QVERIFY(again.script.verifyDone());

        // A save of the site keeps it; one with another Encryption choice ends it.
        SiteProfile site = store.read("Site");
        QVERIFY(store.write(site));
        QVERIFY(store.read("Site").plainFtpAllowed);
        site.encryption = kEncryptionRequired;
        QVERIFY(store.write(site));
        QVERIFY(!store.read("Site").plainFtpAllowed);
    }

    // A trust file someone else could have written is not believed: its certificate is asked
    // about again, after a warning that says why, and the file is left for the user to see.
    void unsafeTrustFileIsIgnoredWithWarning_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("otherOwner");
        QTest::addColumn<QString>("reason");
        QTest::newRow("own, 0600") << 0600 << false << QString();
        QTest::newRow("group may read") << 0640 << false << QString("its permissions are 0640");
        QTest::newRow("others may write") << 0602 << false << QString("its permissions are 0602");
        QTest::newRow("another user's") << 0600 << true << QString("it belongs to another user");
    }

    void unsafeTrustFileIsIgnoredWithWarning()
    {
        QFETCH(int, mode);
        QFETCH(bool, otherOwner);
        QFETCH(QString, reason);
        if (otherOwner && ::geteuid() != 0)
            QSKIP("Only the superuser can give a file to another user.");
        QVERIFY2(startServer("self"), qPrintable(m_server.errorOutput()));
        writeSite("127.0.0.1", m_server.port(), kEncryptionRequired);
        const CertificateTrust trust(CertificateTrust::defaultFilePath());
        RemoteTestHost first;
        first.siteName = "Site";
        first.script.setIgnoreBeeps(true);
        first.script.expectCertificate(false, CertificateAnswer::TrustAlways);
        ConnectCommand(first);
        QVERIFY(first.script.verifyDone());
        disconnect();
        const QByteArray path = QFile::encodeName(trust.filePath());
        QCOMPARE(::chmod(path.constData(), mode_t(mode)), 0);
        if (otherOwner)
            QCOMPARE(::chown(path.constData(), 65534, 65534), 0);
        const QByteArray file = readAll(trust.filePath());

        RemoteTestHost host;
        host.siteName = "Site";
        host.script.setIgnoreBeeps(true);
        if (!reason.isEmpty())
            host.script
                .expectMessageStartingWith(QString("The trusted certificates in %1 are ignored: %2")
                                               .arg(trust.filePath(), reason))
                .expectCertificate(false, CertificateAnswer::TrustAlways)
                .expectMessageStartingWith("The certificate is trusted this time only:");
        ConnectCommand(host);
        QVERIFY(host.script.verifyDone());
        QVERIFY(FtpConnection.Connected);
        QCOMPARE(readAll(trust.filePath()), file);
        QCOMPARE(trust.fingerprint("127.0.0.1", m_server.port()).isEmpty(), !reason.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTlsConnect)
#include "tst_tlsconnect.moc"
