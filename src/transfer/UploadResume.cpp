#include "transfer/UploadResume.h"

#include "common/CancelFlag.h"
#include "common/FileSystemError.h"
#include "transfer/BatchHost.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferHost.h"
#include "transfer/TransferNames.h"
#include "transfer/TransferPlan.h"
#include "transfer/UnfinishedUploads.h"

#include "remote/ServerSession.h"

#include <QDateTime>
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

// A server that has no such command or refuses it for this file: the connection is fine.
bool NotAnswered(const RemoteResult& result)
{
    return result.failure == RemoteFailure::Unsupported || result.failure == RemoteFailure::Refused;
}

// The copy's modification time as the server gives it; empty when it will not say. False
// (with `result` saying why) only when the connection failed.
bool CopyTime(TransferHost& host, const QByteArray& name, QByteArray& time, RemoteResult& result)
{
    ServerSession& session = host.session();
    RemoteEntry entry;
    time.clear();
    result = session.statTime(RemotePath::here(session, name), entry);
    if (result)
        time = CopyTimeText(entry);
    return result || NotAnswered(result);
}

// The copy's length; false with `result` saying why when the server did not give it.
bool CopySize(TransferHost& host, const QByteArray& name, qint64& size, RemoteResult& result)
{
    ServerSession& session = host.session();
    RemoteEntry entry;
    result = session.stat(RemotePath::here(session, name), entry);
    size = entry.size;
    return result.ok();
}

// True when the copy is still the one the upload left: the length and the modification time
// it had when the upload stopped (`have`: its length now). Appending to a copy someone
// replaced since, or to one whose state was never known (the connection was gone when the
// upload stopped), would make a file of two different ones.
// `connection`: why the connection failed on the way; ok when it did not.
bool LeftByUs(TransferHost& host, const UnfinishedUpload& earlier, qint64 have,
              RemoteResult& connection)
{
    connection = {};
    if (earlier.copySize < 0 || earlier.copyTime.isEmpty() || have != earlier.copySize)
        return false;
    QByteArray time;
    if (RemoteResult asked; !CopyTime(host, earlier.temporaryName, time, asked)) {
        connection = asked;
        return false;
    }
    return time == earlier.copyTime;
}

ResumePlan PlanResume(BatchHost& host, const UploadPlace& place, const LocalStamp& local,
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
    qint64 have = 0;
    if (RemoteResult asked; !CopySize(host, copy, have, asked)) {
        if (!NotAnswered(asked)) {
            // The connection failed; the copy stays known.
            host.reportFtpError(kSizeFailed, asked);
            return {ResumePlan::Step::Fail};
        }
        // No SIZE here, or the copy is gone: nothing says where to go on.
        host.warn(NoUploadResumeText(displayName));
        RemovePartialCopy(host, copy);
        forget();
        return {};
    }
    RemoteResult connection;
    const bool ours = LeftByUs(host, *earlier, have, connection);
    if (!connection) {
        host.reportFtpError(kSizeFailed, connection);
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
    if (!ours || earlier->local != local || have == 0 || have > local.size)
        return startOver();
    switch (host.askResume(UploadResumeQuestionText(displayName, have, local.size))) {
    case ResumeAnswer::Resume:
        return {ResumePlan::Step::Send, copy, have};
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
    UnfinishedUpload upload{place.server, place.folder, place.target, temporaryName, local, -1, {}};
    qint64 have = 0;
    RemoteResult asked;
    if (CopySize(host, temporaryName, have, asked) &&
        CopyTime(host, temporaryName, upload.copyTime, asked))
        upload.copySize = have;
    else
        upload.copyTime.clear();
    return place.store.remember(upload);
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

QByteArray CopyTimeText(const RemoteEntry& entry)
{
    if (entry.modifiedTime == 0)
        return {};
    constexpr qint64 kTicksPerSecond = 10000000;
    constexpr qint64 kSecondsTo1970 = 11644473600;
    const qint64 seconds = entry.modifiedTime / kTicksPerSecond - kSecondsTo1970;
    QByteArray text = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
                          .toString(QStringLiteral("yyyyMMddHHmmss"))
                          .toLatin1();
    if (const qint64 fraction = entry.modifiedTime % kTicksPerSecond; fraction != 0) {
        QByteArray digits = QByteArray::number(fraction).rightJustified(7, '0');
        while (digits.endsWith('0'))
            digits.chop(1);
        text += '.' + digits;
    }
    return text;
}

UploadPlan PlanUpload(BatchHost& host, RemoteFolderNames& names, LocalFileReader& source,
                      const QString& localPath, const QByteArray& targetName)
{
    UploadPlan plan;
    plan.local = LocalStamp{QFile::encodeName(localPath), source.size(), source.modifiedNs()};
    plan.shownName = FileNamePart(localPath);
    plan.targetName = targetName;
    const UnfinishedUploads* store = host.unfinishedUploads();
    const QByteArray server = host.serverIdentity();
    if (!store || server.isEmpty() || source.size() < kResumableUploadMin)
        return plan;
    const std::optional<QByteArray> folder = names.directory(host.session());
    if (!folder)
        return plan;
    plan.server = server;
    plan.folder = *folder;
    const UploadPlace place{*store, server, *folder, targetName};

    const ResumePlan resume = PlanResume(host, place, plan.local, plan.shownName);
    switch (resume.step) {
    case ResumePlan::Step::Send:
        break;
    case ResumePlan::Step::Fail:
        plan.action = PlannedAction::Fail;
        return plan;
    case ResumePlan::Step::Cancel:
        CancelRequested = true;
        plan.action = PlannedAction::Skip;
        return plan;
    }
    if (resume.offset > 0) {
        plan.action = PlannedAction::Resume;
        plan.offset = resume.offset;
        plan.continued = resume.temporaryName;
    }
    return plan;
}

bool SendRemembered(TransferHost& host, LocalFileReader& source, const UploadPlan& plan,
                    TransferMode mode)
{
    const UnfinishedUploads* store = host.unfinishedUploads();
    const QByteArray& targetName = plan.targetName;
    if (!store)
        return UploadReplacing(host, source, targetName, TemporaryRemoteName(targetName), mode);
    const UploadPlace place{*store, plan.server, plan.folder, targetName};
    const LocalStamp& local = plan.local;
    const QString& displayName = plan.shownName;

    bool resuming = plan.action == PlannedAction::Resume;
    QByteArray temporaryName = resuming ? plan.continued : TemporaryRemoteName(targetName);
    UploadOutcome outcome = UploadOutcome::Failed;
    try {
        outcome = SendFrom(host, source, temporaryName, mode, resuming ? plan.offset : 0);
        if (outcome == UploadOutcome::CannotResume) {
            host.warn(NoUploadResumeText(displayName));
            // SIZE and MDTM said it was our copy a moment ago.
            RemovePartialCopy(host, temporaryName);
            store->forget(plan.server, plan.folder, targetName);
            resuming = false;
            temporaryName = TemporaryRemoteName(targetName);
            outcome = SendFrom(host, source, temporaryName, mode, 0);
        }
    } catch (const FileSystemError&) {
        KeepOrRemove(host, place, temporaryName, local);
        throw;
    }
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
    if (!PutCopyInPlace(host, source, temporaryName, targetName, mode)) {
        // The whole copy stays under its name, whether or not it can be remembered (the
        // target may be cut short by a direct write that broke off): the user was told where
        // it is, and the next upload of the file puts it in place.
        Remember(host, place, temporaryName, local);
        return false;
    }
    if (resuming)
        store->forget(plan.server, plan.folder, targetName);
    return true;
}
