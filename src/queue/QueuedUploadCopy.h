#pragma once
#include "queue/QueueTransfers.h"
#include "transfer/UnfinishedUploads.h"

#include <QByteArray>

#include <optional>

class LocalFileReader;
class ServerSession;
struct QueueItem;

// The copy a resumable queued upload sends to: a temporary name beside the target, and how
// many bytes of it the server holds already (0: a new copy).
struct UploadCopy
{
    QByteArray path;
    qint64 offset = 0;
};

// Finds where a resumable upload of `item` (the local file `reader`, as `local` describes it)
// goes on. A copy an earlier upload of the very same local data left, remembered in the
// record, is continued where the server can append when it is still of the length and time it
// had when that upload stopped or, where that was never known (the connection was lost, the
// program ended midway), when its last bytes are the local file's at the same place; any
// other copy under one of our names is removed and the upload starts a new one. Nothing when
// `copy` is set; the step that ends the item when the connection failed.
std::optional<QueueStep> FindUploadCopy(ServerSession& session, const QueuedUploadRecord& record,
                                        const QueueItem& item, LocalFileReader& reader,
                                        const LocalStamp& local, UploadCopy& copy);

// Remembers the copy an upload is about to begin or has left stopped. `ask`: the connection
// still answers, so the copy's length and time are asked and kept (a copy whose state is
// unknown is never continued). False when the record could not be written.
bool RememberUploadCopy(ServerSession& session, const QueuedUploadRecord& record,
                        const QueueItem& item, const LocalStamp& local, const QByteArray& copyPath,
                        bool ask);

// Forgets the copy remembered for the item's target.
void ForgetUploadCopy(const QueuedUploadRecord& record, const QueueItem& item);

// The user removed the item: the copy its upload left is removed from the server and
// forgotten. A copy remembered for another local file (another upload to the same target)
// stays, and so does the record when the server would not remove the copy. The failure when
// the connection did not answer.
RemoteResult DiscardUploadCopy(ServerSession& session, const QueuedUploadRecord& record,
                               const QueueItem& item);
