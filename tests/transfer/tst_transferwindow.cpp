#include "TransferTestHost.h"

#include "ScriptedPrompter.h"
#include "app/CommandState.h"
#include "app/SettingsStore.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "common/FileListModel.h"
#include "common/SortState.h"
#include "faultserver.h"
#include "ftp/FtpConnection.h"
#include "remote/FtpServerSession.h"
#include "transfer/LocalFile.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferNames.h"
#include "transfer/UnfinishedUploads.h"
#include "transfer/ui/CommandLockout.h"
#include "transfer/ui/MsgForm.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QJsonArray>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <map>
#include <tuple>

#include <sys/stat.h>

// The main window's transfer handlers: the drag-and-drop rules, the desktop drop, the
// commands run from the window, and the lockout of other commands while one runs.
class TransferWindowTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void dragOverRules_data();
    void dragOverRules();
    void dropBetweenListsRunsCommandOnlyWhenConnected_data();
    void dropBetweenListsRunsCommandOnlyWhenConnected();
    void desktopDropWhileDisconnectedDoesNothing();
    void desktopDropUploadsFilesAndFolderThenLists();
    void uploadCommandSendsSelectedRowsAndDeselectsThem();
    void downloadCommandOffersToResume();
    void uploadCommandOffersToResume();
    void existingTargetIsAskedAbout_data();
    void existingTargetIsAskedAbout();
    void localErrorHidesDialogAndRestoresCursor();
    void lockoutDropsInputToMainWindowOnly();
    void slowListingTakesClicksOnlyAtItsCancel();

private:
    void connect(TfrmMain& w, quint16 port = 0); // 0: the test server
    QString localPath(const QString& name) const { return m_localDir->filePath(name); }

    QTemporaryDir m_home;
    QTemporaryDir m_serverRoot;
    std::unique_ptr<QTemporaryDir> m_localDir;
    FtpServerFixture m_server;
    TestConnection m_connection;
};

namespace {
// Selects the local row `name` alone; false when the list has no such row.
bool SelectLocalRow(TfrmMain& w, const QString& name)
{
    for (int i = 0; i < w.LocalFilesModel->rowCount(); ++i) {
        if (w.LocalFilesModel->row(i).name == name) {
            w.LocalFiles->selectionModel()->select(w.LocalFilesModel->index(i, 0),
                                                   QItemSelectionModel::ClearAndSelect |
                                                       QItemSelectionModel::Rows);
            return true;
        }
    }
    return false;
}
} // namespace

void TransferWindowTest::initTestCase()
{
    qputenv("ZULFTP_HOME", m_home.path().toUtf8());
    QVERIFY2(m_server.start(m_serverRoot.path()), qPrintable(m_server.errorOutput()));
}

void TransferWindowTest::init()
{
    Settings = {};
    FtpConnection = TFtpConnection();
    CancelRequested = false;
    m_localDir = std::make_unique<QTemporaryDir>();
}

void TransferWindowTest::cleanup()
{
    m_connection.close();
    FtpConnection = TFtpConnection();
    QVERIFY(!QApplication::overrideCursor());
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty() ||
                std::none_of(QApplication::topLevelWidgets().cbegin(),
                             QApplication::topLevelWidgets().cend(),
                             [](QWidget* w) { return w->isVisible(); }));
}

void TransferWindowTest::connect(TfrmMain& w, quint16 port)
{
    QVERIFY(m_connection.open(port != 0 ? port : m_server.port()));
    FtpConnection.open(
        std::make_shared<FtpServerSession>(m_connection.connection, m_connection.internet, false));
    FtpConnection.Connected = true;
    FtpConnection.ConnectedHost = "127.0.0.1";
    w.UpdateCommandState(true);
}

void TransferWindowTest::dragOverRules_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("accepted");
    for (bool connected : {false, true}) {
        const char* state = connected ? "connected" : "disconnected";
        QTest::addRow("local from remote, %s", state) << "LocalFiles"
                                                      << "RemoteFiles" << connected << true;
        QTest::addRow("local from local, %s", state) << "LocalFiles"
                                                     << "LocalFiles" << connected << true;
        QTest::addRow("folders from local, %s", state) << "LocalFolders"
                                                       << "LocalFiles" << connected << false;
        QTest::addRow("remote from remote, %s", state) << "RemoteFiles"
                                                       << "RemoteFiles" << connected << true;
        QTest::addRow("remote from local, %s", state) << "RemoteFiles"
                                                      << "LocalFiles" << connected << connected;
    }
}

void TransferWindowTest::dragOverRules()
{
    QFETCH(QString, target);
    QFETCH(QString, source);
    QFETCH(bool, connected);
    QFETCH(bool, accepted);
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    FtpConnection.Connected = connected;
    QObject* from = source == "LocalFiles" ? static_cast<QObject*>(w.LocalFiles) : w.RemoteFiles;
    bool accept = !accepted;
    if (target == "LocalFiles")
        w.LocalFilesDragOver(from, {}, accept);
    else if (target == "LocalFolders")
        w.LocalFoldersDragOver(from, {}, accept);
    else
        w.RemoteFilesDragOver(from, {}, accept);
    QCOMPARE(accept, accepted);
    QVERIFY(prompter.verifyDone());
}

void TransferWindowTest::dropBetweenListsRunsCommandOnlyWhenConnected_data()
{
    QTest::addColumn<bool>("onRemote");
    QTest::addColumn<bool>("fromOtherList");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("runs");
    for (bool onRemote : {false, true}) {
        const char* list = onRemote ? "on remote" : "on local";
        QTest::addRow("%s from the other list, connected", list)
            << onRemote << true << true << true;
        QTest::addRow("%s from the other list, disconnected", list)
            << onRemote << true << false << false;
        QTest::addRow("%s from itself, connected", list) << onRemote << false << true << false;
    }
}

void TransferWindowTest::dropBetweenListsRunsCommandOnlyWhenConnected()
{
    QFETCH(bool, onRemote);
    QFETCH(bool, fromOtherList);
    QFETCH(bool, connected);
    QFETCH(bool, runs);
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    FtpConnection.Connected = connected;
    // Nothing is selected, so a command that runs says so and does nothing else.
    w.LocalFiles->clearSelection();
    w.RemoteFiles->clearSelection();
    if (runs)
        prompter.expectBeep(MB_ICONEXCLAMATION).expectMessage("No files were selected.");
    FileListView* target = onRemote ? w.RemoteFiles : w.LocalFiles;
    FileListView* other = onRemote ? w.LocalFiles : w.RemoteFiles;
    QObject* source = fromOtherList ? other : target;
    if (onRemote)
        w.RemoteFilesDragDrop(source, {});
    else
        w.LocalFilesDragDrop(source, {});
    QVERIFY(prompter.verifyDone());
}

void TransferWindowTest::desktopDropWhileDisconnectedDoesNothing()
{
    QVERIFY(WriteFile(localPath("a.txt"), "a"));
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    w.UpdateCommandState(false);
    QVERIFY(!w.DropFile.EnableDrop);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(localPath("a.txt"))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    // Called directly as well: the handler itself refuses without a connection.
    w.DropFile.NameWithPath = {localPath("a.txt")};
    w.DropFileDrop();
    QVERIFY(!QFile::exists(m_serverRoot.filePath("a.txt")));
    QVERIFY(prompter.verifyDone());
}

void TransferWindowTest::desktopDropUploadsFilesAndFolderThenLists()
{
    QVERIFY(WriteFile(localPath("one.txt"), "1"));
    QVERIFY(WriteFile(localPath("two.txt"), "22"));
    QVERIFY(WriteFile(localPath("folder/three.txt"), "333"));
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    TfrmMsg msg(&w);
    w.setMsgForm(&msg);
    connect(w);
    QVERIFY(w.DropFile.EnableDrop);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(localPath("one.txt")),
                  QUrl::fromLocalFile(localPath("two.txt")),
                  QUrl::fromLocalFile(localPath("folder"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);

    QCOMPARE(ReadFile(m_serverRoot.filePath("one.txt")), QByteArray("1"));
    QCOMPARE(ReadFile(m_serverRoot.filePath("two.txt")), QByteArray("22"));
    QCOMPARE(ReadFile(m_serverRoot.filePath("folder/three.txt")), QByteArray("333"));
    QStringList listed;
    for (const FileListRow& row : w.RemoteFilesModel->rows())
        listed << row.name;
    QVERIFY(listed.contains("one.txt") && listed.contains("two.txt") && listed.contains("folder"));
    QVERIFY(!msg.isVisible());
    QVERIFY(prompter.verifyDone());
    QDir(m_serverRoot.filePath("folder")).removeRecursively();
    QFile::remove(m_serverRoot.filePath("one.txt"));
    QFile::remove(m_serverRoot.filePath("two.txt"));
}

void TransferWindowTest::uploadCommandSendsSelectedRowsAndDeselectsThem()
{
    QVERIFY(WriteFile(localPath("keep.txt"), "k"));
    QVERIFY(WriteFile(localPath("send.txt"), "send me"));
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    TfrmMsg msg(&w);
    w.setMsgForm(&msg);
    w.setLocalFolder(m_localDir->path());
    connect(w);
    QVERIFY(SelectLocalRow(w, "send.txt"));
    w.btnUploadClick();
    QCOMPARE(ReadFile(m_serverRoot.filePath("send.txt")), QByteArray("send me"));
    QVERIFY(!QFile::exists(m_serverRoot.filePath("keep.txt")));
    QVERIFY(w.LocalFiles->selectedRowNumbers().isEmpty());
    bool listed = false;
    for (const FileListRow& r : w.RemoteFilesModel->rows())
        listed = listed || r.name == "send.txt";
    QVERIFY(listed);
    QVERIFY(!msg.isVisible());
    QVERIFY(prompter.verifyDone());
    QFile::remove(m_serverRoot.filePath("send.txt"));
}

void TransferWindowTest::downloadCommandOffersToResume()
{
    const QByteArray data = PatternBytes(200000);
    QVERIFY(WriteFile(m_serverRoot.filePath("r.bin"), data));
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    TfrmMsg msg(&w);
    w.setMsgForm(&msg);
    w.setLocalFolder(m_localDir->path());
    connect(w);
    w.ListRemoteFiles();
    int row = -1;
    for (int i = 0; i < w.RemoteFilesModel->rowCount(); ++i) {
        if (w.RemoteFilesModel->row(i).name == "r.bin")
            row = i;
    }
    QVERIFY(row >= 0);
    const FileListRow listed = w.RemoteFilesModel->row(row);
    {
        // What an earlier download of this row left: its first 70,000 bytes.
        const LocalDirectory folder(m_localDir->path());
        LocalFileWriter partial(folder, PartialDownloadName("r.bin"));
        RememberRemoteStamp(partial.fd(), {"r.bin", listed.size, listed.modifiedTime});
        partial.write(data.constData(), 70000);
        partial.close();
    }
    w.RemoteFiles->selectionModel()->select(w.RemoteFilesModel->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect |
                                                QItemSelectionModel::Rows);
    prompter.expectBeep(MB_ICONQUESTION)
        .expectChoice("Resume the earlier download of r.bin (68 KB of 195 KB)?", PromptAnswer::Yes);
    w.btnDownloadClick();
    QVERIFY(prompter.verifyDone());
    QCOMPARE(prompter.seen().last().detail, QStringLiteral("Resume/Start Over"));
    QCOMPARE(ReadFile(localPath("r.bin")), data);
    QVERIFY(PartialFiles(m_localDir->path(), "r.bin").isEmpty());
    QFile::remove(m_serverRoot.filePath("r.bin"));
}

namespace {
// Writes `files` (name -> contents) into `folder`, each modified `daysAgo` days ago.
bool WriteAged(const QString& folder, const QList<std::tuple<QString, QByteArray, int>>& files)
{
    for (const auto& [name, data, daysAgo] : files) {
        QFile file(folder + '/' + name);
        if (!WriteFile(file.fileName(), data) || !file.open(QIODevice::ReadWrite) ||
            !file.setFileTime(QDateTime::currentDateTime().addDays(-daysAgo),
                              QFileDevice::FileModificationTime))
            return false;
    }
    return true;
}

// "name=contents" of every entry of `folder`, by name.
QStringList FolderContents(const QString& folder)
{
    QStringList found;
    for (const QString& name :
         QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
        found << name + '=' + QString::fromUtf8(ReadFile(folder + '/' + name));
    return found;
}
} // namespace

void TransferWindowTest::existingTargetIsAskedAbout_data()
{
    // Both a.txt and b.txt are at the destination already. The source's a.txt is newer and
    // longer than the one there, which does not begin with it (so a resume shows as such);
    // its b.txt is older and shorter than the one there. Answers: action, "+" for the rest.
    QTest::addColumn<bool>("download");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("after"); // the destination folder afterwards
    const QString keptA = "a.txt=XXXX", keptB = "b.txt=old-bbbbbbbbb";
    const QString newA = "a.txt=AAAA-new", newB = "b.txt=BBBB-new";
    for (const bool download : {true, false}) {
        const char* way = download ? "download" : "upload";
        QTest::addRow("%s: overwrite, for the rest too", way)
            << download << QStringList{"overwrite+"} << QStringList{newA, newB};
        QTest::addRow("%s: skip each", way)
            << download << QStringList{"skip", "skip"} << QStringList{keptA, keptB};
        QTest::addRow("%s: overwrite if newer, for the rest too", way)
            << download << QStringList{"newer+"} << QStringList{newA, keptB};
        // A remembered Resume does not fit the file that is not shorter: it is asked about.
        QTest::addRow("%s: resume for the rest, then skip", way)
            << download << QStringList{"resume+", "skip"} << QStringList{"a.txt=XXXX-new", keptB};
        QTest::addRow("%s: rename, for the rest too", way)
            << download << QStringList{"rename+"}
            << QStringList{"a (1).txt=AAAA-new", keptA, "b (1).txt=BBBB-new", keptB};
        QTest::addRow("%s: cancel", way)
            << download << QStringList{"cancel"} << QStringList{keptA, keptB};
    }
}

void TransferWindowTest::existingTargetIsAskedAbout()
{
    QFETCH(bool, download);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, after);
    QTemporaryDir serverFolder(m_serverRoot.filePath("exists-XXXXXX"));
    const QString source = download ? serverFolder.path() : m_localDir->path();
    const QString target = download ? m_localDir->path() : serverFolder.path();
    QVERIFY(WriteAged(source, {{"a.txt", "AAAA-new", 2}, {"b.txt", "BBBB-new", 6}}));
    QVERIFY(WriteAged(target, {{"a.txt", "XXXX", 4}, {"b.txt", "old-bbbbbbbbb", 4}}));
    const QString remoteFolder = '/' + QFileInfo(serverFolder.path()).fileName();

    ScriptedPrompter prompter;
    prompter.setIgnoreBeeps(true);
    TfrmMain w(prompter);
    // Both lists by name, so a.txt goes first.
    LocalSort = RemoteSort = 1;
    TfrmMsg msg(&w);
    w.setMsgForm(&msg);
    w.setLocalFolder(m_localDir->path());
    connect(w);
    QVERIFY(FtpSetCurrentDirectoryA(m_connection.connection, remoteFolder.toUtf8().constData()));
    w.ListRemoteFiles();
    FileListView& list = download ? *w.RemoteFiles : *w.LocalFiles;
    FileListModel& model = download ? *w.RemoteFilesModel : *w.LocalFilesModel;
    for (int i = 0; i < model.rowCount(); ++i) {
        if (model.row(i).name.endsWith(".txt"))
            list.selectionModel()->select(model.index(i, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    const QString place =
        download ? m_localDir->path() : QStringLiteral("\"%1\" on the server").arg(remoteFolder);
    const std::map<QString, ExistsAction> actions{
        {"overwrite", ExistsAction::Overwrite}, {"newer", ExistsAction::OverwriteIfNewer},
        {"resume", ExistsAction::Resume},       {"rename", ExistsAction::Rename},
        {"skip", ExistsAction::Skip},           {"cancel", ExistsAction::Cancel}};
    QStringList names{"a.txt", "b.txt"};
    for (QString answer : answers) {
        const bool rest = answer.endsWith('+');
        answer.remove('+');
        const QString name = names.takeFirst();
        prompter.expectExists(
            QStringLiteral("The file \"%1\" already exists in %2.\n").arg(name, place),
            name == "a.txt", {actions.at(answer), rest});
        if (answer == "rename") // the proposal is taken as it is
            prompter.expectInput(QStringLiteral("New name for \"%1\" in %2:").arg(name, place),
                                 QStringLiteral("a (1).txt"));
    }
    if (download)
        w.btnDownloadClick();
    else
        w.btnUploadClick();

    QVERIFY(prompter.verifyDone());
    QCOMPARE(FolderContents(target), after);
    QVERIFY(!msg.isVisible());
}

void TransferWindowTest::uploadCommandOffersToResume()
{
    // What an earlier upload of the local file left: 1.5 MiB on the server under a temporary
    // name beside an older file, remembered in the data folder for this server and folder.
    const QByteArray data = PatternBytes(3 * 1024 * 1024 + 7);
    QVERIFY(WriteFile(localPath("u.bin"), data));
    QVERIFY(WriteFile(m_serverRoot.filePath("u.bin"), "older"));
    const QByteArray copy = "u.bin.0123abcd.zulftp-upload";
    QVERIFY(WriteFile(m_serverRoot.filePath(copy), data.first(1536 * 1024)));
    struct stat info
    {};
    QCOMPARE(::stat(QFile::encodeName(localPath("u.bin")).constData(), &info), 0);
    const QByteArray server = QStringLiteral("user@127.0.0.1:%1").arg(m_server.port()).toUtf8();
    const UnfinishedUploads uploads(UnfinishedUploads::defaultFilePath());
    // The copy as the upload left it: its length and its time as the server gives it (MDTM).
    const QByteArray copyTime = QFileInfo(m_serverRoot.filePath(copy))
                                    .lastModified()
                                    .toUTC()
                                    .toString(QStringLiteral("yyyyMMddHHmmss"))
                                    .toLatin1();
    QVERIFY(uploads.remember({server,
                              "/",
                              "u.bin",
                              copy,
                              {QFile::encodeName(localPath("u.bin")), qint64(data.size()),
                               qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec},
                              1536 * 1024,
                              copyTime}));

    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    TfrmMsg msg(&w);
    w.setMsgForm(&msg);
    w.setLocalFolder(m_localDir->path());
    connect(w);
    FtpConnection.ConnectedServer = QString::fromUtf8(server);
    QVERIFY(SelectLocalRow(w, "u.bin"));
    prompter.expectBeep(MB_ICONQUESTION)
        .expectChoice("Resume the earlier upload of u.bin (1536 KB of 3072 KB)?",
                      PromptAnswer::Yes);
    w.btnUploadClick();
    QVERIFY(prompter.verifyDone());
    QVERIFY(ReadFile(m_serverRoot.filePath("u.bin")) == data);
    QVERIFY(!QFile::exists(m_serverRoot.filePath(copy)));
    QVERIFY(!uploads.find(server, "/", "u.bin"));
    QFile::remove(m_serverRoot.filePath("u.bin"));
}

void TransferWindowTest::localErrorHidesDialogAndRestoresCursor()
{
    QVERIFY(WriteFile(localPath("soon-gone.txt"), "x"));
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    TfrmMsg msg(&w);
    w.setMsgForm(&msg);
    w.setLocalFolder(m_localDir->path());
    connect(w);
    QCOMPARE(w.LocalFilesModel->rowCount(), 1);
    w.LocalFiles->selectAll();
    QVERIFY(QFile::remove(localPath("soon-gone.txt")));
    prompter.expectMessage("File not found");
    w.btnUploadClick();
    QVERIFY(prompter.verifyDone());
    QVERIFY(!msg.isVisible());
    QVERIFY(!QApplication::overrideCursor());
}

void TransferWindowTest::lockoutDropsInputToMainWindowOnly()
{
    QWidget main;
    auto* command = new QPushButton("command", &main);
    auto* scroll = new QScrollBar(Qt::Vertical, &main);
    scroll->setGeometry(200, 0, 16, 200);
    scroll->setRange(0, 100);
    QWidget dialog;
    auto* cancel = new QPushButton("Cancel", &dialog);
    int commands = 0;
    int cancels = 0;
    QObject::connect(command, &QPushButton::clicked, [&] { ++commands; });
    QObject::connect(cancel, &QPushButton::clicked, [&] { ++cancels; });
    main.show();
    dialog.show();
    {
        CommandLockout lockout(&main);
        QTest::mouseClick(command, Qt::LeftButton);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QTest::mouseClick(scroll, Qt::LeftButton, {}, QPoint(8, 190));
    }
    QCOMPARE(commands, 0);
    QCOMPARE(cancels, 1);
    QVERIFY(scroll->value() > 0);
    QTest::mouseClick(command, Qt::LeftButton);
    QCOMPARE(commands, 1);
}

void TransferWindowTest::slowListingTakesClicksOnlyAtItsCancel()
{
    // While a slow listing is read on its helper thread only the dialog's Cancel, offered
    // after a couple of seconds, takes clicks: Disconnect would close the connection under it.
    FaultServer server;
    QVERIFY(server.start(
        QJsonObject{{"listing", "-rw-r--r-- 1 u g 5 Jan 02 2020 one.txt\r\n"},
                    {"rules", QJsonObject{{"LIST", QJsonArray{QJsonObject{{"trickle", 0.1}}}}}}}));
    ScriptedPrompter prompter;
    TfrmMain w(prompter);
    TfrmMsg msg(&w);
    w.setMsgForm(&msg);
    w.show();
    connect(w, server.port());
    auto* disconnect = w.findChild<QToolButton*>("btnDisconnect");
    QVERIFY(disconnect && disconnect->isEnabled());
    bool offered = false;
    QTimer::singleShot(2500, &msg, [&] {
        offered = msg.CancelBtn->isVisible();
        QTest::mouseClick(disconnect, Qt::LeftButton);
        QTest::mouseClick(msg.CancelBtn, Qt::LeftButton);
    });
    w.ListRemoteFiles();
    QVERIFY(offered);
    QVERIFY(CancelRequested);
    QVERIFY(FtpConnection.Connected);
    QCOMPARE(w.RemoteFilesModel->rowCount(), 0);
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/"));
    QVERIFY(prompter.verifyDone());
}

QTEST_MAIN(TransferWindowTest)
#include "tst_transferwindow.moc"
