// bench_sftp_tree [--entries N] [--files N] [--rounds N]: against OpenSSH's sftp on the same
// sshd in the same run, (1) a folder of N entries (100,000 by default) listed by the program's
// SFTP session against `sftp -b` running `ls -l`, and (2) a tree of N small files (2,000 by
// default, in folders of 100) uploaded and downloaded through the session, one file after the
// other as the program's folder transfers go, against `sftp -r`. Prints each time and the
// ratios (targets: listing <= 1.2, tree <= 1.0). Each side's time includes starting ssh and
// logging on; the best of --rounds counts.
#include "SshServer.h"

#include "remote/SftpServerSession.h"
#include "sftp/Askpass.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kFilesPerFolder = 100;
constexpr qint64 kFileSize = 4096;

struct Setup
{
    SshServer server;
    QTemporaryDir served;
    QTemporaryDir local;
    QString knownHosts;
};

std::unique_ptr<SftpServerSession> openSession(const Setup& setup)
{
    sftp::ConnectOptions options;
    options.host = "127.0.0.1";
    options.port = setup.server.port();
    options.user = setup.server.user().toStdString();
    options.keyFile = setup.server.clientKey().toStdString();
    options.configFile = "/dev/null";
    options.extraOptions = {"UserKnownHostsFile=" + setup.knownHosts.toStdString(),
                            "GlobalKnownHostsFile=/dev/null", "IdentitiesOnly=yes",
                            "IdentityAgent=none"};
    RemoteResult result;
    QString why;
    auto session = OpenSftpSession(
        options, [](const sftp::PromptRequest&) { return sftp::PromptAnswer{}; }, result, why);
    if (!session)
        std::fprintf(stderr, "connect: %s\n", qPrintable(why));
    return session;
}

// Seconds of `work` on a fresh session (log-on included); -1 when it failed.
double ours(const Setup& setup, const std::function<bool(SftpServerSession&)>& work)
{
    QElapsedTimer timer;
    timer.start();
    const auto session = openSession(setup);
    if (!session || !work(*session)) {
        if (session)
            std::fprintf(stderr, "ours: %s\n", qPrintable(session->failureText()));
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

double theirs(const Setup& setup, const QString& command)
{
    QProcess sftp;
    sftp.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sftp.setStandardOutputFile(QProcess::nullDevice());
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

bool makeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Files and bytes under `root`, to check that every run brought the whole tree.
QString summary(const QString& root)
{
    qint64 files = 0, bytes = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++files;
        bytes += it.fileInfo().size();
    }
    return QStringLiteral("%1 files, %2 bytes").arg(files).arg(bytes);
}

// The local folder `from` into the new remote folder `to`, a file at a time.
bool uploadTree(SftpServerSession& session, const QString& from, const QByteArray& to)
{
    if (!session.makeFolder(to))
        return false;
    const QFileInfoList entries =
        QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QByteArray target = RemotePath::join(to, QFile::encodeName(entry.fileName()));
        if (entry.isDir()) {
            if (!uploadTree(session, entry.filePath(), target))
                return false;
            continue;
        }
        QFile file(entry.filePath());
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray data = file.readAll();
        RemoteResult result;
        auto stream = session.openWrite(target, 0, result);
        if (!stream || !stream->write(data.constData(), data.size()) || !stream->complete())
            return false;
    }
    return true;
}

// The remote folder `from` into the new local folder `to`, a file at a time.
bool downloadTree(SftpServerSession& session, const QByteArray& from, const QString& to)
{
    if (!QDir().mkpath(to))
        return false;
    RemoteListing listing;
    if (!session.list(from, listing, ListPurpose::Walk))
        return false;
    for (const RemoteEntry& entry : listing.entries) {
        if (entry.name == QLatin1String(".") || entry.name == QLatin1String("..") || entry.isLink)
            continue;
        const QByteArray source = RemotePath::join(from, entry.serverName);
        const QString target = to + '/' + entry.name;
        if (entry.isFolder) {
            if (!downloadTree(session, source, target))
                return false;
            continue;
        }
        RemoteResult result;
        auto stream = session.openRead(source, 0, result);
        if (!stream)
            return false;
        QByteArray data;
        char buffer[65536];
        for (qint64 got = 1; got > 0;) {
            if (!stream->read(buffer, sizeof buffer, got))
                return false;
            data.append(buffer, got);
        }
        if (!stream->complete() || !makeFile(target, data))
            return false;
    }
    return true;
}

void printRow(const char* name, double ourTime, double theirTime, double target)
{
    if (ourTime <= 0 || theirTime <= 0) {
        std::printf("%-16s failed\n", name);
        return;
    }
    std::printf("%-16s ours %7.2f s  sftp %7.2f s  ratio %.2f (target <= %.2f)\n", name, ourTime,
                theirTime, ourTime / theirTime, target);
}

} // namespace

int main(int argc, char* argv[])
{
    // Started by ssh as its askpass program (it asks nothing here: log-on is by key).
    const int askpass = sftp::runAskpassHelper(argc, argv);
    if (askpass >= 0)
        return askpass;
    QCoreApplication app(argc, argv);
    int entries = 100000;
    int files = 2000;
    int rounds = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray option(argv[i]);
        const int value = QByteArray(argv[i + 1]).toInt();
        if (option == "--entries")
            entries = std::max(0, value);
        else if (option == "--files")
            files = std::max(0, value);
        else if (option == "--rounds")
            rounds = std::max(1, value);
    }
    Setup setup;
    if (const QString reason = SshServer::unavailableReason(SshServer::Kind::OpenSsh);
        !reason.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(reason));
        return 1;
    }
    if (!setup.server.start(SshServer::Kind::OpenSsh, setup.served.path())) {
        std::fprintf(stderr, "sshd: %s\n", qPrintable(setup.server.errorText()));
        return 1;
    }
    // The big folder and the tree, made where sshd serves them and where we upload from.
    const QString big = setup.served.filePath(QStringLiteral("big"));
    const QString tree = setup.local.filePath(QStringLiteral("tree"));
    QDir().mkpath(big);
    for (int i = 0; i < entries; ++i)
        makeFile(QStringLiteral("%1/entry-%2.txt").arg(big).arg(i, 6, 10, QChar('0')), "x");
    const QByteArray content(kFileSize, 'z');
    for (int i = 0; i < files; ++i) {
        const QString folder =
            QStringLiteral("%1/d%2").arg(tree).arg(i / kFilesPerFolder, 3, 10, QChar('0'));
        QDir().mkpath(folder);
        makeFile(QStringLiteral("%1/f%2.txt").arg(folder).arg(i), content);
    }
    setup.server.handOver(setup.served.path());
    setup.knownHosts = setup.local.filePath(QStringLiteral("known_hosts"));
    makeFile(setup.knownHosts, QStringLiteral("[127.0.0.1]:%1 ").arg(setup.server.port()).toUtf8() +
                                   setup.server.hostKeyLine() + "\n");
    const QString served = setup.server.serverPath(setup.served.path());
    const QByteArray remoteBig = setup.server.serverPath(big).toUtf8();
    const QString expected = summary(tree);

    double listOurs = 1e9, listTheirs = 1e9, upOurs = 1e9, upTheirs = 1e9, downOurs = 1e9,
           downTheirs = 1e9;
    bool complete = true;
    const auto check = [&](const char* what, const QString& root) {
        if (summary(root) != expected) {
            std::printf("%s: %s, not %s\n", what, qPrintable(summary(root)), qPrintable(expected));
            complete = false;
        }
    };
    const auto best = [](double& slot, double time) {
        slot = time < 0 || slot < 0 ? -1 : std::min(slot, time);
    };
    for (int round = 0; round < rounds; ++round) {
        qsizetype listed = 0;
        best(listOurs, ours(setup, [&](SftpServerSession& session) {
                 RemoteListing listing;
                 const bool ok = bool(session.list(remoteBig, listing));
                 listed = qsizetype(listing.entries.size());
                 return ok;
             }));
        if (listed < entries) {
            std::printf("our listing: %lld entries, not %d\n", qlonglong(listed), entries);
            complete = false;
        }
        best(listTheirs, theirs(setup, QStringLiteral("ls -l \"%1\"").arg(served + "/big")));

        const QString upOur = QStringLiteral("%1/up-ours-%2").arg(served).arg(round);
        const QString upTheir = QStringLiteral("%1/up-sftp-%2").arg(served).arg(round);
        best(upOurs, ours(setup, [&](SftpServerSession& session) {
                 return uploadTree(session, tree, upOur.toUtf8());
             }));
        check("our upload", setup.served.filePath(QStringLiteral("up-ours-%1").arg(round)));
        best(upTheirs, theirs(setup, QStringLiteral("put -r \"%1\" \"%2\"").arg(tree, upTheir)));
        check("sftp's upload", setup.served.filePath(QStringLiteral("up-sftp-%1").arg(round)));

        const QString downOur = setup.local.filePath(QStringLiteral("down-ours-%1").arg(round));
        const QString downTheir = setup.local.filePath(QStringLiteral("down-sftp-%1").arg(round));
        best(downOurs, ours(setup, [&](SftpServerSession& session) {
                 return downloadTree(session, upOur.toUtf8(), downOur);
             }));
        check("our download", downOur);
        best(downTheirs,
             theirs(setup, QStringLiteral("get -r \"%1\" \"%2\"").arg(upOur, downTheir)));
        check("sftp's download", downTheir);
    }
    std::printf("sshd on loopback, best of %d; a folder of %d entries, a tree of %s\n", rounds,
                entries, qPrintable(expected));
    printRow("list (ls -l)", listOurs, listTheirs, 1.2);
    printRow("tree upload", upOurs, upTheirs, 1.0);
    printRow("tree download", downOurs, downTheirs, 1.0);
    return complete ? 0 : 1;
}
