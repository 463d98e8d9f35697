#include "TransferTestHost.h"

#include "ScriptedPrompter.h"
#include "app/CommandState.h"
#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "app/ui/PaneHeader.h"
#include "common/FileListModel.h"
#include "editor/RemoteEdit.h"
#include "editor/ui/EditForm.h"
#include "faultserver.h"
#include "ftp/FtpConnection.h"
#include "remote/FtpServerSession.h"
#include "transfer/ui/MsgForm.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QJsonArray>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>

#include <functional>

// The remote file editor from the Open command to the closed window: the copy, the text,
// the saves to the server and to a local file, the closing question, and what is left
// behind (nothing) in the local folder and on the server.
class TestEditor : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    void shellOpened(const QUrl& url) { m_shellOpened << url.toLocalFile(); }

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void openGoesByActivePaneAndRow();
    void editAndSaveRemoteKeepsLineEnds();
    void closingAsksOnlyAfterAChange();
    void saveRemoteNeverLosesTheFile_data();
    void saveRemoteNeverLosesTheFile();
    void saveAsksBeforeOverwritingChangesOnTheServer_data();
    void saveAsksBeforeOverwritingChangesOnTheServer();
    void failedSaveKeepsTheQuestion();
    void filesTheEditorCannotKeepOpenReadOnly_data();
    void filesTheEditorCannotKeepOpenReadOnly();
    void refusedOrFailedOpeningLeavesNothing();

private:
    // The program's windows, connected to a server on `port`, the local folder the test's own.
    struct Program
    {
        explicit Program(TestEditor& test, quint16 port);
        ScriptedPrompter prompter;
        TfrmMain main{prompter};
        TfrmMsg msg{&main};
        TfrmEdit edit{prompter, &main};
        TestConnection connection;
    };
    // Runs `command` and, if it shows the editor, `step` inside the editor's modal loop; the
    // window is closed afterwards if the step left it open.
    void runEditor(Program& program, const std::function<void()>& command,
                   const std::function<void(TfrmEdit&)>& step);
    // Opens `name` (listed as `nameBytes` when given) in the editor and runs `step` there.
    void open(Program& program, const QString& name, qint64 size,
              const std::function<void(TfrmEdit&)>& step, const QByteArray& nameBytes = {});
    QStringList localEntries() const
    {
        return QDir(m_local->path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QString serverPath(const QString& name) const { return m_serverRoot.filePath(name); }

    QTemporaryDir m_home;
    QTemporaryDir m_serverRoot;
    std::unique_ptr<QTemporaryDir> m_local;
    FtpServerFixture m_server;
    bool m_stepRan = false;
    QStringList m_shellOpened;
};

TestEditor::Program::Program(TestEditor& test, quint16 port)
{
    main.setMsgForm(&msg);
    main.setEditForm(&edit);
    main.setLocalFolder(test.m_local->path());
    if (!connection.open(port))
        qFatal("cannot connect to the test server");
    FtpConnection.open(
        std::make_shared<FtpServerSession>(connection.connection, connection.internet, false));
    FtpConnection.Connected = true;
    main.UpdateCommandState(true);
}

void TestEditor::initTestCase()
{
    qputenv("ZULFTP_HOME", m_home.path().toUtf8());
    QVERIFY2(m_server.start(m_serverRoot.path()), qPrintable(m_server.errorOutput()));
}

void TestEditor::init()
{
    Settings = {};
    FtpConnection = TFtpConnection();
    CancelRequested = false;
    m_local = std::make_unique<QTemporaryDir>();
    m_stepRan = false;
    m_shellOpened.clear();
    LocalFocused = RemoteFocused = false;
}

void TestEditor::cleanup()
{
    FtpConnection = TFtpConnection();
    QVERIFY(!QApplication::overrideCursor());
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), qPrintable(widget->objectName()));
    for (const QString& name : QDir(m_serverRoot.path()).entryList(QDir::Files))
        QFile::remove(serverPath(name));
}

void TestEditor::runEditor(Program& program, const std::function<void()>& command,
                           const std::function<void(TfrmEdit&)>& step)
{
    TfrmEdit& edit = program.edit;
    const QMetaObject::Connection shown = QObject::connect(
        &edit, &TfrmEdit::formShown, &edit,
        [this, &edit, step] {
            m_stepRan = true;
            step(edit);
            if (edit.isVisible()) {
                edit.EditorChanged = false;
                edit.close();
            }
        },
        Qt::QueuedConnection);
    command();
    QObject::disconnect(shown);
}

void TestEditor::open(Program& program, const QString& name, qint64 size,
                      const std::function<void(TfrmEdit&)>& step, const QByteArray& nameBytes)
{
    FileListRow row;
    row.name = name;
    row.nameBytes = nameBytes;
    row.size = size;
    runEditor(
        program, [&] { program.main.remoteOpenFile(row); }, step);
}

void TestEditor::openGoesByActivePaneAndRow()
{
    QVERIFY(WriteFile(serverPath("sub/inner.txt"), "in"));
    QVERIFY(WriteFile(serverPath("f.txt"), "file"));
    QVERIFY(WriteFile(m_local->filePath("mine.txt"), "local"));
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "shellOpened");
    Program program(*this, m_server.port());
    TfrmMain& main = program.main;
    const auto focus = [](FileListView* list, FileListModel* model, const QString& name) {
        for (int i = 0; i < model->rowCount(); ++i) {
            if (model->row(i).name == name)
                list->setCurrentIndex(model->index(i, 0));
        }
    };
    // The local pane active: the shell opens the local file; the editor is not involved.
    main.LocalFilesEnter();
    focus(main.LocalFiles, main.LocalFilesModel, "mine.txt");
    runEditor(
        program, [&] { main.btnOpenClick(); }, [](TfrmEdit&) {});
    QCOMPARE(m_shellOpened, QStringList{m_local->filePath("mine.txt")});
    // A remote folder is entered, with no copy made; a remote file goes to the editor.
    main.LocalFilesExit();
    main.ListRemoteFiles();
    main.RemoteFilesEnter();
    focus(main.RemoteFiles, main.RemoteFilesModel, "sub");
    runEditor(
        program, [&] { main.btnOpenClick(); }, [](TfrmEdit&) {});
    QVERIFY(!m_stepRan);
    QVERIFY(main.RemoteHeader->text().endsWith("/sub"));
    QCOMPARE(localEntries(), QStringList{"mine.txt"});
    focus(main.RemoteFiles, main.RemoteFilesModel, "inner.txt");
    runEditor(
        program, [&] { main.btnOpenClick(); },
        [](TfrmEdit& edit) { QCOMPARE(edit.Editor->toPlainText(), QStringLiteral("in")); });
    QVERIFY(m_stepRan);
    QCOMPARE(localEntries(), QStringList{"mine.txt"});
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDir(serverPath("sub")).removeRecursively();
    QVERIFY(program.prompter.verifyDone());
}

void TestEditor::editAndSaveRemoteKeepsLineEnds()
{
    QVERIFY(WriteFile(serverPath("notes.txt"), "one\r\ntwo"));
    Program program(*this, m_server.port());
    open(program, "notes.txt", 8, [&](TfrmEdit& edit) {
        QCOMPARE(edit.windowTitle(), QStringLiteral("notes.txt"));
        const QRect main = program.main.frameGeometry();
        const QSize size(main.width() * 3 / 4, main.height() * 9 / 10);
        QCOMPARE(edit.size(), size);
        QCOMPARE(edit.pos(), main.topLeft() + QPoint((main.width() - size.width()) / 2,
                                                     (main.height() - size.height()) / 2));
        QStringList captions;
        for (const QAction* item : edit.mnuFile->actions())
            captions << (item->isSeparator() ? QStringLiteral("-") : item->text());
        QCOMPARE(captions, (QStringList{"&Save &Remote", "Save &Local", "-", "&Close"}));
        QCOMPARE(edit.Editor->toPlainText(), QStringLiteral("one\ntwo"));
        QVERIFY(!edit.Editor->isReadOnly());
        QVERIFY(QFile::exists(edit.TempFilePath));
        // The copy of a server's file is for this user's eyes only, in a folder others may read.
        const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        const QFileDevice::Permissions user =
            QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
        QCOMPARE(QFile::permissions(edit.TempFilePath) & ~user, ownerOnly);
        QCOMPARE(QFileInfo(edit.TempFilePath).absolutePath(), m_local->path());
        const QString copyName = QFileInfo(edit.TempFilePath).fileName();
        QVERIFY2(QRegularExpression("^zul[0-9A-F]{1,4}\\.TMP$").match(copyName).hasMatch(),
                 qPrintable(copyName));
        edit.Editor->moveCursor(QTextCursor::End);
        QTest::keyClick(edit.Editor, Qt::Key_Return);
        QTest::keyClicks(edit.Editor, "three");
        QVERIFY(edit.EditorChanged);
        // Ctrl+S stores the text on the server, as in every editor. A server file that has
        // the name the copy would travel under is not replaced on the way.
        QVERIFY(WriteFile(serverPath(copyName), "precious"));
        QApplication::setActiveWindow(&edit);
        QTest::keyClick(edit.Editor, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!edit.EditorChanged);
        QCOMPARE(ReadFile(serverPath("notes.txt")), QByteArray("one\r\ntwo\r\nthree"));
        QCOMPARE(ReadFile(serverPath(copyName)), QByteArray("precious"));
        QCOMPARE(QDir(m_serverRoot.path()).entryList(QDir::Files),
                 (QStringList{"notes.txt", copyName}));
        // Yes at the closing question saves, then closes.
        QTest::keyClicks(edit.Editor, "!");
        program.prompter.expectBeep(MB_ICONQUESTION)
            .expectYesNoCancel("This file has been changed. Do you want to save it?",
                               PromptAnswer::Yes);
        edit.close();
        QVERIFY(!edit.isVisible());
        QCOMPARE(ReadFile(serverPath("notes.txt")), QByteArray("one\r\ntwo\r\nthree!"));
    });
    QVERIFY(m_stepRan);
    QCOMPARE(localEntries(), QStringList());
    QVERIFY(program.prompter.verifyDone());
}

void TestEditor::closingAsksOnlyAfterAChange()
{
    QVERIFY(WriteFile(serverPath("a.txt"), "abc\n"));
    Program program(*this, m_server.port());
    // Moving around and a Delete at the end of the text change nothing.
    open(program, "a.txt", 4, [&](TfrmEdit& edit) {
        edit.Editor->moveCursor(QTextCursor::End);
        for (const Qt::Key key :
             {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down, Qt::Key_End, Qt::Key_Delete})
            QTest::keyClick(edit.Editor, key);
        edit.close();
        QVERIFY(!edit.isVisible());
    });
    // A typed character asks; Cancel keeps the window and the text; No closes unsaved.
    const QString question = QStringLiteral("This file has been changed. Do you want to save it?");
    program.prompter.expectBeep(MB_ICONQUESTION)
        .expectYesNoCancel(question, PromptAnswer::Cancel)
        .expectBeep(MB_ICONQUESTION)
        .expectYesNoCancel(question, PromptAnswer::No);
    open(program, "a.txt", 4, [&](TfrmEdit& edit) {
        QTest::keyClicks(edit.Editor, "x");
        edit.mnuClose->trigger();
        QVERIFY(edit.isVisible());
        QCOMPARE(edit.Editor->toPlainText(), QStringLiteral("xabc\n"));
        edit.close();
    });
    // A Delete that removes text is a change as well; Save Local then counts as saved.
    const QString local = m_local->filePath("saved.txt");
    program.prompter.expectSaveFile("Save Local", local);
    open(program, "a.txt", 4, [&](TfrmEdit& edit) {
        QTest::keyClick(edit.Editor, Qt::Key_Delete);
        QVERIFY(edit.EditorChanged);
        edit.mnuSaveLocal->trigger();
        QVERIFY(!edit.EditorChanged);
        edit.close();
        QVERIFY(!edit.isVisible());
    });
    QCOMPARE(ReadFile(local), QByteArray("bc\n"));
    QCOMPARE(ReadFile(serverPath("a.txt")), QByteArray("abc\n"));
    QCOMPARE(localEntries(), QStringList{"saved.txt"});
    QVERIFY(program.prompter.verifyDone());
}

void TestEditor::saveRemoteNeverLosesTheFile_data()
{
    QTest::addColumn<QJsonObject>("script");
    QTest::addColumn<bool>("lost");         // the connection drops during the upload
    QTest::addColumn<QStringList>("after"); // T: the copy's name on the server, L: the file's
    QTest::addColumn<bool>("saved");
    const QString listed = QString::fromLatin1("R\xE9"
                                               "adMe.TXT");
    const QJsonObject base{{"latin1", true}, {"files", QJsonObject{{listed, "old\n"}}}};
    QJsonObject noRename = base;
    noRename["noRename"] = true;
    QJsonObject dropping = base;
    dropping["rules"] = QJsonObject{{"STOR", QJsonArray{QJsonObject{{"dropAfter", 2}}}}};
    QTest::newRow("renamed over the file")
        << base << false << QStringList{"STORED T 8", "RNFR T", "RNTO L"} << true;
    QTest::newRow("server without renaming: written directly, then the copy goes")
        << noRename << false
        << QStringList{"STORED T 8", "RNFR T", "STOR L", "STORED L 8", "DELE T"} << true;
    QTest::newRow("connection lost during the save: the file untouched")
        << dropping << true << QStringList() << false;
}

void TestEditor::saveRemoteNeverLosesTheFile()
{
    // The file keeps its name, sent back in the server's own bytes (not UTF-8 here), even
    // with lower-cased uploads; it is never deleted to make room for the text.
    QFETCH(QJsonObject, script);
    QFETCH(bool, lost);
    QFETCH(QStringList, after);
    QFETCH(bool, saved);
    const QString listed = QString::fromLatin1("R\xE9"
                                               "adMe.TXT");
    FaultServer server;
    QVERIFY(server.start(script));
    Settings.LowerCaseUpload = true;
    Program program(*this, server.port());
    QString tempPath;
    if (lost) {
        program.prompter.expectMessageStartingWith("The connection to the server was lost.");
        program.prompter.expectBeep(MB_ICONEXCLAMATION);
        program.prompter.expectMessageStartingWith(
            QStringLiteral("\"%1\" was not replaced on the server by your text.").arg(listed));
    }
    open(
        program, listed, 4,
        [&](TfrmEdit& edit) {
            tempPath = edit.TempFilePath;
            QTest::keyClicks(edit.Editor, "new ");
            QCOMPARE(edit.mnuSaveRemoteClick(), saved);
            QCOMPARE(edit.EditorChanged, !saved);
            // What is where: the text is still in the local copy the message names.
            QCOMPARE(ReadFile(tempPath), QByteArray("new old\n"));
        },
        listed.toLatin1());
    const QStringList sent = server.received();
    const qsizetype store = sent.indexOf(QRegularExpression("^STOR .*"));
    QVERIFY2(store >= 0, qPrintable(sent.join(" | ")));
    const QString temporary = sent[store].mid(5);
    QVERIFY2(temporary.startsWith(listed + ".") && temporary.endsWith(".zulftp-upload"),
             qPrintable(temporary));
    QStringList done =
        sent.mid(store + 1).filter(QRegularExpression("^(STOR|STORED|DELE|RNFR|RNTO) "));
    done.replaceInStrings(temporary, "T").replaceInStrings(listed, "L");
    QCOMPARE(done, after);
    QCOMPARE(localEntries(), QStringList());
    QVERIFY(program.prompter.verifyDone());
}

void TestEditor::saveAsksBeforeOverwritingChangesOnTheServer_data()
{
    QTest::addColumn<bool>("overwrite");
    QTest::newRow("overwrite") << true;
    QTest::newRow("keep the server's file") << false;
}

void TestEditor::saveAsksBeforeOverwritingChangesOnTheServer()
{
    QFETCH(bool, overwrite);
    QVERIFY(WriteFile(serverPath("notes.txt"), "abc\n"));
    Program program(*this, m_server.port());
    program.prompter.expectBeep(MB_ICONQUESTION)
        .expectYesNo(ChangedOnServerText("notes.txt"), overwrite);
    open(program, "notes.txt", 4, [&](TfrmEdit& edit) {
        // Someone else saves the file while it is open here: same length, a later time.
        QVERIFY(WriteFile(serverPath("notes.txt"), "xyz\n"));
        QFile changed(serverPath("notes.txt"));
        QVERIFY(changed.open(QIODevice::ReadWrite));
        QVERIFY(changed.setFileTime(QDateTime::currentDateTime().addSecs(3600),
                                    QFileDevice::FileModificationTime));
        changed.close();
        QTest::keyClicks(edit.Editor, "mine ");
        QCOMPARE(edit.mnuSaveRemoteClick(), overwrite);
        QCOMPARE(edit.EditorChanged, !overwrite);
        // The next save asks no more: it compares with what this save found or made.
        if (overwrite)
            QVERIFY(edit.mnuSaveRemoteClick());
    });
    QCOMPARE(ReadFile(serverPath("notes.txt")),
             overwrite ? QByteArray("mine abc\n") : QByteArray("xyz\n"));
    QCOMPARE(QDir(m_serverRoot.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"notes.txt"});
    QVERIFY(program.prompter.verifyDone());
}

void TestEditor::failedSaveKeepsTheQuestion()
{
    // The first save's copy arrives but the server does not keep it; the second is refused.
    FaultServer server;
    QVERIFY(server.start(QJsonObject{
        {"files", QJsonObject{{"a.txt", "abc"}}},
        {"rules", QJsonObject{{"STOR", QJsonArray{QJsonObject{{"final", "451 Disk full."}},
                                                  QJsonObject{{"reply", "553 Not allowed."}}}}}}}));
    Program program(*this, server.port());
    const QString question = QStringLiteral("This file has been changed. Do you want to save it?");
    const QString notSaved =
        QStringLiteral("\"a.txt\" was not replaced on the server by your text.");
    program.prompter.expectMessageStartingWith("Internet Write File Failed.  (12003)")
        .expectBeep(MB_ICONEXCLAMATION)
        .expectMessageStartingWith(notSaved)
        .expectBeep(MB_ICONQUESTION)
        .expectYesNoCancel(question, PromptAnswer::Yes)
        .expectMessageStartingWith("FTP Open File Failed.  (12003)")
        .expectBeep(MB_ICONEXCLAMATION)
        .expectMessageStartingWith(notSaved)
        .expectBeep(MB_ICONQUESTION)
        .expectYesNoCancel(question, PromptAnswer::No);
    open(program, "a.txt", 3, [&](TfrmEdit& edit) {
        QTest::keyClicks(edit.Editor, "x");
        QVERIFY(!edit.mnuSaveRemoteClick());
        QVERIFY(edit.EditorChanged);
        edit.close(); // Yes: the save fails again and the window stays
        QVERIFY(edit.isVisible());
        edit.close(); // No
        QVERIFY(!edit.isVisible());
    });
    // What the failed upload left under the copy's name is removed; the edited file is not
    // touched.
    const QStringList sent = server.received();
    const qsizetype stored = sent.indexOf(QRegularExpression("^STORED a\\.txt\\.[0-9a-f]{8}\\."
                                                             "zulftp-upload 4$"));
    QVERIFY2(stored >= 0, qPrintable(sent.join(" | ")));
    const QString copyName = sent[stored].section(' ', 1, 1);
    QVERIFY2(sent.indexOf("DELE " + copyName, stored) > stored, qPrintable(sent.join(" | ")));
    QVERIFY(!sent.contains("DELE a.txt"));
    QVERIFY(!sent.contains("RNTO a.txt"));
    QCOMPARE(localEntries(), QStringList());
    QVERIFY(program.prompter.verifyDone());
}

void TestEditor::filesTheEditorCannotKeepOpenReadOnly_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("warning");
    QTest::newRow("NUL bytes") << QByteArray("PK\x03\x04\0\0data", 10) << NotTextWarning();
    QTest::newRow("Latin-1") << QByteArray("caf\xE9\n") << NotTextWarning();
    QTest::newRow("mixed line ends") << QByteArray("a\r\nb\nc\r\n") << NotExactWarning();
    QTest::newRow("lone CR") << QByteArray("a\rb\n") << NotExactWarning();
}

void TestEditor::filesTheEditorCannotKeepOpenReadOnly()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, warning);
    QVERIFY(WriteFile(serverPath("data.bin"), contents));
    Program program(*this, m_server.port());
    program.prompter.expectBeep(MB_ICONEXCLAMATION).expectMessage(warning);
    const QString local = m_local->filePath("copy.bin");
    program.prompter.expectSaveFile("Save Local", local);
    open(program, "data.bin", contents.size(), [&](TfrmEdit& edit) {
        QVERIFY(edit.Editor->isReadOnly());
        QVERIFY(!edit.mnuSaveRemote->isEnabled());
        QTest::keyClicks(edit.Editor, "typed");
        QVERIFY(!edit.EditorChanged);
        QVERIFY(!edit.mnuSaveRemoteClick());
        QVERIFY(edit.mnuSaveLocalClick()); // the bytes as they were read
        edit.close();
        QVERIFY(!edit.isVisible());
    });
    QCOMPARE(ReadFile(local), contents);
    QCOMPARE(ReadFile(serverPath("data.bin")), contents);
    QVERIFY(program.prompter.verifyDone());
}

void TestEditor::refusedOrFailedOpeningLeavesNothing()
{
    Program program(*this, m_server.port());
    // Too large: refused before anything is created or fetched.
    program.prompter.expectBeep(MB_ICONEXCLAMATION)
        .expectMessage(TooLargeToEditText("big.log", kEditorMaxBytes + 1));
    open(program, "big.log", kEditorMaxBytes + 1, [](TfrmEdit&) {});
    // Gone from the server: the failed download is reported and the editor never shows.
    program.prompter.expectMessageStartingWith("FTP Open File Failed.  (12003)");
    open(program, "gone.txt", 10, [](TfrmEdit&) {});
    QVERIFY(!m_stepRan);
    QCOMPARE(localEntries(), QStringList());
    QVERIFY(program.prompter.verifyDone());
}

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
