#include "transfer/TransferPlan.h"

#include "common/CancelFlag.h"
#include "common/FileListRows.h"
#include "transfer/BatchHost.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"
#include "transfer/UploadResume.h"

DownloadPlan PlanDownload(BatchHost& host, const LocalDirectory& folder, const RemoteStamp& listed,
                          const QString& localName, const PartialDownloadNames* known)
{
    DownloadPlan plan;
    plan.listed = listed;
    plan.localName = localName;
    // A name the download refuses, or a link in its way, is refused when the download starts,
    // before any question about it.
    if (!RefusedDownloadNameText(localName).isEmpty() || folder.isLink(localName))
        return plan;
    plan.earlier = FindPartialDownload(folder, localName, listed, known);
    if (!plan.earlier || !plan.earlier->unchanged)
        return plan; // nothing to continue, or the file changed since: start over
    switch (host.askResume(ResumeQuestionText(localName, plan.earlier->size, listed.size))) {
    case ResumeAnswer::Resume:
        plan.action = PlannedAction::Resume;
        plan.offset = plan.earlier->size;
        break;
    case ResumeAnswer::StartOver:
        break;
    case ResumeAnswer::Cancel:
        CancelRequested = true;
        plan.action = PlannedAction::Skip;
        break;
    }
    return plan;
}

bool UploadPlanned(TransferHost& host, LocalFileReader& source, const UploadPlan& plan,
                   TransferMode mode)
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
    if (plan.ownFile) {
        const UploadOutcome outcome = SendFrom(host, source, plan.continued, mode, plan.offset);
        if (outcome == UploadOutcome::CannotResume) {
            // The file there was to be continued, not replaced: it stays as it is.
            host.warn(NoResumeKeptText(ServerNameText(plan.continued), true));
            return false;
        }
        return outcome == UploadOutcome::Stored || outcome == UploadOutcome::Cancelled;
    }
    if (!plan.server.isEmpty())
        return SendRemembered(host, source, plan, mode);
    // Even a name that is free now goes through a name of its own: a partial file under the
    // real name is taken for the file by a web server or another user, and another client
    // may create the name meanwhile.
    return UploadReplacing(host, source, plan.targetName, TemporaryRemoteName(plan.targetName),
                           mode);
}
