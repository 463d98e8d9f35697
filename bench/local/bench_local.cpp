// Times the local pane's listing of one big folder (enumerate, build rows, sort, show)
// against `ls -l` of the same folder in the same run, and prints the ratio.
//
//   bench_local [--files N] [--rounds R] [--folder PATH]
//
// Without --folder it fills a temporary folder with N empty files (default 100,000) and
// removes it at the end. Both sides run on a warm cache; the best of R rounds counts.
#include "ScriptedPrompter.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "common/FileListModel.h"
#include "common/SortState.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool fillFolder(const QString& folder, int files)
{
    for (int i = 0; i < files; ++i) {
        const QByteArray name = QFile::encodeName(folder + QStringLiteral("/file-%1.dat").arg(i));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    return true;
}

// `ls -l` of the folder with its output thrown away, in milliseconds.
double timeLs(const QString& folder)
{
    QProcess ls;
    ls.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    ls.start(QStringLiteral("ls"), {QStringLiteral("-l"), folder});
    ls.waitForFinished(-1);
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// The window lists the folder and draws the result, in milliseconds.
double timeListing(TfrmMain& window, const QString& folder)
{
    QElapsedTimer t;
    t.start();
    window.setLocalFolder(folder);
    window.LocalFiles->viewport()->repaint();
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    window.setLocalFolder(QStringLiteral("/")); // so the next round is a change again
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QTemporaryDir data;
    qputenv("ZULFTP_HOME", data.path().toUtf8());
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"files", "Files in the generated folder.", "N", "100000"});
    parser.addOption({"rounds", "Rounds; the best counts.", "R", "3"});
    parser.addOption({"folder", "List this folder instead of a generated one.", "PATH"});
    parser.process(app);

    QTemporaryDir scratch;
    QString folder = parser.value("folder");
    if (folder.isEmpty()) {
        folder = scratch.path();
        if (!fillFolder(folder, parser.value("files").toInt())) {
            std::fprintf(stderr, "could not fill %s\n", qPrintable(folder));
            return 1;
        }
    }
    const int rounds = std::max(1, parser.value("rounds").toInt());

    ScriptedPrompter prompter;
    TfrmMain window(prompter);
    window.show();
    LocalSort = 1; // by name, as ls sorts
    timeLs(folder);
    timeListing(window, folder); // warm the cache and the caches of the row builder's texts
    double bestLs = 1e18;
    double bestOurs = 1e18;
    for (int r = 0; r < rounds; ++r) {
        bestLs = std::min(bestLs, timeLs(folder));
        bestOurs = std::min(bestOurs, timeListing(window, folder));
    }
    window.setLocalFolder(folder);
    std::printf("folder: %s (%d rows)\n", qPrintable(folder), window.LocalFilesModel->rowCount());
    std::printf("ls -l:          %8.1f ms\n", bestLs);
    std::printf("ListLocalFiles: %8.1f ms (enumerate, rows, sort by name, draw)\n", bestOurs);
    std::printf("ratio:          %8.2fx (target <= 3x)\n", bestOurs / bestLs);
    return 0;
}
