// Benchmark of the internet client layer against curl on the same local server in the same
// run: a large download and upload in small calls, and the listing of a very large folder.
// Built with the program, never run by the tests; see bench/README.md.
#include "../ResidentMemory.h"
#include "BenchFtp.h"
#include "FtpServerFixture.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

struct Settings
{
    qint64 mebibytes = 1024;
    int entries = 100000;
    int rounds = 3;
    unsigned blockSize = 4096;
    bool transfers = true;
    bool tls = true;
    bool listing = true;
};

Settings parseSettings(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Internet client layer against curl, on loopback.");
    parser.addHelpOption();
    const QCommandLineOption mib("mib", "Size of the transfer file in MiB (1024).", "n", "1024");
    const QCommandLineOption entries("entries", "Entries in the listed folder (100000).", "n",
                                     "100000");
    const QCommandLineOption rounds("rounds", "Runs of each measurement; the best counts (3).", "n",
                                    "3");
    const QCommandLineOption block("block", "Bytes per read or write call (4096).", "n", "4096");
    const QCommandLineOption only("only", "Only 'transfer', 'tls' or 'listing'.", "part");
    parser.addOptions({mib, entries, rounds, block, only});
    parser.process(app);
    Settings settings;
    settings.mebibytes = std::max<qint64>(1, parser.value(mib).toLongLong());
    settings.entries = std::max(1, parser.value(entries).toInt());
    settings.rounds = std::max(1, parser.value(rounds).toInt());
    settings.blockSize = std::max(1u, parser.value(block).toUInt());
    const QString part = parser.value(only);
    settings.transfers = part.isEmpty() || part == "transfer";
    settings.tls = part.isEmpty() || part == "tls";
    settings.listing = part.isEmpty() || part == "listing";
    return settings;
}

// Incompressible content, so nothing on the path can shortcut the bytes.
bool makeBigFile(const QString& path, qint64 mebibytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::vector<char> block(1 << 20);
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (char& byte : block) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = char(state & 0xFF);
    }
    for (qint64 i = 0; i < mebibytes; ++i) {
        block[0] = char(i); // no two mebibytes alike
        if (file.write(block.data(), qint64(block.size())) != qint64(block.size()))
            return false;
    }
    return true;
}

bool makeManyFiles(const QString& folder, int count)
{
    if (!QDir().mkpath(folder))
        return false;
    for (int i = 0; i < count; ++i) {
        const QByteArray path = QFile::encodeName(
            folder + QStringLiteral("/entry-%1.txt").arg(i, 6, 10, QLatin1Char('0')));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    return true;
}

// The best of `rounds` runs: the one least disturbed by the rest of the machine.
BenchRun best(int rounds, const std::function<BenchRun()>& measure)
{
    BenchRun result;
    for (int i = 0; i < rounds; ++i) {
        const BenchRun run = measure();
        if (!run.ok)
            return run;
        if (!result.ok || run.seconds < result.seconds)
            result = run;
    }
    return result;
}

bool report(const char* what, const BenchRun& ours, const BenchRun& curl, bool throughput,
            std::uint64_t bytes, double target = 0.90)
{
    if (!ours.ok || !curl.ok) {
        std::printf("%-22s FAILED: %s\n", what,
                    qPrintable(!ours.ok ? "ours: " + ours.error : "curl: " + curl.error));
        return false;
    }
    if (throughput) {
        const double oursRate = double(bytes) / ours.seconds / 1e6;
        const double curlRate = double(bytes) / curl.seconds / 1e6;
        std::printf(
            "%-22s ours %8.1f MB/s  curl %8.1f MB/s  ratio ours/curl %.2f (target >= %.2f)\n", what,
            oursRate, curlRate, oursRate / curlRate, target);
    } else {
        std::printf("%-22s ours %7.3f s  curl %7.3f s  ratio ours/curl %.2f (target <= 1.50)  "
                    "%llu entries, peak +%.1f MiB\n",
                    what, ours.seconds, curl.seconds, ours.seconds / curl.seconds,
                    static_cast<unsigned long long>(ours.entries),
                    bench::mebibytes(ours.peakBytes));
    }
    std::fflush(stdout);
    return true;
}

void printLoad()
{
    QFile loadavg("/proc/loadavg");
    if (loadavg.open(QIODevice::ReadOnly))
        std::printf("load average: %s", loadavg.readAll().constData());
}

// `tls`: the same over TLS, whose encryption curl's must match (target 0.80).
bool runTransfers(const Settings& settings, const QString& root, const BenchServer& server,
                  bool tls = false)
{
    const double target = tls ? 0.80 : 0.90;
    const QString big = root + "/big.bin";
    const std::uint64_t bytes = std::uint64_t(settings.mebibytes) << 20;
    const unsigned blockSize = settings.blockSize;
    const BenchRun oursDown = best(settings.rounds, [&] {
        BenchRun run = ourDownload(server, "big.bin", blockSize);
        if (run.ok && run.bytes != bytes) {
            run.ok = false;
            run.error = QStringLiteral("downloaded %1 bytes").arg(run.bytes);
        }
        return run;
    });
    const BenchRun curlDown = best(settings.rounds, [&] {
        return curlRun(server, {"--output", "/dev/null", ftpUrl(server, "big.bin")});
    });
    bool ok = report(tls ? "download (TLS)" : "download", oursDown, curlDown, true, bytes, target);
    const BenchRun oursUp = best(settings.rounds, [&] {
        BenchRun run = ourUpload(server, big, "up-ours.bin", blockSize);
        if (run.ok && QFileInfo(root + "/up-ours.bin").size() != qint64(bytes)) {
            run.ok = false;
            run.error = "the uploaded file has the wrong size";
        }
        return run;
    });
    const BenchRun curlUp = best(settings.rounds, [&] {
        return curlRun(server, {"--upload-file", big, ftpUrl(server, "up-curl.bin")});
    });
    ok = report(tls ? "upload (TLS)" : "upload", oursUp, curlUp, true, bytes, target) && ok;
    QFile::remove(root + "/up-ours.bin");
    QFile::remove(root + "/up-curl.bin");
    return ok;
}

// `command` is the listing command curl should send ("LIST" or "MLSD").
bool runListing(const Settings& settings, const BenchServer& server, const char* what,
                const QString& command)
{
    const BenchRun ours = best(settings.rounds, [&] {
        BenchRun run = ourListing(server, "many");
        if (run.ok && run.entries < std::uint64_t(settings.entries)) {
            run.ok = false;
            run.error = QStringLiteral("listed %1 entries").arg(run.entries);
        }
        return run;
    });
    const BenchRun curl = best(settings.rounds, [&] {
        return curlRun(server,
                       {"--request", command, "--output", "/dev/null", ftpUrl(server, "many/")});
    });
    return report(what, ours, curl, false, 0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Settings settings = parseSettings(app);
    QTemporaryDir work;
    const QString root = work.path() + "/root";
    if (!work.isValid() || !QDir().mkpath(root))
        return std::fprintf(stderr, "cannot create a work folder\n"), 1;
    std::printf("preparing %s in %s\n",
                qPrintable(QStringLiteral("%1 MiB file, %2 entries")
                               .arg(settings.transfers || settings.tls ? settings.mebibytes : 0)
                               .arg(settings.listing ? settings.entries : 0)),
                qPrintable(root));
    std::fflush(stdout);
    if (((settings.transfers || settings.tls) &&
         !makeBigFile(root + "/big.bin", settings.mebibytes)) ||
        (settings.listing && !makeManyFiles(root + "/many", settings.entries)))
        return std::fprintf(stderr, "cannot create the test files\n"), 1;

    printLoad();
    bool ok = true;
    FtpServerFixture withMlsd;
    FtpServerFixture listOnly;
    FtpServerFixture::Options noMlsd;
    noMlsd.mlsd = false;
    if (!withMlsd.start(root) || !listOnly.start(root, noMlsd))
        return std::fprintf(stderr, "cannot start the FTP server\n"), 1;
    const BenchServer mlsdServer{withMlsd.port(), "user", "secret"};
    const BenchServer listServer{listOnly.port(), "user", "secret"};
    if (settings.transfers)
        ok = runTransfers(settings, root, mlsdServer) && ok;
    if (settings.tls) {
        // A certificate of our own authority, trusted through SSL_CERT_FILE by our side and
        // --cacert by curl's, so both verify it as they would a real one.
        const QString certificates = work.path() + "/certificates";
        FtpServerFixture::Options tlsOptions;
        tlsOptions.tlsCertificate = certificates + "/server.pem";
        tlsOptions.tlsRequired = true;
        FtpServerFixture tlsServer;
        if (!FtpServerFixture::makeCertificate(certificates, {"127.0.0.1"}, false) ||
            !tlsServer.start(root, tlsOptions))
            return std::fprintf(stderr, "cannot start the TLS server\n"), 1;
        qputenv("SSL_CERT_FILE", QFile::encodeName(certificates + "/ca.pem"));
        const BenchServer secure{tlsServer.port(), "user", "secret", certificates + "/ca.pem"};
        ok = runTransfers(settings, root, secure, true) && ok;
    }
    if (settings.listing) {
        ok = runListing(settings, listServer, "listing (LIST)", "LIST") && ok;
        ok = runListing(settings, mlsdServer, "listing (MLSD)", "MLSD") && ok;
    }
    printLoad();
    return ok ? 0 : 1;
}
