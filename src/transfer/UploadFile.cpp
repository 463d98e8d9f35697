#include "transfer/UploadFile.h"

#include "common/CancelFlag.h"
#include "transfer/BatchHost.h"
#include "transfer/RemoteReplace.h"
#include "transfer/TransferNames.h"
#include "transfer/TransferPlan.h"
#include "transfer/UploadResume.h"

bool UploadFile(BatchHost& host, const LocalSource& localFile, TransferMode mode)
{
    RemoteFolderNames names(&host.session());
    return UploadFile(host, localFile, mode, names);
}

bool UploadFile(BatchHost& host, const LocalSource& localFile, TransferMode mode,
                RemoteFolderNames& names)
{
    // A batch that was cancelled while it showed the next item must not start that item;
    // nothing failed, so this is not an error for the caller to report.
    if (CancelRequested)
        return true;
    const QByteArray remoteName = RemoteNameFor(localFile.path(), host.lowerCaseUpload()).toUtf8();
    LocalFileReader source(localFile);
    const UploadPlan plan = PlanUpload(host, names, source, localFile.path(), remoteName);
    if (plan.action == PlannedAction::Write || plan.action == PlannedAction::Resume)
        names.add(remoteName);
    return UploadPlanned(host, source, plan, mode);
}
