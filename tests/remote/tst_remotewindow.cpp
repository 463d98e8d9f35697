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
#include "sites/ProfileStore.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QJsonArray>
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
    if (FtpConnection.ConnectionHandle)
        InternetCloseHandle(FtpConnection.ConnectionHandle);
    if (FtpConnection.InternetHandle)
        InternetCloseHandle(FtpConnection.InternetHandle);
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
    QVERIFY(!FtpConnection.ConnectionHandle && !FtpConnection.InternetHandle);
    QCOMPARE(w.statusText(1), QStringLiteral("Not Connected"));
    QVERIFY(w.btnConnect->isEnabled() && !w.btnDisconnect->isEnabled());
    QCOMPARE(w.RemoteFilesModel->rowCount(), 0);
    QCOMPARE(w.RemoteHeader->text(), QString());
    QCOMPARE(QDir(local.path()).entryList(QDir::Files), QStringList());
}

QTEST_MAIN(TestRemoteWindow)
#include "tst_remotewindow.moc"
