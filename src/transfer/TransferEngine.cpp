#include "transfer/TransferEngine.h"

#include "common/CancelFlag.h"
#include "common/FileSystemError.h"
#include "common/ProgressSink.h"
#include "remote/ServerSession.h"
#include "transfer/BatchHost.h"
#include "transfer/LocalFile.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferHost.h"
#include "transfer/TransferNames.h"
#include "transfer/TransferPlan.h"

#include <QDateTime>

#include <array>
#include <optional>

double TransferStartTime = 0.0;

namespace {
constexpr qint64 kMsPerDay = 24LL * 60 * 60 * 1000;

const QString kOpenFailed = QStringLiteral("FTP Open File Failed.");
const QString kWriteFailed = QStringLiteral("Internet Write File Failed.");
const QString kReadFailed = QStringLiteral("Internet Read File Failed.");

} // namespace

double ElapsedSecondsBetween(qint64 startMsOfDay, qint64 nowMsOfDay)
{
    const qint64 span = ((nowMsOfDay - startMsOfDay) % kMsPerDay + kMsPerDay) % kMsPerDay;
    return static_cast<double>(span / 1000);
}

namespace {
// Local time of day minus UTC time of day, taken when a transfer starts. The per-block clock
// reads only the UTC clock and adds it: asking for the local time on every 4 KiB block made
// the C library consult the time-zone file each time (about 0.6 s per GiB moved).
qint64 localOffsetMs = QDateTime::currentDateTime().offsetFromUtc() * 1000LL;

qint64 localMsOfDay()
{
    const qint64 ms = (QDateTime::currentMSecsSinceEpoch() + localOffsetMs) % kMsPerDay;
    return ms < 0 ? ms + kMsPerDay : ms;
}
} // namespace

double ElapsedSeconds()
{
    const auto startMs = static_cast<qint64>(TransferStartTime * static_cast<double>(kMsPerDay));
    return ElapsedSecondsBetween(startMs, localMsOfDay());
}

void StampTransferStart()
{
    localOffsetMs = QDateTime::currentDateTime().offsetFromUtc() * 1000LL;
    TransferStartTime = static_cast<double>(localMsOfDay()) / static_cast<double>(kMsPerDay);
}

int TransferPercent(qint64 done, qint64 total)
{
    if (total <= 0 || done >= total)
        return 100;
    // done < total here, so done * 100 stays far from overflow for any real file size.
    return static_cast<int>(done * 100 / total);
}

UploadOutcome SendFileAs(TransferHost& host, const LocalSource& localFile,
                         const QByteArray& remoteName, TransferMode mode)
{
    LocalFileReader source(localFile);
    return SendFrom(host, source, remoteName, mode, 0);
}

UploadOutcome SendFrom(TransferHost& host, LocalFileReader& source, const QByteArray& remoteName,
                       TransferMode mode, qint64 offset)
{
    const qint64 total = source.size();
    StampTransferStart();
    CancelRequested = false;

    ServerSession& session = host.session();
    RemoteResult opened;
    const std::unique_ptr<RemoteStream> remote =
        session.openWrite(RemotePath::here(session, remoteName), offset, opened, mode);
    if (!remote) {
        if (offset > 0 && opened.failure == RemoteFailure::Unsupported)
            return UploadOutcome::CannotResume;
        host.reportFtpError(kOpenFailed, opened);
        return UploadOutcome::Refused;
    }
    if (offset > 0)
        source.skipTo(offset);
    host.progress().ContinueFrom(offset);
    qint64 count = offset;
    // The file is read until its end rather than up to the size it had when opened: a file
    // that grows meanwhile is sent whole, and one that shrinks does not stall the loop.
    while (!CancelRequested) {
        const std::span<const char> block = source.next(kTransferBlockBytes);
        if (block.empty()) {
            // Closing the handle is where the server says whether it stored the file; an
            // upload it did not confirm is a failure, or a good file would be replaced by a
            // bad one.
            if (const RemoteResult stored = remote->complete(); !stored) {
                host.reportFtpError(kWriteFailed, stored);
                return UploadOutcome::Failed;
            }
            return UploadOutcome::Stored;
        }
        if (const RemoteResult written =
                remote->write(block.data(), static_cast<qint64>(block.size()));
            !written) {
            host.reportFtpError(kWriteFailed, written);
            return UploadOutcome::Failed; // aborted on the way out
        }
        count += static_cast<qint64>(block.size());
        host.progress().UpdateProgress(TransferPercent(count, total), count, std::max(total, count),
                                       ElapsedSeconds());
    }
    remote->abort();
    return UploadOutcome::Cancelled;
}

bool DownloadFile(TransferHost& host, const QByteArray& remoteName, const QString& localName,
                  qint64 expectedSize, TransferMode mode, PartialData partial)
{
    const LocalDirectory folder(host.localFolder());
    return DownloadFileAt(host, folder, remoteName, localName, expectedSize, mode, partial);
}

namespace {

// One download from the moment the remote file is open: the local file being written and
// whether what it holds can be continued later, for the way out of a local failure.
struct Receiving
{
    TransferHost& host;
    const LocalDirectory& folder;
    RemoteStream& remote;
    const QString& localName;
    const RemoteStamp* listed;
    const DownloadPlan& plan;
    std::optional<LocalFileWriter> target;
    bool resumable = false;
};

// True when `count` bytes are the whole file. The listed size is the measure where it is known;
// a resumed download must match it exactly, since more means the server sent from the first
// byte again although it accepted the offset. A fresh download that differs from its listing
// is still whole when the server's SIZE says so: some listings give sizes in blocks or
// records, and a file may have changed since it was listed.
bool ArrivedWhole(Receiving& in, const QByteArray& remoteName, qint64 count, qint64 expectedSize)
{
    if (count == expectedSize || (in.plan.offset == 0 && expectedSize <= 0))
        return true;
    if (in.plan.offset != 0)
        return false;
    ServerSession& session = in.host.session();
    RemoteEntry stored;
    return session.stat(RemotePath::here(session, remoteName), stored) && stored.size == count;
}

bool Receive(Receiving& in, const QByteArray& remoteName, qint64 expectedSize, PartialData partial)
{
    TransferHost& host = in.host;
    if (in.plan.offset > 0) {
        in.target.emplace(in.folder, in.plan.earlier->name, LocalFileWriter::Append{});
        in.resumable = true;
    } else {
        in.target.emplace(in.folder, PartialDownloadName(in.localName),
                          partial == PartialData::Keep);
        in.resumable = partial == PartialData::Keep && in.listed &&
                       RememberRemoteStamp(in.target->fd(), *in.listed);
    }
    LocalFileWriter& target = *in.target;

    std::array<char, kTransferBlockBytes> buffer;
    in.host.progress().ContinueFrom(in.plan.offset);
    qint64 count = in.plan.offset;
    bool complete = false;
    while (!CancelRequested) {
        qint64 got = 0;
        if (const RemoteResult read =
                in.remote.read(buffer.data(), static_cast<qint64>(buffer.size()), got);
            !read) {
            host.reportFtpError(kReadFailed, read);
            target.close();
            return false;
        }
        if (got == 0) { // the server ended the data
            complete = true;
            break;
        }
        target.write(buffer.data(), got);
        count += got;
        host.progress().UpdateProgress(TransferPercent(count, expectedSize), count,
                                       std::max(expectedSize, count), ElapsedSeconds());
    }
    if (!complete) { // cancelled: the partial data stays (unless discarded), the target too
        target.close();
        return true;
    }
    // The end of the data alone does not prove the file is whole: a server that aborted the
    // transfer says so in the reply that closing the handle reads.
    if (const RemoteResult ended = in.remote.complete(); !ended) {
        host.reportFtpError(kReadFailed, ended);
        target.close();
        return false;
    }
    if (!ArrivedWhole(in, remoteName, count, expectedSize)) {
        target.close();
        const bool kept = partial == PartialData::Keep;
        host.warn(
            SizeMismatchText(JoinLocalPath(in.folder.path(), in.localName), count, expectedSize,
                             kept ? JoinLocalPath(in.folder.path(), target.name()) : QString()));
        return false;
    }
    if (target.commitAs(in.localName).hadOtherLinks)
        host.warn(OtherLinksKeptText(JoinLocalPath(in.folder.path(), in.localName)));
    // Data the user chose to start over from, or left of a file that changed since, is of no
    // more use once the whole file is here.
    if (in.listed && in.plan.earlier)
        RemoveOtherPartialDownloads(in.folder, in.localName, in.listed->serverName, {});
    return true;
}

bool Download(TransferHost& host, const LocalDirectory& folder, const QByteArray& remoteName,
              const QString& localName, qint64 expectedSize, TransferMode mode, PartialData partial,
              const RemoteStamp* listed, const DownloadPlan& planned)
{
    if (const QString refusal = RefusedDownloadNameText(localName); !refusal.isEmpty()) {
        host.warn(refusal);
        return false;
    }
    // The rename at the end would only replace the link, but the user made it, and a
    // download is never meant to reach through it either.
    if (folder.isLink(localName)) {
        host.warn(LinkInTheWayText(JoinLocalPath(folder.path(), localName)));
        return false;
    }
    DownloadPlan plan = planned;
    StampTransferStart();
    CancelRequested = false;
    // The remote file is opened before anything is created locally, so a file the server
    // refuses leaves nothing behind.
    ServerSession& session = host.session();
    const QByteArray path = RemotePath::here(session, remoteName);
    RemoteResult opened;
    std::unique_ptr<RemoteStream> remote;
    if (plan.offset > 0) {
        remote = session.openRead(path, plan.offset, opened, mode);
        if (!remote && opened.failure == RemoteFailure::Unsupported) {
            // The user's own file was to be continued, not replaced: it stays as it is.
            if (plan.ownFile) {
                host.warn(NoResumeKeptText(localName, false));
                return false;
            }
            host.warn(NoResumeText(localName));
            plan.offset = 0;
        }
    }
    if (plan.offset == 0)
        remote = session.openRead(path, 0, opened, mode);
    if (!remote) {
        host.reportFtpError(kOpenFailed, opened);
        return false;
    }
    Receiving receiving{host, folder, *remote, localName, listed, plan, std::nullopt, false};
    try {
        return Receive(receiving, remoteName, expectedSize, partial);
    } catch (const FileSystemError& error) {
        // Data that can be continued later is worth its room on the disk; any other would
        // only keep a full disk full.
        QString kept;
        if (receiving.target && receiving.resumable)
            kept = JoinLocalPath(folder.path(), receiving.target->name());
        else if (receiving.target)
            receiving.target->discard();
        throw FileSystemError(
            error.code(),
            LocalWriteFailedText(JoinLocalPath(folder.path(), localName), error.text(), kept));
    }
}

} // namespace

bool DownloadFileAt(TransferHost& host, const LocalDirectory& folder, const QByteArray& remoteName,
                    const QString& localName, qint64 expectedSize, TransferMode mode,
                    PartialData partial)
{
    return Download(host, folder, remoteName, localName, expectedSize, mode, partial, nullptr,
                    DownloadPlan{});
}

bool DownloadPlanned(TransferHost& host, const LocalDirectory& folder, const DownloadPlan& plan)
{
    switch (plan.action) {
    case PlannedAction::Write:
    case PlannedAction::Resume:
        break;
    case PlannedAction::Skip:
        return true; // nothing failed: the user chose to leave the file as it is
    case PlannedAction::Fail:
        return false;
    }
    return Download(host, folder, plan.listed.serverName, plan.localName, plan.listed.size,
                    TransferMode::Binary, PartialData::Keep, &plan.listed, plan);
}

bool DownloadListedFile(BatchHost& host, const RemoteStamp& listed, const QString& localName)
{
    const LocalDirectory folder(host.localFolder());
    return DownloadListedFileAt(host, folder, listed, localName);
}

bool DownloadListedFileAt(BatchHost& host, const LocalDirectory& folder, const RemoteStamp& listed,
                          const QString& localName, const PartialDownloadNames* known)
{
    return DownloadPlanned(host, folder, PlanDownload(host, folder, listed, localName, known));
}
