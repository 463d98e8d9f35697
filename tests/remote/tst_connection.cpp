#include "FtpServerFixture.h"
#include "RemoteTestHost.h"
#include "common/CancelFlag.h"
#include "common/SortState.h"
#include "faultserver.h"
#include "ftp/FtpConnection.h"
#include "ftp/FtpErrorText.h"
#include "ftp/RemoteCommands.h"
#include "ftp/RemoteListing.h"
#include "ftp/RemoteSession.h"
#include "sites/ProfileStore.h"
#include "wininet.h"
#include "wininet/InternetTimeouts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

// Connect, disconnect and the error report against a real server on loopback.
class TestConnection : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void connectListsStartDirectoryAndBeepsOnce();
    void blankProfileWarnsAndOpensConfigure_data();
    void blankProfileWarnsAndOpensConfigure();
    void badPortTextIsAConversionError_data();
    void badPortTextIsAConversionError();
    void badPasswordShowsOneBoxAndReleasesHandles();
    void profileIsReadAfreshAtEveryConnect();
    void missingStartDirectoryIsNotConnected();
    void blankDirectoryKeepsLoginDirectory();
    void emptyPasswordIsSentAsEmptyText();
    void portAboveRangeUsesLowSixteenBits();
    void portZeroReachesDefaultPort();
    void disconnectClearsListHeaderAndStatus();
    void twoFailingClosesGiveTwoBoxesAndStayConnected();
    void reportShowsSignedCode_data();
    void reportShowsSignedCode();
    void reportOfSessionResult_data();
    void reportOfSessionResult();
    void emptyDirectoryListsNothingButSetsHeader();
    void windowPaintsWhileSlowListingIsRead();
    void slowListingOffersCancelThatEndsIt();
    void remoteCommandsMoveAndChangeTheTree();
    void remoteCommandsReportFailures();

private:
    void writeSite(const QString& name, const QString& host, const QString& port,
                   const QString& user, const QString& password, const QString& directory);
    void writeGoodSite(const QString& directory = QStringLiteral("/sub"));

    QTemporaryDir m_home;
    QTemporaryDir m_root;
    FtpServerFixture m_server;
    FtpServerFixture m_anonymousServer;
    QTemporaryDir m_anonymousRoot;
};

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList rowNames(const FileListModel& model)
{
    QStringList names;
    for (const FileListRow& row : model.rows())
        names << row.name;
    return names;
}

} // namespace

void TestConnection::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("ZULFTP_HOME", m_home.path().toLocal8Bit());
    QDir root(m_root.path());
    QVERIFY(root.mkpath(QStringLiteral("sub/folder")));
    QVERIFY(root.mkpath(QStringLiteral("empty")));
    writeFile(root.filePath(QStringLiteral("sub/a.txt")), "abc");
    writeFile(root.filePath(QStringLiteral("sub/B.txt")), "hello world");
    writeFile(root.filePath(QStringLiteral("sub/backup.zip.old")), "zz");
    writeFile(root.filePath(QStringLiteral("sub/zero")), "");
    writeFile(root.filePath(QStringLiteral("top.txt")), "top");
    QVERIFY2(m_server.start(m_root.path()), qPrintable(m_server.errorOutput()));
    FtpServerFixture::Options anonymous;
    anonymous.anonymous = true;
    QVERIFY(m_anonymousServer.start(m_anonymousRoot.path(), anonymous));
}

void TestConnection::init()
{
    FtpConnection = TFtpConnection();
    RemoteSort = 1;
    QFile::remove(ProfileFilePath());
}

void TestConnection::cleanup()
{
    // No test leaves a connection open behind it.
    FtpConnection = TFtpConnection();
}

void TestConnection::cleanupTestCase()
{
    m_server.stop();
    m_anonymousServer.stop();
}

void TestConnection::writeSite(const QString& name, const QString& host, const QString& port,
                               const QString& user, const QString& password,
                               const QString& directory)
{
    ProfileStore store(ProfileFilePath());
    QVERIFY(store.write(SiteProfile{name, host, port, user, password, directory}));
}

void TestConnection::writeGoodSite(const QString& directory)
{
    writeSite(QStringLiteral("Test site"), m_server.host(), QString::number(m_server.port()),
              QStringLiteral("user"), QStringLiteral("secret"), directory);
}

void TestConnection::connectListsStartDirectoryAndBeepsOnce()
{
    writeGoodSite();
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    host.script.expectBeep(MB_ICONASTERISK);
    ConnectCommand(host);
    QVERIFY(host.script.verifyDone());
    QVERIFY(FtpConnection.Connected);
    QVERIFY(FtpConnection.isOpen());
    QCOMPARE(FtpConnection.ConnectedHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(host.status, QStringLiteral("Connected to 127.0.0.1"));
    QCOMPARE(host.header, QStringLiteral("127.0.0.1/sub"));
    QCOMPARE(host.commandStates, QList<bool>{true});
    QCOMPARE(rowNames(host.files),
             (QStringList{"folder", "B.txt", "a.txt", "backup.zip.old", "zero"}));
    QCOMPARE(host.files.row(0).imageIndex, kFolderImage);
    QCOMPARE(host.files.row(0).sizeText(), QString());
    QCOMPARE(host.files.row(1).sizeText(), QStringLiteral("11"));
    QCOMPARE(host.files.row(3).imageIndex, kArchiveImage);
    QCOMPARE(host.files.row(4).sizeText(), QStringLiteral("0"));
    QVERIFY(!host.files.row(1).modifiedText.isEmpty());
    QCOMPARE(host.progressLog.shown,
             (QStringList{"Connecting to the internet|Connecting|00",
                          "Authenticating account and logging on|Authenticating|00",
                          "Retrieving Remote Directory File List|Retrieving|00"}));
    QVERIFY(!host.progressLog.visible);
    QCOMPARE(host.cursor, RemoteHost::Cursor::Default);
}

void TestConnection::blankProfileWarnsAndOpensConfigure_data()
{
    QTest::addColumn<QString>("siteName");
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("no site chosen") << ""
                                    << "127.0.0.1"
                                    << "21"
                                    << "user"
                                    << "pw";
    QTest::newRow("site without section") << "Elsewhere"
                                          << "127.0.0.1"
                                          << "21"
                                          << "user"
                                          << "";
    QTest::newRow("blank host") << "Test site"
                                << ""
                                << "21"
                                << "user"
                                << "pw";
    QTest::newRow("blank port") << "Test site"
                                << "127.0.0.1"
                                << ""
                                << "user"
                                << "pw";
    QTest::newRow("password but no user") << "Test site"
                                          << "127.0.0.1"
                                          << "21"
                                          << ""
                                          << "pw";
}

void TestConnection::blankProfileWarnsAndOpensConfigure()
{
    QFETCH(QString, siteName);
    QFETCH(QString, hostName);
    QFETCH(QString, port);
    QFETCH(QString, user);
    QFETCH(QString, password);
    writeSite(QStringLiteral("Test site"), hostName, port, user, password, QString());
    RemoteTestHost host;
    host.siteName = siteName;
    host.script.expectBeep(MB_ICONEXCLAMATION)
        .expectMessage(QStringLiteral("Some of the Configuration information has been left "
                                      "blank.  Please enter the information for your FTP "
                                      "server and try again."));
    QVERIFY(!ConnectToSite(host));
    QVERIFY(host.script.verifyDone());
    QCOMPARE(host.script.seen().last().icon, MessageIcon::Warning);
    QCOMPARE(host.configureShown, 1);
    // Nothing was opened and nothing else changed.
    QVERIFY(!FtpConnection.isOpen());
    QVERIFY(host.progressLog.shown.isEmpty());
    QVERIFY(host.commandStates.isEmpty());
    QCOMPARE(host.hourglassCount, 0);
    QCOMPARE(host.status, QStringLiteral("Not Connected"));
}

void TestConnection::badPortTextIsAConversionError_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("letters") << "abc";
    QTest::newRow("trailing letter") << "21x";
    QTest::newRow("beyond 32 bits") << "99999999999";
    QTest::newRow("sign only") << "-";
}

void TestConnection::badPortTextIsAConversionError()
{
    QFETCH(QString, port);
    writeSite(QStringLiteral("Test site"), m_server.host(), port, QStringLiteral("user"),
              QStringLiteral("secret"), QString());
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    host.script.expectMessage(QStringLiteral("'%1' is not a valid integer value").arg(port));
    QVERIFY(!ConnectToSite(host));
    QVERIFY(host.script.verifyDone());
    QVERIFY(!FtpConnection.isOpen());
    QVERIFY(!FtpConnection.Connected);
    QVERIFY(!host.progressLog.visible);
    QCOMPARE(host.cursor, RemoteHost::Cursor::Default);
}

void TestConnection::badPasswordShowsOneBoxAndReleasesHandles()
{
    writeSite(QStringLiteral("Test site"), m_server.host(), QString::number(m_server.port()),
              QStringLiteral("user"), QStringLiteral("wrong"), QString());
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    // The box names the server and gives its reason, not only the code.
    host.script.expectMessageStartingWith(
        QStringLiteral("FTP Server Connection Failed  (%1)\nServer 127.0.0.1, port %2\n"
                       "The server's reply: 530")
            .arg(ERROR_INTERNET_INCORRECT_PASSWORD)
            .arg(m_server.port()));
    ConnectCommand(host);
    QVERIFY(host.script.verifyDone());
    // One box and no beep: the whole conversation with the user.
    QCOMPARE(host.script.seen().size(), 1);
    QCOMPARE(host.script.seen().first().caption, QStringLiteral("ZUL-FTP"));
    QCOMPARE(host.script.seen().first().icon, MessageIcon::None);
    // The detail says in words what 12014 means and what the server answered.
    const QString detail = host.script.seen().first().detail;
    QVERIFY2(detail.startsWith(
                 QStringLiteral("The server refused the password.\nThe server's reply: 530")),
             qPrintable(detail));
    QVERIFY(FtpConnection.ErrorReported);
    QVERIFY(!FtpConnection.Connected);
    QVERIFY(!FtpConnection.isOpen());
    QCOMPARE(host.commandStates, QList<bool>{false});
    QCOMPARE(host.status, QStringLiteral("Not Connected"));
    QVERIFY(!host.progressLog.visible);
    QCOMPARE(host.cursor, RemoteHost::Cursor::Default);
    QCOMPARE(host.files.rowCount(), 0);
}

void TestConnection::profileIsReadAfreshAtEveryConnect()
{
    writeSite(QStringLiteral("Test site"), m_server.host(), QString::number(m_server.port()),
              QStringLiteral("user"), QStringLiteral("wrong"), QString());
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    host.script.setIgnoreBeeps(true);
    host.script.expectMessageStartingWith(QStringLiteral("FTP Server Connection Failed  (%1)")
                                              .arg(ERROR_INTERNET_INCORRECT_PASSWORD));
    QVERIFY(!ConnectToSite(host));
    writeGoodSite();
    QVERIFY(ConnectToSite(host));
    QVERIFY(host.script.verifyDone());
    QVERIFY(!FtpConnection.ErrorReported);
    QCOMPARE(host.commandStates, (QList<bool>{false, true}));
}

void TestConnection::missingStartDirectoryIsNotConnected()
{
    writeGoodSite(QStringLiteral("/no/such/folder"));
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    host.status = QStringLiteral("previous text");
    host.script.expectMessageStartingWith(
        QStringLiteral("FTP Set Current Directory Failed  (%1)\nFolder \"/no/such/folder\" on "
                       "127.0.0.1\nThe server's reply: 550")
            .arg(ERROR_INTERNET_EXTENDED_ERROR));
    ConnectCommand(host);
    QVERIFY(host.script.verifyDone());
    // The detail says what the code means, then gives the server's refusal.
    const QString detail = host.script.seen().first().detail;
    QVERIFY2(detail.startsWith(QStringLiteral("The server refused the request.\nThe server's "
                                              "reply: 550")),
             qPrintable(detail));
    QVERIFY(!FtpConnection.Connected);
    QVERIFY(!FtpConnection.isOpen());
    QCOMPARE(host.status, QStringLiteral("previous text"));
    QCOMPARE(host.commandStates, QList<bool>{false});
}

void TestConnection::blankDirectoryKeepsLoginDirectory()
{
    writeGoodSite(QStringLiteral("   "));
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    host.script.expectBeep(MB_ICONASTERISK);
    ConnectCommand(host);
    QVERIFY(host.script.verifyDone());
    QCOMPARE(host.header, QStringLiteral("127.0.0.1/"));
    QCOMPARE(rowNames(host.files), (QStringList{"empty", "sub", "top.txt"}));
}

void TestConnection::emptyPasswordIsSentAsEmptyText()
{
    writeSite(QStringLiteral("Anonymous"), m_anonymousServer.host(),
              QString::number(m_anonymousServer.port()), QStringLiteral("anonymous"), QString(),
              QString());
    RemoteTestHost host;
    host.siteName = QStringLiteral("Anonymous");
    QVERIFY(ConnectToSite(host));
    QVERIFY(host.script.verifyDone());
    QVERIFY(FtpConnection.Connected);
}

void TestConnection::portAboveRangeUsesLowSixteenBits()
{
    writeSite(QStringLiteral("Test site"), m_server.host(),
              QString::number(65536 + int(m_server.port())), QStringLiteral("user"),
              QStringLiteral("secret"), QString());
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    QVERIFY(ConnectToSite(host));
    QVERIFY(host.script.verifyDone());
}

void TestConnection::portZeroReachesDefaultPort()
{
    // Port 0 is handed to the service, which uses the FTP port 21 instead. A listener there
    // that never greets shows where the attempt went.
    QTcpServer listener;
    if (!listener.listen(QHostAddress::LocalHost, 21))
        QSKIP("port 21 on loopback is taken or needs privileges this run does not have");
    wininet::setReceiveTimeoutMs(300);
    writeSite(QStringLiteral("Test site"), QStringLiteral("127.0.0.1"), QStringLiteral("0"),
              QStringLiteral("user"), QStringLiteral("secret"), QString());
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    host.script.expectMessageStartingWith(
        QStringLiteral("FTP Server Connection Failed  (%1)").arg(ERROR_INTERNET_TIMEOUT));
    const bool connected = ConnectToSite(host);
    wininet::setReceiveTimeoutMs(wininet::kDefaultReceiveTimeoutMs);
    QVERIFY(!connected);
    QVERIFY(host.script.verifyDone());
    QVERIFY(listener.waitForNewConnection(1000));
}

void TestConnection::disconnectClearsListHeaderAndStatus()
{
    writeGoodSite();
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    host.script.expectBeep(MB_ICONASTERISK);
    ConnectCommand(host);
    QVERIFY(host.files.rowCount() > 0);
    host.commandStates.clear();
    QVERIFY(DisconnectFromSite(host));
    QVERIFY(host.script.verifyDone());
    QCOMPARE(host.files.rowCount(), 0);
    QCOMPARE(host.header, QString());
    QCOMPARE(host.status, QStringLiteral("Not Connected"));
    QCOMPARE(host.commandStates, QList<bool>{false});
    QVERIFY(!FtpConnection.Connected);
    QVERIFY(!FtpConnection.isOpen());
    // The host of the last connection is kept.
    QCOMPARE(FtpConnection.ConnectedHost, QStringLiteral("127.0.0.1"));
}

void TestConnection::twoFailingClosesGiveTwoBoxesAndStayConnected()
{
    InternetCloseHandle(nullptr);
    const DWORD code = GetLastError();
    FtpConnection.Connected = true;
    RemoteTestHost host;
    host.status = QStringLiteral("Connected to somewhere");
    host.script
        .expectMessage(
            QStringLiteral("FTP Server Disconnect Failed (InternetConnect)  (%1)").arg(code))
        .expectMessage(
            QStringLiteral("FTP Server Disconnect Failed (InternetOpen)  (%1)").arg(code));
    QVERIFY(!DisconnectFromSite(host));
    QVERIFY(host.script.verifyDone());
    QVERIFY(FtpConnection.Connected);
    QCOMPARE(host.status, QStringLiteral("Connected to somewhere"));
    QVERIFY(host.commandStates.isEmpty());
}

void TestConnection::reportShowsSignedCode_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("service code") << quint32(12029) << "Upload Failed  (12029)";
    QTest::newRow("system code") << quint32(5) << "Upload Failed  (5)";
    QTest::newRow("high bit is negative") << quint32(0xFFFFFFFE) << "Upload Failed  (-2)";
}

void TestConnection::reportShowsSignedCode()
{
    QFETCH(quint32, code);
    QFETCH(QString, text);
    RemoteTestHost host;
    host.progressLog.visible = true;
    host.cursor = RemoteHost::Cursor::Hourglass;
    host.script.expectMessage(text);
    SetLastError(code);
    ReportFtpError(host, QStringLiteral("Upload Failed"));
    QVERIFY(host.script.verifyDone());
    QVERIFY(FtpConnection.ErrorReported);
    QVERIFY(!host.progressLog.visible);
    QCOMPARE(host.cursor, RemoteHost::Cursor::Default);
    // No reply from the server belongs to these codes, so the detail is the meaning alone.
    QCOMPARE(host.script.seen().first().detail, FtpErrorMeaning(code));
}

void TestConnection::reportOfSessionResult_data()
{
    QTest::addColumn<bool>("ssh");
    QTest::addColumn<int>("failure");
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("lost");
    const int refused = int(RemoteFailure::Refused);
    const int lostKind = int(RemoteFailure::ConnectionLost);
    QTest::newRow("ftp refusal")
        << false << refused << quint32(ERROR_INTERNET_EXTENDED_ERROR) << "550 No."
        << "FTP Create Directory Failed.  (12003)\nFolder \"x\"\nThe server's reply: 550 No."
        << false;
    QTest::newRow("ftp loss") << false << lostKind << quint32(ERROR_INTERNET_CONNECTION_RESET)
                              << QString()
                              << "The connection to the server was lost.  (12031)\n"
                                 "Folder \"x\""
                              << true;
    // An SSH server's failure has no FTP code: a status of its own, or only a kind.
    QTest::newRow("sftp refusal") << true << refused << quint32(4) << "Failure"
                                  << "Create Directory Failed.\nFolder \"x\"\nFailure" << false;
    QTest::newRow("sftp loss") << true << lostKind << quint32(0) << QString()
                               << "The connection to the server was lost.\nFolder \"x\"" << true;
}

void TestConnection::reportOfSessionResult()
{
    QFETCH(bool, ssh);
    QFETCH(int, failure);
    QFETCH(quint32, code);
    QFETCH(QString, reply);
    QFETCH(QString, text);
    QFETCH(bool, lost);
    FtpConnection.Connected = true;
    FtpConnection.Ssh = ssh;
    RemoteTestHost host;
    host.script.expectMessage(text);
    RemoteResult result;
    result.failure = RemoteFailure(failure);
    result.code = code;
    result.replyCode = ssh ? int(code) : 550;
    result.reply = reply;
    ReportFtpError(host, QStringLiteral("FTP Create Directory Failed."), result,
                   QStringLiteral("Folder \"x\""));
    QCOMPARE(FtpConnection.Connected, !lost);
    if (lost) {
        // What fails after the loss, on the closed session, is its consequence: no second box.
        RemoteResult after;
        after.failure = RemoteFailure::Other;
        after.code = ERROR_INVALID_HANDLE;
        ReportFtpError(host, QStringLiteral("FTP Rename Failed."), after);
    }
    QVERIFY(host.script.verifyDone());
}

void TestConnection::emptyDirectoryListsNothingButSetsHeader()
{
    writeGoodSite(QStringLiteral("/empty"));
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    QVERIFY(ConnectToSite(host));
    host.files.setRows({FileListRow{}});
    ListRemoteFiles(host);
    QVERIFY(host.script.verifyDone());
    QCOMPARE(host.files.rowCount(), 0);
    QCOMPARE(host.header, QStringLiteral("127.0.0.1/empty"));
    QVERIFY(!FtpConnection.ErrorReported);
}

void TestConnection::windowPaintsWhileSlowListingIsRead()
{
    // The server dawdles before the listing; the window must keep painting meanwhile, and
    // must not take clicks while the listing is read on the connection.
    QJsonArray chunks;
    for (int i = 0; i < 8; ++i)
        chunks.append(QStringLiteral("150-Preparing the listing\r\n"));
    chunks.append(QStringLiteral("150 Here it comes\r\n"));
    FaultServer server;
    QVERIFY(server.start(QJsonObject{
        {"pwd", "/slow"},
        {"listing", "-rw-r--r-- 1 u g 5 Jan 02 2020 one.txt\r\n"
                    "drwxr-xr-x 2 u g 4096 Jan 02 2020 dir\r\n"},
        {"rules", QJsonObject{{"LIST", QJsonArray{QJsonObject{{"chunks", chunks}}}}}}}));
    writeSite(QStringLiteral("Slow"), server.host(), QString::number(server.port()),
              QStringLiteral("user"), QStringLiteral("pw"), QString());
    RemoteTestHost host;
    host.siteName = QStringLiteral("Slow");
    QVERIFY(ConnectToSite(host));
    ListRemoteFiles(host);
    QVERIFY(host.script.verifyDone());
    QCOMPARE(rowNames(host.files), (QStringList{"dir", "one.txt"}));
    QCOMPARE(host.header, QStringLiteral("127.0.0.1/slow"));
    QVERIFY2(host.paintOnlyPumps >= 10, qPrintable(QString::number(host.paintOnlyPumps)));
}

void TestConnection::slowListingOffersCancelThatEndsIt()
{
    // One byte every 100 ms: after a couple of seconds the dialog offers Cancel, a press ends
    // the listing at once, and the connection is still good for the next one.
    FaultServer server;
    QVERIFY(server.start(QJsonObject{
        {"pwd", "/slow"},
        {"listing", "-rw-r--r-- 1 u g 5 Jan 02 2020 one.txt\r\n"},
        {"rules",
         QJsonObject{{"LIST", QJsonArray{QJsonObject{{"trickle", 0.1}}, QJsonObject{}}}}}}));
    writeSite(QStringLiteral("Slow"), server.host(), QString::number(server.port()),
              QStringLiteral("user"), QStringLiteral("pw"), QString());
    RemoteTestHost host;
    host.siteName = QStringLiteral("Slow");
    QVERIFY(ConnectToSite(host));
    QElapsedTimer clock;
    qint64 pressedAt = -1;
    host.onCancelPump = [&] {
        if (pressedAt < 0 && host.cancelPumps == 20) {
            CancelRequested = true; // what the dialog's Cancel button does
            pressedAt = clock.elapsed();
        }
    };
    clock.start();
    ListRemoteFiles(host);
    const qint64 returnedAt = clock.elapsed();
    QCOMPARE(host.progressLog.cancelOffers, 1);
    QVERIFY(pressedAt >= 2000);
    QVERIFY2(returnedAt - pressedAt < 100, qPrintable(QString::number(returnedAt - pressedAt)));
    QCOMPARE(host.files.rowCount(), 0); // never a part of the listing
    QCOMPARE(host.header, QStringLiteral("127.0.0.1/slow"));
    QVERIFY(CancelRequested);
    QVERIFY(!host.progressLog.visible);
    // The flag left set does not end the next listing before it starts.
    ListRemoteFiles(host);
    QCOMPARE(rowNames(host.files), QStringList{"one.txt"});
    QVERIFY(host.script.verifyDone());
    CancelRequested = false;
}

void TestConnection::remoteCommandsMoveAndChangeTheTree()
{
    writeGoodSite(QStringLiteral("/sub/folder"));
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    QVERIFY(ConnectToSite(host));
    RemoteNewFolder(host, QStringLiteral("made here"));
    QCOMPARE(host.header, QStringLiteral("127.0.0.1/sub/folder"));
    QCOMPARE(rowNames(host.files), QStringList{"made here"});
    RemoteEnterFolder(host, "made here");
    QCOMPARE(host.header, QStringLiteral("127.0.0.1/sub/folder/made here"));
    QCOMPARE(host.files.rowCount(), 0);
    RemoteUpOneLevel(host);
    QCOMPARE(host.header, QStringLiteral("127.0.0.1/sub/folder"));
    QVERIFY(RemoteRename(host, "made here", QStringLiteral("renamed")));
    QVERIFY(QDir(m_root.filePath(QStringLiteral("sub/folder/renamed"))).exists());
    QVERIFY(QDir(m_root.path()).rmdir(QStringLiteral("sub/folder/renamed")));
    RemoteUpOneLevel(host);
    QCOMPARE(host.header, QStringLiteral("127.0.0.1/sub"));
    QVERIFY(host.script.verifyDone());
    QVERIFY(!FtpConnection.ErrorReported);
}

void TestConnection::remoteCommandsReportFailures()
{
    writeGoodSite(QStringLiteral("/sub"));
    RemoteTestHost host;
    host.siteName = QStringLiteral("Test site");
    QVERIFY(ConnectToSite(host));
    const QString code = QString::number(ERROR_INTERNET_EXTENDED_ERROR);
    // Each box names the folder or file and gives the server's refusal.
    const QString refused = QStringLiteral("\nThe server's reply: 550");
    host.script
        .expectMessageStartingWith(
            QStringLiteral("FTP Set Current Directory Failed.  (%1)\nFolder \"a.txt\"").arg(code) +
            refused)
        .expectMessageStartingWith(
            QStringLiteral("FTP Create Directory Failed.  (%1)\nFolder \"folder\"").arg(code) +
            refused)
        .expectMessageStartingWith(
            QStringLiteral("FTP Rename Failed.  (%1)\n\"no such file\" to \"x\"").arg(code) +
            refused);
    RemoteEnterFolder(host, "a.txt");
    RemoteNewFolder(host, QStringLiteral("folder"));
    QVERIFY(!RemoteRename(host, "no such file", QStringLiteral("x")));
    QVERIFY(host.script.verifyDone());
    // None of the failures listed anything anew.
    QVERIFY(!host.progressLog.shown.contains(
        QStringLiteral("Retrieving Remote Directory File List|Retrieving|00")));
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
