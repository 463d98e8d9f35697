#pragma once
#include "ftp/FileListRow.h"

#include <QByteArray>
#include <QString>

#include <optional>

class BatchHost;

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
// through the host's error box, not thrown.
std::optional<QString> FetchForEditing(BatchHost& host, const FileListRow& row);

// Writes `bytes` into the temporary copy at `tempPath`, uploads it under a temporary name
// and puts it in place of `remoteName` (the server's bytes) in the current remote directory:
// delete, then rename. True only when the server's file now holds the text. A failed, refused
// or cancelled upload leaves the server's file as it was, removes its partial copy and returns
// false (failures reported through the host). Throws FileSystemError when the copy cannot be
// written or read.
bool StoreOnServer(BatchHost& host, const QString& tempPath, const QByteArray& remoteName,
                   const QByteArray& bytes);

// Replaces the local file at `path` by `bytes`: they are written whole under a new name in
// the same folder, which is then renamed into place, so a failure leaves the old file as it
// was. A replaced file keeps its permissions; a symbolic link at `path` is replaced by the
// file, never followed. Throws FileSystemError.
void ReplaceLocalFile(const QString& path, const QByteArray& bytes);

// Removes the temporary copy at `tempPath`; false when it could not be removed.
bool RemoveTemporaryCopy(const QString& tempPath);
