#include "queue/QueueBatch.h"

#include "common/FileSystemError.h"
#include "remote/ServerSession.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/SmallFileBatch.h"
#include "transfer/TransferNames.h"
#include "transfer/UploadResume.h"

#include <QObject>

#include <optional>

namespace {

using Outcome = RemoteBatchFile::Outcome;

QString whatFailed(const QueueItem& item)
{
    const QString remote = QString::fromUtf8(item.remotePath);
    return item.direction == QueueDirection::Download
               ? QObject::tr("Download of %1 failed").arg(remote)
               : QObject::tr("Upload of %1 to %2 failed")
                     .arg(JoinLocalPath(item.localFolder, item.localName), remote);
}

// One item on its way through the batch.
struct Member
{
    std::optional<QueueStep> step; // decided: it is not (or no longer) in the batch
    bool alone = false;            // goes on its own after the batch
    std::optional<LocalDirectory> folder;
    QByteArray data;
};

// What a download's target decides before any byte moves.
void checkDownload(const QueueItem& item, Member& member)
{
    const QString name = FileNamePart(item.localName);
    const QString refused = RefusedDownloadNameText(name);
    if (!refused.isEmpty()) {
        member.step = QueueFailed(refused);
        return;
    }
    QString why;
    auto found = QueuedFileFolder(item.localFolder, item.localName, true, why);
    if (!found) {
        member.step = QueueFailed(why);
        return;
    }
    member.folder.emplace(std::move(*found));
    const QString target = JoinLocalPath(member.folder->path(), name);
    if (member.folder->isLink(name)) {
        member.step = QueueFailed(LinkInTheWayText(target));
    } else if (LocalNameTaken(*member.folder, name)) {
        if (item.existing == ExistingTarget::Skip)
            member.step = QueueStep{QueueState::Finished,
                                    QObject::tr("Skipped: %1 already exists.").arg(target)};
        else if (item.existing != ExistingTarget::Overwrite)
            member.step = QueueFailed(LeftAsItIsText(target));
    }
}

// The upload's data, read whole now, and what its target decides. Where nothing was proven
// about the target and the user did not say to replace it, the server is asked: only its plain
// "no such file" lets the copy take the name.
void checkUpload(ServerSession& session, const QueueItem& item, Member& member)
{
    std::optional<LocalFileReader> reader;
    const QueueStep opened = OpenQueuedSource(item, member.folder, reader);
    if (opened.state != QueueState::Finished) {
        member.step = opened;
        return;
    }
    for (std::span<const char> block = reader->next(SmallFileBatch::kLargestFile); !block.empty();
         block = reader->next(SmallFileBatch::kLargestFile)) {
        member.data.append(block.data(), static_cast<qsizetype>(block.size()));
        if (member.data.size() > 4 * SmallFileBatch::kLargestFile) {
            member.alone = true; // it grew on the way: read again on its own
            member.data.clear();
            return;
        }
    }
    if (item.targetFree || item.existing == ExistingTarget::Overwrite)
        return;
    RemoteEntry entry;
    const RemoteResult asked = session.stat(item.remotePath, entry);
    if (asked.failure == RemoteFailure::ConnectionLost ||
        asked.failure == RemoteFailure::Cancelled) {
        member.step = QueueFailedOn(asked, whatFailed(item));
    } else if (!asked.noSuchName) {
        const QString target = QString::fromUtf8(item.remotePath);
        if (item.existing == ExistingTarget::Skip)
            member.step = QueueStep{QueueState::Finished,
                                    QObject::tr("Skipped: %1 already exists.").arg(target)};
        else
            member.step = QueueFailed(LeftAsItIsText(target));
    }
}

// A whole download under a name of its own beside the target, then in place.
QueueStep storeDownload(const QueueItem& item, const LocalDirectory& folder, const QByteArray& data)
{
    const QString name = FileNamePart(item.localName);
    const RemoteStamp stamp{RemotePath::name(item.remotePath), item.size, item.listedTime};
    LocalFileWriter writer(folder, PartialDownloadName(name));
    RememberRemoteStamp(writer.fd(), stamp);
    writer.write(data.constData(), data.size());
    if (data.size() != item.size) {
        writer.close();
        return QueueFailed(QObject::tr("%1: the server sent %2 bytes of the %3 its listing shows. "
                                       "What arrived stays in %4.")
                               .arg(whatFailed(item))
                               .arg(data.size())
                               .arg(item.size)
                               .arg(JoinLocalPath(folder.path(), writer.name())));
    }
    // Replaced only where the user said so: a file that appeared since the check stays.
    if (item.existing == ExistingTarget::Overwrite)
        writer.commitAs(name);
    else
        writer.commitAsNew(name);
    RemoveOtherPartialDownloads(folder, name, stamp.serverName, {});
    return {};
}

// A whole copy the server would not rename onto its target. Where the target stands, the copy
// stays and the user is told where (never the target deleted first); where nothing stands
// there, the copy is of no use and goes.
QueueStep notRenamed(ServerSession& session, const QueueItem& item, const RemoteBatchFile& file)
{
    const QString text = whatFailed(item) + QStringLiteral(": ") + RemoteFailureText(file.result);
    RemoteEntry entry;
    const RemoteResult asked = session.stat(item.remotePath, entry);
    if (asked.noSuchName) {
        session.removeFile(file.temporaryPath);
        return QueueFailed(text);
    }
    return QueueFailed(text + QStringLiteral("\n") +
                           NotReplacedText(RemotePath::name(item.remotePath),
                                           RemotePath::name(file.temporaryPath)),
                       asked.failure == RemoteFailure::ConnectionLost);
}

QueueStep afterBatch(ServerSession& session, const QueueItem& item, Member& member,
                     const RemoteBatchFile& file)
{
    switch (file.outcome) {
    case Outcome::NotDone:
        break;
    case Outcome::Done:
        if (item.direction == QueueDirection::Upload)
            return {};
        try {
            return storeDownload(item, *member.folder, file.data);
        } catch (const FileSystemError& error) {
            return QueueFailed(error.text());
        }
    case Outcome::Failed:
        return QueueFailed(whatFailed(item) + QStringLiteral(": ") +
                           RemoteFailureText(file.result));
    case Outcome::NotRenamed:
        return notRenamed(session, item, file);
    case Outcome::TooLarge:
        member.alone = true;
        break;
    }
    return {QueueState::Queued, {}, false};
}

RemoteBatchFile batchFile(const QueueItem& item, Member& member)
{
    RemoteBatchFile file;
    file.path = item.remotePath;
    if (item.direction == QueueDirection::Upload) {
        file.temporaryPath =
            RemotePath::join(RemotePath::parent(item.remotePath),
                             TemporaryRemoteName(RemotePath::name(item.remotePath)));
        file.data = std::move(member.data);
    } else {
        file.expectedSize = item.size;
        // One that grew well past its listed size is fetched again on its own.
        file.limit = 2 * item.size + 64 * 1024;
    }
    return file;
}

} // namespace

bool FitsQueueBatch(const QueueItem& item)
{
    return !item.folder && item.size >= 0 && item.size <= SmallFileBatch::kLargestFile &&
           item.size < kResumableUploadMin && item.abandonedCopy.isEmpty();
}

QueueBatchSteps TransferQueuedBatch(ServerSession& session, const std::vector<QueueItem>& items,
                                    const QueueProgress& progress)
{
    const std::size_t count = items.size();
    const bool upload = !items.empty() && items.front().direction == QueueDirection::Upload;
    QueueBatchSteps out;
    out.steps.resize(count);
    std::vector<Member> members(count);
    std::vector<RemoteBatchFile> files;
    std::vector<std::size_t> sent;
    for (std::size_t i = 0; i < count; ++i) {
        Member& member = members[i];
        try {
            if (upload)
                checkUpload(session, items[i], member);
            else
                checkDownload(items[i], member);
        } catch (const FileSystemError& error) {
            member.step = QueueFailed(error.text());
        }
        if (member.step &&
            (member.step->sessionLost || member.step->state == QueueState::Cancelled)) {
            out.sessionLost = member.step->sessionLost;
            out.cancelled = !out.sessionLost;
            out.steps[i] = *member.step;
            for (std::size_t rest = i + 1; rest < count; ++rest)
                out.steps[rest] = {QueueState::Queued, {}, false};
            return out;
        }
        if (member.step || member.alone)
            continue;
        files.push_back(batchFile(items[i], member));
        sent.push_back(i);
    }
    RemoteResult whole;
    if (!files.empty())
        whole = session.transferFiles(upload ? BatchDirection::Upload : BatchDirection::Download,
                                      files, progress);
    out.cancelled = whole.failure == RemoteFailure::Cancelled;
    out.sessionLost = !whole && !out.cancelled;
    bool blamed = false;
    qint64 moved = 0;
    for (std::size_t f = 0; f < files.size(); ++f) {
        const std::size_t i = sent[f];
        members[i].step = afterBatch(session, items[i], members[i], files[f]);
        if (files[f].outcome == Outcome::Done)
            moved += items[i].size;
        // A connection that breaks on every batch must not send the same items round for
        // ever: the first one not reached carries the failure.
        if (out.sessionLost && !blamed && files[f].outcome == Outcome::NotDone) {
            members[i].step = QueueFailedOn(whole, whatFailed(items[i]));
            blamed = true;
        }
        files[f].data.clear();
    }
    for (std::size_t i = 0; i < count; ++i) {
        Member& member = members[i];
        if (member.alone && (out.sessionLost || out.cancelled)) {
            member.step = QueueStep{QueueState::Queued, {}, false};
        } else if (member.alone) {
            const QueueProgress own = [&](qint64 done) { return progress(moved + done); };
            try {
                member.step = upload ? UploadQueued(session, items[i], own)
                                     : DownloadQueued(session, items[i], own);
            } catch (const FileSystemError& error) {
                member.step = QueueFailed(error.text());
            }
            out.sessionLost = member.step->sessionLost;
            out.cancelled = member.step->state == QueueState::Cancelled;
            moved += items[i].size;
        }
        out.steps[i] = member.step.value_or(QueueStep{});
    }
    return out;
}
