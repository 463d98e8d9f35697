// The batch of whole small files for a session that carries one transfer at a time: each file
// in turn, through the same calls a single transfer makes.
#include "remote/ServerSession.h"

namespace {

using BatchOutcome = RemoteBatchFile::Outcome;

// A stop of the whole batch rather than of one file: nothing after it can go on.
bool StopsBatch(const RemoteResult& result)
{
    return result.failure == RemoteFailure::Cancelled ||
           result.failure == RemoteFailure::ConnectionLost;
}

RemoteResult UploadOne(ServerSession& session, RemoteBatchFile& file)
{
    RemoteResult result;
    std::unique_ptr<RemoteStream> stream = session.openWrite(file.temporaryPath, 0, result);
    if (!stream)
        return result;
    file.opened = true;
    result = file.data.isEmpty() ? RemoteResult{}
                                 : stream->write(file.data.constData(), file.data.size());
    if (result)
        result = stream->complete();
    stream.reset(); // aborted unless complete() ended it
    if (!result) {
        // Nothing may stay under the temporary name of an upload that did not arrive whole.
        if (!StopsBatch(result))
            session.removeFile(file.temporaryPath);
        return result;
    }
    file.result = session.rename(file.temporaryPath, file.path);
    file.outcome = file.result ? BatchOutcome::Done : BatchOutcome::NotRenamed;
    return {};
}

RemoteResult DownloadOne(ServerSession& session, RemoteBatchFile& file)
{
    RemoteResult result;
    std::unique_ptr<RemoteStream> stream = session.openRead(file.path, 0, result);
    if (!stream)
        return result;
    file.opened = true;
    file.data.clear();
    char buffer[16384];
    for (;;) {
        qint64 got = 0;
        if (result = stream->read(buffer, sizeof buffer, got); !result)
            return result;
        if (got == 0)
            break;
        file.data.append(buffer, got);
        if (file.limit > 0 && file.data.size() > file.limit) {
            stream->abort();
            file.data.clear();
            file.outcome = BatchOutcome::TooLarge;
            return {};
        }
    }
    if (result = stream->complete(); !result)
        return result;
    file.outcome = BatchOutcome::Done;
    return {};
}

} // namespace

RemoteResult ServerSession::transferFiles(BatchDirection direction,
                                          std::vector<RemoteBatchFile>& files,
                                          const std::function<bool(qint64 bytes)>& progress)
{
    qint64 bytes = 0;
    for (RemoteBatchFile& file : files) {
        if (progress && !progress(bytes)) {
            RemoteResult cancelled;
            cancelled.failure = RemoteFailure::Cancelled;
            return cancelled;
        }
        const RemoteResult result =
            direction == BatchDirection::Upload ? UploadOne(*this, file) : DownloadOne(*this, file);
        if (!result) {
            file.data.clear();
            file.result = result;
            file.outcome = BatchOutcome::Failed;
            if (StopsBatch(result)) {
                file.outcome = BatchOutcome::NotDone;
                return result;
            }
        }
        bytes += file.data.size();
    }
    if (progress)
        progress(bytes);
    return {};
}
