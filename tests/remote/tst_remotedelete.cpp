#include "FtpServerFixture.h"
#include "RemoteTestHost.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "app/ui/PaneHeader.h"
#include "faultserver.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteDelete.h"
#include "ftp/RemoteListing.h"
#include "remote/FtpServerSession.h"
#include "transfer/ui/MsgForm.h"

#include <QJsonArray>
#include <QtTest>

// The remote Delete against a real server on loopback (links and unremovable folders made
// with symbolic links it serves), the fault server for a failing way up, and the window's
// Delete key, Open and Backspace.
class TestRemoteDelete : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start(m_root.path())); }
    void init();
    void cleanup();
    void refusalsAndFailingRowEndCommand();
    void treeGoesDepthFirstAndLinksAsLinks();
    void failureInsideTreeEndsInStartingDirectory_data();
    void failureInsideTreeEndsInStartingDirectory();
    void failedWayUpReturnsToStartByPath();
    void windowDeletesOnKeyAndOpensFolders();

private:
    QString work(const QString& name) const { return m_root.path() + "/work/" + name; }
    bool touch(const QString& name) const
    {
        return QDir().mkpath(QFileInfo(work(name)).path()) &&
               QFile(work(name)).open(QIODevice::WriteOnly);
    }
    static bool connectTo(quint16 port, const char* directory)
    {
        HINTERNET internet =
            InternetOpenA("ZULFTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        HINTERNET connection = InternetConnectA(internet, "127.0.0.1", port, "user", "secret",
                                                INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
        FtpConnection.open(std::make_shared<FtpServerSession>(connection, internet, true));
        FtpConnection.Connected = true;
        FtpConnection.ConnectedHost = "127.0.0.1";
        return FtpSetCurrentDirectoryA(connection, directory);
    }
    static QString serverDirectory()
    {
        char buffer[512] = {};
        DWORD length = sizeof buffer;
        FtpGetCurrentDirectoryA(FtpConnectionHandle(FtpConnection.session()), buffer, &length);
        return QString::fromUtf8(buffer);
    }
    static FileListRow namedRow(const QString& name, bool folder)
    {
        FileListRow row;
        row.name = name;
        row.imageIndex = folder ? kFolderImage : kFileImage;
        return row;
    }
    static std::vector<FileListRow> rows(const FileListModel& model, const QStringList& names)
    {
        std::vector<FileListRow> picked;
        for (const QString& name : names)
            for (const FileListRow& row : model.rows())
                if (row.name == name)
                    picked.push_back(row);
        return picked;
    }
    // Lists /work, then answers Yes to the question and expects one failure box.
    void listAndExpectFailure(RemoteTestHost& host)
    {
        QVERIFY(connectTo(m_server.port(), "/work"));
        ListRemoteFiles(host);
        host.progressLog.shown.clear();
        host.script.expectBeep(MB_ICONQUESTION).expectYesNoStartingWith(kDeleteQuestion, true);
        host.script.expectMessageStartingWith("FTP Delete Failed.  (12003)");
    }

    QTemporaryDir m_root;
    QTemporaryDir m_outside;
    FtpServerFixture m_server;
};

void TestRemoteDelete::init()
{
    QDir(work(".")).removeRecursively();
    QVERIFY(touch("keep/k.txt") && touch("a.txt") && touch("b.txt") && touch("c.txt"));
    LocalFocused = RemoteFocused = RenameInProgress = false;
}

void TestRemoteDelete::cleanup()
{
    FtpConnection = TFtpConnection();
}

void TestRemoteDelete::refusalsAndFailingRowEndCommand()
{
    RemoteTestHost host;
    host.script.expectBeep(MB_ICONEXCLAMATION).expectMessage("No files were selected.");
    RemoteDeleteSelection(host, {});
    host.script.expectBeep(MB_ICONQUESTION).expectYesNoStartingWith(kDeleteQuestion, false);
    RemoteDeleteSelection(host, {namedRow("a.txt", false)});
    QVERIFY(host.progressLog.shown.isEmpty() && host.hourglassCount == 0);

    listAndExpectFailure(host);
    QVERIFY(QFile::remove(work("b.txt")));
    RemoteDeleteSelection(host, rows(host.files, {"a.txt", "b.txt", "c.txt"}));
    QVERIFY(host.script.verifyDone());
    QVERIFY(host.script.seen().last().detail.contains("\nThe server's reply: 550"));
    QVERIFY(!QFile::exists(work("a.txt")) && QFile::exists(work("c.txt")));
    QCOMPARE(host.files.rowCount(), 4); // not rebuilt
    QCOMPARE(host.progressLog.shown,
             (QStringList{"Deleting a.txt|Deleting|10", "Deleting b.txt|Deleting|10"}));
    QVERIFY(!host.progressLog.visible && host.cursor == RemoteHost::Cursor::Default);
}

void TestRemoteDelete::treeGoesDepthFirstAndLinksAsLinks()
{
    QVERIFY(touch("tree/with blank.txt") && touch("tree/deep/one/two/f.txt"));
    QVERIFY(QDir().mkpath(work("tree/empty")));
    // The server lists a link to a folder as a folder, inside the tree and beside it.
    QVERIFY(QFile::link("../keep", work("tree/to-keep")));
    QVERIFY(QFile::link("../keep/k.txt", work("tree/to-k.txt")));
    QVERIFY(QFile::link("keep", work("top-link")));
    QVERIFY(connectTo(m_server.port(), "/work"));
    RemoteTestHost host;
    ListRemoteFiles(host);
    host.script.expectBeep(MB_ICONQUESTION).expectYesNoStartingWith(kDeleteQuestion, true);
    RemoteDeleteSelection(host, rows(host.files, {"top-link", "tree", "a.txt", "b.txt", "c.txt"}));
    QVERIFY(host.script.verifyDone());
    QVERIFY(!QFileInfo::exists(work("tree")) && !QFileInfo::exists(work("top-link")));
    QVERIFY(QFile::exists(work("keep/k.txt")));
    QCOMPARE(serverDirectory(), QStringLiteral("/work"));
    QCOMPARE(host.files.rowCount(), 1); // rebuilt: keep
    QVERIFY(host.progressLog.shown.contains("Deleting tree|Deleting|10"));
    QVERIFY(!host.progressLog.visible && host.cursor == RemoteHost::Cursor::Default);
}

void TestRemoteDelete::failureInsideTreeEndsInStartingDirectory_data()
{
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("kept");
    // A link to a folder outside the server's root: listed as a folder, refused when entered.
    QTest::newRow("folder that can't be entered") << "outside"
                                                  << "outside";
    // A dangling link, left out of the listing, keeps the subfolder from being removed; a
    // delete that lists the tree afresh after each subfolder would find it for ever.
    QTest::newRow("subfolder that can't be removed") << "tree"
                                                     << "tree/sub/ghost";
}

void TestRemoteDelete::failureInsideTreeEndsInStartingDirectory()
{
    QFETCH(QString, row);
    QFETCH(QString, kept);
    const QString precious = m_outside.filePath("precious.txt");
    QVERIFY(QFile::link(m_outside.path(), work("outside")) &&
            QFile(precious).open(QFile::WriteOnly));
    QVERIFY(QDir().mkpath(work("tree/sub")) && QFile::link("nowhere", work("tree/sub/ghost")));
    RemoteTestHost host;
    listAndExpectFailure(host);
    QVERIFY(rows(host.files, {row}).at(0).isFolder());
    RemoteDeleteSelection(host, rows(host.files, {row}));
    QVERIFY(host.script.verifyDone());
    QVERIFY(QFileInfo(work(kept)).isSymLink() && QFile::exists(precious));
    QCOMPARE(serverDirectory(), QStringLiteral("/work"));
}

void TestRemoteDelete::failedWayUpReturnsToStartByPath()
{
    const auto reply = [](const char* text) { return QJsonObject{{"reply", text}}; };
    FaultServer server;
    QVERIFY(server.start(QJsonObject{
        {"pwd", "/start"},
        {"followCwd", true},
        {"listing", "drwxr-xr-x 2 u g 0 Jan 01 2020 .\r\ndrwxr-xr-x 2 u g 0 Jan 01 2020 ..\r\n"
                    "-rw-r--r-- 1 u g 3 Jan 01 2020 f.txt\r\n"},
        {"rules", QJsonObject{{"DELE", QJsonArray{reply("550 Is a folder."), QJsonObject{}}},
                              {"CDUP", QJsonArray{reply("550 No way up.")}}}}}));
    QVERIFY(connectTo(server.port(), "/start"));
    const qsizetype before = server.received().size();
    RemoteTestHost host;
    host.script.expectBeep(MB_ICONQUESTION).expectYesNoStartingWith(kDeleteQuestion, true);
    host.script.expectMessageStartingWith("FTP Delete Failed.  (12003)");
    RemoteDeleteSelection(host, {namedRow("sub", true)});
    QVERIFY(host.script.verifyDone());
    QCOMPARE(host.script.seen().last().detail,
             QStringLiteral("The server refused the request.\nThe server's reply: 550 No way up."));
    QStringList commands = server.received().mid(before);
    commands.removeIf(
        [](const QString& line) { return line.contains(QRegularExpression("^(EPSV|PASV|TYPE)")); });
    // "." and ".." are never entered; nothing is removed after the way up failed.
    QCOMPARE(commands, (QStringList{"PWD", "DELE sub", "CWD sub", "PWD", "LIST", "DELE f.txt",
                                    "CDUP", "CWD /start"}));
}

void TestRemoteDelete::windowDeletesOnKeyAndOpensFolders()
{
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    TfrmMsg msg(&w);
    w.setMsgForm(&msg);
    QVERIFY(connectTo(m_server.port(), "/work"));
    w.ListRemoteFiles();
    w.RemoteFilesEnter();
    const auto focus = [&](const QString& name) {
        for (int i = 0; i < w.RemoteFilesModel->rowCount(); ++i)
            if (w.RemoteFilesModel->row(i).name == name)
                w.RemoteFiles->setCurrentIndex(w.RemoteFilesModel->index(i, 0));
    };
    focus("a.txt");
    prompter.expectBeep(MB_ICONQUESTION).expectYesNoStartingWith(kDeleteQuestion, true);
    QTest::keyClick(w.RemoteFiles, Qt::Key_Delete);
    QVERIFY(!QFile::exists(work("a.txt")));
    QCOMPARE(w.RemoteFilesModel->rowCount(), 3);

    focus("keep");
    w.btnOpenClick();
    QVERIFY(w.RemoteHeader->text().endsWith("/work/keep"));
    FtpConnection.Connected = false;
    QTest::keyClick(w.RemoteFiles, Qt::Key_Backspace);
    QCOMPARE(serverDirectory(), QStringLiteral("/work/keep"));
    QVERIFY(prompter.verifyDone() && !msg.isVisible());
}

QTEST_MAIN(TestRemoteDelete)
#include "tst_remotedelete.moc"
