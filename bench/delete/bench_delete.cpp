// The remote Delete of a folder tree as the user meets it (log-on, the command with its
// progress dialog and the listing it ends with, log-off) against `lftp -e "rm -r"` on the same
// local server in the same run. Built with the program, never run by the tests; see
// bench/README.md.
#include "BenchRemoteHost.h"
#include "FtpServerFixture.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteDelete.h"
#include "remote/FtpServerSession.h"
#include "wininet.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

// `files` small files in 4 folders of 5 subfolders each, a few more beside the subfolders.
bool MakeTree(const QString& root, int files)
{
    for (int i = 0; i < files; ++i) {
        const int leaf = i % 24;
        const QString folder =
            leaf < 20 ? QStringLiteral("%1/d%2/e%3").arg(root).arg(leaf / 5).arg(leaf % 5)
                      : QStringLiteral("%1/d%2").arg(root).arg(leaf - 20);
        QFile file(QStringLiteral("%1/f%2.txt").arg(folder).arg(i));
        if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) || file.write("x") != 1)
            return false;
    }
    return true;
}

double Ours(BenchRemoteHost& host, quint16 port)
{
    QElapsedTimer timer;
    timer.start();
    HINTERNET internet = InternetOpenA("ZULFTP", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectA(internet, "127.0.0.1", port, "user", "secret",
                                            INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    FtpConnection.open(std::make_shared<FtpServerSession>(connection, internet, true));
    FtpConnection.Connected = connection != nullptr;
    FileListRow tree;
    tree.name = QStringLiteral("tree");
    tree.imageIndex = kFolderImage;
    RemoteDeleteSelection(host, {tree});
    FtpConnection = TFtpConnection();
    return double(timer.nsecsElapsed()) / 1e9;
}

double Lftp(quint16 port)
{
    QProcess lftp;
    lftp.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer timer;
    timer.start();
    lftp.start(QStringLiteral("lftp"),
               {"-p", QString::number(port), "-u", "user,secret", "-e",
                "set ftp:ssl-allow no; set net:max-retries 1; rm -r tree; quit", "127.0.0.1"});
    const bool ok = lftp.waitForFinished(-1) && lftp.exitStatus() == QProcess::NormalExit &&
                    lftp.exitCode() == 0;
    return ok ? double(timer.nsecsElapsed()) / 1e9 : -1;
}

void PrintLoad(const char* when)
{
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    if (loadavg.open(QIODevice::ReadOnly))
        std::printf("load average %s: %s", when, loadavg.readLine().constData());
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Remote Delete of a folder tree against lftp rm -r.");
    parser.addHelpOption();
    parser.addOption({"files", "Files in the tree (default 2000).", "n", "2000"});
    parser.addOption({"rounds", "Runs of each; the best counts (default 3).", "n", "3"});
    parser.process(app);
    const int files = std::max(1, parser.value("files").toInt());
    const int rounds = std::max(1, parser.value("rounds").toInt());

    QTemporaryDir root;
    FtpServerFixture server;
    if (!root.isValid() || !server.start(root.path())) {
        std::printf("the FTP server did not start: %s\n", qPrintable(server.errorOutput()));
        return 1;
    }
    PrintLoad("before");
    BenchRemoteHost host(true);
    const QString tree = root.filePath(QStringLiteral("tree"));
    double ours = 1e9;
    double lftp = 1e9;
    for (int round = 0; round < rounds; ++round) {
        for (const bool mine : {true, false}) {
            if (!MakeTree(tree, files)) {
                std::printf("could not make the tree of %d files\n", files);
                return 1;
            }
            const double seconds = mine ? Ours(host, server.port()) : Lftp(server.port());
            if (seconds < 0 || host.prompts.failed || QFileInfo::exists(tree)) {
                std::printf("%s failed to delete the tree\n", mine ? "ours" : "lftp");
                return 1;
            }
            (mine ? ours : lftp) = std::min(mine ? ours : lftp, seconds);
        }
    }
    std::printf("delete a tree of %d files in 24 folders: ours %.3f s, lftp rm -r %.3f s, "
                "time ratio ours/lftp %.2f (target <= 1.50)\n",
                files, ours, lftp, ours / lftp);
    PrintLoad("after");
    return 0;
}
