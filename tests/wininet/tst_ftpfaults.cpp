#include "InternetTestSupport.h"
#include "faultserver.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

// The engine against a server that misbehaves on purpose: every failure must come back as an
// error code in bounded time, never as a hang, a crash or a success.
class TestFtpFaults : public QObject
{
    Q_OBJECT

private:
    static constexpr DWORD kShortTimeoutMs = 1500;
    FaultServer m_server;
    Connection m_connection;

    static QJsonObject rule(const QString& key, const QJsonValue& value)
    {
        return QJsonObject{{key, value}};
    }
    static QJsonObject withRules(QJsonObject script, const QJsonObject& rules)
    {
        script["rules"] = rules;
        return script;
    }

    bool startAndConnect(const QJsonObject& script)
    {
        if (!m_server.start(script))
            return false;
        m_connection = connectTo(m_server.port());
        return bool(m_connection.connect);
    }
    HINTERNET connection() const { return m_connection.connect.get(); }

    // Raw names of the listing, "." and ".." included.
    QStringList allNames()
    {
        QStringList names;
        WIN32_FIND_DATAA entry{};
        OwnedHandle find(FtpFindFirstFileA(connection(), nullptr, &entry, INTERNET_FLAG_RELOAD, 0));
        if (!find)
            return {QStringLiteral("<error %1>").arg(GetLastError())};
        do
            names << QString::fromUtf8(entry.cFileName);
        while (InternetFindNextFileA(find.get(), &entry));
        return names;
    }

    // A loopback port that was free a moment ago, so nothing listens there.
    static quint16 freeLoopbackPort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        quint16 port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(fd);
        return port;
    }

    // Makes the call that sends `verb` (PWD, CWD, CDUP, MKD, RMD, DELE, RNFR, RETR, STOR,
    // LIST, in any case; a suffix such as "-final" is ignored) and says whether it worked.
    BOOL callSucceeds(const QString& verb)
    {
        const QString call = verb.section('-', 0, 0).toUpper();
        if (call == "PWD")
            return currentDirectory(connection()).startsWith("/");
        if (call == "CWD" || call == "CDUP")
            return FtpSetCurrentDirectoryA(connection(), call == "CWD" ? "d" : "..");
        if (call == "MKD")
            return FtpCreateDirectoryA(connection(), "d");
        if (call == "RMD")
            return FtpRemoveDirectoryA(connection(), "d");
        if (call == "DELE")
            return FtpDeleteFileA(connection(), "f");
        if (call == "RNFR" || call == "RENAME")
            return FtpRenameFileA(connection(), "f", "g");
        if (call == "STOR")
            return uploadAll(connection(), "f", patternBytes(10000));
        if (call == "LIST")
            return !allNames().first().startsWith("<error");
        QByteArray data;
        return downloadAll(connection(), "f", data);
    }

    // The commands the server saw after the log-on dialogue.
    QStringList commandsAfterLogin() const
    {
        QStringList all = m_server.received();
        while (!all.isEmpty() && !all.first().startsWith("FEAT"))
            all.removeFirst();
        if (!all.isEmpty())
            all.removeFirst();
        return all;
    }

private Q_SLOTS:
    void initTestCase() { shortenTimeouts(kShortTimeoutMs); }

    void cleanup()
    {
        m_connection = Connection();
        m_server.stop();
    }

    void logOnAndListingSendTheExpectedCommands()
    {
        const QJsonObject script{
            {"features", QJsonArray{"MLST type*;size*;modify*;", "UTF8", "EPSV"}},
            {"listing", "type=file;size=3;modify=20200102030405; a.txt\r\n"}};
        QVERIFY(startAndConnect(script));
        QCOMPARE(allNames(), QStringList({"a.txt"}));
        m_connection = Connection();
        QTRY_COMPARE(m_server.received(),
                     QStringList({"USER user", "PASS secret", "FEAT", "OPTS UTF8 ON", "TYPE A",
                                  "EPSV", "MLSD", "QUIT"}));
    }

    void listWhenMlsdIsNotOffered()
    {
        QVERIFY(startAndConnect({{"listing", "-rw-r--r-- 1 u g 7 Jan 02  2020 b.txt\r\n"},
                                 {"features", QJsonArray{}}}));
        QCOMPARE(allNames(), QStringList({"b.txt"}));
        QCOMPARE(commandsAfterLogin(), QStringList({"TYPE A", "EPSV", "LIST"}));
    }

    void repliesSplitAcrossPacketsAndMultiLine_data()
    {
        QTest::addColumn<QJsonObject>("rules");
        QTest::addColumn<QString>("directory");
        QTest::newRow("greeting in pieces")
            << QJsonObject{{"GREETING",
                            QJsonArray{rule("chunks", QJsonArray{"2", "20 he", "llo\r", "\n"})}}}
            << "/";
        QTest::newRow("multi-line greeting with a false end")
            << QJsonObject{{"GREETING",
                            QJsonArray{
                                rule("reply", "220-Welcome\n 220 not yet\n220-still\n220 Ready")}}}
            << "/";
        QTest::newRow("multi-line PWD")
            << QJsonObject{{"PWD", QJsonArray{rule("reply", "257-\"/multi\" is it\n257 yes")}}}
            << "/multi";
        QTest::newRow("PWD split inside the quotes")
            << QJsonObject{{"PWD",
                            QJsonArray{rule("chunks", QJsonArray{"257 \"/spl", "it\" ok\r\n"})}}}
            << "/split";
        QTest::newRow("doubled quotes")
            << QJsonObject{{"PWD", QJsonArray{rule("reply", "257 \"/a \"\"q\"\" b\" is current")}}}
            << "/a \"q\" b";
        QTest::newRow("no quotes")
            << QJsonObject{{"PWD", QJsonArray{rule("reply", "257 /bare is current")}}} << "/bare";
        QTest::newRow("bare LF line ends")
            << QJsonObject{{"PWD", QJsonArray{rule("chunks", QJsonArray{"257 \"/lf\"\n"})}}}
            << "/lf";
        QTest::newRow("preliminary reply first")
            << QJsonObject{{"PWD", QJsonArray{rule("reply", "100 wait\n257 \"/late\"")}}}
            << "/late";
    }
    void repliesSplitAcrossPacketsAndMultiLine()
    {
        QFETCH(QJsonObject, rules);
        QFETCH(QString, directory);
        QVERIFY(startAndConnect(withRules({}, rules)));
        QCOMPARE(currentDirectory(connection()), directory);
        QCOMPARE(currentDirectory(connection()), directory); // and still in step
    }

    void refusalsAtEveryStepGiveTheirCodes_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("call");
        QTest::addColumn<uint>("error");
        const uint extended = ERROR_INTERNET_EXTENDED_ERROR;
        QTest::newRow("greeting 421") << "GREETING"
                                      << "421 Too many users"
                                      << "connect" << extended;
        QTest::newRow("USER 530") << "USER"
                                  << "530 Not allowed"
                                  << "connect" << uint(ERROR_INTERNET_INCORRECT_USER_NAME);
        QTest::newRow("USER 421") << "USER"
                                  << "421 Closing"
                                  << "connect" << uint(ERROR_INTERNET_LOGIN_FAILURE);
        QTest::newRow("PASS 530") << "PASS"
                                  << "530 Wrong"
                                  << "connect" << uint(ERROR_INTERNET_INCORRECT_PASSWORD);
        QTest::newRow("PASS 332") << "PASS"
                                  << "332 Need account"
                                  << "connect" << uint(ERROR_INTERNET_LOGIN_FAILURE);
        QTest::newRow("PWD 550") << "PWD"
                                 << "550 No"
                                 << "pwd" << extended;
        QTest::newRow("PWD without a path") << "PWD"
                                            << "257 ok"
                                            << "pwd" << extended;
        QTest::newRow("CWD 550") << "CWD"
                                 << "550 No such directory"
                                 << "cwd" << extended;
        QTest::newRow("CDUP 550") << "CDUP"
                                  << "550 At the top"
                                  << "cdup" << extended;
        QTest::newRow("MKD 550") << "MKD"
                                 << "550 Exists"
                                 << "mkd" << extended;
        QTest::newRow("RMD 450") << "RMD"
                                 << "450 Busy"
                                 << "rmd" << extended;
        QTest::newRow("DELE 550") << "DELE"
                                  << "550 Denied"
                                  << "dele" << extended;
        QTest::newRow("RNFR 550") << "RNFR"
                                  << "550 No file"
                                  << "rename" << extended;
        QTest::newRow("RNTO 553") << "RNTO"
                                  << "553 Bad name"
                                  << "rename" << extended;
        QTest::newRow("TYPE 504") << "TYPE"
                                  << "504 No binary"
                                  << "retr" << extended;
        QTest::newRow("RETR 550") << "RETR"
                                  << "550 No file"
                                  << "retr" << extended;
        QTest::newRow("STOR 452") << "STOR"
                                  << "452 Disk full"
                                  << "stor" << extended;
        QTest::newRow("LIST 450") << "LIST"
                                  << "450 Busy"
                                  << "list" << extended;
        QTest::newRow("STOR unconfirmed") << "STOR"
                                          << ""
                                          << "stor-final" << extended;
        QTest::newRow("RETR unconfirmed") << "RETR"
                                          << ""
                                          << "retr-final" << extended;
        QTest::newRow("LIST unconfirmed") << "LIST"
                                          << ""
                                          << "list-final" << extended;
    }
    void refusalsAtEveryStepGiveTheirCodes()
    {
        QFETCH(QString, verb);
        QFETCH(QString, reply);
        QFETCH(QString, call);
        QFETCH(uint, error);
        const QJsonObject theRule =
            reply.isEmpty() ? rule("final", "552 Quota exceeded") : rule("reply", reply);
        const QJsonObject script = withRules({{"files", QJsonObject{{"f", "@10000"}}},
                                              {"listing", "-rw-r--r-- 1 u g 7 Jan 02  2020 b\r\n"}},
                                             {{verb, QJsonArray{theRule}}});
        QVERIFY(m_server.start(script));
        m_connection = connectTo(m_server.port());
        if (call == "connect") {
            QVERIFY(!m_connection.connect);
            QCOMPARE(uint(m_connection.error), error);
            QCOMPARE(lastResponseText(), reply + "\r\n");
            return;
        }
        QVERIFY(m_connection.connect);
        const BOOL ok = callSucceeds(call);
        QVERIFY(!ok);
        QCOMPARE(uint(GetLastError()), error);
        if (!reply.isEmpty())
            QCOMPARE(lastResponseText(), reply + "\r\n");
        // A refusal leaves the connection in step for the next command.
        QCOMPARE(currentDirectory(connection()), call == "pwd" ? QString("<error 12003>") : "/");
    }

    void passiveAddressOfTheReplyIsNeverUsed()
    {
        // 10.1.2.3 is not us: a client that believed it would time out or reach a stranger.
        const QJsonObject script =
            withRules({{"files", QJsonObject{{"f", "from the control peer"}}}},
                      {{"EPSV", QJsonArray{rule("reply", "502 No EPSV")}},
                       {"PASV", QJsonArray{rule("pasvHost", "10,1,2,3")}}});
        QVERIFY(startAndConnect(script));
        QByteArray data;
        QVERIFY(downloadAll(connection(), "f", data));
        QCOMPARE(data, QByteArray("from the control peer"));
        // EPSV was refused once and is not asked again.
        QVERIFY(downloadAll(connection(), "f", data));
        QCOMPARE(commandsAfterLogin(),
                 QStringList({"TYPE I", "EPSV", "PASV", "RETR f", "PASV", "RETR f"}));
    }

    void refusedPassiveFallsBackToActive_data()
    {
        QTest::addColumn<bool>("eprtRefused");
        QTest::newRow("EPRT") << false;
        QTest::newRow("PORT") << true;
    }
    void refusedPassiveFallsBackToActive()
    {
        QFETCH(bool, eprtRefused);
        QJsonObject rules{{"EPSV", QJsonArray{rule("reply", "500 No")}},
                          {"PASV", QJsonArray{rule("reply", "500 No")}}};
        if (eprtRefused)
            rules["EPRT"] = QJsonArray{rule("reply", "500 No")};
        QVERIFY(startAndConnect(withRules({{"files", QJsonObject{{"f", "@5000"}}}}, rules)));
        QByteArray data;
        QVERIFY2(downloadAll(connection(), "f", data), qPrintable(QString::number(GetLastError())));
        QCOMPARE(data, patternBytes(5000));
        QVERIFY(uploadAll(connection(), "up", patternBytes(7000)));
        const QStringList commands = commandsAfterLogin();
        const QString active = eprtRefused ? "PORT 127,0,0,1," : "EPRT |1|127.0.0.1|";
        QCOMPARE(commands.filter(active).size(), 2);
        QCOMPARE(commands.filter("EPSV").size(), 1);
        QVERIFY(commands.contains("STORED up 7000"));
    }

    void passiveFlagNeverFallsBackToActive()
    {
        const QJsonObject rules{{"EPSV", QJsonArray{rule("reply", "500 No")}},
                                {"PASV", QJsonArray{rule("reply", "500 No")}}};
        QVERIFY(m_server.start(withRules({{"files", QJsonObject{{"f", "x"}}}}, rules)));
        m_connection = connectTo(m_server.port(), "user", "secret", INTERNET_FLAG_PASSIVE);
        QVERIFY(!FtpOpenFileA(connection(), "f", GENERIC_READ, 2, 0));
        QCOMPARE(GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
        QVERIFY(commandsAfterLogin().filter("PORT").isEmpty());
        QVERIFY(commandsAfterLogin().filter("EPRT").isEmpty());
    }

    void silenceTimesOutAndRetiresTheConnection_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::newRow("greeting") << "GREETING";
        QTest::newRow("PASS") << "PASS";
        QTest::newRow("PWD") << "PWD";
        QTest::newRow("RETR") << "RETR";
        QTest::newRow("final reply") << "final";
    }
    void silenceTimesOutAndRetiresTheConnection()
    {
        QFETCH(QString, verb);
        const QJsonObject theRule = verb == "final" ? rule("final", "") : rule("silent", true);
        const QString ruleVerb = verb == "final" ? "RETR" : verb;
        QVERIFY(m_server.start(
            withRules({{"files", QJsonObject{{"f", "x"}}}}, {{ruleVerb, QJsonArray{theRule}}})));
        QElapsedTimer clock;
        clock.start();
        m_connection = connectTo(m_server.port());
        if (verb == "GREETING" || verb == "PASS") {
            QVERIFY(!m_connection.connect);
            QCOMPARE(m_connection.error, ERROR_INTERNET_TIMEOUT);
        } else if (verb == "PWD") {
            QCOMPARE(currentDirectory(connection()), QString("<error 12002>"));
        } else {
            QByteArray data;
            QVERIFY(!downloadAll(connection(), "f", data));
            QCOMPARE(GetLastError(), ERROR_INTERNET_TIMEOUT);
        }
        QVERIFY(clock.elapsed() < 3 * qint64(kShortTimeoutMs));
        if (m_connection.connect) {
            // A reply may still come late; the connection must not take it for the next one.
            QCOMPARE(currentDirectory(connection()), QString("<error 12111>"));
        }
    }

    // Servers answer an aborted transfer in different ways; the connection must be in step
    // afterwards on every one of them, and an aborted upload never taken for complete.
    void abortLeavesTheConnectionInStep_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::addColumn<QString>("opening"); // the transfer's 1xx reply, empty for the default
        QTest::addColumn<QJsonValue>("aborted");
        QTest::addColumn<QString>("aborAnswer");
        const QJsonValue nothing = QJsonValue::Null;
        for (const char* verb : {"RETR", "STOR"}) {
            QTest::addRow("%s: 426, then 226", verb)
                << verb << "" << QJsonValue("426 Transfer aborted.") << "226 Abort successful.";
            QTest::addRow("%s: a single 226", verb) << verb << "" << nothing << "226 Aborted.";
            QTest::addRow("%s: a single 225", verb)
                << verb << "" << nothing << "225 No transfer to abort.";
            QTest::addRow("%s: only 150 lines, then the ABOR's answer", verb)
                << verb << "150-Accepted data connection\n150 20480.0 kbytes to move" << nothing
                << "226 Since you see this ABOR must've succeeded";
        }
    }
    void abortLeavesTheConnectionInStep()
    {
        QFETCH(QString, verb);
        QFETCH(QString, opening);
        QFETCH(QJsonValue, aborted);
        QFETCH(QString, aborAnswer);
        QJsonObject transferRule{{"aborted", aborted}};
        if (!opening.isEmpty())
            transferRule["reply"] = opening;
        QVERIFY(startAndConnect(withRules(
            {{"files", QJsonObject{{"big", "@20000000"}}}},
            {{verb, QJsonArray{transferRule}}, {"ABOR", QJsonArray{rule("reply", aborAnswer)}}})));
        QElapsedTimer clock;
        clock.start();
        const bool upload = verb == "STOR";
        OwnedHandle file(FtpOpenFileA(connection(), "big", upload ? GENERIC_WRITE : GENERIC_READ,
                                      FTP_TRANSFER_TYPE_BINARY, 0));
        QVERIFY(file);
        const QByteArray block = patternBytes(4096);
        DWORD moved = 0;
        if (upload) {
            // Enough that data has reached the server before the abort.
            for (int i = 0; i < 100; ++i)
                QVERIFY(InternetWriteFile(file.get(), block.constData(), 4096, &moved));
            QVERIFY(FtpAbortFile(file.get()));
        } else {
            char buffer[4096];
            QVERIFY(InternetReadFile(file.get(), buffer, sizeof buffer, &moved));
        }
        // Closing a read handle early aborts by itself; after FtpAbortFile it sends nothing.
        QVERIFY(file.close());
        QVERIFY2(clock.elapsed() < qint64(kShortTimeoutMs),
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(currentDirectory(connection()), QString("/"));
        QCOMPARE(commandsAfterLogin(),
                 QStringList({"TYPE I", "EPSV", verb + " big", "ABOR", "PWD", "PWD"}));
    }

    void abortThatIsNeverAnsweredRetiresTheConnection()
    {
        QVERIFY(startAndConnect(withRules({}, {{"STOR", QJsonArray{rule("aborted", QJsonValue())}},
                                               {"ABOR", QJsonArray{rule("silent", true)}},
                                               {"PWD", QJsonArray{rule("silent", true)}}})));
        QElapsedTimer clock;
        clock.start();
        OwnedHandle file(
            FtpOpenFileA(connection(), "f", GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0));
        QVERIFY(file);
        const QByteArray block = patternBytes(4096);
        DWORD written = 0;
        for (int i = 0; i < 100; ++i)
            QVERIFY(InternetWriteFile(file.get(), block.constData(), 4096, &written));
        QVERIFY(!FtpAbortFile(file.get()));
        QCOMPARE(GetLastError(), ERROR_INTERNET_TIMEOUT);
        QVERIFY(clock.elapsed() < 2 * qint64(kShortTimeoutMs));
        QVERIFY(file.close());
        // A late answer must not be taken for the next command's.
        QCOMPARE(currentDirectory(connection()), QString("<error 12111>"));
        QVERIFY(!m_server.received().join('\n').contains("STORED"));
    }

    void dropsMidListingAndMidTransferAreErrors_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::newRow("listing") << "LIST";
        QTest::newRow("download") << "RETR";
        QTest::newRow("upload") << "STOR";
        QTest::newRow("after PWD") << "PWD";
    }
    void dropsMidListingAndMidTransferAreErrors()
    {
        QFETCH(QString, verb);
        const QJsonObject theRule = verb == "PWD" ? QJsonObject{{"silent", true}, {"close", true}}
                                                  : rule("dropAfter", 5000);
        QString listing;
        for (int i = 0; i < 500; ++i)
            listing += QStringLiteral("-rw-r--r-- 1 u g 7 Jan 02  2020 file%1\r\n").arg(i);
        QVERIFY(startAndConnect(
            withRules({{"files", QJsonObject{{"f", "@100000"}}}, {"listing", listing}},
                      {{verb, QJsonArray{theRule}}})));
        BOOL ok = TRUE;
        if (verb == "LIST") {
            ok = !allNames().first().startsWith("<error");
        } else if (verb == "RETR") {
            QByteArray data;
            ok = downloadAll(connection(), "f", data);
            QVERIFY(data.size() <= 5000);
        } else if (verb == "STOR") {
            ok = uploadAll(connection(), "f", patternBytes(2 * 1024 * 1024));
        } else {
            ok = currentDirectory(connection()).startsWith("/");
        }
        QVERIFY(!ok);
        const DWORD error = GetLastError();
        QVERIFY2(error == ERROR_FTP_DROPPED || error == ERROR_INTERNET_CONNECTION_RESET ||
                     error == ERROR_INTERNET_CONNECTION_ABORTED,
                 qPrintable(QString::number(error)));
        QCOMPARE(currentDirectory(connection()), QString("<error 12111>"));
    }

    void stalledDataConnectionTimesOut_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::addColumn<int>("stallAfter");
        QTest::newRow("download") << "RETR" << 3000;
        QTest::newRow("upload") << "STOR" << 3000;
        QTest::newRow("listing") << "LIST" << 3000;
        QTest::newRow("download that never sends a byte") << "RETR" << 0;
    }
    void stalledDataConnectionTimesOut()
    {
        QFETCH(QString, verb);
        QFETCH(int, stallAfter);
        QString listing;
        for (int i = 0; i < 200; ++i)
            listing += QStringLiteral("-rw-r--r-- 1 u g 7 Jan 02  2020 file%1\r\n").arg(i);
        QVERIFY(startAndConnect(
            withRules({{"files", QJsonObject{{"f", "@100000"}}}, {"listing", listing}},
                      {{verb, QJsonArray{rule("stallAfter", stallAfter)}}})));
        const QByteArray upload = verb == "STOR" ? patternBytes(64 * 1024 * 1024) : QByteArray();
        QElapsedTimer clock;
        clock.start();
        BOOL ok = TRUE;
        if (verb == "RETR") {
            QByteArray data;
            ok = downloadAll(connection(), "f", data);
        } else if (verb == "STOR") {
            ok = uploadAll(connection(), "f", upload);
        } else {
            ok = !allNames().first().startsWith("<error");
        }
        QVERIFY(!ok);
        QCOMPARE(GetLastError(), ERROR_INTERNET_TIMEOUT);
        // One time-out, not one for the data and another for the reply after it.
        QVERIFY2(clock.elapsed() < 2 * qint64(kShortTimeoutMs),
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(currentDirectory(connection()), QString("<error 12111>"));
    }

    void endlessReplyLineIsRefusedQuickly_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::addColumn<QString>("kind");
        QTest::newRow("greeting") << "GREETING"
                                  << "endless";
        QTest::newRow("PWD") << "PWD"
                             << "endless";
        QTest::newRow("multi-line PWD without its last line") << "PWD"
                                                              << "endlessLines";
    }
    void endlessReplyLineIsRefusedQuickly()
    {
        QFETCH(QString, verb);
        QFETCH(QString, kind);
        QVERIFY(m_server.start(withRules({}, {{verb, QJsonArray{rule(kind, true)}}})));
        QElapsedTimer clock;
        clock.start();
        m_connection = connectTo(m_server.port());
        if (verb == "GREETING") {
            QCOMPARE(m_connection.error, ERROR_INTERNET_CONNECTION_ABORTED);
        } else {
            QCOMPARE(currentDirectory(connection()), QString("<error 12030>"));
            QCOMPARE(currentDirectory(connection()), QString("<error 12111>"));
        }
        QVERIFY(clock.elapsed() < qint64(kShortTimeoutMs));
    }

    void malformedRepliesAreRefused_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::newRow("no code") << "hello there";
        QTest::newRow("code 600") << "600 what";
        QTest::newRow("code glued to text") << "257\"/x\"";
        QTest::newRow("NUL inside") << QString("257 \"/a") + QChar(0) + "b\"";
        QTest::newRow("code 000") << "000 zero";
        QTest::newRow("binary") << QString::fromLatin1("\x01\x02\x7f\xff\xfe");
        QTest::newRow("1 MiB line") << "257 \"/" + QString(1024 * 1024, 'x') + "\"";
        QString flood;
        for (int i = 0; i < 20; ++i)
            flood += "150 wait\n";
        QTest::newRow("endless preliminaries") << flood + "257 \"/never\"";
    }
    void malformedRepliesAreRefused()
    {
        QFETCH(QString, reply);
        QVERIFY(startAndConnect(withRules({}, {{"PWD", QJsonArray{rule("reply", reply)}}})));
        QCOMPARE(currentDirectory(connection()), QString("<error 12030>"));
    }

    // Replies that come, but too slowly: the time-out holds for the whole answer to a command,
    // not for each byte or each preliminary line, and the late rest is never taken for the
    // answer to the next command.
    void slowRepliesMeetOneDeadline_data()
    {
        QTest::addColumn<QJsonArray>("chunks");
        QTest::addColumn<double>("pause");
        QJsonArray bytes;
        for (const QChar c : QStringLiteral("257 \"/a-folder-that-takes-three-seconds\"\r\n"))
            bytes.append(QString(c));
        QTest::newRow("one byte per 100 ms") << bytes << 0.1;
        QJsonArray lines;
        for (int i = 0; i < 6; ++i)
            lines.append("150 Still working.\r\n");
        lines.append("257 \"/\"\r\n");
        QTest::newRow("150 lines, each inside the time-out") << lines << 0.5;
    }
    void slowRepliesMeetOneDeadline()
    {
        QFETCH(QJsonArray, chunks);
        QFETCH(double, pause);
        QVERIFY(startAndConnect(withRules(
            {}, {{"PWD", QJsonArray{QJsonObject{{"chunks", chunks}, {"pause", pause}}}}})));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(currentDirectory(connection()), QString("<error 12002>"));
        QVERIFY2(clock.elapsed() < 2 * qint64(kShortTimeoutMs),
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(currentDirectory(connection()), QString("<error 12111>"));
    }

    void hostileListingNamesAreDropped_data()
    {
        QTest::addColumn<QJsonArray>("features");
        QTest::addColumn<QString>("listing");
        const QString ls = "-rw-r--r-- 1 u g 7 Jan 02  2020 ";
        QTest::newRow("LIST") << QJsonArray{}
                              << ls + "../x\r\n" + ls + "a/b\r\n" + ls + "a\rb\r\n" + ls +
                                     "ok.txt\r\n" + "drwxr-xr-x 2 u g 0 Jan 02  2020 ..\r\n" +
                                     "total 12\r\n";
        const QString fact = "type=file;size=1; ";
        QTest::newRow("MLSD") << QJsonArray{"MLST type*;size*;"}
                              << fact + "../x\r\n" + fact + "a/b\r\n" + fact + "a\rb\r\n" + fact +
                                     "ok.txt\r\ntype=pdir; ..\r\n";
        // A NUL would cut the name short and a 300-byte one cannot be held; a bare LF ends
        // the line, leaving a tail that is no entry.
        QTest::newRow("NUL, LF and overlong")
            << QJsonArray{"MLST type*;size*;"}
            << fact + "a" + QChar(0) + "b\r\n" + fact + QString(300, 'n') + "\r\n" + fact +
                   "ok.txt\r\n" + fact + "c\nd.txt\r\ntype=pdir; ..\r\n";
    }
    void hostileListingNamesAreDropped()
    {
        QFETCH(QJsonArray, features);
        QFETCH(QString, listing);
        QVERIFY(startAndConnect({{"features", features}, {"listing", listing}}));
        QStringList expected{"ok.txt", ".."};
        if (QString(QTest::currentDataTag()).startsWith("NUL"))
            expected.insert(1, "c");
        QCOMPARE(allNames(), expected);
    }

    void readReturnsWhatHasArrived()
    {
        // One byte every 100 ms: each call hands out what came rather than waiting for 4 KiB,
        // so the caller can look at its Cancel button between calls.
        QVERIFY(startAndConnect(withRules({{"files", QJsonObject{{"f", "0123456789"}}}},
                                          {{"RETR", QJsonArray{rule("trickle", 0.1)}}})));
        OwnedHandle file(FtpOpenFileA(connection(), "f", GENERIC_READ, 2, 0));
        QVERIFY(file);
        QByteArray data;
        int calls = 0;
        qint64 longestCall = 0;
        for (;;) {
            char block[4096];
            DWORD got = 0;
            QElapsedTimer call;
            call.start();
            QVERIFY(InternetReadFile(file.get(), block, sizeof block, &got));
            longestCall = std::max(longestCall, call.elapsed());
            if (got == 0)
                break;
            data.append(block, got);
            ++calls;
        }
        QCOMPARE(data, QByteArray("0123456789"));
        QVERIFY2(calls >= 5, qPrintable(QString::number(calls)));
        QVERIFY2(longestCall < 500, qPrintable(QString::number(longestCall)));
        QVERIFY(file.close());
        QCOMPARE(currentDirectory(connection()), QString("/"));
    }

    void cancelEndsListingFromAnotherThread_data()
    {
        QTest::addColumn<QJsonObject>("listRule");
        QTest::addColumn<QString>("afterwards");
        // The server notices the cut data connection and answers at once: still usable.
        QTest::newRow("trickling") << rule("trickle", 0.1) << "/";
        // A server that never answers it has fallen out of step and is given up.
        QTest::newRow("silent data") << rule("stallAfter", 0) << "<error 12111>";
    }
    void cancelEndsListingFromAnotherThread()
    {
        QFETCH(QJsonObject, listRule);
        QFETCH(QString, afterwards);
        const QString listing = "-rw-r--r-- 1 u g 7 Jan 02  2020 slow.txt\r\n";
        QVERIFY(startAndConnect(
            withRules({{"listing", listing}}, {{"LIST", QJsonArray{listRule, QJsonObject{}}}})));
        QElapsedTimer clock;
        clock.start();
        std::atomic<qint64> returnedAt{-1};
        HINTERNET find = nullptr;
        DWORD error = ERROR_SUCCESS;
        std::thread lister([&] {
            WIN32_FIND_DATAA entry{};
            find = FtpFindFirstFileA(connection(), nullptr, &entry, INTERNET_FLAG_RELOAD, 0);
            error = GetLastError();
            returnedAt = clock.elapsed();
        });
        QTest::qSleep(500); // well inside the listing
        const qint64 pressedAt = clock.elapsed();
        while (returnedAt < 0) {
            FtpCancelPendingCall(connection()); // as the window does, on every round
            QTest::qSleep(5);
        }
        lister.join();
        QVERIFY(!find);
        QCOMPARE(error, ERROR_INTERNET_OPERATION_CANCELLED);
        const qint64 waited = returnedAt - pressedAt;
        if (afterwards == "/")
            QVERIFY2(waited < 100, qPrintable(QString::number(waited)));
        else
            QVERIFY2(waited < 2 * qint64(kShortTimeoutMs), qPrintable(QString::number(waited)));
        QCOMPARE(currentDirectory(connection()), afterwards);
        if (afterwards != "/")
            return;
        QCOMPARE(allNames(), QStringList({"slow.txt"}));
        // A request while nothing is listed is ignored, and spoils nothing later.
        QVERIFY(FtpCancelPendingCall(connection()));
        QCOMPARE(allNames(), QStringList({"slow.txt"}));
    }

    void listingOverTheEntryLimitIsRefusedWhole()
    {
        // Short lines by the million: refused with a clear code rather than cut short or
        // allowed to take all memory; the connection stays in step.
        QVERIFY(startAndConnect(
            {{"features", QJsonArray{"MLST type*;"}},
             {"manyEntries", QJsonObject{{"count", 2'000'001}, {"line", "type=file; f%d"}}}}));
        WIN32_FIND_DATAA entry{};
        QVERIFY(!FtpFindFirstFileA(connection(), nullptr, &entry, INTERNET_FLAG_RELOAD, 0));
        QCOMPARE(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
        QCOMPARE(currentDirectory(connection()), QString("/"));
    }

    void controlConnectionClosedDuringEachCommand_data()
    {
        QTest::addColumn<QString>("verb");
        for (const char* verb : {"USER", "PASS", "FEAT", "PWD", "CWD", "CDUP", "MKD", "RMD", "DELE",
                                 "RNFR", "RNTO", "TYPE", "EPSV", "RETR", "STOR", "LIST"})
            QTest::newRow(verb) << verb;
    }
    void controlConnectionClosedDuringEachCommand()
    {
        QFETCH(QString, verb);
        const QJsonObject script =
            withRules({{"files", QJsonObject{{"f", "@10000"}}},
                       {"listing", "-rw-r--r-- 1 u g 7 Jan 02  2020 b\r\n"}},
                      {{verb, QJsonArray{QJsonObject{{"silent", true}, {"close", true}}}}});
        QVERIFY(m_server.start(script));
        QElapsedTimer clock;
        clock.start();
        m_connection = connectTo(m_server.port());
        const bool duringLogOn = verb == "USER" || verb == "PASS" || verb == "FEAT";
        QCOMPARE(bool(m_connection.connect), !duringLogOn);
        DWORD error = m_connection.error;
        if (!duringLogOn) {
            const QString call = verb == "RNTO" ? "RNFR" : verb;
            const BOOL ok = callSucceeds(call);
            QVERIFY(!ok);
            error = GetLastError();
        }
        QVERIFY2(error == ERROR_FTP_DROPPED || error == ERROR_INTERNET_CONNECTION_RESET ||
                     error == ERROR_INTERNET_CONNECTION_ABORTED,
                 qPrintable(QString::number(error)));
        // A closed connection is seen at once, not after a time-out.
        QVERIFY2(clock.elapsed() < qint64(kShortTimeoutMs),
                 qPrintable(QString::number(clock.elapsed())));
        if (!duringLogOn)
            QCOMPARE(currentDirectory(connection()), QString("<error 12111>"));
    }

    // A passive reply naming a port on the server's host where nothing listens: a clear error
    // at once, and the connection stays usable. One where another server listens: the
    // stranger's greeting is no file, and the download fails within the time-out rather than
    // ending as a success. Without INTERNET_FLAG_PASSIVE the server may connect to us.
    void passiveReplyNamingAnotherPortFailsCleanly_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::addColumn<bool>("otherServer");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("afterwards");
        QTest::newRow("EPSV, nothing there")
            << "EPSV" << false << int(ERROR_INTERNET_CANNOT_CONNECT) << "/";
        QTest::newRow("PASV, nothing there")
            << "PASV" << false << int(ERROR_INTERNET_CANNOT_CONNECT) << "/";
        QTest::newRow("EPSV, another server")
            << "EPSV" << true << int(ERROR_INTERNET_TIMEOUT) << "<error 12111>";
    }
    void passiveReplyNamingAnotherPortFailsCleanly()
    {
        QFETCH(QString, verb);
        QFETCH(bool, otherServer);
        QFETCH(int, error);
        QFETCH(QString, afterwards);
        FaultServer other;
        quint16 port = freeLoopbackPort();
        if (otherServer) {
            QVERIFY(other.start({}));
            port = other.port();
        }
        QVERIFY(port != 0);
        QJsonObject rules;
        if (verb == "EPSV") {
            rules["EPSV"] = QJsonArray{rule(
                "reply", QStringLiteral("229 Entering Extended Passive Mode (|||%1|)").arg(port))};
        } else {
            rules["EPSV"] = QJsonArray{rule("reply", "502 No EPSV")};
            rules["PASV"] = QJsonArray{rule("reply", QStringLiteral("227 Entering Passive Mode "
                                                                    "(127,0,0,1,%1,%2)")
                                                         .arg(port / 256)
                                                         .arg(port % 256))};
        }
        QVERIFY(m_server.start(withRules({{"files", QJsonObject{{"f", "x"}}}}, rules)));
        m_connection = connectTo(m_server.port(), "user", "secret", INTERNET_FLAG_PASSIVE);
        QElapsedTimer clock;
        clock.start();
        QByteArray data;
        QVERIFY(!downloadAll(connection(), "f", data));
        QCOMPARE(int(GetLastError()), error);
        QVERIFY2(clock.elapsed() < 2 * qint64(kShortTimeoutMs),
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(currentDirectory(connection()), afterwards);
    }

    void lineBreaksInArgumentsAreRefusedBeforeSending()
    {
        QVERIFY(startAndConnect({}));
        const char* hostile = "a\r\nDELE victim";
        QVERIFY(!FtpDeleteFileA(connection(), hostile));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        QVERIFY(!FtpSetCurrentDirectoryA(connection(), "a\nb"));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        QVERIFY(!FtpCreateDirectoryA(connection(), "a\rb"));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        QVERIFY(!FtpRemoveDirectoryA(connection(), ""));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        QVERIFY(!FtpRenameFileA(connection(), "ok", hostile));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        QVERIFY(!FtpOpenFileA(connection(), hostile, GENERIC_READ, 2, 0));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        WIN32_FIND_DATAA entry{};
        QVERIFY(!FtpFindFirstFileA(connection(), "x\r\nDELE y", &entry, 0, 0));
        QCOMPARE(GetLastError(), ERROR_INVALID_PARAMETER);
        const Connection other = connectTo(m_server.port(), "user\r\nDELE victim", "x");
        QCOMPARE(other.error, ERROR_INVALID_PARAMETER);
        QCOMPARE(currentDirectory(connection()), QString("/"));
        QCOMPARE(commandsAfterLogin(), QStringList({"PWD"}));
    }
};

QTEST_GUILESS_MAIN(TestFtpFaults)
#include "tst_ftpfaults.moc"
