#include "InternetTestSupport.h"
#include "faultserver.h"
#include "wininet/ControlChannel.h"
#include "wininet/FtpSession.h"

#include <QtTest>

// The parts of the service that need no real server: handle and argument checks, options,
// the reply parsers.
class TestInternetApi : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase() { shortenTimeouts(30000); }

    void replyCodes_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("code");
        QTest::newRow("final") << QByteArray("226 Done") << 226;
        QTest::newRow("continued") << QByteArray("211-Features") << 211;
        QTest::newRow("code alone") << QByteArray("200") << 200;
        QTest::newRow("too short") << QByteArray("20") << 0;
        QTest::newRow("first digit 6") << QByteArray("600 no") << 0;
        QTest::newRow("first digit 0") << QByteArray("099 no") << 0;
        QTest::newRow("letters") << QByteArray("2x0 no") << 0;
        QTest::newRow("no separator") << QByteArray("2000 no") << 0;
        QTest::newRow("text line") << QByteArray(" MLST type*;") << 0;
    }
    void replyCodes()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, code);
        QCOMPARE(wininet::replyCode(line.toStdString()), code);
    }

    void currentDirectoryReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("plain") << QByteArray("257 \"/home/u\" is current.\r\n") << true
                               << QByteArray("/home/u");
        QTest::newRow("doubled quotes")
            << QByteArray("257 \"/a \"\"b\"\"\" ok\r\n") << true << QByteArray("/a \"b\"");
        QTest::newRow("quote at the end")
            << QByteArray("257 \"/x\"\"\"\r\n") << true << QByteArray("/x\"");
        QTest::newRow("blanks kept")
            << QByteArray("257 \" /sp \" ok\r\n") << true << QByteArray(" /sp ");
        QTest::newRow("unquoted") << QByteArray("257 /bare is current\r\n") << true
                                  << QByteArray("/bare");
        QTest::newRow("unclosed quote") << QByteArray("257 \"/open\r\n") << false << QByteArray();
        QTest::newRow("no path") << QByteArray("257 ok\r\n") << false << QByteArray();
        QTest::newRow("empty") << QByteArray("257\r\n") << false << QByteArray();
        QTest::newRow("only the first line counts")
            << QByteArray("257-first\r\n257 \"/second\"\r\n") << false << QByteArray();
    }
    void currentDirectoryReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, ok);
        QFETCH(QByteArray, path);
        std::string parsed;
        QCOMPARE(wininet::parsePwdReply(reply.toStdString(), parsed), ok);
        if (ok)
            QCOMPARE(QByteArray::fromStdString(parsed), path);
    }

    void commandsThatWouldSplitOrShortenNeverLeave()
    {
        // A NUL would make the server act on the name up to it; CR or LF would start a
        // second command. Nothing of such a command is sent, and the next one still works.
        FaultServer server;
        QVERIFY(server.start({}));
        wininet::ControlChannel channel;
        QCOMPARE(channel.open("127.0.0.1", server.port()), DWORD(ERROR_SUCCESS));
        using namespace std::string_view_literals;
        for (const std::string_view command : {"DELE a\0b"sv, "DELE a\rb"sv, "DELE a\nb"sv})
            QCOMPARE(channel.send(command), DWORD(ERROR_INVALID_PARAMETER));
        QCOMPARE(channel.send("NOOP"), DWORD(ERROR_SUCCESS));
        QTRY_VERIFY(server.received().contains("NOOP"));
        QVERIFY(!server.received().join('\n').contains("DELE"));
    }

    void modificationTimeReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("stamp"); // empty: refused as malformed
        QTest::newRow("seconds") << QByteArray("213 20261210113015\r\n")
                                 << QByteArray("20261210113015");
        QTest::newRow("milliseconds kept")
            << QByteArray("213 20261210113015.123\r\n") << QByteArray("20261210113015.123");
        QTest::newRow("nanoseconds kept") << QByteArray("213 20261210113015.123456789\r\n")
                                          << QByteArray("20261210113015.123456789");
        QTest::newRow("fraction too long")
            << QByteArray("213 20261210113015.1234567890\r\n") << QByteArray();
        QTest::newRow("empty fraction") << QByteArray("213 20261210113015.\r\n") << QByteArray();
        QTest::newRow("short") << QByteArray("213 2026121011301\r\n") << QByteArray();
        QTest::newRow("letters") << QByteArray("213 2026121O113015\r\n") << QByteArray();
        QTest::newRow("text after it") << QByteArray("213 20261210113015 UTC\r\n") << QByteArray();
        QTest::newRow("other code") << QByteArray("211 20261210113015\r\n") << QByteArray();
        QTest::newRow("only the first line counts")
            << QByteArray("213-x\r\n213 20261210113015\r\n") << QByteArray();
    }
    void modificationTimeReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, stamp);
        std::string parsed = "unchanged";
        QCOMPARE(wininet::parseMdtmReply(reply.toStdString(), parsed), !stamp.isEmpty());
        QCOMPARE(QByteArray::fromStdString(parsed), stamp.isEmpty() ? "unchanged" : stamp);
    }

    void passivePorts_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("extended");
        QTest::addColumn<int>("port");
        QTest::newRow("EPSV") << QByteArray("229 Entering Extended Passive Mode (|||6446|)") << true
                              << 6446;
        QTest::newRow("EPSV other delimiter") << QByteArray("229 ok (!!!21!)") << true << 21;
        QTest::newRow("EPSV mixed delimiters") << QByteArray("229 ok (|!|21|)") << true << 0;
        QTest::newRow("EPSV too big") << QByteArray("229 ok (|||65536|)") << true << 0;
        QTest::newRow("EPSV huge") << QByteArray("229 ok (|||99999999999|)") << true << 0;
        QTest::newRow("EPSV no closing delimiter") << QByteArray("229 ok (|||21)") << true << 0;
        QTest::newRow("EPSV no number") << QByteArray("229 ok (||||)") << true << 0;
        QTest::newRow("PASV") << QByteArray("227 Entering Passive Mode (10,1,2,3,19,137).") << false
                              << 19 * 256 + 137;
        QTest::newRow("PASV no parentheses") << QByteArray("227 ok 127,0,0,1,0,21") << false << 21;
        QTest::newRow("PASV number above 255")
            << QByteArray("227 ok (1,2,3,4,256,1)") << false << 0;
        QTest::newRow("PASV five numbers") << QByteArray("227 ok (1,2,3,4,5)") << false << 0;
        QTest::newRow("PASV negative") << QByteArray("227 ok (1,2,3,4,-5,1)") << false << 0;
    }
    void passivePorts()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, extended);
        QFETCH(int, port);
        const std::string text = reply.toStdString();
        QCOMPARE(int(extended ? wininet::parseEpsvReply(text) : wininet::parsePasvReply(text)),
                 port);
    }

    void badHandlesGiveInvalidHandle()
    {
        const HINTERNET forged = reinterpret_cast<HINTERNET>(quintptr(0x1234));
        char buffer[16];
        DWORD length = sizeof buffer;
        DWORD count = 0;
        WIN32_FIND_DATAA entry{};
        const auto expectInvalid = [](BOOL result) {
            QVERIFY(!result);
            QCOMPARE(GetLastError(), ERROR_INVALID_HANDLE);
        };
        expectInvalid(InternetCloseHandle(nullptr));
        expectInvalid(InternetCloseHandle(forged));
        expectInvalid(FtpGetCurrentDirectoryA(forged, buffer, &length));
        expectInvalid(FtpSetCurrentDirectoryA(nullptr, "x"));
        expectInvalid(FtpDeleteFileA(forged, "x"));
        expectInvalid(InternetReadFile(forged, buffer, sizeof buffer, &count));
        expectInvalid(InternetWriteFile(forged, buffer, sizeof buffer, &count));
        expectInvalid(InternetFindNextFileA(forged, &entry));
        expectInvalid(FtpFindFirstFileA(forged, nullptr, &entry, 0, 0) != nullptr);

        // A service handle where a connection is expected, and a closed one.
        OwnedHandle internet(InternetOpenA("ZULFTP", 0, nullptr, nullptr, 0));
        QVERIFY(internet);
        expectInvalid(FtpCreateDirectoryA(internet.get(), "x"));
        expectInvalid(InternetReadFile(internet.get(), buffer, sizeof buffer, &count));
        expectInvalid(InternetConnectA(forged, "127.0.0.1", 21, "u", "p", INTERNET_SERVICE_FTP, 0,
                                       0) != nullptr);
        const HINTERNET closed = internet.get();
        QVERIFY(internet.close());
        expectInvalid(InternetConnectA(closed, "127.0.0.1", 21, "u", "p", INTERNET_SERVICE_FTP, 0,
                                       0) != nullptr);
        expectInvalid(InternetCloseHandle(closed));
    }

    void wrongKindOfFileHandleIsInvalid()
    {
        FaultServer server;
        QVERIFY(server.start({{"files", QJsonObject{{"f", "data"}}}}));
        Connection connection = connectTo(server.port());
        QVERIFY(connection.connect);
        OwnedHandle reading(FtpOpenFileA(connection.connect.get(), "f", GENERIC_READ, 2, 0));
        QVERIFY(reading);
        DWORD count = 0;
        QVERIFY(!InternetWriteFile(reading.get(), "x", 1, &count));
        QCOMPARE(GetLastError(), ERROR_INVALID_HANDLE);
        QVERIFY(!FtpGetCurrentDirectoryA(reading.get(), nullptr, &count));
        QCOMPARE(GetLastError(), ERROR_INVALID_HANDLE);
        QVERIFY(!InternetReadFile(reading.get(), nullptr, 10, &count));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        char buffer[16];
        QVERIFY(!InternetReadFile(reading.get(), buffer, sizeof buffer, nullptr));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        QVERIFY(InternetReadFile(reading.get(), buffer, sizeof buffer, &count));
        QCOMPARE(QByteArray(buffer, int(count)), QByteArray("data"));
    }

    void badArgumentsAreRefused()
    {
        OwnedHandle internet(InternetOpenA("ZULFTP", 0, nullptr, nullptr, 0));
        const auto expectParameter = [](HINTERNET result) {
            QVERIFY(!result);
            QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        };
        expectParameter(InternetConnectA(internet.get(), nullptr, 21, "u", "p", 1, 0, 0));
        expectParameter(InternetConnectA(internet.get(), "", 21, "u", "p", 1, 0, 0));
        expectParameter(InternetConnectA(internet.get(), "127.0.0.1", 21, "u", "p", 3, 0, 0));
        expectParameter(InternetConnectA(internet.get(), "host\r\n", 21, "u", "p", 1, 0, 0));
        expectParameter(InternetConnectA(internet.get(), "127.0.0.1", 21, "u", "p\nQUIT", 1, 0, 0));
        expectParameter(InternetOpenA("ZULFTP", 3, "proxy", nullptr, 0));
        const std::string longName(5000, 'a');
        FaultServer server;
        QVERIFY(server.start({}));
        Connection connection = connectTo(server.port());
        QVERIFY(connection.connect);
        QVERIFY(!FtpDeleteFileA(connection.connect.get(), longName.c_str()));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        QVERIFY(!FtpOpenFileA(connection.connect.get(), "f", GENERIC_READ | GENERIC_WRITE, 2, 0));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        QVERIFY(!FtpGetCurrentDirectoryA(connection.connect.get(), nullptr, nullptr));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
    }

    void unknownHostIsNotResolved()
    {
        OwnedHandle internet(InternetOpenA("ZULFTP", 0, nullptr, nullptr, 0));
        // .invalid never resolves (RFC 2606), and no query leaves the machine for it.
        QVERIFY(!InternetConnectA(internet.get(), "no-such-host.invalid", 21, "u", "p", 1, 0, 0));
        QCOMPARE(GetLastError(), ERROR_INTERNET_NAME_NOT_RESOLVED);
    }

    void closedPortCannotConnect()
    {
        FaultServer server;
        QVERIFY(server.start({}));
        const quint16 port = server.port();
        server.stop();
        const Connection connection = connectTo(port);
        QCOMPARE(connection.error, ERROR_INTERNET_CANNOT_CONNECT);
    }

    void ipv6LoopbackAndBracketedHost()
    {
        // The fault server listens on IPv4 only: reaching it through "[::1]" must fail cleanly,
        // and "localhost" must find its IPv4 address.
        FaultServer server;
        QVERIFY(server.start({}));
        OwnedHandle internet(InternetOpenA("ZULFTP", 0, nullptr, nullptr, 0));
        OwnedHandle viaName(
            InternetConnectA(internet.get(), "localhost", server.port(), "u", "p", 1, 0, 0));
        QVERIFY(viaName);
        QVERIFY(!InternetConnectA(internet.get(), "[::1]", server.port(), "u", "p", 1, 0, 0));
        const DWORD error = GetLastError();
        QVERIFY2(error == ERROR_INTERNET_CANNOT_CONNECT ||
                     error == ERROR_INTERNET_NAME_NOT_RESOLVED,
                 qPrintable(QString::number(error)));
    }

    void timeoutOptions()
    {
        DWORD value = 2500;
        QVERIFY(InternetSetOptionA(nullptr, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof value));
        DWORD read = 0;
        DWORD length = sizeof read;
        QVERIFY(InternetQueryOptionA(nullptr, INTERNET_OPTION_RECEIVE_TIMEOUT, &read, &length));
        QCOMPARE(read, 2500u);
        value = 0;
        QVERIFY(
            !InternetSetOptionA(nullptr, INTERNET_OPTION_CONNECT_TIMEOUT, &value, sizeof value));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        value = 100;
        QVERIFY(!InternetSetOptionA(nullptr, INTERNET_OPTION_CONNECT_TIMEOUT, &value, 2));
        QCOMPARE(GetLastError(), ERROR_INTERNET_BAD_OPTION_LENGTH);
        QVERIFY(!InternetSetOptionA(nullptr, 9999, &value, sizeof value));
        QCOMPARE(GetLastError(), ERROR_INTERNET_INVALID_OPTION);
        length = 1;
        QVERIFY(!InternetQueryOptionA(nullptr, INTERNET_OPTION_SEND_TIMEOUT, &read, &length));
        QCOMPARE(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        QCOMPARE(length, DWORD(sizeof(DWORD)));
    }

    void responseInfoAndDirectoryBuffers()
    {
        FaultServer server;
        QVERIFY(server.start({{"pwd", "/a/long/directory"}}));
        Connection connection = connectTo(server.port());
        QVERIFY(connection.connect);
        char small[8];
        DWORD length = sizeof small;
        QVERIFY(!FtpGetCurrentDirectoryA(connection.connect.get(), small, &length));
        QCOMPARE(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        QCOMPARE(length, DWORD(sizeof("/a/long/directory")));
        char exact[sizeof("/a/long/directory")];
        length = sizeof exact;
        QVERIFY(FtpGetCurrentDirectoryA(connection.connect.get(), exact, &length));
        QCOMPARE(QByteArray(exact), QByteArray("/a/long/directory"));
        QCOMPARE(length, DWORD(17));

        DWORD code = 0;
        length = 4;
        QVERIFY(!InternetGetLastResponseInfoA(&code, small, &length));
        QCOMPARE(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        const QByteArray text = "257 \"/a/long/directory\" is the current directory.\r\n";
        QCOMPARE(length, DWORD(text.size() + 1));
        QByteArray buffer(int(length), '\0');
        QVERIFY(InternetGetLastResponseInfoA(&code, buffer.data(), &length));
        QCOMPARE(code, 257u);
        QCOMPARE(buffer.left(int(length)), text);
    }

    void portZeroMeansTheDefaultPort()
    {
        // Nothing may listen on 21 here; either way the attempt must go to 21, not to 0.
        OwnedHandle internet(InternetOpenA("ZULFTP", 0, nullptr, nullptr, 0));
        DWORD shortWait = 1000;
        InternetSetOptionA(nullptr, INTERNET_OPTION_CONNECT_TIMEOUT, &shortWait, sizeof shortWait);
        InternetSetOptionA(nullptr, INTERNET_OPTION_RECEIVE_TIMEOUT, &shortWait, sizeof shortWait);
        OwnedHandle connect(InternetConnectA(internet.get(), "127.0.0.1", 0, "u", "p", 1, 0, 0));
        if (!connect)
            QVERIFY(GetLastError() != ERROR_INVALID_PARAMETER);
    }
};

QTEST_GUILESS_MAIN(TestInternetApi)
#include "tst_internetapi.moc"
