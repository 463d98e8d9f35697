// bench_sftp_tree [--entries N] [--files N] [--rounds N] [--rtt MS] [--relay-files N]
// [--relay-size BYTES] [--only list|tree|relay] [--one-by-one] [--queue WORKERS]: against OpenSSH's
// sftp on the same sshd in the same run, (1) a folder of N entries (100,000 by default) listed by
// the program's SFTP session against `sftp -b` running `ls -l`, (2) a tree of N small files (2,000
// by default, in folders of 100) uploaded and downloaded by the window's folder transfers
// against `sftp -r`, and (3) a tree of 1,000 files of 10 KiB both ways through the delaying
// relay at a 50 ms round trip, one connection each. Prints each time and the ratios (targets:
// listing <= 1.2, tree <= 1.0, relayed tree <= 0.25). Each side's time includes starting ssh
// and logging on; the best of --rounds counts. --one-by-one moves the files one after the
// other, as a session that keeps one file in flight does, for comparison. --queue moves the
// trees through the background transfer queue with that many workers (each a connection of its
// own) in place of the window's folder transfers (with --one-by-one, as before batches).
#include "SshServer.h"

#include "DelayRelay.h"
#include "common/CancelFlag.h"
#include "common/ProgressSink.h"
#include "queue/TransferQueue.h"
#include "remote/SftpServerSession.h"
#include "sftp/Askpass.h"
#include "transfer/BatchHost.h"
#include "transfer/FolderTransfer.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

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

std::unique_ptr<SftpServerSession> openSession(const Setup& setup, std::uint16_t port)
{
    sftp::ConnectOptions options;
    options.host = "127.0.0.1";
    options.port = port;
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

// The session as one that carries a single file at a time sees it: the folder transfers then
// move every file alone, as they did before batches.
class OneByOne final : public ServerSession
{
public:
    explicit OneByOne(ServerSession& inner) : m_inner(inner) {}
    // Owning its session: a queue worker's connection.
    explicit OneByOne(std::unique_ptr<ServerSession> owned)
        : m_owned(std::move(owned)), m_inner(*m_owned)
    {}
    SessionTraits traits() const override
    {
        SessionTraits traits = m_inner.traits();
        traits.filesInFlight = false;
        return traits;
    }
    RemoteResult currentFolder(QByteArray& path) override { return m_inner.currentFolder(path); }
    QByteArray knownFolder() const override { return m_inner.knownFolder(); }
    RemoteResult changeFolder(const QByteArray& path) override
    {
        return m_inner.changeFolder(path);
    }
    RemoteResult list(const QByteArray& folder, RemoteListing& listing, ListPurpose purpose,
                      const std::function<void(RemoteEntry&&)>& each) override
    {
        return m_inner.list(folder, listing, purpose, each);
    }
    RemoteResult stat(const QByteArray& path, RemoteEntry& entry) override
    {
        return m_inner.stat(path, entry);
    }
    RemoteResult makeFolder(const QByteArray& path) override { return m_inner.makeFolder(path); }
    RemoteResult removeFolder(const QByteArray& path) override
    {
        return m_inner.removeFolder(path);
    }
    RemoteResult removeFile(const QByteArray& path) override { return m_inner.removeFile(path); }
    RemoteResult rename(const QByteArray& from, const QByteArray& to) override
    {
        return m_inner.rename(from, to);
    }
    std::unique_ptr<RemoteStream> openRead(const QByteArray& path, qint64 offset,
                                           RemoteResult& result, TransferMode mode) override
    {
        return m_inner.openRead(path, offset, result, mode);
    }
    std::unique_ptr<RemoteStream> openWrite(const QByteArray& path, qint64 appendAt,
                                            RemoteResult& result, TransferMode mode) override
    {
        return m_inner.openWrite(path, appendAt, result, mode);
    }
    void cancel() override { m_inner.cancel(); }

private:
    std::unique_ptr<ServerSession> m_owned;
    ServerSession& m_inner;
};

class NoProgress final : public ProgressSink
{
public:
    void ShowProgress(const QString&, const QString&, bool, bool) override {}
    void UpdateProgress(int, qint64, qint64, double) override {}
    void SetProgressPosition(int) override {}
    void CloseProgress() override {}
};

// The window around the folder transfers: no dialog; every report is a failure.
class BenchHost final : public BatchHost
{
public:
    BenchHost(ServerSession& session, QString folder) : m_session(session), m_folder(folder) {}
    ServerSession& session() override { return m_session; }
    bool connected() const override { return true; }
    bool lowerCaseUpload() const override { return false; }
    QString localFolder() const override { return m_folder; }
    ProgressSink& progress() override { return m_progress; }
    void reportFtpError(const QString& message, const RemoteResult& result) override
    {
        std::fprintf(stderr, "error: %s (%s)\n", qPrintable(message), qPrintable(result.reply));
        failed = true;
    }
    void warn(const QString& text) override
    {
        std::fprintf(stderr, "warning: %s\n", qPrintable(text));
        failed = true;
    }
    void setBusyCursor(bool) override {}
    void listRemoteFiles() override {}
    void listLocalFiles() override {}
    void showFileError(const QString& text) override { warn(text); }
    ExistsAnswer askExists(const QString&, bool) override
    {
        return {ExistsAction::Overwrite, true};
    }
    std::optional<QString> askNewName(const QString&, const QString&) override
    {
        return std::nullopt;
    }

    bool failed = false;

private:
    ServerSession& m_session;
    QString m_folder;
    NoProgress m_progress;
};

// Seconds of `work` on a fresh session through `port` (log-on included); -1 when it failed.
double ours(const Setup& setup, std::uint16_t port,
            const std::function<bool(SftpServerSession&)>& work)
{
    QElapsedTimer timer;
    timer.start();
    const auto session = openSession(setup, port);
    if (!session || !work(*session)) {
        if (session)
            std::fprintf(stderr, "ours: %s\n", qPrintable(session->failureText()));
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

// Seconds the background queue with `workers` took to move the tree `item` through `port`,
// its log-ons included; -1 when an item did not finish.
double queued(const Setup& setup, std::uint16_t port, int workers, bool oneByOne, QueueItem item)
{
    TransferQueue queue(
        [&setup, port, oneByOne](RemoteResult&, QString& why) -> std::unique_ptr<ServerSession> {
            std::unique_ptr<ServerSession> session = openSession(setup, port);
            if (!session)
                why = QStringLiteral("no connection");
            else if (oneByOne)
                session = std::make_unique<OneByOne>(std::move(session));
            return session;
        },
        QStringLiteral("bench"));
    queue.setWorkerLimit(workers);
    QElapsedTimer timer;
    timer.start();
    item.folder = true;
    queue.add({item});
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!queue.busy())
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    bool whole = true;
    for (const QueueItem& done : queue.items()) {
        if (done.state != QueueState::Finished) {
            std::fprintf(stderr, "queue: %s: %s\n", qPrintable(done.localName),
                         qPrintable(done.error));
            whole = false;
        }
    }
    return whole ? seconds : -1;
}

double theirs(const Setup& setup, std::uint16_t port, const QString& command)
{
    QProcess sftp;
    sftp.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sftp.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    sftp.start(QStringLiteral("sftp"),
               {"-q", "-b", "-", "-F", "/dev/null", "-o", "UserKnownHostsFile=" + setup.knownHosts,
                "-o", "GlobalKnownHostsFile=/dev/null", "-o", "IdentitiesOnly=yes", "-o",
                "IdentityAgent=none", "-i", setup.server.clientKey(), "-P", QString::number(port),
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

// The local folder `tree` into the remote folder `into` (made here), as the window's Upload
// of a folder row sends it.
bool uploadTree(ServerSession& session, const QString& tree, const QByteArray& into)
{
    if (!session.makeFolder(into) || !session.changeFolder(into))
        return false;
    BenchHost host(session, QFileInfo(tree).path());
    CancelRequested = false;
    return UploadFolder(host, tree) == FolderOutcome::Done && !host.failed;
}

// The remote folder `tree` of `from` into the local folder `into` (made here), as the
// window's Download of a folder row fetches it.
bool downloadTree(ServerSession& session, const QByteArray& from, const QByteArray& tree,
                  const QString& into)
{
    if (!QDir().mkpath(into) || !session.changeFolder(from))
        return false;
    BenchHost host(session, into);
    CancelRequested = false;
    return DownloadFolder(host, tree) == FolderOutcome::Done && !host.failed;
}

void printRow(const char* name, double ourTime, double theirTime, double target)
{
    if (ourTime <= 0 || theirTime <= 0) {
        std::printf("%-16s failed\n", name);
        return;
    }
    std::printf("%-16s ours %7.2f s  sftp %7.2f s  ratio %.2f (target <= %.2f)\n", name, ourTime,
                theirTime, ourTime / theirTime, target);
    std::fflush(stdout);
}

void makeTree(const QString& root, int files, qint64 size)
{
    const QByteArray content(size, 'z');
    for (int i = 0; i < files; ++i) {
        const QString folder =
            QStringLiteral("%1/d%2").arg(root).arg(i / kFilesPerFolder, 3, 10, QChar('0'));
        QDir().mkpath(folder);
        makeFile(QStringLiteral("%1/f%2.txt").arg(folder).arg(i), content);
    }
}

struct TreeTimes
{
    double upOurs = 1e9, upTheirs = 1e9, downOurs = 1e9, downTheirs = 1e9;
};

void best(double& slot, double time)
{
    slot = time < 0 || slot < 0 ? -1 : std::min(slot, time);
}

// One round of a tree both ways, ours and sftp's, through `port`; false when a copy was not
// whole.
bool treeRound(const Setup& setup, std::uint16_t port, const QString& tree, const QString& tag,
               bool oneByOne, int workers, TreeTimes& times)
{
    const QString expected = summary(tree);
    bool complete = true;
    const auto check = [&](const char* what, const QString& root) {
        if (summary(root) != expected) {
            std::printf("%s: %s, not %s\n", what, qPrintable(summary(root)), qPrintable(expected));
            complete = false;
        }
    };
    const QString served = setup.server.serverPath(setup.served.path());
    const QString name = QFileInfo(tree).fileName();
    const QByteArray upOur = QStringLiteral("%1/up-ours-%2").arg(served, tag).toUtf8();
    const QString upTheir = QStringLiteral("%1/up-sftp-%2").arg(served, tag);
    const auto transfer = [&](SftpServerSession& session,
                              const std::function<bool(ServerSession&)>& work) {
        OneByOne single(session);
        return oneByOne ? work(single) : work(session);
    };
    QueueItem item;
    if (workers > 0) {
        // The queue makes the tree's folder itself, under the item's remote path.
        item.direction = QueueDirection::Upload;
        item.localFolder = QFileInfo(tree).path();
        item.localName = name;
        item.remotePath = upOur;
        best(times.upOurs, queued(setup, port, workers, oneByOne, item));
        check("our upload", setup.served.filePath(QStringLiteral("up-ours-%1").arg(tag)));
    } else {
        best(times.upOurs, ours(setup, port, [&](SftpServerSession& session) {
                 return transfer(session,
                                 [&](ServerSession& s) { return uploadTree(s, tree, upOur); });
             }));
        check("our upload", setup.served.filePath(QStringLiteral("up-ours-%1/%2").arg(tag, name)));
    }
    best(times.upTheirs,
         theirs(setup, port, QStringLiteral("put -r \"%1\" \"%2\"").arg(tree, upTheir)));
    check("sftp's upload", setup.served.filePath(QStringLiteral("up-sftp-%1").arg(tag)));

    const QString downOur = setup.local.filePath(QStringLiteral("down-ours-%1").arg(tag));
    const QString downTheir = setup.local.filePath(QStringLiteral("down-sftp-%1").arg(tag));
    const QByteArray downFrom = workers > 0 ? upOur : upOur + "/" + name.toUtf8();
    if (workers > 0) {
        QDir().mkpath(downOur);
        item.direction = QueueDirection::Download;
        item.localFolder = downOur;
        best(times.downOurs, queued(setup, port, workers, oneByOne, item));
    } else {
        best(times.downOurs, ours(setup, port, [&](SftpServerSession& session) {
                 return transfer(session, [&](ServerSession& s) {
                     return downloadTree(s, upOur, name.toUtf8(), downOur);
                 });
             }));
    }
    check("our download", downOur + "/" + name);
    best(
        times.downTheirs,
        theirs(setup, port,
               QStringLiteral("get -r \"%1\" \"%2\"").arg(QString::fromUtf8(downFrom), downTheir)));
    check("sftp's download", downTheir);
    return complete;
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
    double rtt = 50;
    int relayFiles = 1000;
    qint64 relaySize = 10 * 1024;
    QByteArray only;
    bool oneByOne = false;
    int workers = 0;
    for (int i = 1; i < argc; ++i) {
        const QByteArray option(argv[i]);
        if (option == "--queue" && i + 1 < argc) {
            workers = std::clamp(QByteArray(argv[++i]).toInt(), 1, 10);
            continue;
        }
        if (option == "--one-by-one") {
            oneByOne = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        const QByteArray text(argv[++i]);
        const int value = text.toInt();
        if (option == "--entries")
            entries = std::max(0, value);
        else if (option == "--files")
            files = std::max(0, value);
        else if (option == "--rounds")
            rounds = std::max(1, value);
        else if (option == "--rtt")
            rtt = std::max(0.0, text.toDouble());
        else if (option == "--relay-files")
            relayFiles = std::max(0, value);
        else if (option == "--relay-size")
            relaySize = std::max(0, value);
        else if (option == "--only")
            only = text;
    }
    const bool doList = only.isEmpty() || only == "list";
    const bool doTree = only.isEmpty() || only == "tree";
    const bool doRelay = only.isEmpty() || only == "relay";
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
    DelayRelay relay;
    std::string relayError;
    if (doRelay && !relay.start(setup.server.port(), rtt, false, &relayError)) {
        std::fprintf(stderr, "relay: %s\n", relayError.c_str());
        return 1;
    }
    // The big folder and the trees, made where sshd serves them and where we upload from.
    const QString big = setup.served.filePath(QStringLiteral("big"));
    const QString tree = setup.local.filePath(QStringLiteral("tree"));
    const QString small = setup.local.filePath(QStringLiteral("small"));
    QDir().mkpath(big);
    for (int i = 0; doList && i < entries; ++i)
        makeFile(QStringLiteral("%1/entry-%2.txt").arg(big).arg(i, 6, 10, QChar('0')), "x");
    if (doTree)
        makeTree(tree, files, kFileSize);
    if (doRelay)
        makeTree(small, relayFiles, relaySize);
    setup.server.handOver(setup.served.path());
    setup.knownHosts = setup.local.filePath(QStringLiteral("known_hosts"));
    QByteArray known;
    for (const std::uint16_t port : {setup.server.port(), relay.port()})
        known += QStringLiteral("[127.0.0.1]:%1 ").arg(port).toUtf8() + setup.server.hostKeyLine() +
                 "\n";
    makeFile(setup.knownHosts, known);
    const QString served = setup.server.serverPath(setup.served.path());
    const QByteArray remoteBig = setup.server.serverPath(big).toUtf8();
    const std::uint16_t direct = setup.server.port();

    double listOurs = 1e9, listTheirs = 1e9;
    TreeTimes local, relayed;
    bool complete = true;
    for (int round = 0; round < rounds; ++round) {
        if (doList) {
            qsizetype listed = 0;
            best(listOurs, ours(setup, direct, [&](SftpServerSession& session) {
                     RemoteListing listing;
                     const bool ok = bool(session.list(remoteBig, listing));
                     listed = qsizetype(listing.entries.size());
                     return ok;
                 }));
            if (listed < entries) {
                std::printf("our listing: %lld entries, not %d\n", qlonglong(listed), entries);
                complete = false;
            }
            best(listTheirs,
                 theirs(setup, direct, QStringLiteral("ls -l \"%1\"").arg(served + "/big")));
        }
        if (doTree)
            complete = treeRound(setup, direct, tree, QStringLiteral("tree-%1").arg(round),
                                 oneByOne, workers, local) &&
                       complete;
        if (doRelay)
            complete = treeRound(setup, relay.port(), small, QStringLiteral("relay-%1").arg(round),
                                 oneByOne, workers, relayed) &&
                       complete;
    }
    std::printf("sshd on loopback, best of %d%s\n", rounds,
                oneByOne ? ", our files one by one" : "");
    if (workers > 0)
        std::printf("ours: the background queue, %d worker(s)\n", workers);
    if (doList) {
        std::printf("a folder of %d entries\n", entries);
        printRow("list (ls -l)", listOurs, listTheirs, 1.2);
    }
    if (doTree) {
        std::printf("a tree of %s\n", qPrintable(summary(tree)));
        printRow("tree upload", local.upOurs, local.upTheirs, 1.0);
        printRow("tree download", local.downOurs, local.downTheirs, 1.0);
    }
    if (doRelay) {
        std::printf("through the relay at %.0f ms: a tree of %s\n", rtt,
                    qPrintable(summary(small)));
        printRow("relayed upload", relayed.upOurs, relayed.upTheirs, 0.25);
        printRow("relayed download", relayed.downOurs, relayed.downTheirs, 0.25);
    }
    return complete ? 0 : 1;
}
