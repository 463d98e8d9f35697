#pragma once
#include "windef.h"

#include <QByteArray>
#include <QString>

#include <optional>

class LocalFileReader;
class RemoteFolderNames;
class TransferHost;

// Files smaller than this are simply sent again: continuing them would save less than the
// question costs the user.
inline constexpr qint64 kResumableUploadMin = 1024 * 1024;

// Uploads the open local file `source` (at `localPath`) into the current remote directory as
// `targetName`, through a temporary name as every upload, so that an upload which stops early
// can be continued later: the copy it left on the server stays under its temporary name and is
// remembered (UnfinishedUploads) with its length and time instead of being removed. When an
// earlier upload of the same unchanged local file to the same place left a copy that is still
// as it was left, the user is asked to resume ("Resume", "Start Over", "Cancel"); Resume sends
// only the rest (APPE after SIZE) and puts the copy in place as a fresh upload would. A server
// that cannot is said so, and the upload starts over, as it does without a question for a
// local file that changed or a copy that is not as it was left (or whose state could not be
// asked because the connection was gone). Starting over removes the earlier copy first: its
// name is ours. Cancel at the question sets CancelRequested and returns true.
// Nothing when the host keeps no record of stopped uploads, the file is small, or the server
// does not say where we are: the caller then uploads as usual. Otherwise the result of the
// upload as UploadFile gives it.
std::optional<bool> UploadResumably(TransferHost& host, RemoteFolderNames& names,
                                    LocalFileReader& source, const QString& localPath,
                                    const QByteArray& targetName, DWORD transferType);
