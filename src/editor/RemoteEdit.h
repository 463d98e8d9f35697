#pragma once
#include "common/FileListRow.h"

#include <QByteArray>
#include <QString>

#include <optional>

class BatchHost;
class TransferHost;

// A remote file as the server describes it, to tell whether it changed while the editor had
// it open: its length (SIZE) and modification time (MDTM, at the server's own precision), or
// its listing entry's where the server lacks either command. Either may be unknown (size -1,
// empty time) where the server does not say.
struct RemoteVersion
{
    qint64 size = -1;
    QByteArray time;

    bool operator==(const RemoteVersion&) const = default;
};

// The version of `name` in the current remote directory.
RemoteVersion AskRemoteVersion(TransferHost& host, const QByteArray& name);

// The question before a save over a file that changed on the server since it was opened.
QString ChangedOnServerText(const QByteArray& name);
// What is where after a save that did not reach the server.
QString NotSavedText(const QByteArray& name, const QString& tempPath);

// How a save to the server ended.
enum class RemoteSave {
    Stored,    // the server's file holds the text
    Failed,    // reported to the user; the server's file was not replaced by the text
    Cancelled, // by the user, at the question or during the upload; nothing was replaced
};

// The remote file editor's work with files: fetching a remote file into a temporary copy in
// the local folder, storing edited text back on the server, and saving it locally.

// The largest file the editor takes: the whole text is held (twice) in memory and laid out
// by the text control, which becomes unusable long before this size.
inline constexpr qint64 kEditorMaxBytes = 50LL * 1024 * 1024;

QString TooLargeToEditText(const QString& name, qint64 size);

// Creates the temporary copy in the host's local folder and downloads the file of `row` into
// it, with the "Retrieving" progress. Returns the copy's full path, or nullopt after the user
// was told why not (too large, the copy could not be created, a failed download) or after a
// cancelled download; no temporary file is then left behind. Local file errors are reported
// through the host's error box, not thrown. `opened` receives the server's version of the
// file as it was fetched.
std::optional<QString> FetchForEditing(BatchHost& host, const FileListRow& row,
                                       RemoteVersion* opened = nullptr);

// Writes `bytes` into the temporary copy at `tempPath`, uploads it under a temporary name
// and puts it in place of `remoteName` (the server's bytes) in the current remote directory
// the way every upload replaces a file (UploadReplacing): the server's file is never deleted
// before the whole text stands under its name. When the server's file is no longer `opened`
// (someone changed it meanwhile), the host asks first whether to overwrite it; No cancels.
// After a save `opened` is the version the save made. A failed, refused or cancelled upload
// leaves the server's file as it was and removes its partial copy; a failure is reported
// through the host, with what is where. Throws FileSystemError when the copy cannot be
// written or read.
RemoteSave StoreOnServer(BatchHost& host, const QString& tempPath, const QByteArray& remoteName,
                         const QByteArray& bytes, RemoteVersion& opened);

// Replaces the local file at `path` by `bytes`: they are written whole under a new name in
// the same folder, which is then renamed into place, so a failure leaves the old file as it
// was. A replaced file keeps its permissions; a symbolic link at `path` is replaced by the
// file, never followed. Throws FileSystemError.
void ReplaceLocalFile(const QString& path, const QByteArray& bytes);

// Removes the temporary copy at `tempPath`; false when it could not be removed.
bool RemoveTemporaryCopy(const QString& tempPath);
