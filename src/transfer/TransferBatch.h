#pragma once
#include <QString>
#include <QStringList>

class BatchHost;
class RowSelection;

// The batch commands behind Upload, Download and the desktop drop. Each one clears
// CancelRequested, walks its items with the progress dialog, stops between items once Cancel
// was pressed, and ends by rebuilding the destination list. A local file-system failure
// abandons the command: the dialog is hidden, the cursor restored and the error shown, and
// no list is rebuilt. A command started while another long operation runs is ignored.

inline constexpr char kNothingSelectedText[] = "No files were selected.";

// Uploads the selected rows of LocalFiles (files, and folders with their contents) from the
// host's local folder into the current remote directory.
void UploadSelection(BatchHost& host, RowSelection& localRows);

// Downloads the selected rows of RemoteFiles (files, and folders with their contents) into
// the host's local folder. The local list is rebuilt when the last row's download succeeded.
void DownloadSelection(BatchHost& host, RowSelection& remoteRows);

// Uploads items dropped from the desktop (full paths of files and folders, in order).
void UploadDroppedItems(BatchHost& host, const QStringList& paths);
