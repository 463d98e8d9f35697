#pragma once
#include "transfer/LocalFile.h"
#include "windef.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class BatchHost;
class PartialDownloadNames;
class TransferHost;
enum class TransferMode;
struct RemoteStamp;

// The single-file engine: every file the program moves goes through UploadFile (UploadFile.h)
// or DownloadFile, in 4,096-byte blocks with one progress update per block, stopping before
// the next block once CancelRequested is set. Both return false only for a failure the user
// has been told about; a cancelled transfer returns true with CancelRequested still set.
// Local file-system failures throw FileSystemError after every handle has been closed.

inline constexpr qsizetype kTransferBlockBytes = 4096;

// The local time of day at which the running transfer started, as a fraction of a day.
extern double TransferStartTime;

enum class UploadOutcome {
    Stored,       // the server confirmed the whole file
    Cancelled,    // CancelRequested stopped it; the transfer was aborted
    Failed,       // reported to the user; the transfer was aborted
    Refused,      // the server would not take the file (reported); nothing was sent
    CannotResume, // the server cannot go on at the offset asked for; nothing was sent
};

// The upload loop itself: the local file into the current remote directory as `remoteName`.
// A transfer that stops early is aborted (ABOR), never closed as if the file were whole;
// whatever the server kept of it stays under `remoteName`.
UploadOutcome SendFileAs(TransferHost& host, const LocalSource& localFile,
                         const QByteArray& remoteName, TransferMode mode);
// The same from an open local file, from `offset` bytes into it on: an offset above zero
// appends to what `remoteName` holds, which must be exactly that many bytes (CannotResume
// otherwise, and where the server cannot append).
UploadOutcome SendFrom(TransferHost& host, LocalFileReader& source, const QByteArray& remoteName,
                       TransferMode mode, qint64 offset);

// What a failed or cancelled download leaves of the data that arrived.
enum class PartialData {
    Keep,    // beside the target, under a name starting with PartialDownloadName()
    Discard, // nothing: a copy made for the program's own use
};

// Fetches `remoteName` (a row's serverName(): the server's own bytes) from the current
// remote directory into the host's local folder as `localName`. The data goes to a new file
// of its own beside the target that replaces the target only after the whole file arrived and
// was written; a failed or cancelled download leaves an existing target untouched. A name that
// is not plain or too long for the local file system, or a symbolic link standing at the
// target, is refused with a warning before anything is fetched or created. `expectedSize` (the
// listed size) only drives the percentage: the data is read until the server ends it.
bool DownloadFile(TransferHost& host, const QByteArray& remoteName, const QString& localName,
                  qint64 expectedSize, TransferMode mode, PartialData partial = PartialData::Keep);
// The same into an already opened local folder (the host's local folder is then only used
// in messages).
bool DownloadFileAt(TransferHost& host, const LocalDirectory& folder, const QByteArray& remoteName,
                    const QString& localName, qint64 expectedSize, TransferMode mode,
                    PartialData partial = PartialData::Keep);

// A binary download the user started from a listing row (`listed`: the row's server name,
// size and time), as DownloadFileAt with partial data kept, and more: the partial data
// remembers the row, and partial data an earlier download of the same row left is offered to
// continue ("Resume", "Start Over", "Cancel"). Resume asks the server for the rest only and
// appends it; a server that cannot is said so and the download starts over, as it does without
// a question for a file that changed on the server since. A completed download removes the
// earlier partial data of the same remote file. Cancel at the question sets CancelRequested
// and returns true without transferring anything. (PlanDownload, then DownloadPlanned.)
bool DownloadListedFile(BatchHost& host, const RemoteStamp& listed, const QString& localName);
// `known`: the folder's partial data as a folder download read it when it began.
bool DownloadListedFileAt(BatchHost& host, const LocalDirectory& folder, const RemoteStamp& listed,
                          const QString& localName, const PartialDownloadNames* known = nullptr);

// Whole seconds since TransferStartTime, measured on the clock of the day so that a transfer
// running across midnight is measured right (one running longer than a day wraps to 0).
double ElapsedSeconds();
// The same rule for two given times of day in milliseconds since midnight.
double ElapsedSecondsBetween(qint64 startMsOfDay, qint64 nowMsOfDay);
// Stamps TransferStartTime with the current time of day.
void StampTransferStart();

// The bar position for `done` of `total` bytes: truncated, and at most 100 when a file grew
// on the server; an empty total counts as complete.
int TransferPercent(qint64 done, qint64 total);
