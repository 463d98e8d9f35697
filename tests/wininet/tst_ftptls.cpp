#include "FtpServerFixture.h"
#include "InternetTestSupport.h"
#include "faultserver.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// FTP over TLS against the test server's TLS handler and the fault server: what is encrypted,
// what is refused before the password goes out, and which certificates are trusted.
class TestFtpTls : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QTemporaryDir m_certificates;
    FtpServerFixture m_server;
    FaultServer m_faults;

    QString certificateDir(const QString& name) const { return m_certificates.filePath(name); }

    // The SHA-256 fingerprint of the first certificate of a PEM file, as the service writes it.
    static QByteArray fingerprintOf(const QString& pemFile)
    {
        QFile file(pemFile);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray text = file.readAll();
        const QByteArray begin = "-----BEGIN CERTIFICATE-----";
        const qsizetype start = text.indexOf(begin) + begin.size();
        const qsizetype end = text.indexOf("-----END CERTIFICATE-----", start);
        const QByteArray der = QByteArray::fromBase64(text.mid(start, end - start));
        return QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex(':').toUpper();
    }

    static INTERNET_SECURITY_CONNECTION_INFO securityOf(HINTERNET connect)
    {
        INTERNET_SECURITY_CONNECTION_INFO info{};
        DWORD length = sizeof info;
        if (!InternetQueryOptionA(connect, INTERNET_OPTION_SECURITY_CONNECTION_INFO, &info,
                                  &length))
            info.dwSize = 0;
        return info;
    }

    static INTERNET_CERTIFICATE_INFOA rejectedCertificate()
    {
        INTERNET_CERTIFICATE_INFOA info{};
        DWORD length = sizeof info;
        if (!InternetQueryOptionA(nullptr, INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT, &info,
                                  &length))
            info.dwVerifyError = GetLastError();
        return info;
    }

    bool startTlsServer(const QString& certificates, bool activeOnly = false)
    {
        FtpServerFixture::Options options;
        options.tlsCertificate = certificateDir(certificates) + "/server.pem";
        options.tlsRequired = true;
        options.activeOnly = activeOnly;
        return m_server.start(m_root.path(), options);
    }

private Q_SLOTS:
    void initTestCase()
    {
        shortenTimeouts(10000);
        QVERIFY(m_root.isValid() && m_certificates.isValid());
        QVERIFY(FtpServerFixture::makeCertificate(certificateDir("trusted"), {"127.0.0.1"}, false));
        QVERIFY(FtpServerFixture::makeCertificate(certificateDir("self"), {"127.0.0.1"}, true));
        QVERIFY(
            FtpServerFixture::makeCertificate(certificateDir("other"), {"other.example"}, false));
    }

    void init()
    {
        // Our own authority is the only one the system knows of in these tests.
        qputenv("SSL_CERT_FILE", QFile::encodeName(certificateDir("trusted") + "/ca.pem"));
        qputenv("SSL_CERT_DIR", QFile::encodeName(m_certificates.filePath("none")));
    }

    void cleanup()
    {
        m_server.stop();
        m_faults.stop();
    }

    void requiredTlsListsAndTransfersByteExact_data()
    {
        QTest::addColumn<bool>("activeOnly");
        QTest::newRow("passive") << false;
        QTest::newRow("active") << true;
    }

    void requiredTlsListsAndTransfersByteExact()
    {
        QFETCH(bool, activeOnly);
        QVERIFY2(startTlsServer("trusted", activeOnly), qPrintable(m_server.errorOutput()));
        Connection connection = connectTo(m_server.port(), "user", "secret", INTERNET_FLAG_SECURE);
        QVERIFY2(connection.connect,
                 qPrintable(QString::number(connection.error) + " " + lastResponseText()));
        const INTERNET_SECURITY_CONNECTION_INFO info = securityOf(connection.connect.get());
        QVERIFY(info.fSecure && info.fDataSecure);
        QCOMPARE(info.dwProtocol, SP_PROT_TLS1_3_CLIENT);

        // Sizes around the TLS record and block boundaries, and an empty file.
        const QByteArray big = patternBytes(3 * 1024 * 1024 + 17);
        const QByteArray small = patternBytes(16385);
        QVERIFY(uploadAll(connection.connect.get(), "big.bin", big));
        QVERIFY(uploadAll(connection.connect.get(), "small.bin", small));
        QVERIFY(uploadAll(connection.connect.get(), "empty.bin", QByteArray()));
        QFile stored(m_root.filePath("big.bin"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll() == big);

        QStringList names = listNames(connection.connect.get());
        names.sort();
        QCOMPARE(names, QStringList({"big.bin", "empty.bin", "small.bin"}));
        QByteArray data;
        QVERIFY(downloadAll(connection.connect.get(), "big.bin", data));
        QVERIFY(data == big);
        QVERIFY(downloadAll(connection.connect.get(), "small.bin", data));
        QVERIFY(data == small);
        QVERIFY(downloadAll(connection.connect.get(), "empty.bin", data));
        QVERIFY(data.isEmpty());
        QCOMPARE(currentDirectory(connection.connect.get()), QStringLiteral("/"));
    }

    void requiredTlsIsRefusedBeforeTheUserName()
    {
        QVERIFY(m_faults.start(QJsonObject{}));
        Connection connection = connectTo(m_faults.port(), "user", "secret", INTERNET_FLAG_SECURE);
        QVERIFY(!connection.connect);
        QCOMPARE(connection.error, ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
        QVERIFY(lastResponseText().startsWith("500"));
        QCOMPARE(m_faults.received(), QStringList({"AUTH TLS"}));
    }

    // A refused AUTH TLS: plain FTP only when the caller allowed the fall-back, otherwise the
    // connect stops before the user name with a code of its own.
    void ifAvailableFallsBackOnlyWhenAllowed_data()
    {
        QTest::addColumn<DWORD>("flags");
        QTest::addColumn<DWORD>("error");
        QTest::addColumn<QStringList>("received");
        QTest::newRow("fall-back allowed")
            << (INTERNET_FLAG_SECURE_IF_AVAILABLE | INTERNET_FLAG_INSECURE_FALLBACK)
            << DWORD(ERROR_SUCCESS) << QStringList({"AUTH TLS", "USER user", "PASS secret"});
        QTest::newRow("not allowed")
            << INTERNET_FLAG_SECURE_IF_AVAILABLE << ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED
            << QStringList({"AUTH TLS"});
    }

    void ifAvailableFallsBackOnlyWhenAllowed()
    {
        QFETCH(DWORD, flags);
        QFETCH(DWORD, error);
        QFETCH(QStringList, received);
        QVERIFY(m_faults.start(QJsonObject{}));
        Connection connection = connectTo(m_faults.port(), "user", "secret", flags);
        QCOMPARE(connection.error, error);
        if (error == ERROR_SUCCESS) {
            QVERIFY(connection.connect);
            QVERIFY(!securityOf(connection.connect.get()).fSecure);
            QCOMPARE(m_faults.received().mid(0, received.size()), received);
        } else {
            QVERIFY(!connection.connect);
            QVERIFY(lastResponseText().startsWith("500"));
            QCOMPARE(m_faults.received(), received);
        }
    }

    // Implicit TLS: the handshake before the greeting, PROT P before any data, the certificate
    // checked as for explicit TLS, and not one byte in clear, whatever other flags say.
    void implicitTlsEncryptsFromTheFirstByte_data()
    {
        QTest::addColumn<QString>("server"); // "implicit", "plain" or "self-signed"
        QTest::addColumn<QString>("prot");   // the reply to PROT; empty: the server's own
        QTest::addColumn<DWORD>("flags");
        QTest::addColumn<DWORD>("error");
        QTest::addColumn<QStringList>("received");
        const DWORD implicit = INTERNET_FLAG_IMPLICIT_TLS;
        const QStringList logOn{"USER user", "PASS secret", "PBSZ 0", "PROT P"};
        QTest::newRow("logs on and moves data encrypted")
            << "implicit"
            << "" << implicit << DWORD(ERROR_SUCCESS) << logOn;
        QTest::newRow("a server greeting in clear gets nothing")
            << "plain"
            << "" << implicit << ERROR_INTERNET_SECURITY_CHANNEL_ERROR << QStringList();
        QTest::newRow("the fall-back flags never make it plain")
            << "plain"
            << ""
            << (implicit | INTERNET_FLAG_SECURE_IF_AVAILABLE | INTERNET_FLAG_INSECURE_FALLBACK)
            << ERROR_INTERNET_SECURITY_CHANNEL_ERROR << QStringList();
        QTest::newRow("refused PROT P ends it before any data")
            << "implicit"
            << "534 Protection refused." << implicit << ERROR_INTERNET_SECURITY_CHANNEL_ERROR
            << logOn;
        QTest::newRow("an untrusted certificate gets nothing")
            << "self-signed"
            << "" << implicit << ERROR_INTERNET_INVALID_CA << QStringList();
    }

    void implicitTlsEncryptsFromTheFirstByte()
    {
        QFETCH(QString, server);
        QFETCH(QString, prot);
        QFETCH(DWORD, flags);
        QFETCH(DWORD, error);
        QFETCH(QStringList, received);
        QJsonObject script{{"files", QJsonObject{{"a.bin", "@70000"}}}};
        QJsonObject rules{{"PBSZ", QJsonArray{QJsonObject{{"reply", "200 OK."}}}}};
        if (server != "plain") {
            script["implicitTls"] = true;
            script["tlsCert"] =
                certificateDir(server == "implicit" ? "trusted" : "self") + "/server.pem";
        }
        if (!prot.isEmpty())
            rules["PROT"] = QJsonArray{QJsonObject{{"reply", prot}}};
        script["rules"] = rules;
        QVERIFY(m_faults.start(script));
        Connection connection = connectTo(m_faults.port(), "user", "secret", flags);
        QCOMPARE(connection.error, error);
        QCOMPARE(bool(connection.connect), error == ERROR_SUCCESS);
        const QStringList log = m_faults.received();
        QCOMPARE(log.mid(0, received.size()), received);
        if (!connection.connect) {
            // A server in clear logs our TLS hello as lines of noise; no command may follow.
            const QStringList commands = log.filter(QRegularExpression("^[A-Z]{3,4}( |$)"));
            QVERIFY2(commands == received, qPrintable(log.join('|')));
            return;
        }
        const INTERNET_SECURITY_CONNECTION_INFO info = securityOf(connection.connect.get());
        QVERIFY(info.fSecure && info.fDataSecure);
        QByteArray data;
        QVERIFY(downloadAll(connection.connect.get(), "a.bin", data));
        QCOMPARE(data, patternBytes(70000));
    }

    void repliesSentBeforeTheHandshakeAreDropped()
    {
        // "230" planted in clear behind the 234 would log us on without a password and leave
        // every later reply answering the command before it.
        QJsonObject script{{"tlsCert", certificateDir("trusted") + "/server.pem"}};
        script["rules"] = QJsonObject{
            {"AUTH",
             QJsonArray{QJsonObject{{"reply", "234 Go ahead.\r\n230 Planted."}, {"tls", true}}}},
            {"PBSZ", QJsonArray{QJsonObject{{"reply", "200 OK."}}}},
            {"PROT", QJsonArray{QJsonObject{{"reply", "200 OK."}}}}};
        QVERIFY(m_faults.start(script));
        Connection connection = connectTo(m_faults.port(), "user", "secret", INTERNET_FLAG_SECURE);
        QVERIFY2(connection.connect, qPrintable(QString::number(connection.error)));
        QCOMPARE(m_faults.received().mid(0, 5),
                 QStringList({"AUTH TLS", "USER user", "PASS secret", "PBSZ 0", "PROT P"}));
        QCOMPARE(currentDirectory(connection.connect.get()), QStringLiteral("/"));
    }

    void abortedUploadIsNeverEndedInOrder()
    {
        // This server takes an upload for stored only when it ends with close_notify: an
        // aborted one must break off without it, and the connection stay in step.
        QJsonObject script{{"tlsCert", certificateDir("trusted") + "/server.pem"}};
        script["rules"] =
            QJsonObject{{"AUTH", QJsonArray{QJsonObject{{"reply", "234 Go."}, {"tls", true}}}},
                        {"PBSZ", QJsonArray{QJsonObject{{"reply", "200 OK."}}}}};
        QVERIFY(m_faults.start(script));
        Connection connection = connectTo(m_faults.port(), "user", "secret", INTERNET_FLAG_SECURE);
        QVERIFY2(connection.connect, qPrintable(QString::number(connection.error)));
        OwnedHandle file(FtpOpenFileA(connection.connect.get(), "cut.bin", GENERIC_WRITE,
                                      FTP_TRANSFER_TYPE_BINARY, 0));
        QVERIFY(file);
        const QByteArray block = patternBytes(4096);
        DWORD written = 0;
        for (int i = 0; i < 100; ++i)
            QVERIFY(InternetWriteFile(file.get(), block.constData(), 4096, &written));
        QVERIFY(FtpAbortFile(file.get()));
        QVERIFY(file.close());
        QCOMPARE(currentDirectory(connection.connect.get()), QStringLiteral("/"));
        // The same server does see a whole upload over TLS as stored.
        QVERIFY(uploadAll(connection.connect.get(), "whole.bin", block));
        const QStringList stored = m_faults.received().filter(QRegularExpression("^STORED "));
        QCOMPARE(stored, QStringList{"STORED whole.bin 4096"});
    }

    void untrustedCertificateIsRefusedUnlessAccepted()
    {
        QVERIFY(startTlsServer("self"));
        Connection refused = connectTo(m_server.port(), "user", "secret", INTERNET_FLAG_SECURE);
        QVERIFY(!refused.connect);
        QCOMPARE(refused.error, ERROR_INTERNET_INVALID_CA);
        const INTERNET_CERTIFICATE_INFOA shown = rejectedCertificate();
        const QByteArray fingerprint = fingerprintOf(certificateDir("self") + "/server.pem");
        QCOMPARE(QByteArray(shown.szFingerprintSha256), fingerprint);
        QVERIFY(QByteArray(shown.szSubjectInfo).contains("CN=127.0.0.1"));
        QCOMPARE(QByteArray(shown.szIssuerInfo), QByteArray(shown.szSubjectInfo));
        QVERIFY(shown.ftExpiry.dwHighDateTime > shown.ftStart.dwHighDateTime ||
                shown.ftExpiry.dwLowDateTime > shown.ftStart.dwLowDateTime);

        // Accepting another certificate accepts nothing; accepting this one lets it through.
        for (const QByteArray& accepted : {QByteArray(64, 'A'), fingerprint}) {
            OwnedHandle internet(
                InternetOpenA("ZULFTP", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
            QVERIFY(InternetSetOptionA(internet.get(), INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT,
                                       const_cast<char*>(accepted.constData()),
                                       static_cast<DWORD>(accepted.size())));
            OwnedHandle connect(InternetConnectA(internet.get(), "127.0.0.1", m_server.port(),
                                                 "user", "secret", INTERNET_SERVICE_FTP,
                                                 INTERNET_FLAG_SECURE, 0));
            QCOMPARE(bool(connect), accepted == fingerprint);
            if (connect) {
                QByteArray data;
                QVERIFY(uploadAll(connect.get(), "a.txt", "over an accepted certificate"));
                QVERIFY(downloadAll(connect.get(), "a.txt", data));
                QCOMPARE(data, QByteArray("over an accepted certificate"));
            }
        }
    }

    void certificateForAnotherNameIsRefused()
    {
        qputenv("SSL_CERT_FILE", QFile::encodeName(certificateDir("other") + "/ca.pem"));
        QVERIFY(startTlsServer("other"));
        Connection refused = connectTo(m_server.port(), "user", "secret", INTERNET_FLAG_SECURE);
        QVERIFY(!refused.connect);
        QCOMPARE(refused.error, ERROR_INTERNET_SEC_CERT_CN_INVALID);
        QCOMPARE(rejectedCertificate().dwVerifyError, ERROR_INTERNET_SEC_CERT_CN_INVALID);
        QVERIFY(lastResponseText().contains("not issued for 127.0.0.1"));
    }
};

QTEST_GUILESS_MAIN(TestFtpTls)
#include "tst_ftptls.moc"
