// The transfer queue over a distant link: the test server behind the delaying relay (50 ms
// round trip by default). A tree of small files is queued down and up with 1 and with 4 workers,
// and `lftp mirror --parallel=4` moves the same tree through the same relay. The window's
// event loop runs meanwhile; its longest stall is measured. Built with the program, never run
// by the tests; see bench/README.md.
#include "../BenchTree.h"
#include "../DelayRelay.h"
#include "FtpServerFixture.h"
#include "queue/TransferQueue.h"
#include "remote/FtpServerSession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

// Runs one queue to its end with `workers`; the seconds it took, and the longest gap between
// two turns of the event loop in `stallMs`.
double RunQueue(quint16 port, int workers, const QueueItem& tree, qint64& stallMs, bool& failed)
{
    TransferQueue queue(
        [port](RemoteResult& result, QString& why) -> std::unique_ptr<ServerSession> {
            SessionLogon logon;
            logon.host = "127.0.0.1";
            logon.port = port;
            logon.user = "user";
            logon.password = "secret";
            auto session = OpenServerSession(logon, result);
            if (!session)
                why = result.reply;
            return session;
        },
        "bench");
    queue.setWorkerLimit(workers);
    QElapsedTimer timer;
    timer.start();
    queue.add({tree});
    QElapsedTimer tick;
    tick.start();
    stallMs = 0;
    while (queue.busy()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        stallMs = std::max(stallMs, tick.restart());
        QThread::msleep(1);
    }
    QCoreApplication::processEvents();
    const double seconds = bench::seconds(timer);
    for (const QueueItem& item : queue.items()) {
        if (item.state != QueueState::Finished) {
            std::printf("error: %s: %s\n", qPrintable(item.localName), qPrintable(item.error));
            failed = true;
        }
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"rtt", "Round trip the relay adds, in ms (default 50).", "ms", "50"});
    parser.addOption({"files", "Files in the tree (default 200).", "n", "200"});
    parser.addOption({"kib", "Size of each file in KiB (default 10).", "n", "10"});
    parser.process(app);
    const int files = parser.value("files").toInt();
    const qint64 size = parser.value("kib").toLongLong() * 1024;

    QTemporaryDir serverRoot(QDir::tempPath() + "/bench-queue-server-XXXXXX");
    QTemporaryDir local(QDir::tempPath() + "/bench-queue-local-XXXXXX");
    const QString tree = local.filePath("tree");
    for (int i = 0; i < files; ++i) {
        const QString folder = QStringLiteral("%1/d%2").arg(tree).arg(i / 100, 3, 10, QChar('0'));
        QDir().mkpath(folder);
        QFile file(QStringLiteral("%1/f%2.txt").arg(folder).arg(i));
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(size, char('a' + i % 26)));
    }
    const QString expected = bench::treeSummary(tree);
    FtpServerFixture server;
    if (!server.start(serverRoot.path())) {
        std::printf("the test server did not start\n");
        return 1;
    }
    DelayRelay relay;
    const double rtt = parser.value("rtt").toDouble();
    if (!relay.start(server.port(), rtt, true)) {
        std::printf("the relay did not start\n");
        return 1;
    }
    std::printf("tree: %s, %.0f ms round trip\n", qPrintable(expected), rtt);
    bool failed = false;
    const auto check = [&](const QString& what, const QString& root) {
        if (bench::treeSummary(root) != expected) {
            std::printf("error: %s holds %s\n", qPrintable(what),
                        qPrintable(bench::treeSummary(root)));
            failed = true;
        }
    };
    double up[2] = {}, down[2] = {};
    const int counts[2] = {1, 4};
    for (int run = 0; run < 2; ++run) {
        const QString target = QStringLiteral("/up%1").arg(counts[run]);
        QDir(serverRoot.path()).mkpath(target.mid(1));
        QueueItem item;
        item.direction = QueueDirection::Upload;
        item.folder = true;
        item.localFolder = local.path();
        item.localName = "tree";
        item.remotePath = (target + "/tree").toUtf8();
        qint64 stall = 0;
        up[run] = RunQueue(relay.port(), counts[run], item, stall, failed);
        check("upload", serverRoot.path() + target + "/tree");
        std::printf("  queue up, %d worker(s): %.2f s, longest event-loop stall %lld ms\n",
                    counts[run], up[run], static_cast<long long>(stall));
        const QString into = local.filePath(QStringLiteral("down%1").arg(counts[run]));
        QDir().mkpath(into);
        item.direction = QueueDirection::Download;
        item.localFolder = into;
        stall = 0;
        down[run] = RunQueue(relay.port(), counts[run], item, stall, failed);
        check("download", into + "/tree");
        std::printf("  queue down, %d worker(s): %.2f s, longest event-loop stall %lld ms\n",
                    counts[run], down[run], static_cast<long long>(stall));
    }
    const QStringList lftp = {"-p", QString::number(relay.port()), "-u", "user,secret", "-e"};
    const QString settings = "set ftp:ssl-allow no; set net:max-retries 1; ";
    const double lftpUp = bench::runTool(
        "lftp", lftp + QStringList{settings + "mirror -R --parallel=4 " + tree + " /lftp4; quit",
                                   "127.0.0.1"});
    const double lftpDown =
        bench::runTool("lftp", lftp + QStringList{settings + "mirror --parallel=4 /up1/tree " +
                                                      local.filePath("lftp4") + "; quit",
                                                  "127.0.0.1"});
    std::printf("up:   1 worker %.1f s, 4 workers %.1f s (%.2f of 1), lftp --parallel=4 %.1f s "
                "(ours/lftp %.2f)\n",
                up[0], up[1], up[1] / up[0], lftpUp, up[1] / lftpUp);
    std::printf("down: 1 worker %.1f s, 4 workers %.1f s (%.2f of 1), lftp --parallel=4 %.1f s "
                "(ours/lftp %.2f)\n",
                down[0], down[1], down[1] / down[0], lftpDown, down[1] / lftpDown);
    return failed ? 1 : 0;
}
