#include "queue/QueuedUploadCopy.h"

#include "queue/QueueItem.h"
#include "remote/ServerSession.h"
#include "transfer/RemoteReplace.h"
#include "transfer/UploadResume.h"

#include <QObject>

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

} // namespace

std::optional<QueueStep> FindUploadCopy(ServerSession& session, const QueuedUploadRecord& record,
                                        const QueueItem& item, const LocalStamp& local,
                                        UploadCopy& copy)
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
    // Appending to a copy someone replaced since, to one of other local data, or to one whose
    // state was never known (the connection was gone when it stopped) would make a file of
    // two different ones.
    bool continues = earlier->temporaryName != item.abandonedCopy && earlier->local == local &&
                     earlier->copySize > 0 && earlier->copySize <= local.size &&
                     !earlier->copyTime.isEmpty() && session.traits().append;
    if (continues) {
        RemoteResult asked;
        const auto now = copyState(session, earlierPath, asked);
        if (connectionGone(asked))
            return stoppedBy(asked, item);
        continues = now && now->first == earlier->copySize && now->second == earlier->copyTime;
    }
    if (continues) {
        copy = {earlierPath, earlier->copySize};
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

void ForgetUploadCopy(const QueuedUploadRecord& record, const QueueItem& item)
{
    record.store->forget(record.server, RemotePath::parent(item.remotePath),
                         RemotePath::name(item.remotePath));
}
