#include "transfer/TransferEngine.h"

#include "transfer/CancelFlag.h"
#include "transfer/LocalFile.h"
#include "transfer/ProgressSink.h"
#include "transfer/RemoteFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferHost.h"
#include "transfer/TransferNames.h"
#include "transfer/UploadResume.h"

#include "wininet.h"

#include <QDateTime>

#include <array>
#include <optional>

double TransferStartTime = 0.0;

namespace {
constexpr qint64 kMsPerDay = 24LL * 60 * 60 * 1000;

const QString kOpenFailed = QStringLiteral("FTP Open File Failed.");
const QString kWriteFailed = QStringLiteral("Internet Write File Failed.");
const QString kReadFailed = QStringLiteral("Internet Read File Failed.");

HINTERNET OpenRemote(TransferHost& host, const QByteArray& name, DWORD access, DWORD transferType)
{
    return FtpOpenFileA(host.connectionHandle(), name.constData(), access, transferType, 0);
}
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
                         const QByteArray& remoteName, DWORD transferType)
{
    LocalFileReader source(localFile);
    return SendFrom(host, source, remoteName, transferType, 0);
}

UploadOutcome SendFrom(TransferHost& host, LocalFileReader& source, const QByteArray& remoteName,
                       DWORD transferType, qint64 offset)
{
    const qint64 total = source.size();
    StampTransferStart();
    CancelRequested = false;

    RemoteFile remote(offset > 0 ? FtpOpenFileAtA(host.connectionHandle(), remoteName.constData(),
                                                  GENERIC_WRITE, transferType,
                                                  static_cast<ULONGLONG>(offset), 0)
                                 : OpenRemote(host, remoteName, GENERIC_WRITE, transferType));
    if (!remote.get()) {
        if (offset > 0 && GetLastError() == ERROR_NOT_SUPPORTED)
            return UploadOutcome::CannotResume;
        host.reportFtpError(kOpenFailed);
        return UploadOutcome::Refused;
    }
    if (offset > 0)
        source.skipTo(offset);
    qint64 count = offset;
    // The file is read until its end rather than up to the size it had when opened: a file
    // that grows meanwhile is sent whole, and one that shrinks does not stall the loop.
    while (!CancelRequested) {
        const std::span<const char> block = source.next(kTransferBlockBytes);
        if (block.empty()) {
            // Closing the handle is where the server says whether it stored the file; an
            // upload it did not confirm is a failure, or a good file would be replaced by a
            // bad one.
            if (!remote.complete()) {
                host.reportFtpError(kWriteFailed);
                return UploadOutcome::Failed;
            }
            return UploadOutcome::Stored;
        }
        DWORD written = 0;
        if (!InternetWriteFile(remote.get(), block.data(), static_cast<DWORD>(block.size()),
                               &written)) {
            host.reportFtpError(kWriteFailed);
            return UploadOutcome::Failed; // aborted on the way out
        }
        count += written;
        host.progress().UpdateProgress(TransferPercent(count, total), count, std::max(total, count),
                                       ElapsedSeconds());
    }
    remote.abort();
    return UploadOutcome::Cancelled;
}

bool UploadFile(TransferHost& host, const LocalSource& localFile, DWORD transferType)
{
    RemoteFolderNames names(host.connectionHandle());
    return UploadFile(host, localFile, transferType, names);
}

bool UploadFile(TransferHost& host, const LocalSource& localFile, DWORD transferType,
                RemoteFolderNames& names)
{
    // A batch that was cancelled while it showed the next item must not start that item;
    // nothing failed, so this is not an error for the caller to report.
    if (CancelRequested)
        return true;
    const QByteArray remoteName = RemoteNameFor(localFile.path(), host.lowerCaseUpload()).toUtf8();
    LocalFileReader source(localFile);
    if (const std::optional<bool> result =
            UploadResumably(host, names, source, localFile.path(), remoteName, transferType))
        return *result;
    if (names.mayExist(remoteName)) {
        return UploadReplacing(host, source, remoteName, TemporaryRemoteName(remoteName),
                               PutInPlace::RenameOver, transferType);
    }
    // Nothing of that name to lose: the file goes straight to its name, and what a cancelled
    // or failed upload left there stays for the user to judge.
    const UploadOutcome outcome = SendFrom(host, source, remoteName, transferType, 0);
    names.add(remoteName);
    return outcome == UploadOutcome::Stored || outcome == UploadOutcome::Cancelled;
}

bool DownloadFile(TransferHost& host, const QByteArray& remoteName, const QString& localName,
                  qint64 expectedSize, DWORD transferType, PartialData partial)
{
    const LocalDirectory folder(host.localFolder());
    return DownloadFileAt(host, folder, remoteName, localName, expectedSize, transferType, partial);
}

namespace {

// What to do with partial data an earlier download of the same row left.
struct ResumePlan
{
    std::optional<PartialDownload> earlier;
    qint64 offset = 0; // where the transfer starts: the bytes the partial data holds
};

// Asks about the partial data an earlier download of `listed` left, when there is any that
// can be continued. False when the user cancelled.
bool PlanResume(TransferHost& host, const LocalDirectory& folder, const RemoteStamp& listed,
                const QString& localName, const PartialDownloadNames* known, ResumePlan& plan)
{
    plan.earlier = FindPartialDownload(folder, localName, listed, known);
    if (!plan.earlier || !plan.earlier->unchanged)
        return true; // nothing to continue, or the file changed since: start over
    switch (host.askResume(ResumeQuestionText(localName, plan.earlier->size, listed.size))) {
    case ResumeAnswer::Resume:
        plan.offset = plan.earlier->size;
        return true;
    case ResumeAnswer::StartOver:
        return true;
    case ResumeAnswer::Cancel:
        break;
    }
    return false;
}

bool Download(TransferHost& host, const LocalDirectory& folder, const QByteArray& remoteName,
              const QString& localName, qint64 expectedSize, DWORD transferType,
              PartialData partial, const RemoteStamp* listed,
              const PartialDownloadNames* known = nullptr, const ResumePlan* decided = nullptr)
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
    ResumePlan plan;
    if (decided)
        plan = *decided;
    else if (listed && !PlanResume(host, folder, *listed, localName, known, plan)) {
        CancelRequested = true;
        return true;
    }
    StampTransferStart();
    CancelRequested = false;
    // The remote file is opened before anything is created locally, so a file the server
    // refuses leaves nothing behind.
    HINTERNET handle = nullptr;
    if (plan.offset > 0) {
        handle = FtpOpenFileAtA(host.connectionHandle(), remoteName.constData(), GENERIC_READ,
                                transferType, static_cast<ULONGLONG>(plan.offset), 0);
        if (!handle && GetLastError() == ERROR_NOT_SUPPORTED) {
            // The user's own file was to be continued, not replaced: it stays as it is.
            if (decided) {
                host.warn(NoResumeKeptText(localName, false));
                return false;
            }
            host.warn(NoResumeText(localName));
            plan.offset = 0;
        }
    }
    if (plan.offset == 0)
        handle = OpenRemote(host, remoteName, GENERIC_READ, transferType);
    RemoteFile remote(handle);
    if (!remote.get()) {
        host.reportFtpError(kOpenFailed);
        return false;
    }
    std::optional<LocalFileWriter> target;
    if (plan.offset > 0) {
        target.emplace(folder, plan.earlier->name, LocalFileWriter::Append{});
    } else {
        target.emplace(folder, PartialDownloadName(localName), partial == PartialData::Keep);
        if (listed)
            RememberRemoteStamp(target->fd(), *listed);
    }

    std::array<char, kTransferBlockBytes> buffer;
    qint64 count = plan.offset;
    bool complete = false;
    while (!CancelRequested) {
        DWORD got = 0;
        if (!InternetReadFile(remote.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                              &got)) {
            host.reportFtpError(kReadFailed);
            target->close();
            return false;
        }
        if (got == 0) { // the server ended the data
            complete = true;
            break;
        }
        target->write(buffer.data(), got);
        count += got;
        host.progress().UpdateProgress(TransferPercent(count, expectedSize), count,
                                       std::max(expectedSize, count), ElapsedSeconds());
    }
    if (!complete) { // cancelled: the partial data stays (unless discarded), the target too
        target->close();
        return true;
    }
    // The end of the data alone does not prove the file is whole: a server that aborted the
    // transfer says so in the reply that closing the handle reads.
    if (!remote.complete()) {
        host.reportFtpError(kReadFailed);
        target->close();
        return false;
    }
    target->commitAs(localName);
    // Data the user chose to start over from, or left of a file that changed since, is of no
    // more use once the whole file is here.
    if (listed && plan.earlier)
        RemoveOtherPartialDownloads(folder, localName, listed->serverName, {});
    return true;
}

} // namespace

bool DownloadFileAt(TransferHost& host, const LocalDirectory& folder, const QByteArray& remoteName,
                    const QString& localName, qint64 expectedSize, DWORD transferType,
                    PartialData partial)
{
    return Download(host, folder, remoteName, localName, expectedSize, transferType, partial,
                    nullptr);
}

bool DownloadListedFile(TransferHost& host, const RemoteStamp& listed, const QString& localName)
{
    const LocalDirectory folder(host.localFolder());
    return DownloadListedFileAt(host, folder, listed, localName);
}

bool DownloadListedFileAt(TransferHost& host, const LocalDirectory& folder,
                          const RemoteStamp& listed, const QString& localName,
                          const PartialDownloadNames* known)
{
    return Download(host, folder, listed.serverName, localName, listed.size,
                    FTP_TRANSFER_TYPE_BINARY, PartialData::Keep, &listed, known);
}

bool DownloadListedFileOnto(TransferHost& host, const LocalDirectory& folder,
                            const RemoteStamp& listed, const QString& localName, qint64 have)
{
    // The local file itself is what gets continued, as partial data would be.
    const ResumePlan decided{PartialDownload{localName, have, true}, have};
    return Download(host, folder, listed.serverName, localName, listed.size,
                    FTP_TRANSFER_TYPE_BINARY, PartialData::Keep, &listed, nullptr, &decided);
}
