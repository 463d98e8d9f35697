#pragma once
#include "queue/QueueItem.h"
#include "remote/RemoteResult.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "queue/QueueStore.h"
class QueueWorker;
class UnfinishedUploads;
struct QueuedUploadRecord;
class ServerSession;

// Opens a connection of its own for a worker, logged on to the queue's site. Called on the
// worker's thread: whatever it must ask the user goes to the window's thread (PrompterOnThread).
using SessionOpener = std::function<std::unique_ptr<ServerSession>(RemoteResult&, QString&)>;

// The background transfer queue of one site: items moved by up to workerLimit() workers, each
// a thread with a connection of its own, so the window's own connection stays free for
// browsing. Lives on the window's thread; its signals arrive there. Every change of an item's
// state is kept in the store (when it has one), so a queue outlives the program.
class TransferQueue : public QObject
{
    Q_OBJECT
public:
    // `host` names the site in messages ("user@host:port").
    TransferQueue(SessionOpener opener, QString host, std::unique_ptr<QueueStore> store = {},
                  QObject* parent = nullptr);
    ~TransferQueue() override;

    // 1 to 10 simultaneous transfers; a server refusing another log-on lowers the number in
    // use (activeLimit()) below this for as long as the queue lives.
    void setWorkerLimit(int limit);
    int workerLimit() const;
    int activeLimit() const;
    const QString& host() const { return m_host; }
    QueueStore* store() const { return m_store.get(); }
    // Where stopped uploads are remembered so that their copies are continued (the record the
    // window's uploads keep, its server named host()); none: a stopped upload removes its copy.
    void setUnfinishedUploads(std::shared_ptr<const UnfinishedUploads> uploads);
    QueuedUploadRecord uploadRecord() const;

    // Adds items (their ids are given here) and starts workers for them. Returns the first id.
    quint64 add(QList<QueueItem> items);
    QList<QueueItem> items() const;
    std::optional<QueueItem> item(quint64 id) const;
    // True while any item is queued or running.
    bool busy() const;
    // The bytes done of every open and finished item of the current run, in percent; -1 when
    // nothing is open.
    int overallPercent() const;

    // Cancel: a queued item is never started; a running one stops at once (its connection is
    // told to end the call in progress, and the item is shown cancelled at once). What a
    // download received stays as partial data beside its target.
    void cancel(quint64 id);
    void cancelAll();
    // A failed or cancelled item queued again.
    void retry(quint64 id);
    void removeFinished();
    // Removes the items that are not running. A stopped upload's copy on the server goes with
    // it: a worker removes it, and the record of stopped uploads forgets it.
    void remove(const QList<quint64>& ids);
    // Ends every running transfer as for a cancel but leaves it queued (it continues from the
    // store next time), and waits for the workers to end.
    void stop();

Q_SIGNALS:
    void itemChanged(quint64 id);
    void itemsAdded();
    void itemsRemoved();
    // A line for the message log: what a worker's connection did that the user may look for.
    // `attempt`: the logAttempt of the item whose try it belongs to (0: none).
    void logLine(const QString& text, int attempt = 0);

private:
    friend class QueueWorker;
    // For workers: the next queued item, marked running; nothing when the worker should end.
    std::optional<QueueItem> take(QueueWorker* worker);
    // For workers: more queued items to go in one batch with `first` (taken already): the
    // same direction, each a small file (FitsQueueBatch), up to the batch's limits. They are
    // marked running, so no other worker takes them, and share `first`'s try in the log.
    std::vector<QueueItem> takeBatch(QueueWorker* worker, const QueueItem& first);
    // For workers: the next removed upload whose copy is to go.
    std::optional<QueueItem> takeDiscard(QueueWorker* worker);
    void update(quint64 id, const std::function<void(QueueItem&)>& change, bool keep);
    void addListed(quint64 parent, QList<QueueItem> children);
    bool cancelled(quint64 id) const;
    bool stopping() const;
    // A log-on refused while other workers exist: lowers the limit to the sessions open now
    // (at least 1). True when the worker should give up its item to another worker and end;
    // false when it is the only one, and the item fails.
    bool refusedLogon(QueueWorker* worker);
    void workerFinished(QueueWorker* worker);
    void startWorkers();
    void scheduleSave();
    void save();
    void saveInBackground();
    void post(std::function<void()> call);
    std::vector<QueueItem>::iterator find(quint64 id);

    SessionOpener m_opener;
    QString m_host;
    std::unique_ptr<QueueStore> m_store;
    std::shared_ptr<const UnfinishedUploads> m_uploads;
    mutable QMutex m_mutex;
    std::vector<QueueItem> m_items;
    std::vector<QueueItem> m_discards; // removed uploads whose copies are to go
    std::vector<std::unique_ptr<QueueWorker>> m_workers;
    quint64 m_nextId = 1;
    int m_workersStarted = 0;
    int m_attempts = 0;
    int m_limit = 2;
    int m_activeLimit = 2;
    bool m_stopping = false;
    bool m_savePending = false;
    // The store is written on a thread of its own: serialising a few thousand items and
    // syncing the file held the window's thread for up to 160 ms each time.
    std::thread m_writer;
    bool m_writing = false;   // guarded by m_mutex
    bool m_saveAgain = false; // a change came while m_writer wrote
};
