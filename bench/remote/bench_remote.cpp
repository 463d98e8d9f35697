// The remote listing as the user meets it (log-on, ListRemoteFiles with its progress dialog,
// rows sorted and shown in a list view, log-off) against curl fetching the same folder from
// the same server in the same run; then the column-click re-sort of the listed rows.
// Built with the program, never run by the tests; see bench/README.md.
#include "../ProcessorTime.h"
#include "../ResidentMemory.h"
#include "BenchRemoteHost.h"
#include "FtpServerFixture.h"
#include "common/FileListModel.h"
#include "common/RemoteFilesCompare.h"
#include "common/SortState.h"
#include "ftp/FtpConnection.h"
#include "ftp/RemoteHost.h"
#include "ftp/RemoteListing.h"
#include "ftp/RemoteSession.h"
#include "remote/FtpServerSession.h"
#include "sites/ProfileStore.h"
#include "transfer/ui/MsgForm.h"
#include "wininet.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The window around the listing: the real progress dialog and a list view over the rows.
class BenchHost final : public BenchRemoteHost
{
public:
    BenchHost()
    {
        view.setModel(&files);
        view.setUniformRowHeights(true);
        view.setRootIsDecorated(false);
        view.resize(600, 400);
        view.show();
    }
    void processEvents(bool userInput) override
    {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - lastPump);
        lastPump = now;
        ++pumps;
        BenchRemoteHost::processEvents(userInput);
    }

    QTreeView view;
    QElapsedTimer clock;
    qint64 lastPump = 0;
    qint64 longestGap = 0;
    int pumps = 0;
};

struct Run
{
    bool ok = false;
    double seconds = 0;
    int rows = 0;
    double engineSeconds = 0;       // the bare FtpFindFirstFileA / InternetFindNextFileA loop
    double listingSeconds = 0;      // ListRemoteFiles alone: engine, rows, sort, view
    double listingCpuSeconds = 0;   // this program's processor time in that listing
    std::uint64_t peakBytes = 0;    // the whole program's resident peak with the rows shown
    std::uint64_t clearedBytes = 0; // resident once log-off has cleared the rows
};

// The service's own enumeration on the open connection, for the breakdown of our time.
double engineListing()
{
    QElapsedTimer timer;
    timer.start();
    WIN32_FIND_DATAA entry{};
    const HINTERNET find = FtpFindFirstFileA(FtpConnectionHandle(FtpConnection.session()), nullptr,
                                             &entry, INTERNET_FLAG_RELOAD, 0);
    if (find) {
        while (InternetFindNextFileA(find, &entry)) {
        }
        InternetCloseHandle(find);
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

Run ourListing(BenchHost& host)
{
    Run run;
    bench::resetResidentPeak();
    QElapsedTimer timer;
    timer.start();
    host.clock.start();
    host.lastPump = 0;
    host.longestGap = 0;
    host.pumps = 0;
    if (!ConnectToSite(host))
        return run;
    QElapsedTimer listing;
    listing.start();
    const double cpuBefore = bench::cpuSeconds();
    ListRemoteFiles(host);
    QApplication::processEvents(); // the view lays the new rows out
    run.listingSeconds = double(listing.nsecsElapsed()) / 1e9;
    run.listingCpuSeconds = bench::cpuSeconds() - cpuBefore;
    run.rows = host.files.rowCount();
    run.peakBytes = bench::residentPeak();
    DisconnectFromSite(host);
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    run.clearedBytes = bench::residentNow();
    // Outside the timed run: the same folder through the service alone.
    if (ConnectToSite(host)) {
        run.engineSeconds = engineListing();
        DisconnectFromSite(host);
    }
    run.ok = !host.prompts.failed;
    return run;
}

Run curlListing(const FtpServerFixture& server, const QString& command)
{
    Run run;
    QProcess curl;
    curl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("curl"),
               {"--silent", "--show-error", "--user", "user:secret", "--request", command,
                "--output", "/dev/null",
                QStringLiteral("ftp://127.0.0.1:%1/many/").arg(server.port())});
    run.ok = curl.waitForFinished(-1) && curl.exitStatus() == QProcess::NormalExit &&
             curl.exitCode() == 0;
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    return run;
}

bool makeManyFiles(const QString& folder, int count)
{
    if (!QDir().mkpath(folder))
        return false;
    for (int i = 0; i < count; ++i) {
        // Names in no particular order and a few folders, so the sort has work to do.
        const int scrambled = static_cast<int>((static_cast<unsigned>(i) * 2654435761u) % 1000003u);
        const QString name = folder + QStringLiteral("/%1-entry-%2").arg(scrambled).arg(i) +
                             (i % 7 == 0 ? QStringLiteral(".zip") : QStringLiteral(".txt"));
        if (i % 1000 == 0) {
            if (!QDir().mkdir(name + QStringLiteral(".d")))
                return false;
            continue;
        }
        const int fd = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0)
            return false;
        if (::ftruncate(fd, i % 5000) != 0) {
            ::close(fd);
            return false;
        }
        ::close(fd);
    }
    return true;
}

// The fastest of `rounds` runs, with the highest memory peak of them all: a repeat listing
// meets what the one before it left behind, and that is the peak a user sees.
template <typename Measure> Run best(int rounds, Measure measure)
{
    Run result;
    std::uint64_t highestPeak = 0;
    for (int i = 0; i < rounds; ++i) {
        const Run run = measure();
        if (!run.ok)
            return run;
        highestPeak = std::max(highestPeak, run.peakBytes);
        if (!result.ok || run.seconds < result.seconds)
            result = run;
    }
    result.peakBytes = highestPeak;
    return result;
}

bool listing(BenchHost& host, const FtpServerFixture& server, const char* what,
             const QString& command, int rounds, int entries)
{
    const Run ours = best(rounds, [&] { return ourListing(host); });
    const int pumps = host.pumps;
    const qint64 gap = host.longestGap;
    const Run curl = best(rounds, [&] { return curlListing(server, command); });
    if (!ours.ok || !curl.ok || ours.rows != entries) {
        std::printf("%-16s FAILED (ours %s, %d rows; curl %s)\n", what, ours.ok ? "ok" : "failed",
                    ours.rows, curl.ok ? "ok" : "failed");
        return false;
    }
    std::printf("%-16s ours %7.3f s  curl %7.3f s  ratio ours/curl %.2f (target <= 2.00)  "
                "%d rows; %d event pumps, longest gap %lld ms\n",
                what, ours.seconds, curl.seconds, ours.seconds / curl.seconds, ours.rows, pumps,
                static_cast<long long>(gap));
    std::printf("%-16s of which ListRemoteFiles %.3f s (%.3f s processor time in this program); "
                "the service's bare enumeration of the same folder %.3f s\n",
                "", ours.listingSeconds, ours.listingCpuSeconds, ours.engineSeconds);
    std::printf("%-16s highest resident peak of the whole program with the rows shown %.1f MiB; "
                "%.1f MiB once log-off has cleared them\n",
                "", bench::mebibytes(ours.peakBytes), bench::mebibytes(ours.clearedBytes));
    std::fflush(stdout);
    return true;
}

bool resort(BenchHost& host)
{
    bool ok = true;
    int code = RemoteSort;
    for (int column : {0, 0, 1, 1, 2, 2, 0}) {
        code = SortCodeAfterColumnClick(code, column);
        QElapsedTimer timer;
        timer.start();
        host.files.sortRows(code);
        QApplication::processEvents(); // the view redraws in the new order
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        std::printf("re-sort code %2d   %7.1f ms (target < 300)  %d rows\n", code, ms,
                    host.files.rowCount());
        ok = ok && ms < 300;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Remote listing against curl, and the re-sort, on loopback.");
    parser.addHelpOption();
    const QCommandLineOption entriesOption("entries", "Entries in the folder (100000).", "n",
                                           "100000");
    const QCommandLineOption roundsOption("rounds", "Runs of each; the best counts (3).", "n", "3");
    parser.addOptions({entriesOption, roundsOption});
    parser.process(app);
    const int entries = std::max(1, parser.value(entriesOption).toInt());
    const int rounds = std::max(1, parser.value(roundsOption).toInt());

    QTemporaryDir work;
    const QString root = work.path() + QStringLiteral("/root");
    if (!work.isValid() || !makeManyFiles(root + QStringLiteral("/many"), entries)) {
        std::printf("could not prepare %d entries\n", entries);
        return 1;
    }
    qputenv("ZULFTP_HOME", QFile::encodeName(work.path() + QStringLiteral("/home")));
    bool ok = true;
    for (const bool mlsd : {false, true}) {
        FtpServerFixture server;
        FtpServerFixture::Options options;
        options.mlsd = mlsd;
        if (!server.start(root, options)) {
            std::printf("the FTP server did not start: %s\n", qPrintable(server.errorOutput()));
            return 1;
        }
        if (!ProfileStore(ProfileFilePath())
                 .write(SiteProfile{QStringLiteral("Bench"), server.host(),
                                    QString::number(server.port()), QStringLiteral("user"),
                                    QStringLiteral("secret"), QStringLiteral("many")})) {
            std::printf("could not write the site profile\n");
            return 1;
        }
        BenchHost host;
        RemoteSort = 1;
        ok = listing(host, server, mlsd ? "listing (MLSD)" : "listing (LIST)",
                     mlsd ? QStringLiteral("MLSD") : QStringLiteral("LIST"), rounds, entries) &&
             ok;
        if (!mlsd) {
            // Re-sort the rows of one more listing (ourListing disconnects at the end, which
            // clears them).
            if (ConnectToSite(host)) {
                ListRemoteFiles(host);
                ok = resort(host) && ok;
                DisconnectFromSite(host);
            }
        }
    }
    return ok ? 0 : 1;
}
