#include "InternetTestSupport.h"
#include "faultserver.h"

#include <QJsonArray>
#include <QtTest>

// Transfers that start in the middle of a file: REST before RETR, APPE after a SIZE check,
// and every way a server can decline, which must leave the connection ready to start over.
class TestFtpRestart : public QObject
{
    Q_OBJECT

private:
    FaultServer m_server;
    Connection m_connection;

    bool startAndConnect(const QJsonObject& script)
    {
        if (!m_server.start(script))
            return false;
        m_connection = connectTo(m_server.port());
        return bool(m_connection.connect);
    }
    HINTERNET connection() const { return m_connection.connect.get(); }
    // The commands after the log-on dialogue.
    QStringList commands() const
    {
        QStringList all = m_server.received();
        while (!all.isEmpty() && !all.first().startsWith("FEAT"))
            all.removeFirst();
        return all.mid(1);
    }
    static QByteArray readRest(HINTERNET file)
    {
        QByteArray data;
        char buffer[4096];
        DWORD got = 0;
        while (InternetReadFile(file, buffer, sizeof buffer, &got) && got > 0)
            data.append(buffer, got);
        return data;
    }

private Q_SLOTS:
    void initTestCase() { shortenTimeouts(3000); }
    void cleanup()
    {
        m_connection = Connection();
        m_server.stop();
    }

    void restartedDownloadSendsRestLastAndGetsTheRest()
    {
        QVERIFY(startAndConnect(
            {{"features", QJsonArray{"REST STREAM"}}, {"files", QJsonObject{{"big", "@100000"}}}}));
        OwnedHandle file(
            FtpOpenFileAtA(connection(), "big", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 60000, 0));
        QVERIFY2(file, qPrintable(QString::number(GetLastError())));
        QCOMPARE(readRest(file.get()), patternBytes(100000).mid(60000));
        QVERIFY(file.close());
        QCOMPARE(commands(), QStringList({"TYPE I", "EPSV", "REST 60000", "RETR big"}));
        // An offset only makes sense for the bytes as stored.
        QVERIFY(!FtpOpenFileAtA(connection(), "big", GENERIC_READ, FTP_TRANSFER_TYPE_ASCII, 1, 0));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
    }

    void serverThatCannotRestartLeavesConnectionReady_data()
    {
        QTest::addColumn<QJsonObject>("script");
        QTest::addColumn<QStringList>("sent");
        const QJsonObject files{{"f", "@9000"}};
        QTest::newRow("no REST STREAM in FEAT")
            << QJsonObject{{"features", QJsonArray{"REST"}}, {"files", files}} << QStringList();
        QTest::newRow("REST refused")
            << QJsonObject{{"features", QJsonArray{"REST STREAM"}},
                           {"files", files},
                           {"rules", QJsonObject{{"REST", QJsonArray{QJsonObject{
                                                              {"reply", "502 Not here."}}}}}}}
            << QStringList({"TYPE I", "EPSV", "REST 10"});
        QTest::newRow("RETR refused after REST")
            << QJsonObject{{"features", QJsonArray{"REST STREAM"}},
                           {"files", files},
                           {"rules",
                            QJsonObject{{"RETR", QJsonArray{QJsonObject{{"reply", "550 Gone."}},
                                                            QJsonObject()}}}}}
            << QStringList({"TYPE I", "EPSV", "REST 10", "RETR f", "REST 0"});
    }

    void serverThatCannotRestartLeavesConnectionReady()
    {
        QFETCH(QJsonObject, script);
        QFETCH(QStringList, sent);
        QVERIFY(startAndConnect(script));
        QVERIFY(!FtpOpenFileAtA(connection(), "f", GENERIC_READ, FTP_TRANSFER_TYPE_BINARY, 10, 0));
        const bool refusedByRetr = sent.contains("RETR f");
        QCOMPARE(GetLastError(),
                 refusedByRetr ? ERROR_INTERNET_EXTENDED_ERROR : ERROR_NOT_SUPPORTED);
        QCOMPARE(commands(), sent);
        // Starting over works on the same connection, from the first byte.
        QByteArray whole;
        QVERIFY(downloadAll(connection(), "f", whole));
        QCOMPARE(whole, patternBytes(9000));
    }

    void appendChecksTheStoredLengthFirst()
    {
        QVERIFY(startAndConnect({{"files", QJsonObject{{"t.part", "@5000"}}}}));
        // A length that is not the server's: nothing is appended.
        QVERIFY(!FtpOpenFileAtA(connection(), "t.part", GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY,
                                4096, 0));
        QCOMPARE(GetLastError(), ERROR_NOT_SUPPORTED);
        OwnedHandle file(FtpOpenFileAtA(connection(), "t.part", GENERIC_WRITE,
                                        FTP_TRANSFER_TYPE_BINARY, 5000, 0));
        QVERIFY(file);
        const QByteArray rest = patternBytes(3000);
        DWORD written = 0;
        QVERIFY(InternetWriteFile(file.get(), rest.constData(), DWORD(rest.size()), &written));
        QVERIFY(file.close());
        QTRY_COMPARE(commands(), QStringList({"TYPE I", "SIZE t.part", "SIZE t.part", "EPSV",
                                              "APPE t.part", "APPENDED t.part 3000"}));
    }

    void sizeIsReadWithRangeChecks_data()
    {
        QTest::addColumn<QJsonObject>("sizeRule");
        QTest::addColumn<DWORD>("error");
        QTest::addColumn<qulonglong>("size");
        QTest::newRow("listed") << QJsonObject() << DWORD(ERROR_SUCCESS) << 4321ULL;
        QTest::newRow("huge") << QJsonObject{{"reply", "213 8589934592"}} << DWORD(ERROR_SUCCESS)
                              << 8589934592ULL;
        QTest::newRow("no such file")
            << QJsonObject{{"reply", "550 No."}} << DWORD(ERROR_INTERNET_EXTENDED_ERROR) << 0ULL;
        QTest::newRow("no SIZE command")
            << QJsonObject{{"reply", "502 No."}} << DWORD(ERROR_NOT_SUPPORTED) << 0ULL;
        QTest::newRow("not a number")
            << QJsonObject{{"reply", "213 12ab"}} << DWORD(ERROR_INTERNET_EXTENDED_ERROR) << 0ULL;
        QTest::newRow("too many digits") << QJsonObject{{"reply", "213 99999999999999999999"}}
                                         << DWORD(ERROR_INTERNET_EXTENDED_ERROR) << 0ULL;
    }

    void sizeIsReadWithRangeChecks()
    {
        QFETCH(QJsonObject, sizeRule);
        QFETCH(DWORD, error);
        QFETCH(qulonglong, size);
        QJsonObject script{{"files", QJsonObject{{"f", "@4321"}}}};
        if (!sizeRule.isEmpty())
            script["rules"] = QJsonObject{{"SIZE", QJsonArray{sizeRule}}};
        QVERIFY(startAndConnect(script));
        ULONGLONG got = 0;
        QCOMPARE(FtpGetFileSizeA(connection(), "f", &got) != FALSE, error == ERROR_SUCCESS);
        QCOMPARE(GetLastError(), error);
        QCOMPARE(qulonglong(got), size);
    }
};

QTEST_GUILESS_MAIN(TestFtpRestart)
#include "tst_ftprestart.moc"
