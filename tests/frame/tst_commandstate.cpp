#include "app/CommandState.h"

#include <QTest>

// The enabling rules and the activation rule of the main window, without any window.
class TestCommandState : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void enablingTable_data();
    void enablingTable();
    void toolbarAndActionMenuDifferWithoutConnection();
    void activation_data();
    void activation();
};

namespace {

CommandState state(bool connect, bool disconnect, bool toolbarPane, bool actionMenuPane,
                   bool upload, bool download, bool remotePopup, bool localPopup, bool drops)
{
    return {connect,  disconnect,  toolbarPane, actionMenuPane, upload,
            download, remotePopup, localPopup,  drops};
}

} // namespace

void TestCommandState::enablingTable_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("local");
    QTest::addColumn<bool>("remote");
    QTest::addColumn<CommandState>("expected");
    //                                                  conn  disc  tbar  menu  up    down  rpop
    //                                                  lpop  drop
    QTest::newRow("offline, local active")
        << false << true << false
        << state(true, false, true, false, false, false, false, true, false);
    QTest::newRow("offline, remote active")
        << false << false << true
        << state(true, false, false, false, false, false, false, false, false);
    QTest::newRow("offline, neither")
        << false << false << false
        << state(true, false, false, false, false, false, false, false, false);
    QTest::newRow("online, local active")
        << true << true << false << state(false, true, true, true, true, false, false, true, true);
    QTest::newRow("online, remote active")
        << true << false << true << state(false, true, true, true, false, true, true, false, true);
    QTest::newRow("online, neither")
        << true << false << false
        << state(false, true, false, false, false, false, false, false, true);
}

void TestCommandState::enablingTable()
{
    QFETCH(bool, connected);
    QFETCH(bool, local);
    QFETCH(bool, remote);
    QFETCH(CommandState, expected);
    const CommandState got = commandStateFor(connected, local, remote);
    QCOMPARE(got.connect, expected.connect);
    QCOMPARE(got.disconnect, expected.disconnect);
    QCOMPARE(got.toolbarPane, expected.toolbarPane);
    QCOMPARE(got.actionMenuPane, expected.actionMenuPane);
    QCOMPARE(got.upload, expected.upload);
    QCOMPARE(got.download, expected.download);
    QCOMPARE(got.remotePopup, expected.remotePopup);
    QCOMPARE(got.localPopup, expected.localPopup);
    QCOMPARE(got.acceptShellDrops, expected.acceptShellDrops);
}

void TestCommandState::toolbarAndActionMenuDifferWithoutConnection()
{
    // The local pane can be managed from the toolbar before connecting, not from the menu.
    const CommandState s = commandStateFor(false, true, false);
    QVERIFY(s.toolbarPane);
    QVERIFY(!s.actionMenuPane);
    QVERIFY(!s.upload);
    QVERIFY(!s.acceptShellDrops);
}

using Target = MainActivation::FocusTarget;

void TestCommandState::activation_data()
{
    QTest::addColumn<QList<Target>>("moves");
    QTest::addColumn<QList<bool>>("runs");
    QTest::newRow("first activation") << QList<Target>{Target::MainWindow} << QList<bool>{true};
    QTest::newRow("first activation after a dialog")
        << QList<Target>{Target::OtherOwnWindow, Target::MainWindow} << QList<bool>{false, true};
    QTest::newRow("back from another application")
        << QList<Target>{Target::MainWindow, Target::Nothing, Target::MainWindow}
        << QList<bool>{true, false, false};
    QTest::newRow("back from a dialog")
        << QList<Target>{Target::MainWindow, Target::OtherOwnWindow, Target::MainWindow}
        << QList<bool>{true, false, true};
    QTest::newRow("dialog closed through a moment without focus")
        << QList<Target>{Target::MainWindow, Target::OtherOwnWindow, Target::Nothing,
                         Target::MainWindow}
        << QList<bool>{true, false, false, true};
    QTest::newRow("only once per return")
        << QList<Target>{Target::MainWindow, Target::OtherOwnWindow, Target::MainWindow,
                         Target::Nothing, Target::MainWindow}
        << QList<bool>{true, false, true, false, false};
}

void TestCommandState::activation()
{
    QFETCH(QList<Target>, moves);
    QFETCH(QList<bool>, runs);
    MainActivation activation;
    for (qsizetype i = 0; i < moves.size(); ++i)
        QCOMPARE(activation.focusMovedTo(moves[i]), runs[i]);
}

QTEST_GUILESS_MAIN(TestCommandState)
#include "tst_commandstate.moc"
