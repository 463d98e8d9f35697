#include "faultserver.h"
#include "remote/FtpServerSession.h"

#include <QDateTime>
#include <QJsonArray>
#include <QTest>

// The FTP session against the scriptable server: the commands each call sends (names relative
// to the folder the server is in, as the program always sent them) and what each call returns.
class ServerSessionTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void callsSendTheExpectedCommands_data();
    void callsSendTheExpectedCommands();
    void failureCarriesItsOwnConnectionsReply();

private:
    std::unique_ptr<FtpServerSession> open(FaultServer& server);
};

namespace {

QString resultText(const RemoteResult& result)
{
    if (result.ok())
        return QStringLiteral("ok");
    return QStringLiteral("failed %1 %2 %3")
        .arg(static_cast<int>(result.failure))
        .arg(result.code)
        .arg(result.reply);
}

// Runs one step ("verb argument..."), returning what it gave.
QString run(ServerSession& session, const QStringList& step)
{
    const QString verb = step.value(0);
    const QByteArray path = step.value(1).toUtf8();
    QByteArray folder;
    RemoteResult result;
    if (verb == "pwd") {
        result = session.currentFolder(folder);
        return result ? QString::fromUtf8(folder) : resultText(result);
    }
    if (verb == "cd")
        return resultText(session.changeFolder(path));
    if (verb == "list" || verb == "walk") {
        RemoteListing listing;
        result =
            session.list(path, listing, verb == "walk" ? ListPurpose::Walk : ListPurpose::Show);
        QStringList names;
        for (const RemoteEntry& entry : listing.entries)
            names << QString::fromUtf8(entry.serverName) +
                         (entry.isLink     ? "@"
                          : entry.isFolder ? "/"
                                           : QString()) +
                         (entry.isFolder ? QString() : " " + QString::number(entry.size));
        return result ? names.join(',') : resultText(result);
    }
    if (verb == "size") {
        RemoteEntry entry;
        result = session.stat(path, entry);
        return result ? QString::number(entry.size) : resultText(result);
    }
    if (verb == "time") {
        RemoteEntry entry;
        result = session.statTime(path, entry);
        return result ? QString::number(entry.modifiedTime) : resultText(result);
    }
    if (verb == "mkd")
        return resultText(session.makeFolder(path));
    if (verb == "rmd")
        return resultText(session.removeFolder(path));
    if (verb == "dele")
        return resultText(session.removeFile(path));
    if (verb == "ren")
        return resultText(session.rename(path, step.value(2).toUtf8()));
    if (verb == "get") {
        const auto file = session.openRead(path, step.value(2).toLongLong(), result);
        QByteArray data;
        for (qint64 got = 1; file && result && got > 0;) {
            char buffer[4096];
            result = file->read(buffer, sizeof buffer, got);
            data.append(buffer, got);
        }
        if (file && result)
            result = file->complete();
        return result ? QString::fromUtf8(data) : resultText(result);
    }
    if (verb == "put") {
        const auto file = session.openWrite(path, step.value(3).toLongLong(), result);
        const QByteArray data = step.value(2).toUtf8();
        if (file && result)
            result = file->write(data.constData(), data.size());
        if (file && result)
            result = file->complete();
        return resultText(result);
    }
    return "unknown step " + verb;
}

// The commands after the log-on and the TYPE A the engine sends with it.
QStringList commandsAfterLogon(QStringList all)
{
    while (!all.isEmpty() && !all.first().startsWith("FEAT"))
        all.removeFirst();
    if (!all.isEmpty())
        all.removeFirst();
    all.removeAll("OPTS UTF8 ON");
    return all;
}

// What a refusal with `reply` gives.
QString refused(const QString& reply)
{
    return QStringLiteral("failed %1 12003 %2")
        .arg(static_cast<int>(RemoteFailure::Refused))
        .arg(reply);
}

QJsonObject rules(const char* verb, const QString& reply)
{
    return QJsonObject{{verb, QJsonArray{QJsonObject{{"reply", reply}}}}};
}

} // namespace

std::unique_ptr<FtpServerSession> ServerSessionTest::open(FaultServer& server)
{
    SessionLogon logon;
    logon.host = server.host();
    logon.port = server.port();
    logon.user = "user";
    logon.password = "secret";
    RemoteResult result;
    auto session = OpenServerSession(logon, result);
    if (!result)
        qWarning() << resultText(result);
    return session;
}

// Steps, results and commands are "|"-separated lists.
void ServerSessionTest::callsSendTheExpectedCommands_data()
{
    QTest::addColumn<QJsonObject>("script");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QString>("commands");

    const QJsonArray features{"MLST type*;size*;modify*;", "REST STREAM", "SIZE", "EPSV"};
    const QJsonObject tree{{"/pub", "type=dir; sub\r\ntype=file;size=3; a.txt\r\n"},
                           {"/pub/sub", "type=file;size=5; deep.txt\r\n"}};
    QTest::newRow("names in the folder it is in go alone")
        << QJsonObject{{"pwd", "/pub"}, {"features", features}, {"tree", tree}}
        << "pwd|list /pub|dele /pub/a.txt|rmd /pub/sub|mkd /pub/new|ren /pub/x /pub/y"
        << "/pub|sub/,a.txt 3|ok|ok|ok|ok"
        << "PWD|TYPE A|EPSV|MLSD|DELE a.txt|DELETED /pub/a.txt|RMD sub|REMOVED /pub/sub|"
           "MKD new|RNFR x|RNTO y";
    QTest::newRow("a folder elsewhere is entered first, and left by its parent")
        << QJsonObject{{"pwd", "/pub"}, {"features", features}, {"tree", tree}}
        << "pwd|list /pub/sub|pwd|cd /pub|pwd|dele /elsewhere/f"
        << "/pub|deep.txt 5|/pub/sub|ok|/pub|ok"
        << "PWD|CWD sub|TYPE A|EPSV|MLSD|PWD|CDUP|PWD|DELE /elsewhere/f|DELETED /elsewhere/f";
    const QJsonObject linked{
        {"/pub", QJsonObject{{"MLSD", "type=dir; sub\r\ntype=dir; link\r\n"},
                             {"LIST", "drwxr-xr-x 2 u g 0 Jan 01  2020 sub\r\n"
                                      "lrwxrwxrwx 1 u g 4 Jan 01  2020 link -> /etc\r\n"}}}};
    QTest::newRow("a tree walk's listing checks the folders against LIST")
        << QJsonObject{{"pwd", "/pub"}, {"features", features}, {"tree", linked}}
        << "pwd|walk /pub|list /pub"
        << "/pub|sub/,link@ 0|sub/,link/"
        << "PWD|TYPE A|EPSV|MLSD|EPSV|LIST|EPSV|MLSD";
    QTest::newRow("download, resumed download and upload")
        << QJsonObject{{"features", features}, {"files", QJsonObject{{"f.txt", "hello"}}}}
        << "pwd|get /f.txt|get /f.txt 2|size /f.txt|put /g.txt data"
        << "/|hello|llo|5|ok"
        << "PWD|TYPE I|EPSV|RETR f.txt|EPSV|REST 2|RETR f.txt|SIZE f.txt|EPSV|STOR g.txt|"
           "STORED g.txt 4";
    // The way back from a folder whose PWD contradicts the CWD into it (a link the server
    // followed) or that won't say: ".." from there may lead anywhere, so the path goes whole.
    const QJsonObject siblings{{"/pub", ""}, {"/pub/sub", ""}, {"/pub/other", ""}};
    QTest::newRow("after a PWD naming another folder, the way back names its path")
        << QJsonObject{{"pwd", "/pub"},
                       {"tree", siblings},
                       {"cwdTo", QJsonObject{{"/pub/link", "/pub/other"}}}}
        << "pwd|cd /pub/link|pwd|cd /pub|cd /pub/sub|cd /pub"
        << "/pub|ok|/pub/other|ok|ok|ok"
        << "PWD|CWD link|PWD|CWD /pub|CWD sub|CDUP";
    QTest::newRow("after a PWD refused, the way back names its path")
        << QJsonObject{{"pwd", "/pub"},
                       {"tree", siblings},
                       {"rules",
                        QJsonObject{{"PWD", QJsonArray{QJsonObject(),
                                                       QJsonObject{{"reply", "550 Not here."}},
                                                       QJsonObject()}}}}}
        << "pwd|cd /pub/sub|pwd|cd /pub"
        << "/pub|ok|" + refused("550 Not here.") + "|ok"
        << "PWD|CWD sub|PWD|CWD /pub";
    // MDTM's UTC stamp, fraction included, as ticks since 1601.
    const qint64 stamp =
        QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58), Qt::UTC).toSecsSinceEpoch();
    const qint64 ticks = (stamp + 11644473600LL) * 10000000LL;
    QTest::newRow("a file's time")
        << QJsonObject{{"files", QJsonObject{{"f.txt", "hello"}, {"g.txt", "x"}}},
                       {"mdtm",
                        QJsonObject{{"f.txt", "20240229235958"}, {"g.txt", "20240229235958.25"}}}}
        << "pwd|time /f.txt|time /g.txt|time /none"
        << QStringLiteral("/|%1|%2|").arg(ticks).arg(ticks + 2500000) + refused("550 No such file.")
        << "PWD|MDTM f.txt|MDTM g.txt|MDTM none";
    QTest::newRow("refusals carry the server's reply")
        << QJsonObject{{"rules", rules("DELE", "550 Permission denied.")}}
        << "dele f.txt|size /nothing"
        << refused("550 Permission denied.") + "|" + refused("550 No such file.")
        << "DELE f.txt|TYPE I|SIZE /nothing";
}

void ServerSessionTest::callsSendTheExpectedCommands()
{
    QFETCH(QJsonObject, script);
    QFETCH(QString, steps);
    QFETCH(QString, results);
    QFETCH(QString, commands);
    FaultServer server;
    QVERIFY(server.start(script));
    const auto session = open(server);
    QVERIFY(session);
    QStringList got;
    for (const QString& step : steps.split('|'))
        got << run(*session, step.split(' '));
    QCOMPARE(got, results.split('|'));
    QCOMPARE(commandsAfterLogon(server.received()), commands.split('|'));
}

// With two connections, each failure shows the reply of its own connection, whatever the other
// one received since.
void ServerSessionTest::failureCarriesItsOwnConnectionsReply()
{
    FaultServer first;
    FaultServer second;
    QVERIFY(first.start({{"rules", rules("DELE", "550 Locked by the first.")}}));
    QVERIFY(second.start({{"rules", rules("DELE", "550 Locked by the second.")}}));
    const auto one = open(first);
    const auto two = open(second);
    QVERIFY(one && two);
    QCOMPARE(resultText(one->removeFile("a")), refused("550 Locked by the first."));
    QCOMPARE(resultText(two->removeFile("b")), refused("550 Locked by the second."));
    SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
    QCOMPARE(one->failure().reply, QStringLiteral("550 Locked by the first."));
}

QTEST_GUILESS_MAIN(ServerSessionTest)
#include "tst_serversession.moc"
