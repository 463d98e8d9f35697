#include "queue/QueuedUploadCopy.h"

#include "queue/QueueItem.h"
#include "remote/ServerSession.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/TransferNames.h"
#include "transfer/UploadResume.h"

#include <QFile>
#include <QObject>

#include <algorithm>

namespace {

bool connectionGone(const RemoteResult& result)
{
    return result.failure == RemoteFailure::ConnectionLost ||
           result.failure == RemoteFailure::Cancelled;
}

QueueStep stoppedBy(const RemoteResult& result, const QueueItem& item)
{
    if (result.failure == RemoteFailure::Cancelled)
        return {QueueState::Cancelled, {}, false};
    return {QueueState::Failed,
            QObject::tr("Upload to %1 failed: %2")
                .arg(QString::fromUtf8(item.remotePath), RemoteFailureText(result)),
            true};
}

// The copy as it is now: its length and time, or nothing when the server will not say.
std::optional<std::pair<qint64, QByteArray>> copyState(ServerSession& session,
                                                       const QByteArray& path, RemoteResult& result)
{
    RemoteEntry sized;
    result = session.stat(path, sized);
    if (!result)
        return std::nullopt;
    RemoteEntry timed;
    result = session.statTime(path, timed);
    if (!result)
        return std::nullopt;
    return std::pair{sized.size, CopyTimeText(timed)};
}

// How much of a copy of unknown state is compared with the local file: enough that only an
// upload of the same data ends the same way, little enough to cost one round trip or two.
constexpr qint64 kComparedTail = 64 * 1024;

// True when the last bytes of the copy (`have` bytes long) are the local file's bytes at the
// same place. `result` says why not when the connection failed.
bool endsLikeLocal(ServerSession& session, const QByteArray& path, qint64 have,
                   LocalFileReader& reader, RemoteResult& result)
{
    const qint64 length = std::min(have, kComparedTail);
    const auto stream = session.openRead(path, have - length, result);
    if (!stream)
        return false;
    QByteArray theirs(length + 1, Qt::Uninitialized);
    qint64 got = 0;
    for (qint64 more = 1; more > 0 && got <= length; got += more) {
        result = stream->read(theirs.data() + got, length + 1 - got, more);
        if (!result)
            return false;
    }
    if (got != length || !(result = stream->complete()))
        return false;
    theirs.truncate(length);
    QByteArray ours;
    reader.skipTo(have - length);
    while (ours.size() < length) {
        const std::span<const char> block = reader.next(length - ours.size());
        if (block.empty())
            return false;
        ours.append(block.data(), static_cast<qsizetype>(block.size()));
    }
    return ours == theirs;
}

} // namespace

std::optional<QueueStep> FindUploadCopy(ServerSession& session, const QueuedUploadRecord& record,
                                        const QueueItem& item, LocalFileReader& reader,
                                        const LocalStamp& local, UploadCopy& copy)
{
    const QByteArray folder = RemotePath::parent(item.remotePath);
    const QByteArray target = RemotePath::name(item.remotePath);
    copy = {RemotePath::join(folder, TemporaryRemoteName(target)), 0};
    const std::optional<UnfinishedUpload> earlier =
        record.store->find(record.server, folder, target);
    if (!earlier)
        return std::nullopt;
    // The record names what gets appended to and removed: only our own kind of name.
    if (!IsTemporaryRemoteNameOf(earlier->temporaryName, target)) {
        ForgetUploadCopy(record, item);
        return std::nullopt;
    }
    const QByteArray earlierPath = RemotePath::join(folder, earlier->temporaryName);
    // Appending to a copy someone replaced since, or to one of other local data, would make a
    // file of two different ones.
    bool continues = earlier->temporaryName != item.abandonedCopy && earlier->local == local &&
                     session.traits().append;
    const bool stateKnown = earlier->copySize >= 0 && !earlier->copyTime.isEmpty();
    qint64 have = 0;
    if (continues) {
        RemoteResult asked;
        const auto now = copyState(session, earlierPath, asked);
        if (connectionGone(asked))
            return stoppedBy(asked, item);
        have = now ? now->first : 0;
        continues = now && have > 0 && have <= local.size &&
                    (stateKnown ? have == earlier->copySize && now->second == earlier->copyTime
                                : endsLikeLocal(session, earlierPath, have, reader, asked));
        if (connectionGone(asked))
            return stoppedBy(asked, item);
    }
    if (continues) {
        copy = {earlierPath, have};
        return std::nullopt;
    }
    // The name is one of ours, made at random for that upload: what stands there is of no
    // use to anyone once the upload starts over.
    const RemoteResult removed = session.removeFile(earlierPath);
    if (connectionGone(removed))
        return stoppedBy(removed, item);
    ForgetUploadCopy(record, item);
    return std::nullopt;
}

bool RememberUploadCopy(ServerSession& session, const QueuedUploadRecord& record,
                        const QueueItem& item, const LocalStamp& local, const QByteArray& copyPath,
                        bool ask)
{
    UnfinishedUpload upload{record.server,
                            RemotePath::parent(item.remotePath),
                            RemotePath::name(item.remotePath),
                            RemotePath::name(copyPath),
                            local,
                            -1,
                            {}};
    if (ask) {
        RemoteResult asked;
        if (const auto now = copyState(session, copyPath, asked); now && !now->second.isEmpty()) {
            upload.copySize = now->first;
            upload.copyTime = now->second;
        }
    }
    return record.store->remember(upload);
}

RemoteResult DiscardUploadCopy(ServerSession& session, const QueuedUploadRecord& record,
                               const QueueItem& item)
{
    const QByteArray folder = RemotePath::parent(item.remotePath);
    const QByteArray target = RemotePath::name(item.remotePath);
    const std::optional<UnfinishedUpload> earlier =
        record.store ? record.store->find(record.server, folder, target) : std::nullopt;
    if (!earlier ||
        earlier->local.path != QFile::encodeName(JoinLocalPath(item.localFolder, item.localName)))
        return {};
    if (IsTemporaryRemoteNameOf(earlier->temporaryName, target)) {
        const RemoteResult removed =
            session.removeFile(RemotePath::join(folder, earlier->temporaryName));
        if (!removed && !removed.noSuchName)
            return removed;
    }
    ForgetUploadCopy(record, item);
    return {};
}

void ForgetUploadCopy(const QueuedUploadRecord& record, const QueueItem& item)
{
    record.store->forget(record.server, RemotePath::parent(item.remotePath),
                         RemotePath::name(item.remotePath));
}
