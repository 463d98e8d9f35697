#include "ScriptedPrompter.h"
#include "app/CommandState.h"
#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "app/ui/PaneHeader.h"
#include "common/FileListModel.h"
#include "common/SortState.h"
#include "faultserver.h"
#include "ftp/FtpConnection.h"
#include "registry.h"
#include "sites/ProfileStore.h"
#include "wininet.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

// The remote commands of the main window against a misbehaving server: names that are not
// UTF-8, listings that fail and a server that goes away.
class TestRemoteWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void everyCommandSendsTheListedBytes();
    void lostServerEndsInDisconnectedAfterOneBox_data();
    void lostServerEndsInDisconnectedAfterOneBox();
    void quickConnectStoresNoSiteAndNoPassword_data();
    void quickConnectStoresNoSiteAndNoPassword();
    void sitePickerKeepsTitleWithConnection_data();
    void sitePickerKeepsTitleWithConnection();
    void refreshAsksWhereOnlyAfterMoving_data();
    void refreshAsksWhereOnlyAfterMoving();

private:
    // Connects `w` to `server` through a stored site, as the Connect button does.
    static void connectTo(TfrmMain& w, const FaultServer& server);

    QTemporaryDir m_home;
};

namespace {

// The fault server's log and scripts show each byte as the Latin-1 character of its value.
QString bytes(const char* text)
{
    return QString::fromLatin1(text);
}

QString listLine(bool folder, const char* name)
{
    return (folder ? QStringLiteral("drwxr-xr-x 2 u g 4096")
                   : QStringLiteral("-rw-r--r-- 1 u g 4")) +
           QStringLiteral(" Jan 02 2020 ") + bytes(name) + QStringLiteral("\r\n");
}

int rowNamed(const FileListModel& model, const QString& name)
{
    for (int i = 0; i < model.rowCount(); ++i) {
        if (model.row(i).name == name)
            return i;
    }
    return -1;
}

void selectRows(TfrmMain& w, const QList<int>& rows)
{
    QItemSelectionModel* selection = w.RemoteFiles->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(w.RemoteFilesModel->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

void TestRemoteWindow::initTestCase()
{
    qputenv("ZULFTP_HOME", m_home.path().toUtf8());
}

void TestRemoteWindow::connectTo(TfrmMain& w, const FaultServer& server)
{
    QVERIFY(ProfileStore(ProfileFilePath())
                .write(SiteProfile{"Site", server.host(), QString::number(server.port()), "user",
                                   "pw", QString()}));
    Settings.LastSite = QStringLiteral("Site");
    w.btnConnectClick();
    QVERIFY(FtpConnection.Connected);
}

void TestRemoteWindow::init()
{
    Settings = {};
    LocalFocused = false;
    RemoteFocused = false;
    RemoteSort = 1;
    FtpConnection = TFtpConnection();
}

void TestRemoteWindow::cleanup()
{
    FtpConnection = TFtpConnection();
}

void TestRemoteWindow::everyCommandSendsTheListedBytes()
{
    // "\xff.txt" is not UTF-8; "\xef\xbf\xbd.txt" is the UTF-8 of U+FFFD, the character a
    // plain UTF-8 reading shows for \xff. A folder "d\xe9" holds "\xe9t\xe9.txt".
    FaultServer server;
    QVERIFY(server.start(QJsonObject{
        {"latin1", true},
        {"followCwd", true},
        {"listings", QJsonArray{listLine(false, "\xff.txt") + listLine(false, "\xef\xbf\xbd.txt") +
                                    listLine(true, "d\xe9"),
                                listLine(false, "\xe9t\xe9.txt")}},
        {"files", QJsonObject{{bytes("\xff.txt"), "ff!\n"},
                              {bytes("\xef\xbf\xbd.txt"), "fffd"},
                              {bytes("\xe9t\xe9.txt"), "inner"}}},
        {"rules", QJsonObject{{"RNTO", QJsonArray{QJsonObject{{"reply", "250 Renamed."}},
                                                  QJsonObject{{"reply", "553 Refused."}}}}}}}));
    QTemporaryDir local;
    ScriptedPrompter prompter;
    prompter.setIgnoreBeeps(true);
    TfrmMain w(prompter);
    w.setLocalFolder(local.path());
    connectTo(w, server);

    // Shown apart: the byte that is not UTF-8 reads as its Latin-1 character.
    const QString ff = QStringLiteral("\u00ff.txt");
    const QString fffd = QStringLiteral("\ufffd.txt");
    const QString folder = QStringLiteral("d\u00e9");
    QCOMPARE(w.RemoteFilesModel->rowCount(), 3);
    QCOMPARE(w.RemoteFilesModel->row(rowNamed(*w.RemoteFilesModel, ff)).serverName(),
             QByteArray("\xff.txt"));

    // Downloading both fetches each one once, into two local files.
    selectRows(w, {rowNamed(*w.RemoteFilesModel, ff), rowNamed(*w.RemoteFilesModel, fffd)});
    w.btnDownloadClick();
    QCOMPARE(readFile(local.filePath(ff)), QByteArray("ff!\n"));
    QCOMPARE(readFile(local.filePath(fffd)), QByteArray("fffd"));

    // A rename names the entry by its bytes; a refused one leaves the row as it was.
    QString accepted = QStringLiteral("plain.txt");
    w.RemoteFilesEdited(rowNamed(*w.RemoteFilesModel, ff), accepted);
    const int renamed = rowNamed(*w.RemoteFilesModel, QStringLiteral("plain.txt"));
    QVERIFY(renamed >= 0);
    QCOMPARE(w.RemoteFilesModel->row(renamed).serverName(), QByteArray("plain.txt"));
    prompter.expectMessageStartingWith(
        QStringLiteral("FTP Rename Failed.  (%1)").arg(ERROR_INTERNET_EXTENDED_ERROR));
    accepted = QStringLiteral("other.txt");
    w.RemoteFilesEdited(rowNamed(*w.RemoteFilesModel, fffd), accepted);
    QVERIFY(rowNamed(*w.RemoteFilesModel, fffd) >= 0);

    // A folder download and entering the folder send its bytes too.
    selectRows(w, {rowNamed(*w.RemoteFilesModel, folder)});
    w.btnDownloadClick();
    QCOMPARE(readFile(local.filePath(folder + QStringLiteral("/\u00e9t\u00e9.txt"))),
             QByteArray("inner"));
    selectRows(w, {rowNamed(*w.RemoteFilesModel, folder)});
    w.RemoteFilesDblClick();
    QVERIFY(prompter.verifyDone());

    QStringList sent;
    for (const QString& line : server.received()) {
        if (QRegularExpression(QStringLiteral("^(RETR|RNFR|RNTO|CWD) ")).match(line).hasMatch())
            sent << line;
    }
    QCOMPARE(
        sent,
        (QStringList{bytes("RETR \xff.txt"), bytes("RETR \xef\xbf\xbd.txt"), bytes("RNFR \xff.txt"),
                     "RNTO plain.txt", bytes("RNFR \xef\xbf\xbd.txt"), "RNTO other.txt",
                     bytes("CWD d\xe9"), bytes("RETR \xe9t\xe9.txt"), bytes("CWD d\xe9")}));
}

void TestRemoteWindow::lostServerEndsInDisconnectedAfterOneBox_data()
{
    QTest::addColumn<bool>("refresh");
    QTest::newRow("Refresh") << true;
    QTest::newRow("Download of two files") << false;
}

void TestRemoteWindow::lostServerEndsInDisconnectedAfterOneBox()
{
    QFETCH(bool, refresh);
    FaultServer server;
    QVERIFY(server.start(QJsonObject{
        {"listing", listLine(false, "a.txt") + listLine(false, "b.txt")},
        {"files", QJsonObject{{"a.txt", "a"}, {"b.txt", "b"}}},
        {"rules",
         QJsonObject{{"LIST", QJsonArray{QJsonObject{}, QJsonObject{{"reply", "550 No access."}},
                                         QJsonObject{}}}}}}));
    QTemporaryDir local;
    ScriptedPrompter prompter;
    prompter.setIgnoreBeeps(true);
    TfrmMain w(prompter);
    w.setLocalFolder(local.path());
    connectTo(w, server);
    RemoteFocused = true;

    // A refused listing is a failure, not an empty folder; the connection stays.
    prompter.expectMessageStartingWith(
        QStringLiteral("FTP Directory Listing Failed.  (%1)").arg(ERROR_INTERNET_EXTENDED_ERROR));
    w.btnRefreshClick();
    QVERIFY(prompter.verifyDone());
    QCOMPARE(prompter.seen().last().detail,
             QStringLiteral("The server refused the request.\nThe server's reply: 550 No access."));
    QVERIFY2(prompter.seen().last().text.contains(QStringLiteral("Folder \"/\"")),
             qPrintable(prompter.seen().last().text));
    QVERIFY(FtpConnection.Connected);
    w.btnRefreshClick();
    QCOMPARE(w.RemoteFilesModel->rowCount(), 2);

    server.stop();
    prompter.expectMessageStartingWith(QStringLiteral("The connection to the server was lost.  ("));
    if (refresh) {
        w.btnRefreshClick();
    } else {
        w.RemoteFiles->selectAll();
        w.btnDownloadClick();
    }
    QVERIFY(prompter.verifyDone());
    QVERIFY(!FtpConnection.Connected);
    QVERIFY(!FtpConnection.isOpen());
    QCOMPARE(w.statusText(1), QStringLiteral("Not Connected"));
    QVERIFY(w.btnConnect->isEnabled() && !w.btnDisconnect->isEnabled());
    QCOMPARE(w.RemoteFilesModel->rowCount(), 0);
    QCOMPARE(w.RemoteHeader->text(), QString());
    QCOMPARE(QDir(local.path()).entryList(QDir::Files), QStringList());
}

void TestRemoteWindow::quickConnectStoresNoSiteAndNoPassword_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");        // "live": the test server's; "closed": nobody listens
    QTest::addColumn<QStringList>("boxSays"); // empty: it connects
    QTest::newRow("reaches the server") << "127.0.0.1"
                                        << "live" << QStringList();
    QTest::newRow("wrong host named with its port")
        << "127.0.0.2"
        << "closed" << QStringList{"FTP Server Connection Failed", "Server 127.0.0.2, port %1"};
    QTest::newRow("no host") << "  "
                             << "live" << QStringList{"Enter the name or address"};
    QTest::newRow("port out of range") << "127.0.0.1"
                                       << "70000" << QStringList{"'70000' is not a port number"};
}

void TestRemoteWindow::quickConnectStoresNoSiteAndNoPassword()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QStringList, boxSays);
    FaultServer server;
    QVERIFY(server.start(QJsonObject{{"listing", listLine(false, "old.txt")}}));
    quint16 closed = 0;
    {
        FaultServer gone;
        QVERIFY(gone.start(QJsonObject{}));
        closed = gone.port();
    }
    const QString portText = port == "live"     ? QString::number(server.port())
                             : port == "closed" ? QString::number(closed)
                                                : port;
    QFile::remove(ProfileFilePath());
    QFile::remove(QString::fromStdString(RegistryFilePath()));
    QTemporaryDir local;
    ScriptedPrompter prompter;
    prompter.setIgnoreBeeps(true);
    TfrmMain w(prompter);
    w.setLocalFolder(local.path());
    w.cboQuickHost->setEditText(host);
    w.txtQuickUser->setText("user");
    w.txtQuickPassword->setText("secret-pw");
    w.txtQuickPort->setText(portText);
    // "Always" to plain FTP has no site to be kept in.
    if (boxSays.isEmpty())
        prompter.expectPlainFtp(false, PlainFtpAnswer::AllowAlways);
    else
        prompter.expectMessageStartingWith(QString());
    w.btnQuickConnect->click();
    QVERIFY(prompter.verifyDone());

    QVERIFY(!QFile::exists(ProfileFilePath()));
    QVERIFY(!readFile(QString::fromStdString(RegistryFilePath())).contains("secret-pw"));
    if (!boxSays.isEmpty()) {
        const QString text = prompter.seen().last().text;
        for (const QString& part : boxSays)
            QVERIFY2(text.contains(part.arg(portText)), qPrintable(text));
        QVERIFY(!FtpConnection.Connected);
        QVERIFY(Settings.QuickConnectRecent.isEmpty());
        return;
    }
    QVERIFY(FtpConnection.Connected);
    QVERIFY(server.received().contains("PASS secret-pw"));
    QCOMPARE(w.windowTitle(), "ZUL-FTP - 127.0.0.1:" + portText);
    QCOMPARE(w.statusText(0), "127.0.0.1:" + portText);
    // A year-only listing date shows as the date alone.
    QCOMPARE(w.RemoteFilesModel->row(0).modifiedText,
             QDate(2020, 1, 2).toString(QLocale().dateFormat(QLocale::ShortFormat)));
    // Remembered without its password, offered again, and read back at the next start.
    const QList<QuickConnectEntry> recent{{"127.0.0.1", "user", portText.toInt()}};
    QCOMPARE(Settings.QuickConnectRecent, recent);
    QCOMPARE(w.cboQuickHost->count(), 1);
    Settings = {};
    LoadSettings(w, prompter);
    QCOMPARE(Settings.QuickConnectRecent, recent);
}

void TestRemoteWindow::sitePickerKeepsTitleWithConnection_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("disconnect"); // the answer to the question while connected
    QTest::addColumn<QString>("current"); // the current site afterwards
    QTest::newRow("not connected") << false << false << "beta";
    QTest::newRow("connected, stays") << true << false << "Alpha";
    QTest::newRow("connected, leaves") << true << true << "beta";
}

void TestRemoteWindow::sitePickerKeepsTitleWithConnection()
{
    QFETCH(bool, connected);
    QFETCH(bool, disconnect);
    QFETCH(QString, current);
    FaultServer server;
    QVERIFY(server.start(QJsonObject{}));
    QFile::remove(ProfileFilePath());
    QFile::remove(QString::fromStdString(RegistryFilePath()));
    const ProfileStore store(ProfileFilePath());
    for (const char* name : {"beta", "Alpha"})
        QVERIFY(store.write(SiteProfile{name, server.host(), QString::number(server.port()), "user",
                                        "pw", QString(), "none"}));
    ScriptedPrompter prompter;
    prompter.setIgnoreBeeps(true);
    QVERIFY(WriteLastSite("Alpha", prompter));
    TfrmMain w(prompter);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    if (connected)
        w.btnConnectClick();
    QCOMPARE(FtpConnection.Connected, connected);
    QCOMPARE(w.cboSites->currentText(), QStringLiteral("Alpha"));

    if (connected)
        prompter.expectYesNo(
            "You are connected to \"Alpha\". Disconnect from it and go on to \"beta\"?",
            disconnect);
    w.cboSites->setFocus();
    QTest::keyClick(w.cboSites, Qt::Key_Down);
    QVERIFY(prompter.verifyDone());
    QCOMPARE(FtpConnection.Connected, connected && !disconnect);
    QCOMPARE(Settings.LastSite, current);
    QCOMPARE(w.cboSites->currentText(), current);
    QCOMPARE(w.windowTitle(), "ZUL-FTP - " + current);
    QCOMPARE(w.statusText(0), current);
    w.close();
}

void TestRemoteWindow::refreshAsksWhereOnlyAfterMoving_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("header");
    // A refresh of the folder the server named last needs no PWD (a round trip saved on a
    // distant server); entering a folder still asks, so a link shows where it really led.
    QTest::newRow("refresh") << QStringList{"refresh", "refresh"} << QStringList{"LIST", "LIST"}
                             << "/";
    QTest::newRow("enter a link, refresh")
        << QStringList{"enter", "refresh"} << QStringList{"CWD link", "LIST", "PWD", "LIST"}
        << "/real";
}

void TestRemoteWindow::refreshAsksWhereOnlyAfterMoving()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, commands);
    QFETCH(QString, header);
    FaultServer server;
    QVERIFY(server.start(QJsonObject{
        {"tree", QJsonObject{{"/", listLine(true, "link")}, {"/real", listLine(false, "a.txt")}}},
        {"cwdTo", QJsonObject{{"/link", "/real"}}}}));
    ScriptedPrompter prompter;
    prompter.setIgnoreBeeps(true);
    TfrmMain w(prompter);
    connectTo(w, server);
    const qsizetype before = server.received().size();
    for (const QString& step : steps) {
        if (step == "enter") {
            selectRows(w, {rowNamed(*w.RemoteFilesModel, "link")});
            w.RemoteFilesDblClick();
        } else {
            w.ListRemoteFiles();
        }
    }
    QStringList sent = server.received().mid(before);
    sent.removeIf([](const QString& line) {
        return !QRegularExpression(QStringLiteral("^(CWD|PWD|LIST|MLSD)")).match(line).hasMatch();
    });
    QCOMPARE(sent, commands);
    QCOMPARE(w.RemoteHeader->text(), "127.0.0.1" + header);
    QVERIFY(prompter.verifyDone());
}

QTEST_MAIN(TestRemoteWindow)
#include "tst_remotewindow.moc"
