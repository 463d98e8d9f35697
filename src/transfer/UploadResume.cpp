#include "transfer/UploadResume.h"

#include "local/FileSystemError.h"
#include "transfer/CancelFlag.h"
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

// Removes the copy an earlier upload left, unless it stands under the target's own name (a
// replacing upload puts a whole copy over it), and forgets it.
void Discard(TransferHost& host, const UploadPlace& place, const QByteArray& temporaryName)
{
    if (temporaryName != place.target)
        RemovePartialCopy(host, temporaryName);
    place.store.forget(place.server, place.folder, place.target);
}

ResumePlan PlanResume(TransferHost& host, const UploadPlace& place, const LocalStamp& local,
                      const QString& displayName)
{
    const std::optional<UnfinishedUpload> earlier =
        place.store.find(place.server, place.folder, place.target);
    if (!earlier)
        return {};
    const QByteArray& copy = earlier->temporaryName;
    // The file of stopped uploads names what gets appended to and deleted: only our own kind
    // of name is taken from it.
    if (copy != place.target && !IsTemporaryRemoteNameOf(copy, place.target)) {
        place.store.forget(place.server, place.folder, place.target);
        return {};
    }
    if (earlier->local != local) { // other data now: the copy cannot be its start
        Discard(host, place, copy);
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
        Discard(host, place, copy);
        return {};
    }
    // An empty copy saves nothing; a larger one is not the start of this file.
    if (have == 0 || have > ULONGLONG(local.size)) {
        Discard(host, place, copy);
        return {};
    }
    switch (host.askResume(UploadResumeQuestionText(displayName, qint64(have), local.size))) {
    case ResumeAnswer::Resume:
        return {ResumePlan::Step::Send, copy, qint64(have)};
    case ResumeAnswer::StartOver:
        Discard(host, place, copy);
        return {};
    case ResumeAnswer::Cancel:
        break;
    }
    return {ResumePlan::Step::Cancel};
}

// After an upload that stopped early: its copy is kept and remembered, or removed when it
// cannot be remembered (a copy under the target's own name stays for the user to judge, as
// it always did).
void KeepOrRemove(TransferHost& host, const UploadPlace& place, const QByteArray& temporaryName,
                  const LocalStamp& local)
{
    const DWORD error = GetLastError();
    const bool kept =
        place.store.remember({place.server, place.folder, place.target, temporaryName, local});
    SetLastError(error);
    if (!kept && temporaryName != place.target)
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
    const std::optional<QByteArray> folder = names.directory(host.connectionHandle());
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
    // A first upload goes straight to a free name, else to a name of its own beside it.
    const auto freshName = [&] {
        return names.mayExist(targetName) ? TemporaryRemoteName(targetName) : targetName;
    };
    QByteArray temporaryName = resuming ? plan.temporaryName : freshName();
    UploadOutcome outcome = UploadOutcome::Failed;
    try {
        outcome = SendFrom(host, source, temporaryName, transferType, plan.offset);
        if (outcome == UploadOutcome::CannotResume) {
            host.warn(NoUploadResumeText(displayName));
            Discard(host, place, temporaryName);
            resuming = false;
            temporaryName = freshName();
            outcome = SendFrom(host, source, temporaryName, transferType, 0);
        }
    } catch (const FileSystemError&) {
        KeepOrRemove(host, place, temporaryName, local);
        throw;
    }
    if (temporaryName == targetName)
        names.add(targetName);
    if (outcome == UploadOutcome::Refused) {
        // Nothing was sent: an earlier copy stays remembered as it was, and a new name is not
        // remembered for a copy that the server never began.
        if (!resuming && temporaryName != targetName)
            RemovePartialCopy(host, temporaryName);
        return false;
    }
    if (outcome != UploadOutcome::Stored) {
        KeepOrRemove(host, place, temporaryName, local);
        return outcome == UploadOutcome::Cancelled;
    }
    if (temporaryName != targetName &&
        !PutCopyInPlace(host, temporaryName, targetName, PutInPlace::RenameOver)) {
        // The whole copy stays under its name, the target may be gone already: the copy is
        // never removed here, and the next upload of the file puts it in place.
        place.store.remember({server, *folder, targetName, temporaryName, local});
        return false;
    }
    if (resuming)
        store->forget(server, *folder, targetName);
    return true;
}
