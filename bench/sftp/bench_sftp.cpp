// bench_sftp [--mib N] [--rounds N]: downloads and uploads one file of N MiB (256 by default)
// with our engine and with OpenSSH's sftp, against the same sshd on loopback in the same run,
// and prints each side's throughput and the ratio ours/sftp (target >= 0.90). Each side's time
// includes starting ssh and logging on; the best of --rounds counts. The two sides alternate
// (which goes first swaps every round), so a machine shared with other work loads both alike;
// the spread of the rounds' ratios and our peak resident memory are printed too.
#include "../ResidentMemory.h"
#include "SshServer.h"

#include "sftp/Askpass.h"
#include "sftp/SftpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

struct Setup
{
    SshServer server;
    QTemporaryDir served;
    QTemporaryDir local;
    QString knownHosts;
    QString remoteFile; // the server's path of the file to download
};

sftp::ConnectOptions options(const Setup& setup)
{
    sftp::ConnectOptions result;
    result.host = "127.0.0.1";
    result.port = setup.server.port();
    result.user = setup.server.user().toStdString();
    result.keyFile = setup.server.clientKey().toStdString();
    result.configFile = "/dev/null";
    result.extraOptions = {"UserKnownHostsFile=" + setup.knownHosts.toStdString(),
                           "GlobalKnownHostsFile=/dev/null", "IdentitiesOnly=yes",
                           "IdentityAgent=none"};
    return result;
}

double ours(const Setup& setup, bool download, const QString& local, const QString& remote)
{
    QElapsedTimer timer;
    timer.start();
    sftp::SftpClient client;
    if (!client.connect(options(setup), nullptr)) {
        std::fprintf(stderr, "connect: %s\n", client.lastError().text.c_str());
        return -1;
    }
    std::uint64_t moved = 0;
    bool ok = false;
    if (download) {
        const int fd = ::open(QFile::encodeName(local).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ok = client.download(
            remote.toStdString(), 0,
            [fd](std::string_view bytes) {
                return ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
            },
            moved);
        ::close(fd);
    } else {
        const int fd = ::open(QFile::encodeName(local).constData(), O_RDONLY | O_CLOEXEC);
        ok = client.upload(
            remote.toStdString(), sftp::UploadMode::Replace, 0,
            [fd](std::string& chunk, std::size_t max) {
                chunk.resize(max);
                const ssize_t got = ::read(fd, chunk.data(), max);
                chunk.resize(std::size_t(std::max<ssize_t>(got, 0)));
                return got >= 0;
            },
            moved);
        ::close(fd);
    }
    if (!ok) {
        std::fprintf(stderr, "transfer: %s\n", client.lastError().text.c_str());
        return -1;
    }
    client.disconnect();
    return double(timer.nsecsElapsed()) / 1e9;
}

double theirs(const Setup& setup, const QString& command)
{
    QProcess sftp;
    sftp.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    sftp.start(QStringLiteral("sftp"),
               {"-q", "-b", "-", "-F", "/dev/null", "-o", "UserKnownHostsFile=" + setup.knownHosts,
                "-o", "GlobalKnownHostsFile=/dev/null", "-o", "IdentitiesOnly=yes", "-o",
                "IdentityAgent=none", "-i", setup.server.clientKey(), "-P",
                QString::number(setup.server.port()),
                setup.server.user() + QStringLiteral("@127.0.0.1")});
    sftp.write(command.toUtf8() + "\n");
    sftp.closeWriteChannel();
    if (!sftp.waitForFinished(-1) || sftp.exitCode() != 0)
        return -1;
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char* argv[])
{
    // Started by ssh as its askpass program (it asks nothing here: log-on is by key).
    const int askpass = sftp::runAskpassHelper(argc, argv);
    if (askpass >= 0)
        return askpass;
    QCoreApplication app(argc, argv);
    qint64 mib = 256;
    int rounds = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (QByteArray(argv[i]) == "--mib")
            mib = QByteArray(argv[i + 1]).toLongLong();
        else if (QByteArray(argv[i]) == "--rounds")
            rounds = std::max(1, QByteArray(argv[i + 1]).toInt());
    }
    Setup setup;
    if (!SshServer::unavailableReason(SshServer::Kind::OpenSsh).isEmpty()) {
        std::fprintf(stderr, "%s\n",
                     qPrintable(SshServer::unavailableReason(SshServer::Kind::OpenSsh)));
        return 1;
    }
    if (!setup.server.start(SshServer::Kind::OpenSsh, setup.served.path())) {
        std::fprintf(stderr, "sshd: %s\n", qPrintable(setup.server.errorText()));
        return 1;
    }
    const QString source = setup.served.filePath(QStringLiteral("source"));
    {
        QFile file(source);
        file.open(QIODevice::WriteOnly);
        std::vector<quint32> block(1 << 18);
        for (qint64 written = 0; written < mib * 1024 * 1024; written += 1 << 20) {
            QRandomGenerator::global()->fillRange(block.data(), block.size());
            file.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
        }
    }
    setup.server.handOver(setup.served.path());
    setup.knownHosts = setup.local.filePath(QStringLiteral("known_hosts"));
    {
        QFile file(setup.knownHosts);
        file.open(QIODevice::WriteOnly);
        file.write(QStringLiteral("[127.0.0.1]:%1 ").arg(setup.server.port()).toUtf8() +
                   setup.server.hostKeyLine() + "\n");
    }
    const QString remoteSource = setup.server.serverPath(source);
    const QString remoteFolder = setup.server.serverPath(setup.served.path());
    const QString local = setup.local.filePath(QStringLiteral("copy"));
    const double megabytes = double(mib) * 1.048576;
    struct Row
    {
        const char* name;
        double ours = 1e9;
        double theirs = 1e9;
        std::vector<double> ratios{}; // each round's
        std::uint64_t peak = 0;       // our resident memory at its highest during a transfer
    } rows[] = {{"download"}, {"upload"}};
    for (int round = 0; round < rounds; ++round) {
        for (int direction = 0; direction < 2; ++direction) {
            Row& row = rows[direction];
            const auto runOurs = [&] {
                bench::resetResidentPeak();
                const double seconds = direction == 0
                                           ? ours(setup, true, local, remoteSource)
                                           : ours(setup, false, local, remoteFolder + "/ours");
                row.peak = std::max(row.peak, bench::residentPeak());
                return seconds;
            };
            const auto runTheirs = [&] {
                return theirs(
                    setup,
                    direction == 0
                        ? QStringLiteral("get \"%1\" \"%2\"").arg(remoteSource, local)
                        : QStringLiteral("put \"%1\" \"%2\"").arg(local, remoteFolder + "/theirs"));
            };
            double our = 0;
            double their = 0;
            if (round % 2 == 0) {
                our = runOurs();
                their = runTheirs();
            } else {
                their = runTheirs();
                our = runOurs();
            }
            if (our <= 0 || their <= 0) {
                row.ours = row.theirs = -1;
                continue;
            }
            row.ours = std::min(row.ours, our);
            row.theirs = std::min(row.theirs, their);
            row.ratios.push_back(their / our);
        }
    }
    std::printf("%lld MiB over loopback, best of %d\n", mib, rounds);
    for (const Row& row : rows) {
        if (row.ours <= 0 || row.theirs <= 0) {
            std::printf("%-9s failed\n", row.name);
            continue;
        }
        std::vector<double> ratios = row.ratios;
        std::sort(ratios.begin(), ratios.end());
        std::printf("%-9s ours %7.1f MB/s  sftp %7.1f MB/s  ratio %.2f (target >= 0.90); rounds "
                    "%.2f-%.2f, median %.2f; our peak memory %.1f MiB\n",
                    row.name, megabytes / row.ours, megabytes / row.theirs, row.theirs / row.ours,
                    ratios.front(), ratios.back(), ratios[ratios.size() / 2],
                    bench::mebibytes(row.peak));
    }
    return 0;
}
