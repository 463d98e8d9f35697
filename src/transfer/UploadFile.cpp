#include "transfer/UploadFile.h"

#include "common/CancelFlag.h"
#include "transfer/RemoteReplace.h"
#include "transfer/TransferHost.h"
#include "transfer/TransferNames.h"
#include "transfer/UploadResume.h"

#include <optional>

bool UploadFile(TransferHost& host, const LocalSource& localFile, DWORD transferType)
{
    RemoteFolderNames names(&host.session());
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
    // Even a name that is free now goes through a name of its own: a partial file under the
    // real name is taken for the file by a web server or another user, and another client
    // may create the name meanwhile.
    const bool uploaded =
        UploadReplacing(host, source, remoteName, TemporaryRemoteName(remoteName), transferType);
    names.add(remoteName);
    return uploaded;
}
