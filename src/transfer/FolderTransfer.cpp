#include "transfer/FolderTransfer.h"

#include "common/CancelFlag.h"
#include "common/FileListRows.h"
#include "common/FileSystemError.h"
#include "common/ProgressSink.h"
#include "ftp/RemoteTreeWalk.h"
#include "local/PosixDir.h"
#include "remote/ServerSession.h"
#include "transfer/BatchHost.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/SmallFileBatch.h"
#include "transfer/TargetExists.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"
#include "transfer/TransferPlan.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

namespace {
const QString kUploadFolderFailed = QStringLiteral("Error uploading folder.");
const QString kDownloadFolderFailed = QStringLiteral("Error downloading folder.");
const QString kSetDirectoryFailed = QStringLiteral("FTP Set Current Directory Failed");

// Identifies a local folder on the path being uploaded, so that a folder mounted inside
// itself cannot send the upload round in circles.
struct FolderId
{
    dev_t device;
    ino_t inode;
    bool operator==(const FolderId&) const = default;
};

// Where a folder operation stands on the server. Once a way back up has failed, the remote
// current directory is not the one the walk believes it is in: nothing more may be sent or
// fetched, or files would land in (or come from) the wrong folder.
struct RemotePlace
{
    bool lost = false;
};

FolderOutcome OutcomeOf(bool succeeded, const RemotePlace& place)
{
    if (place.lost)
        return FolderOutcome::Stranded;
    return succeeded ? FolderOutcome::Done : FolderOutcome::Failed;
}

// One folder upload as it walks the tree: the folders on the way down, and the symbolic
// links it passed over. Links are never followed: one inside the folder can lead anywhere,
// and its target was not what the user chose to send.
struct FolderUpload
{
    const FixedFolderHost* reports = nullptr; // the failures reported on the way
    std::vector<FolderId> chain;
    RemotePlace place;
    ExistingTargets* targets = nullptr;
    int skippedLinks = 0;
    QString firstSkippedLink;

    void skipLink(const QString& path)
    {
        if (skippedLinks++ == 0)
            firstSkippedLink = path;
    }
};

FolderId IdOf(const LocalDirectory& folder)
{
    struct stat info
    {};
    if (::fstat(folder.fd(), &info) != 0)
        throw FileSystemError(errno);
    return {info.st_dev, info.st_ino};
}

// Enters a remote folder and, on every way out, moves one level back up, so the caller
// finds the remote folder where it was. A way up that fails is reported and marks the place
// as lost; after that no visit moves again.
class RemoteFolderVisit
{
public:
    RemoteFolderVisit(BatchHost& host, const QByteArray& name, RemotePlace& place)
        : m_host(host), m_place(place), m_above(host.session().knownFolder())
    {
        ServerSession& session = host.session();
        m_failure = session.changeFolder(RemotePath::join(m_above, name));
        m_entered = m_failure.ok();
    }
    // Enters only a folder that `walk` proves to be inside the tree it walks.
    RemoteFolderVisit(BatchHost& host, RemoteTreeWalk& walk, const QByteArray& name,
                      RemotePlace& place)
        : m_host(host), m_place(place), m_walk(&walk), m_step(walk.enter(name)),
          m_entered(m_step == RemoteTreeWalk::Step::Entered), m_failure(walk.failure())
    {}
    ~RemoteFolderVisit()
    {
        // A connection that is gone was reported when it went.
        if (!m_entered || m_place.lost || !m_host.connected())
            return;
        const bool left = m_walk ? m_walk->leave() : leave();
        if (!left) {
            m_place.lost = true;
            m_host.reportFtpError(kSetDirectoryFailed, m_walk ? m_walk->failure() : m_failure);
        }
    }
    RemoteFolderVisit(const RemoteFolderVisit&) = delete;
    RemoteFolderVisit& operator=(const RemoteFolderVisit&) = delete;

    bool entered() const { return m_entered; }
    RemoteTreeWalk::Step step() const { return m_step; }
    // Why entering failed, or the way back that made the walk lose its place.
    const RemoteResult& failure() const { return m_failure; }

private:
    // Back to the folder the visit started in, one level up ("CWD ..").
    bool leave()
    {
        ServerSession& session = m_host.session();
        QByteArray above = m_above;
        if (above.isEmpty()) { // where the server is was told meanwhile, if at all
            above = session.knownFolder();
            while (above.size() > 1 && above.endsWith('/'))
                above.chop(1);
            above = RemotePath::parent(above);
        }
        m_failure = session.changeFolder(above);
        return m_failure.ok();
    }

    BatchHost& m_host;
    RemotePlace& m_place;
    QByteArray m_above;
    RemoteTreeWalk* m_walk = nullptr;
    RemoteTreeWalk::Step m_step = RemoteTreeWalk::Step::Refused;
    bool m_entered = false;
    RemoteResult m_failure;
};

// An open local folder enumeration, closed on every path.
class LocalFolderReader
{
public:
    explicit LocalFolderReader(const LocalDirectory& folder)
        : m_dir(PosixDir::fromFd(::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0)))
    {
        if (!m_dir)
            throw FileSystemError(errno);
    }

    // The next entry's name, or an empty text at the end.
    QString next()
    {
        errno = 0;
        const dirent* entry = m_dir.next();
        if (!entry) {
            if (errno != 0)
                throw FileSystemError(errno);
            return {};
        }
        return QFile::decodeName(entry->d_name);
    }

private:
    PosixDir m_dir;
};

bool UploadFolderContents(BatchHost& host, const LocalDirectory& folder, FolderUpload& upload);

// A small file of the folder: asked about as any upload is, then gathered into `batch`, which
// is sent once full (a failure there goes to `failed`). One the batch does not take goes alone.
bool UploadSmallFile(BatchHost& host, const LocalDirectory& folder, const QString& name,
                     RemoteFolderFiles& files, ExistingTargets& targets, SmallFileBatch& batch,
                     const std::function<void()>& failed)
{
    std::optional<LocalFileReader> source;
    const UploadPlan plan = PlanFileUpload(host, LocalSource(folder, name), files, targets, source);
    if (!source)
        return true;     // Cancel was pressed before its turn
    if (CancelRequested) // at the question about this file
        batch.flushBeforeCancel(failed);
    if (batch.addUpload(name, *source, plan)) {
        if (batch.full())
            batch.flush(failed);
        return true;
    }
    source->skipTo(0); // the batch may have read some of it before it let it go
    return UploadPlanned(host, *source, plan, TransferMode::Binary);
}

// The entry `name` of `folder`, which was seen as `info` (without following a link).
// `files`: what is known of the files in the remote folder the entry goes to.
bool UploadFolderEntry(BatchHost& host, const LocalDirectory& folder, const QString& name,
                       const struct stat& info, FolderUpload& upload, RemoteFolderFiles& files)
{
    if (!S_ISDIR(info.st_mode))
        return UploadFileAsked(host, LocalSource(folder, name), TransferMode::Binary, files,
                               *upload.targets);
    const std::optional<LocalDirectory> subfolder = folder.subfolder(name, false);
    if (!subfolder) { // made a link since it was looked at
        upload.skipLink(JoinLocalPath(folder.path(), name));
        return true;
    }
    const FolderId id = IdOf(*subfolder);
    if (std::find(upload.chain.begin(), upload.chain.end(), id) != upload.chain.end())
        return true; // the same folder again further down: its files are on the way
    upload.chain.push_back(id);
    const bool result = UploadFolderContents(host, *subfolder, upload);
    upload.chain.pop_back();
    return result;
}

bool UploadFolderContents(BatchHost& host, const LocalDirectory& folder, FolderUpload& upload)
{
    if (CancelRequested)
        return true; // nothing failed; the caller sees the flag and stops too
    const QByteArray remoteName = FileNamePart(folder.path()).toUtf8();
    // An existing folder of that name is simply used; whether we can enter it is what
    // matters. A folder we just made holds nothing to lose, so its files need no detour
    // through temporary names; in an existing one, the names there are read once.
    ServerSession& session = host.session();
    const bool created = session.makeFolder(RemotePath::here(session, remoteName)).ok();
    RemoteFolderVisit visit(host, remoteName, upload.place);
    if (!visit.entered()) {
        // Uploading anyway would put the folder's files into the wrong remote directory.
        host.reportFtpError(kSetDirectoryFailed, visit.failure());
        return false;
    }
    RemoteFolderNames names =
        created ? RemoteFolderNames::emptyFolder() : RemoteFolderNames(&host.session());
    RemoteFolderFiles files(names);
    LocalFolderReader reader(folder);
    bool result = true;
    // The failure of a file was reported; the folder's own message follows it, as for a file
    // sent alone. A failed way up was reported; nothing more to say.
    const auto fileFailed = [&] {
        if (!upload.place.lost)
            host.reportFtpError(kUploadFolderFailed, upload.reports->lastReported());
        result = false;
    };
    // Sent before the walk goes into a subfolder or back up, while the remote folder is theirs.
    SmallFileBatch batch(host, folder);
    for (QString name = reader.next(); !name.isEmpty() && BatchGoesOn(host) && !upload.place.lost;
         name = reader.next()) {
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const QString path = JoinLocalPath(folder.path(), name);
        struct stat info
        {};
        if (::fstatat(folder.fd(), QFile::encodeName(name).constData(), &info,
                      AT_SYMLINK_NOFOLLOW) != 0)
            throw FileSystemError(errno);
        if (S_ISLNK(info.st_mode)) {
            upload.skipLink(path);
            continue;
        }
        host.progress().ShowProgress(QStringLiteral("Uploading \"%1\"").arg(path),
                                     QStringLiteral("Uploading"), true, true);
        const bool small = batch.enabled() && S_ISREG(info.st_mode) &&
                           info.st_size <= SmallFileBatch::kLargestFile;
        if (!small)
            batch.flush(fileFailed);
        const bool ok =
            small ? UploadSmallFile(host, folder, name, files, *upload.targets, batch, fileFailed)
                  : UploadFolderEntry(host, folder, name, info, upload, files);
        if (!ok)
            fileFailed();
        host.progress().SetProgressPosition(0);
    }
    batch.flush(fileFailed);
    return result;
}

// What one folder download carries from folder to folder: the user's answer to the question
// whether to skip the files already here, once it was asked.
struct FolderDownload
{
    explicit FolderDownload(ServerSession& session) : walk(session) {}
    std::optional<bool> skipPresent;
    RemotePlace place;
    // Which folders the download may enter, and what it passed over.
    RemoteTreeWalk walk;
    ExistingTargets* targets = nullptr;
};

QString PassedOverText(const QString& folder, const QString& lines)
{
    return QStringLiteral("\"%1\" was downloaded without what is named below, as it could not "
                          "be proven to be a folder inside it:\n%2")
        .arg(folder, lines);
}

// True when `localName` is already in `folder`, whole, and the user lets it be.
bool SkipPresentFile(BatchHost& host, const LocalDirectory& folder, const RemoteStamp& stamp,
                     const QString& localName, FolderDownload& download)
{
    if (download.skipPresent == false || !HoldsCompleteDownload(folder, localName, stamp))
        return false;
    if (!download.skipPresent)
        download.skipPresent = host.askYesNo(QString::fromLatin1(kSkipPresentText));
    return *download.skipPresent;
}

bool DownloadFolderContents(BatchHost& host, const LocalDirectory& parent,
                            const QByteArray& remoteName, const QString& shownPath,
                            FolderDownload& download)
{
    if (CancelRequested)
        return true;
    const QString localName = ServerNameText(remoteName);
    if (const QString refusal = RefusedDownloadNameText(localName); !refusal.isEmpty()) {
        host.warn(refusal);
        return false;
    }
    // The server's side first: a folder it can't prove to be inside the tree (a link it
    // follows, a folder that leads elsewhere) gets no local folder either.
    RemoteFolderVisit visit(host, download.walk, remoteName, download.place);
    switch (visit.step()) {
    case RemoteTreeWalk::Step::Entered:
        break;
    case RemoteTreeWalk::Step::PassedOver:
        return true; // named in the report at the end
    case RemoteTreeWalk::Step::Lost:
        download.place.lost = true;
        host.reportFtpError(kSetDirectoryFailed, visit.failure());
        return false;
    case RemoteTreeWalk::Step::Refused:
        host.reportFtpError(kSetDirectoryFailed, visit.failure());
        return false;
    }
    // Each level is opened relative to the one above it, never through a link, so the tree
    // lands in the chosen folder whatever the local tree holds.
    const std::optional<LocalDirectory> folder = parent.subfolder(localName, true);
    if (!folder) {
        host.warn(LinkInTheWayText(JoinLocalPath(parent.path(), localName)));
        return false;
    }
    std::vector<RemoteEntry> entries;
    if (!ListRemoteEntries(host, entries, kDownloadFolderFailed, ListPurpose::Walk))
        return false;
    FixedFolderHost inner(host, folder->path());
    const PartialDownloadNames partials(*folder);
    bool result = true;
    const auto fileFailed = [&] { result = false; };
    SmallFileBatch batch(inner, *folder);
    for (const RemoteEntry& entry : entries) {
        if (!BatchGoesOn(host) || download.place.lost)
            break;
        if (entry.name == QLatin1String(".") || entry.name == QLatin1String(".."))
            continue;
        if (entry.isLink) {
            // A link to a folder leads anywhere, this folder itself included ("www -> .").
            download.walk.passOver(entry.serverName, QStringLiteral("a link, not followed"));
            continue;
        }
        const QString shown = shownPath + QLatin1Char('/') + entry.name;
        host.progress().ShowProgress(QStringLiteral("Downloading ") + shown,
                                     QStringLiteral("Downloading"), true, true);
        // DownloadFile clears the flag when it starts, so a Cancel pressed while the dialog
        // was being shown must be seen here or it would be lost.
        if (CancelRequested)
            break;
        const RemoteStamp stamp{entry.serverName, entry.size, entry.modifiedTime};
        if (!entry.isFolder && SkipPresentFile(host, *folder, stamp, entry.name, download))
            continue;
        bool ok = true;
        if (entry.isFolder) {
            batch.flush(fileFailed);
            ok = DownloadFolderContents(inner, *folder, entry.serverName, shown, download);
        } else if (batch.enabled() && entry.size >= 0 &&
                   entry.size <= SmallFileBatch::kLargestFile) {
            const DownloadPlan plan = PlanListedDownload(inner, *folder, stamp, entry.name,
                                                         *download.targets, &partials, true);
            if (CancelRequested) // at the question about this file
                batch.flushBeforeCancel(fileFailed);
            if (!batch.addDownload(plan))
                ok = DownloadPlanned(inner, *folder, plan);
            else if (batch.full())
                batch.flush(fileFailed);
        } else {
            ok = DownloadListedFileAsked(inner, *folder, stamp, entry.name, *download.targets,
                                         &partials, true);
        }
        result = result && ok;
        host.progress().SetProgressPosition(0);
    }
    batch.flush(fileFailed);
    return result;
}
} // namespace

FolderOutcome UploadFolder(BatchHost& host, const QString& folderPath, ExistingTargets* targets)
{
    if (CancelRequested)
        return FolderOutcome::Done;
    const LocalDirectory root(folderPath);
    ExistingTargets ownTargets;
    FixedFolderHost reporting(host, host.localFolder());
    FolderUpload upload;
    upload.reports = &reporting;
    upload.targets = targets ? targets : &ownTargets;
    upload.chain.push_back(IdOf(root));
    const bool result = UploadFolderContents(reporting, root, upload);
    if (upload.skippedLinks > 0)
        host.warn(SkippedLinksText(folderPath, upload.skippedLinks, upload.firstSkippedLink));
    return OutcomeOf(result, upload.place);
}

FolderOutcome DownloadFolder(BatchHost& host, const QByteArray& remoteName,
                             ExistingTargets* targets)
{
    const LocalDirectory root(host.localFolder());
    ExistingTargets ownTargets;
    FolderDownload download(host.session());
    download.targets = targets ? targets : &ownTargets;
    const bool result =
        DownloadFolderContents(host, root, remoteName, ServerNameText(remoteName), download);
    if (!download.walk.passedOver().isEmpty())
        host.warn(PassedOverText(ServerNameText(remoteName), download.walk.passedOverLines()));
    return OutcomeOf(result, download.place);
}

bool ListRemoteEntries(BatchHost& host, std::vector<RemoteEntry>& entries,
                       const QString& failureMessage, ListPurpose purpose)
{
    ServerSession& session = host.session();
    RemoteListing listing;
    // Read whole before any file of the folder is opened: the connection carries one open
    // remote item at a time.
    if (const RemoteResult listed = session.list(session.knownFolder(), listing, purpose);
        !listed) {
        entries.clear();
        host.reportFtpError(failureMessage, listed);
        return false;
    }
    entries = std::move(listing.entries);
    return true;
}
