#include "transfer/SmallFileBatch.h"

#include "common/CancelFlag.h"
#include "common/FileSystemError.h"
#include "common/ProgressSink.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferHost.h"
#include "transfer/TransferNames.h"

namespace {

const QString kBatchOpenFailed = QStringLiteral("FTP Open File Failed.");
const QString kBatchWriteFailed = QStringLiteral("Internet Write File Failed.");
const QString kBatchReadFailed = QStringLiteral("Internet Read File Failed.");

// What one batch holds at most: memory stays bounded whatever the tree, and the progress
// dialog names a new file often enough.
constexpr std::size_t kBatchFiles = 256;
constexpr qint64 kBatchBytes = 16 * 1024 * 1024;

} // namespace

SmallFileBatch::SmallFileBatch(TransferHost& host, const LocalDirectory& folder)
    : m_host(host), m_folder(folder), m_enabled(host.session().traits().filesInFlight)
{}

bool SmallFileBatch::full() const
{
    return m_files.size() >= kBatchFiles || m_bytes >= kBatchBytes;
}

bool SmallFileBatch::addUpload(const QString& name, LocalFileReader& source, const UploadPlan& plan)
{
    // Continuing a copy, or one remembered for a later resume, keeps its own way.
    if (!m_enabled || plan.action != PlannedAction::Write || plan.ownFile ||
        !plan.server.isEmpty() || source.size() > kLargestFile)
        return false;
    m_upload = true;
    RemoteBatchFile file;
    // The file is read here as it is now, to its end, as a single upload reads it.
    for (std::span<const char> block = source.next(kLargestFile); !block.empty();
         block = source.next(kLargestFile)) {
        file.data.append(block.data(), qsizetype(block.size()));
        if (file.data.size() > 4 * kLargestFile)
            return false; // grew on the way: read it again on its own
    }
    ServerSession& session = m_host.session();
    Item item;
    item.localName = name;
    item.remoteName = plan.targetName;
    item.temporaryName = TemporaryRemoteName(plan.targetName);
    file.path = RemotePath::here(session, item.remoteName);
    file.temporaryPath = RemotePath::here(session, item.temporaryName);
    m_bytes += file.data.size();
    m_items.push_back(std::move(item));
    m_files.push_back(std::move(file));
    return true;
}

bool SmallFileBatch::addDownload(const DownloadPlan& plan)
{
    const QString& name = plan.localName;
    // A name the download refuses, or a link in its way, is the single download's to refuse.
    if (!m_enabled || plan.action != PlannedAction::Write || plan.offset != 0 ||
        plan.listed.size < 0 || plan.listed.size > kLargestFile ||
        !RefusedDownloadNameText(name).isEmpty() || m_folder.isLink(name))
        return false;
    m_upload = false;
    Item item;
    item.localName = name;
    item.remoteName = plan.listed.serverName;
    item.download = plan;
    RemoteBatchFile file;
    file.path = RemotePath::here(m_host.session(), item.remoteName);
    file.expectedSize = plan.listed.size;
    // One that grew well past its listed size is fetched again on its own: a server that lists
    // every file as empty cannot make a batch hold more than a few times its listed bytes.
    file.limit = 2 * plan.listed.size + 64 * 1024;
    m_bytes += plan.listed.size;
    m_items.push_back(std::move(item));
    m_files.push_back(std::move(file));
    return true;
}

bool SmallFileBatch::flush(const std::function<void()>& failed)
{
    std::vector<RemoteBatchFile> files = std::move(m_files);
    m_files.clear();
    const qint64 total = m_bytes;
    m_bytes = 0;
    if (files.empty() || CancelRequested) {
        m_items.clear();
        return true;
    }
    StampTransferStart();
    ProgressSink& progress = m_host.progress();
    // The dialog named the last file planned; the batch moves all of them at once.
    const QString title = m_upload ? QStringLiteral("Uploading") : QStringLiteral("Downloading");
    progress.ShowProgress(
        QStringLiteral("%1 %2 small files %3 \"%4\"")
            .arg(title)
            .arg(files.size())
            .arg(m_upload ? QStringLiteral("from") : QStringLiteral("into"), m_folder.path()),
        title, true, true);
    progress.ContinueFrom(0);
    const RemoteResult whole = m_host.session().transferFiles(
        m_upload ? BatchDirection::Upload : BatchDirection::Download, files, [&](qint64 done) {
            progress.UpdateProgress(TransferPercent(done, total), done, std::max(total, done),
                                    ElapsedSeconds());
            return !CancelRequested;
        });
    bool result = finishEach(files, failed);
    m_items.clear();
    // A lost connection is said once, for the batch; a cancel needs no word.
    if (!whole && whole.failure != RemoteFailure::Cancelled) {
        m_host.reportFtpError(m_upload ? kBatchWriteFailed : kBatchReadFailed, whole);
        if (failed)
            failed();
        result = false;
    }
    return result;
}

void SmallFileBatch::flushBeforeCancel(const std::function<void()>& failed)
{
    if (m_files.empty())
        return;
    CancelRequested = false;
    flush(failed);
    CancelRequested = true;
}

bool SmallFileBatch::finishEach(std::vector<RemoteBatchFile>& files,
                                const std::function<void()>& failed)
{
    using Outcome = RemoteBatchFile::Outcome;
    bool result = true;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const Item& item = m_items[i];
        bool ok = true;
        switch (files[i].outcome) {
        case Outcome::NotDone:
            break;
        case Outcome::Done:
            if (!m_upload)
                ok = store(item, files[i]);
            break;
        case Outcome::TooLarge:
            if (!m_upload)
                ok = DownloadPlanned(m_host, m_folder, item.download);
            break;
        case Outcome::Failed:
            m_host.reportFtpError(files[i].opened
                                      ? (m_upload ? kBatchWriteFailed : kBatchReadFailed)
                                      : kBatchOpenFailed,
                                  files[i].result);
            ok = false;
            break;
        case Outcome::NotRenamed:
            if (m_upload) {
                // The whole copy is there: the single upload's way of putting it in place
                // (never the target deleted first) takes it from here.
                LocalFileReader source(LocalSource(m_folder, item.localName));
                ok = PutCopyInPlace(m_host, source, item.temporaryName, item.remoteName,
                                    TransferMode::Binary);
            }
            break;
        }
        if (!ok && failed)
            failed();
        result = result && ok;
        if (!m_upload)
            files[i].data.clear();
    }
    return result;
}

bool SmallFileBatch::store(const Item& item, const RemoteBatchFile& file)
{
    const qint64 count = file.data.size();
    const qint64 listed = item.download.listed.size;
    const QString path = JoinLocalPath(m_folder.path(), item.localName);
    try {
        // A new file of its own beside the target, removed unless it is put in place.
        LocalFileWriter target(m_folder, PartialDownloadName(item.localName), false);
        target.write(file.data.constData(), count);
        if (count != listed) {
            // Some listings give sizes in blocks, and a file may have changed since: the
            // server's own size decides.
            ServerSession& session = m_host.session();
            RemoteEntry stored;
            if (!session.stat(file.path, stored) || stored.size != count) {
                target.discard();
                m_host.warn(SizeMismatchText(path, count, listed, QString()));
                return false;
            }
        }
        if (target.commitAs(item.localName).hadOtherLinks)
            m_host.warn(OtherLinksKeptText(path));
    } catch (const FileSystemError& error) {
        throw FileSystemError(error.code(), LocalWriteFailedText(path, error.text(), QString()));
    }
    if (item.download.earlier)
        RemoveOtherPartialDownloads(m_folder, item.localName, item.download.listed.serverName, {});
    return true;
}
