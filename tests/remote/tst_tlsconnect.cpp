#include "FtpServerFixture.h"
#include "RemoteTestHost.h"
#include "faultserver.h"
#include "ftp/CertificateTrust.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteSession.h"
#include "sites/ProfileStore.h"
#include "wininet/InternetTimeouts.h"

#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// Connecting to a site whose profile asks for encryption: the certificate questions, what is
// remembered, and what is refused before the password goes out.
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
        if (!FtpConnection.ConnectionHandle)
            return;
        RemoteTestHost host;
        QVERIFY(DisconnectFromSite(host));
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
        QVERIFY(FtpServerFixture::makeCertificate(certificates("trusted"), {"127.0.0.1"}, false));
    }

    void init()
    {
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
        QCOMPARE(FtpConnection.InternetHandle, nullptr);
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
    }

    void certificateForAnotherNameIsRefusedWithoutQuestion()
    {
        qputenv("SSL_CERT_FILE", QFile::encodeName(certificates("other") + "/ca.pem"));
        QVERIFY(startServer("other"));
        writeSite("127.0.0.1", m_server.port(), kEncryptionIfAvailable);
        RemoteTestHost host;
        host.siteName = "Site";
        host.script.setIgnoreBeeps(true);
        host.script.expectMessageStartingWith(connectionFailed(ERROR_INTERNET_SEC_CERT_CN_INVALID));
        ConnectCommand(host);
        QVERIFY(host.script.verifyDone());
        QVERIFY(host.script.seen().last().detail.startsWith(
            "The server's certificate was issued for another host name.\n"));
        QVERIFY(host.script.seen().last().detail.contains("not issued for 127.0.0.1"));
        QVERIFY(!FtpConnection.Connected);
    }

    // What goes out to a server without TLS, by the profile's Encryption value.
    void plainServerGetsWhatTheProfileAllows_data()
    {
        QTest::addColumn<QString>("encryption");
        QTest::addColumn<QStringList>("firstCommands");
        QTest::addColumn<bool>("connected");
        QTest::newRow("no key") << QString() << QStringList{"USER user", "PASS secret"} << true;
        QTest::newRow("none") << QString(kEncryptionNone) << QStringList{"USER user", "PASS secret"}
                              << true;
        QTest::newRow("if available")
            << QString(kEncryptionIfAvailable) << QStringList{"AUTH TLS", "USER user"} << true;
        QTest::newRow("required") << QString(kEncryptionRequired) << QStringList{"AUTH TLS"}
                                  << false;
    }

    void plainServerGetsWhatTheProfileAllows()
    {
        QFETCH(QString, encryption);
        QFETCH(QStringList, firstCommands);
        QFETCH(bool, connected);
        QVERIFY(m_faults.start(QJsonObject{}));
        writeSite(m_faults.host(), m_faults.port(), encryption);
        RemoteTestHost host;
        host.siteName = "Site";
        host.script.setIgnoreBeeps(true);
        if (!connected)
            host.script.expectMessageStartingWith(
                connectionFailed(ERROR_INTERNET_SECURITY_CHANNEL_ERROR));
        QCOMPARE(ConnectToSite(host), connected);
        QVERIFY(host.script.verifyDone());
        const QStringList received = m_faults.received();
        QCOMPARE(received.mid(0, firstCommands.size()), firstCommands);
        if (connected) {
            QCOMPARE(host.status, QStringLiteral("Connected to 127.0.0.1"));
        } else {
            QCOMPARE(received, firstCommands); // the user name never went out
            QVERIFY(host.script.seen().last().detail.startsWith(
                "The encrypted connection could not be set up.\n500"));
        }
    }
};

QTEST_GUILESS_MAIN(TestTlsConnect)
#include "tst_tlsconnect.moc"
