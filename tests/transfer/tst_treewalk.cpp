#include "FtpServerFixture.h"
#include "ScriptedPrompter.h"
#include "TransferTestHost.h"
#include "common/FileListModel.h"
#include "faultserver.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteDelete.h"
#include "ftp/RemoteHost.h"
#include "ftp/RemoteTreeWalk.h"
#include "remote/FtpServerSession.h"
#include "transfer/FolderTransfer.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

// A remote tree delete and a folder download never reach past the folder the user chose:
// links the server lists as folders, folders whose CWD leads elsewhere, a PWD that names
// another place and endless depth are passed over and named, on the fault server and on a
// real server's links.
namespace {

QString lsDir(const QString& name)
{
    return QStringLiteral("drwxr-xr-x 2 u g 4096 Jan 01  2020 %1\r\n").arg(name);
}
QString lsFile(const QString& name)
{
    return QStringLiteral("-rw-r--r-- 1 u g 6 Jan 01  2020 %1\r\n").arg(name);
}
QString mlsd(const QString& type, const QString& name)
{
    return QStringLiteral("type=%1;size=6;modify=20200101000000; %2\r\n").arg(type, name);
}

// /work/tree holds f.txt and ro/, and ro/ holds "link", which the server lists as a folder.
// What lies behind the link ("victim" files) must survive a delete of "tree" and must not
// arrive with its download.
QJsonObject treeScript(const QJsonObject& extra)
{
    QJsonObject script{{"pwd", "/work"},
                       {"files", QJsonObject{{"f.txt", "file-f"}, {"important1.txt", "victim"}}},
                       {"tree", QJsonObject{{"/work", lsDir("tree")},
                                            {"/work/tree", lsDir("ro") + lsFile("f.txt")},
                                            {"/work/tree/ro", lsDir("link")},
                                            {"/work/tree/ro/link", lsFile("important1.txt")},
                                            {"/victim", lsFile("important1.txt")}}},
                       {"refuse", QJsonArray{"/work/tree/ro/link"}}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        script[it.key()] = it.value();
    return script;
}

// A chain of `levels` folders "d" below /work/tree, one file in each.
QJsonObject deepScript(int levels)
{
    QJsonObject tree{{"/work", lsDir("tree")}};
    QString path = QStringLiteral("/work/tree");
    for (int i = 0; i < levels; ++i, path += QStringLiteral("/d"))
        tree[path] = lsDir("d") + lsFile("f.txt");
    tree[path] = lsFile("f.txt");
    return {{"pwd", "/work"}, {"files", QJsonObject{{"f.txt", "file-f"}}}, {"tree", tree}};
}

QStringList filesBelow(const QString& folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next().mid(folder.size() + 1);
    found.sort();
    return found;
}

} // namespace

class TreeWalkTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void walkStaysInsideChosenFolder_data();
    void walkStaysInsideChosenFolder();
    void realServerLinkToItselfIsNotFollowed_data();
    void realServerLinkToItselfIsNotFollowed();

private:
    bool connectTo(quint16 port, const char* directory);
    // Deletes the folder row `name` as the Delete command does; the text of the box that
    // names what was left, when `leavesSome`.
    QString deleteFolder(const QString& name, bool leavesSome);

    TestConnection m_connection;
    std::unique_ptr<QTemporaryDir> m_local;
};

void TreeWalkTest::init()
{
    m_local = std::make_unique<QTemporaryDir>();
    CancelRequested = false;
}

void TreeWalkTest::cleanup()
{
    m_connection.close();
    FtpConnection = TFtpConnection();
}

bool TreeWalkTest::connectTo(quint16 port, const char* directory)
{
    m_connection.close();
    if (!m_connection.open(port))
        return false;
    FtpConnection.open(std::make_shared<FtpServerSession>(m_connection.connection, nullptr, false));
    FtpConnection.Connected = true;
    FtpConnection.ConnectedHost = "127.0.0.1";
    return FtpSetCurrentDirectoryA(m_connection.connection, directory);
}

QString TreeWalkTest::deleteFolder(const QString& name, bool leavesSome)
{
    WindowTestHost host;
    FileListRow row;
    row.name = name;
    row.imageIndex = kFolderImage;
    host.script.expectBeep(MB_ICONQUESTION).expectYesNoStartingWith(kDeleteQuestion, true);
    if (leavesSome)
        host.script.expectMessageStartingWith(
            QStringLiteral("FTP Delete Failed: \"%1\" was not deleted completely.").arg(name));
    RemoteDeleteSelection(host, {row});
    if (!host.script.verifyDone())
        return QStringLiteral("<other boxes>");
    return leavesSome ? host.script.seen().last().text : QString();
}

void TreeWalkTest::walkStaysInsideChosenFolder_data()
{
    QTest::addColumn<QJsonObject>("script");
    QTest::addColumn<QString>("left");      // what the report must name; empty: nothing left
    QTest::addColumn<QString>("forbidden"); // no delete may start with this server path
    QTest::addColumn<QStringList>("arrived");

    const QStringList onlyTree{"tree/f.txt"};
    QTest::newRow("link listed as folder leads elsewhere")
        << treeScript({{"cwdTo", QJsonObject{{"/work/tree/ro/link", "/victim"}}}})
        << "\"tree/ro/link\": entering it led to \"/victim\""
        << "/victim/" << onlyTree;
    QTest::newRow("PWD names another folder")
        << treeScript({{"pwdAs", QJsonObject{{"/work/tree/ro/link", "/work/other"}}}})
        << "\"tree/ro/link\": entering it led to \"/work/other\""
        << "/work/tree/ro/link/" << onlyTree;
    // pyftpdlib's way: MLSD follows the link ("type=dir") and PWD shows the link's own path;
    // only the ls-style listing tells.
    const QJsonObject roListings{{"MLSD", mlsd("dir", "link")},
                                 {"LIST", "lrwxrwxrwx 1 u g 9 Jan 01  2020 link -> /victim\r\n"}};
    QJsonObject mlsdTree = treeScript({}).value("tree").toObject();
    mlsdTree["/work"] = QJsonObject{{"MLSD", mlsd("dir", "tree")}, {"LIST", lsDir("tree")}};
    mlsdTree["/work/tree"] = QJsonObject{{"MLSD", mlsd("dir", "ro") + mlsd("file", "f.txt")},
                                         {"LIST", lsDir("ro") + lsFile("f.txt")}};
    mlsdTree["/work/tree/ro"] = roListings;
    mlsdTree["/victim"] = mlsd("file", "important1.txt");
    QTest::newRow("MLSD folder that LIST shows as a link")
        << treeScript({{"features", QJsonArray{"MLST type*;size*;modify*;"}},
                       {"tree", mlsdTree},
                       {"cwdTo", QJsonObject{{"/work/tree/ro/link", "/victim"}}},
                       {"pwdAs", QJsonObject{{"/victim", "/work/tree/ro/link"}}}})
        << "\"tree/ro/link\": a link"
        << "/victim/" << onlyTree;
    // A real folder whose name holds quotes (PWD doubles them) is walked like any other.
    QJsonObject quoted = treeScript({}).value("tree").toObject();
    quoted["/work/tree/ro"] = lsDir("say \"hi\"");
    quoted["/work/tree/ro/say \"hi\""] = lsFile("f.txt");
    QTest::newRow("folder named with quotes is entered")
        << treeScript({{"tree", quoted}, {"refuse", QJsonArray{}}}) << QString() << "/victim/"
        << QStringList{"tree/f.txt", "tree/ro/say \"hi\"/f.txt"};
    QString tooDeep = QStringLiteral("/work/tree");
    QStringList deepFiles;
    for (int i = 0; i <= kMaxTreeDepth - 1; ++i, tooDeep += QStringLiteral("/d"))
        deepFiles << QStringLiteral("tree/") + QStringLiteral("d/").repeated(i) + "f.txt";
    deepFiles.sort();
    QTest::newRow("deeper than the limit")
        << deepScript(kMaxTreeDepth + 3) << QStringLiteral("folders deep") << tooDeep + "/"
        << deepFiles;
}

void TreeWalkTest::walkStaysInsideChosenFolder()
{
    QFETCH(QJsonObject, script);
    QFETCH(QString, left);
    QFETCH(QString, forbidden);
    QFETCH(QStringList, arrived);

    FaultServer server;
    QVERIFY(server.start(script));
    QVERIFY(connectTo(server.port(), "/work"));
    const QString box = deleteFolder("tree", !left.isEmpty());
    QStringList removed;
    for (const QString& line : server.received())
        if (line.startsWith("DELETED ") || line.startsWith("REMOVED "))
            removed << line.mid(8);
    for (const QString& path : removed)
        QVERIFY2(!path.startsWith(forbidden), qPrintable(path));
    if (left.isEmpty()) {
        QVERIFY2(box.isEmpty(), qPrintable(box));
        QVERIFY(removed.contains("/work/tree"));
    } else {
        QVERIFY2(box.contains(left), qPrintable(box));
        QVERIFY(!removed.contains("/work/tree"));
    }
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/work"));

    TestTransferHost host;
    host.connection = m_connection.connection;
    host.folder = m_local->path();
    QCOMPARE(DownloadFolder(host, "tree"), FolderOutcome::Done);
    QCOMPARE(filesBelow(m_local->path()), arrived);
    if (left.isEmpty()) {
        QCOMPARE(host.log, QStringList());
    } else {
        QCOMPARE(host.log.size(), 1);
        QVERIFY2(host.log.at(0).startsWith("warn \"tree\" was downloaded without") &&
                     host.log.at(0).contains(left),
                 qPrintable(host.log.at(0)));
    }
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/work"));
}

void TreeWalkTest::realServerLinkToItselfIsNotFollowed_data()
{
    QTest::addColumn<bool>("mlsd");
    QTest::newRow("MLSD") << true;
    QTest::newRow("LIST") << false;
}

void TreeWalkTest::realServerLinkToItselfIsNotFollowed()
{
    QFETCH(bool, mlsd);
    QTemporaryDir root;
    const auto path = [&](const QString& name) { return root.filePath(name); };
    QVERIFY(WriteFile(path("site/a.txt"), PatternBytes(50000)) &&
            WriteFile(path("site/b.txt"), PatternBytes(50000, 1)) &&
            WriteFile(path("victim/important.txt"), "keep me"));
    QVERIFY(QFile::link(".", path("site/www")) && QFile::link("../victim", path("site/out")));
    FtpServerFixture server;
    FtpServerFixture::Options options;
    options.mlsd = mlsd;
    QVERIFY(server.start(root.path(), options));
    QVERIFY(connectTo(server.port(), "/"));

    TestTransferHost host;
    host.connection = m_connection.connection;
    host.folder = m_local->path();
    DownloadFolder(host, "site");
    // Two files of 50 KB, not the same two again under every www/www/www/... (the ls-style
    // listing shows the links as links, taken for files, so their download fails).
    const QStringList files = filesBelow(m_local->path());
    QVERIFY2(files.contains("site/a.txt") && files.contains("site/b.txt") &&
                 !files.join('\n').contains("www/") && !files.join('\n').contains("out/"),
             qPrintable(files.join('\n')));
    if (mlsd) {
        QCOMPARE(host.log.size(), 1);
        QVERIFY2(host.log.at(0).contains("\"site/www\": a link, not followed") &&
                     host.log.at(0).contains("\"site/out\": a link"),
                 qPrintable(host.log.join('\n')));
        QCOMPARE(files, (QStringList{"site/a.txt", "site/b.txt"}));
    }

    QVERIFY(deleteFolder("site", false).isEmpty());
    QVERIFY(!QFileInfo::exists(path("site")));
    QCOMPARE(ReadFile(path("victim/important.txt")), QByteArray("keep me"));
    QCOMPARE(m_connection.currentDirectory(), QStringLiteral("/"));
}

QTEST_MAIN(TreeWalkTest)
#include "tst_treewalk.moc"
