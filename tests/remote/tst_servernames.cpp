#include "ScriptedPrompter.h"
#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "faultserver.h"
#include "ftp/FileListModel.h"
#include "ftp/FtpConnection.h"
#include "ftp/SortState.h"
#include "sites/ProfileStore.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

// Names that are not UTF-8: the server's own bytes must reach the server again in every
// command, however the name is shown.
class TestServerNames : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void everyCommandSendsTheListedBytes();

private:
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

void TestServerNames::initTestCase()
{
    qputenv("ZULFTP_HOME", m_home.path().toUtf8());
}

void TestServerNames::init()
{
    Settings = {};
    RemoteSort = 1;
    FtpConnection = TFtpConnection();
}

void TestServerNames::cleanup()
{
    if (FtpConnection.ConnectionHandle)
        InternetCloseHandle(FtpConnection.ConnectionHandle);
    if (FtpConnection.InternetHandle)
        InternetCloseHandle(FtpConnection.InternetHandle);
    FtpConnection = TFtpConnection();
}

void TestServerNames::everyCommandSendsTheListedBytes()
{
    // "\xff.txt" is not UTF-8; "\xef\xbf\xbd.txt" is the UTF-8 of U+FFFD, the character a
    // plain UTF-8 reading shows for \xff. A folder "d\xe9" holds "\xe9t\xe9.txt".
    FaultServer server;
    QVERIFY(server.start(QJsonObject{
        {"latin1", true},
        {"listings", QJsonArray{listLine(false, "\xff.txt") + listLine(false, "\xef\xbf\xbd.txt") +
                                    listLine(true, "d\xe9"),
                                listLine(false, "\xe9t\xe9.txt")}},
        {"files", QJsonObject{{bytes("\xff.txt"), "ff!\n"},
                              {bytes("\xef\xbf\xbd.txt"), "fffd"},
                              {bytes("\xe9t\xe9.txt"), "inner"}}},
        {"rules", QJsonObject{{"RNTO", QJsonArray{QJsonObject{{"reply", "250 Renamed."}},
                                                  QJsonObject{{"reply", "553 Refused."}}}}}}}));
    QVERIFY(ProfileStore(ProfileFilePath())
                .write(SiteProfile{"Names", server.host(), QString::number(server.port()), "user",
                                   "pw", QString()}));
    QTemporaryDir local;
    ScriptedPrompter prompter;
    prompter.setIgnoreBeeps(true);
    TfrmMain w(prompter);
    Settings.LastSite = QStringLiteral("Names");
    w.setLocalFolder(local.path());
    w.btnConnectClick();
    QVERIFY2(FtpConnection.Connected, qPrintable(prompter.seen().value(0).text));

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
    prompter.expectMessage(
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

QTEST_MAIN(TestServerNames)
#include "tst_servernames.moc"
