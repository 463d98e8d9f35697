#include "transfer/UploadResume.h"

#include "common/CancelFlag.h"
#include "common/FileSystemError.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferHost.h"
#include "transfer/TransferNames.h"
#include "transfer/UnfinishedUploads.h"

#include <QFile>

namespace {

const QString kSizeFailed = QStringLiteral("FTP Get File Size Failed.");

// Where the upload goes, as the stopped uploads are filed.
struct UploadPlace
{
    const UnfinishedUploads& store;
    QByteArray server;
    QByteArray folder;
    QByteArray target;
};

// What to do about what an earlier upload to the same place left.
struct ResumePlan
{
    enum class Step { Send, Cancel, Fail } step = Step::Send;
    QByteArray temporaryName = {}; // empty: a name of its own, as for a first upload
    qint64 offset = 0;
};

// The copy's modification time as the server gives it; empty when it will not say. False
// only when the connection failed.
bool CopyTime(TransferHost& host, const QByteArray& name, QByteArray& time)
{
    char stamp[32] = {};
    DWORD length = sizeof stamp;
    time.clear();
    if (FtpGetFileTimeA(host.connectionHandle(), name.constData(), stamp, &length)) {
        time = QByteArray(stamp, qsizetype(length));
        return true;
    }
    const DWORD error = GetLastError();
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INTERNET_EXTENDED_ERROR;
}

// True when the copy is still the one the upload left: the length and the modification time
// it had when the upload stopped (`have`: its length now). Appending to a copy someone
// replaced since, or to one whose state was never known (the connection was gone when the
// upload stopped), would make a file of two different ones.
bool LeftByUs(TransferHost& host, const UnfinishedUpload& earlier, ULONGLONG have, bool& failed)
{
    failed = false;
    if (earlier.copySize < 0 || earlier.copyTime.isEmpty() || have != ULONGLONG(earlier.copySize))
        return false;
    QByteArray time;
    if (!CopyTime(host, earlier.temporaryName, time)) {
        failed = true;
        return false;
    }
    return time == earlier.copyTime;
}

ResumePlan PlanResume(TransferHost& host, const UploadPlace& place, const LocalStamp& local,
                      const QString& displayName)
{
    const std::optional<UnfinishedUpload> earlier =
        place.store.find(place.server, place.folder, place.target);
    if (!earlier)
        return {};
    const QByteArray& copy = earlier->temporaryName;
    const auto forget = [&] { place.store.forget(place.server, place.folder, place.target); };
    // The file of stopped uploads names what gets appended to and deleted: only our own kind
    // of name is taken from it (an older version's record of the target's own name is not).
    if (!IsTemporaryRemoteNameOf(copy, place.target)) {
        forget();
        return {};
    }
    ULONGLONG have = 0;
    if (!FtpGetFileSizeA(host.connectionHandle(), copy.constData(), &have)) {
        const DWORD error = GetLastError();
        if (error != ERROR_NOT_SUPPORTED && error != ERROR_INTERNET_EXTENDED_ERROR) {
            host.reportFtpError(kSizeFailed); // the connection failed; the copy stays known
            return {ResumePlan::Step::Fail};
        }
        // No SIZE here, or the copy is gone: nothing says where to go on.
        host.warn(NoUploadResumeText(displayName));
        RemovePartialCopy(host, copy);
        forget();
        return {};
    }
    bool failed = false;
    const bool ours = LeftByUs(host, *earlier, have, failed);
    if (failed) {
        host.reportFtpError(kSizeFailed);
        return {ResumePlan::Step::Fail};
    }
    // The copy's name is one of ours, made at random for this upload: what stands there is
    // of no use to anyone once the upload starts over.
    const auto startOver = [&]() -> ResumePlan {
        RemovePartialCopy(host, copy);
        forget();
        return {};
    };
    // Other local data now, an empty copy (nothing to save), one larger than the file (not
    // its start), or a copy that is not as we left it: the upload starts over.
    if (!ours || earlier->local != local || have == 0 || have > ULONGLONG(local.size))
        return startOver();
    switch (host.askResume(UploadResumeQuestionText(displayName, qint64(have), local.size))) {
    case ResumeAnswer::Resume:
        return {ResumePlan::Step::Send, copy, qint64(have)};
    case ResumeAnswer::StartOver:
        return startOver();
    case ResumeAnswer::Cancel:
        break;
    }
    return {ResumePlan::Step::Cancel};
}

// Remembers the copy an upload left, with its state as it is now (unknown when the connection
// is gone). False when the file of stopped uploads could not be written.
bool Remember(TransferHost& host, const UploadPlace& place, const QByteArray& temporaryName,
              const LocalStamp& local)
{
    const DWORD error = GetLastError();
    UnfinishedUpload upload{place.server, place.folder, place.target, temporaryName, local, -1, {}};
    ULONGLONG have = 0;
    if (FtpGetFileSizeA(host.connectionHandle(), temporaryName.constData(), &have) &&
        CopyTime(host, temporaryName, upload.copyTime))
        upload.copySize = qint64(have);
    else
        upload.copyTime.clear();
    const bool kept = place.store.remember(upload);
    SetLastError(error);
    return kept;
}

// After an upload that stopped early: its partial copy is kept and remembered, or removed
// when it cannot be remembered (nothing could find it again).
void KeepOrRemove(TransferHost& host, const UploadPlace& place, const QByteArray& temporaryName,
                  const LocalStamp& local)
{
    if (!Remember(host, place, temporaryName, local))
        RemovePartialCopy(host, temporaryName);
}

} // namespace

std::optional<bool> UploadResumably(TransferHost& host, RemoteFolderNames& names,
                                    LocalFileReader& source, const QString& localPath,
                                    const QByteArray& targetName, DWORD transferType)
{
    const UnfinishedUploads* store = host.unfinishedUploads();
    const QByteArray server = host.serverIdentity();
    if (!store || server.isEmpty() || source.size() < kResumableUploadMin)
        return std::nullopt;
    const std::optional<QByteArray> folder = names.directory(host.session());
    if (!folder)
        return std::nullopt;
    const UploadPlace place{*store, server, *folder, targetName};
    const LocalStamp local{QFile::encodeName(localPath), source.size(), source.modifiedNs()};
    const QString displayName = FileNamePart(localPath);

    ResumePlan plan = PlanResume(host, place, local, displayName);
    if (plan.step == ResumePlan::Step::Fail)
        return false;
    if (plan.step == ResumePlan::Step::Cancel) {
        CancelRequested = true;
        return true;
    }
    bool resuming = plan.offset > 0;
    QByteArray temporaryName = resuming ? plan.temporaryName : TemporaryRemoteName(targetName);
    UploadOutcome outcome = UploadOutcome::Failed;
    try {
        outcome = SendFrom(host, source, temporaryName, transferType, plan.offset);
        if (outcome == UploadOutcome::CannotResume) {
            host.warn(NoUploadResumeText(displayName));
            // SIZE and MDTM said it was our copy a moment ago.
            RemovePartialCopy(host, temporaryName);
            store->forget(server, *folder, targetName);
            resuming = false;
            temporaryName = TemporaryRemoteName(targetName);
            outcome = SendFrom(host, source, temporaryName, transferType, 0);
        }
    } catch (const FileSystemError&) {
        KeepOrRemove(host, place, temporaryName, local);
        throw;
    }
    names.add(targetName);
    if (outcome == UploadOutcome::Refused) {
        // Nothing was sent: an earlier copy stays remembered as it was, and a new name is not
        // remembered for a copy that the server never began.
        if (!resuming)
            RemovePartialCopy(host, temporaryName);
        return false;
    }
    if (outcome != UploadOutcome::Stored) {
        KeepOrRemove(host, place, temporaryName, local);
        return outcome == UploadOutcome::Cancelled;
    }
    if (!PutCopyInPlace(host, source, temporaryName, targetName, transferType)) {
        // The whole copy stays under its name, whether or not it can be remembered (the
        // target may be cut short by a direct write that broke off): the user was told where
        // it is, and the next upload of the file puts it in place.
        Remember(host, place, temporaryName, local);
        return false;
    }
    if (resuming)
        store->forget(server, *folder, targetName);
    return true;
}
