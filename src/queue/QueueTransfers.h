#pragma once
#include "queue/QueueItem.h"
#include "remote/RemoteResult.h"

#include <QList>

#include <functional>
#include <optional>

class LocalDirectory;
class LocalFileReader;
class ServerSession;
class UnfinishedUploads;

// The steps a worker takes for one queued item. They ask nothing: whatever needed the user's
// word was decided when the item was planned (QueueItem::existing). A target that was not
// decided about is left as it is and the item fails saying so.

// What one step ended with.
struct QueueStep
{
    QueueState state = QueueState::Finished;
    QString error;
    bool sessionLost = false; // the connection is unusable: the worker opens a new one
};

// Told the bytes done so far; false stops the transfer (a cancel).
using QueueProgress = std::function<bool(qint64 done)>;

// Where queued uploads remember the copies they leave when stopped: the record the window's
// own uploads keep too, and the name the server is filed under there. No store: nothing is
// remembered, and a stopped upload removes what it sent.
struct QueuedUploadRecord
{
    const UnfinishedUploads* store = nullptr;
    QByteArray server;
};

// A file from the server into the item's local folder, under a name of its own until it is
// whole, then renamed into place.
QueueStep DownloadQueued(ServerSession& session, const QueueItem& item,
                         const QueueProgress& progress);
// A local file to the server: straight to its name where nothing stands there, otherwise
// under a temporary name beside it that takes the target's place only once it is whole. A
// file large enough to be worth continuing always goes through a temporary name that is
// remembered in `record`: stopped (a cancel, the program's end, a failure, a crash) it stays
// there, and the next try of the same local data continues it (FindUploadCopy).
QueueStep UploadQueued(ServerSession& session, const QueueItem& item, const QueueProgress& progress,
                       const QueuedUploadRecord& record = {});
// Lists a tree item's folder (the server's for a download, the local one for an upload) and
// gives its files and folders as items of their own. Links are never followed; names that
// would lead out of the chosen folder become failed items that say so.
QueueStep ListQueuedFolder(ServerSession& session, const QueueItem& item,
                           QList<QueueItem>& children);

// What a failed call on the server says to the user: the server's reply, or why there was none.
QString RemoteFailureText(const RemoteResult& result);

// Pieces the single and the batched steps share.
// A failed step; `sessionLost` when its connection is gone.
QueueStep QueueFailed(QString text, bool sessionLost = false);
// The step a failed call on the server ends with: Cancelled for a cancel, otherwise failed with
// `what` and the server's words.
QueueStep QueueFailedOn(const RemoteResult& result, const QString& what);
// The folder a file `relative` ("a/b/name") is in: "a/b" below `root`, reached without following
// a link and made where `create` is set; nothing and `why` where that cannot be.
std::optional<LocalDirectory> QueuedFileFolder(const QString& root, const QString& relative,
                                               bool create, QString& why);
// Whether anything (a link included) has `name` in `folder`.
bool LocalNameTaken(const LocalDirectory& folder, const QString& name);
// Why an item whose target exists failed when nobody could be asked.
QString LeftAsItIsText(const QString& target);
// The local source of an upload: a file the user picked (a link there is the user's own
// choice) or one below a chosen folder, reached without following any link.
QueueStep OpenQueuedSource(const QueueItem& item, std::optional<LocalDirectory>& folder,
                           std::optional<LocalFileReader>& reader);
