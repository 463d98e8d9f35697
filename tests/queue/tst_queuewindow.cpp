#include "../transfer/TransferTestHost.h"

#include "ScriptedPrompter.h"
#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "common/FileListModel.h"
#include "faultserver.h"
#include "ftp/FtpConnection.h"
#include "queue/TransferQueue.h"
#include "queue/ui/BackgroundTransfers.h"
#include "queue/ui/QueuePane.h"
#include "remote/FtpServerSession.h"
#include "sites/ProfileStore.h"
#include "transfer/ui/MsgForm.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>

// The main window with transfers in the background: Download queues its rows and returns,
// the file-exists question is asked while planning with its answer for the rest honoured
// across the batch, and with the option off the window moves the bytes itself as before.
class QueueWindowTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void downloadQueuesOrRunsInTheWindow_data();
    void downloadQueuesOrRunsInTheWindow();
    void failedItemShowsItsLogLines();

private:
    QTemporaryDir m_home;
    QTemporaryDir m_serverRoot;
    FtpServerFixture m_server;
    TestConnection m_connection;
};

void QueueWindowTest::initTestCase()
{
    qputenv("ZULFTP_HOME", m_home.path().toUtf8());
    QVERIFY2(m_server.start(m_serverRoot.path()), qPrintable(m_server.errorOutput()));
    SiteProfile site;
    site.siteName = "Test";
    site.host = "127.0.0.1";
    site.port = QString::number(m_server.port());
    site.userID = "user";
    site.password = "secret";
    QVERIFY(ProfileStore(ProfileFilePath()).write(site));
}

void QueueWindowTest::init()
{
    Settings = {};
    FtpConnection = TFtpConnection();
}

void QueueWindowTest::cleanup()
{
    m_connection.close();
    FtpConnection = TFtpConnection();
}

void QueueWindowTest::downloadQueuesOrRunsInTheWindow_data()
{
    QTest::addColumn<bool>("background");
    QTest::newRow("in the background") << true;
    QTest::newRow("option off: in the window") << false;
}

void QueueWindowTest::downloadQueuesOrRunsInTheWindow()
{
    QFETCH(bool, background);
    const QByteArray data = PatternBytes(300000);
    for (const char* name : {"a.bin", "b.bin", "c.bin"})
        QVERIFY(WriteFile(m_serverRoot.filePath(name), data));
    QTemporaryDir local;
    // Two of the three are here already: the first question's answer for the rest skips both.
    QVERIFY(WriteFile(local.filePath("a.bin"), "mine a"));
    QVERIFY(WriteFile(local.filePath("b.bin"), "mine b"));

    ScriptedPrompter prompter;
    prompter.setIgnoreBeeps(true);
    TfrmMain w(prompter);
    TfrmMsg msg(&w);
    w.setMsgForm(&msg);
    auto* queued = new BackgroundTransfers(w, local.filePath("queue-store"));
    w.setBackgroundTransfers(queued);
    w.setLocalFolder(local.path());
    // Made after the window, whose start reloads the settings.
    Settings.LastSite = "Test";
    Settings.BackgroundTransfers = background;
    QVERIFY(m_connection.open(m_server.port()));
    FtpConnection.open(
        std::make_shared<FtpServerSession>(m_connection.connection, m_connection.internet, false));
    FtpConnection.Connected = true;
    FtpConnection.ConnectedHost = "127.0.0.1";
    FtpConnection.ConnectedServer = QString("user@127.0.0.1:%1").arg(m_server.port());
    w.UpdateCommandState(true);
    w.ListRemoteFiles();
    w.RemoteFiles->selectAll();
    prompter.expectExists("The file \"a.bin\" already exists", !background,
                          ExistsAnswer{ExistsAction::Skip, true});
    QCOMPARE(queued->takes(), background);
    w.btnDownloadClick();
    if (background) {
        QVERIFY(queued->queue());
        QTRY_VERIFY_WITH_TIMEOUT(!queued->queue()->busy(), 20000);
        const QList<QueueItem> items = queued->queue()->items();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].state, QueueState::Finished);
        // The rows tell a screen reader what they are.
        const QModelIndex first = queued->pane()->QueueList->model()->index(0, 0);
        QTRY_COMPARE(first.data(Qt::AccessibleTextRole).toString(),
                     QString("Download c.bin, finished"));
        QVERIFY(queued->pane()->txtLog->toPlainText().contains("1 item(s) queued"));
    } else {
        QVERIFY(!queued->queue());
    }
    QVERIFY(prompter.verifyDone());
    QCOMPARE(ReadFile(local.filePath("c.bin")), data);
    QCOMPARE(ReadFile(local.filePath("a.bin")), QByteArray("mine a"));
    QCOMPARE(ReadFile(local.filePath("b.bin")), QByteArray("mine b"));
}

// "Show in log" (the list's key, its context menu, the button) selects the lines of the failed
// item's own try: its connection's commands and the server's refusal, not the next item's.
void QueueWindowTest::failedItemShowsItsLogLines()
{
    FaultServer server;
    QVERIFY(server.start(QJsonObject{{"files", QJsonObject{{"good.bin", "@3000"}}}}));
    QTemporaryDir local;
    TransferQueue queue(
        [&server](RemoteResult& result, QString&) {
            SessionLogon logon;
            logon.host = server.host();
            logon.port = server.port();
            logon.user = "user";
            logon.password = "secret";
            return OpenServerSession(logon, result);
        },
        "test");
    queue.setWorkerLimit(1);
    QueuePane pane;
    pane.setQueue(&queue);
    pane.show();
    QVERIFY(QTest::qWaitForWindowActive(&pane));
    QueueItem bad;
    bad.localFolder = local.path();
    bad.localName = "bad.bin";
    bad.remotePath = "/bad.bin";
    QueueItem good = bad;
    good.localName = "good.bin";
    good.remotePath = "/good.bin";
    queue.add({bad, good});
    QTRY_VERIFY_WITH_TIMEOUT(!queue.busy(), 10000);
    QTRY_VERIFY(pane.txtLog->toPlainText().contains("RETR good.bin"));
    QCOMPARE(queue.items()[0].state, QueueState::Failed);

    QVERIFY(pane.QueueList->actions().contains(pane.actQueueShowLog));
    pane.QueueList->setCurrentIndex(pane.QueueList->model()->index(0, 0));
    pane.QueueList->setFocus();
    QTest::keyClick(pane.QueueList, Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(pane.currentWidget(), pane.txtLog);
    const QString selected =
        pane.txtLog->textCursor().selectedText().replace(QChar::ParagraphSeparator, '\n');
    QVERIFY2(selected.contains("[test #1] > USER user"), qPrintable(selected));
    QVERIFY2(selected.contains("[test #1] > RETR bad.bin\n"), qPrintable(selected));
    QVERIFY2(selected.endsWith("[test #1] Download of /bad.bin failed: 550 No such file."),
             qPrintable(selected));
    QVERIFY(!selected.contains("good.bin"));
}

QTEST_MAIN(QueueWindowTest)
#include "tst_queuewindow.moc"
