#include "queue/TransferQueue.h"

#include "queue/QueueBatch.h"
#include "queue/QueueStore.h"
#include "queue/QueueTransfers.h"
#include "queue/QueueWorker.h"
#include "remote/ServerSession.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int kMaxWorkers = 10;
// Changes come in bursts (each file of a tree of small files changes state twice within a
// round trip or two, on every worker): one write a moment after the first keeps them all.
constexpr int kSaveDelayMs = 250;
} // namespace

TransferQueue::TransferQueue(SessionOpener opener, QString host, std::unique_ptr<QueueStore> store,
                             QObject* parent)
    : QObject(parent), m_opener(std::move(opener)), m_host(std::move(host)),
      m_store(std::move(store))
{}

TransferQueue::~TransferQueue()
{
    stop();
}

void TransferQueue::setWorkerLimit(int limit)
{
    {
        const QMutexLocker lock(&m_mutex);
        m_limit = std::clamp(limit, 1, kMaxWorkers);
        m_activeLimit = m_limit;
    }
    startWorkers();
}

void TransferQueue::setUnfinishedUploads(std::shared_ptr<const UnfinishedUploads> uploads)
{
    const QMutexLocker lock(&m_mutex);
    m_uploads = std::move(uploads);
}

QueuedUploadRecord TransferQueue::uploadRecord() const
{
    const QMutexLocker lock(&m_mutex);
    return {m_uploads.get(), m_host.toUtf8()};
}

int TransferQueue::workerLimit() const
{
    const QMutexLocker lock(&m_mutex);
    return m_limit;
}

int TransferQueue::activeLimit() const
{
    const QMutexLocker lock(&m_mutex);
    return m_activeLimit;
}

quint64 TransferQueue::add(QList<QueueItem> items)
{
    quint64 first = 0;
    {
        const QMutexLocker lock(&m_mutex);
        first = m_nextId;
        for (QueueItem& item : items) {
            item.id = m_nextId++;
            item.state = QueueState::Queued;
            m_items.push_back(std::move(item));
        }
        m_stopping = false;
    }
    Q_EMIT itemsAdded();
    scheduleSave();
    startWorkers();
    return first;
}

QList<QueueItem> TransferQueue::items() const
{
    const QMutexLocker lock(&m_mutex);
    return QList<QueueItem>(m_items.begin(), m_items.end());
}

std::optional<QueueItem> TransferQueue::item(quint64 id) const
{
    const QMutexLocker lock(&m_mutex);
    for (const QueueItem& item : m_items) {
        if (item.id == id)
            return item;
    }
    return std::nullopt;
}

bool TransferQueue::busy() const
{
    const QMutexLocker lock(&m_mutex);
    return std::any_of(m_items.begin(), m_items.end(),
                       [](const QueueItem& item) { return IsOpen(item.state); });
}

int TransferQueue::overallPercent() const
{
    const QMutexLocker lock(&m_mutex);
    qint64 total = 0;
    qint64 done = 0;
    bool open = false;
    for (const QueueItem& item : m_items) {
        if (item.folder || item.state == QueueState::Cancelled || item.state == QueueState::Failed)
            continue;
        open = open || IsOpen(item.state);
        const qint64 size = std::max<qint64>(item.size, 0);
        total += size;
        done += item.state == QueueState::Finished ? size : std::min(item.bytesDone, size);
    }
    if (!open)
        return -1;
    return total <= 0 ? 0 : static_cast<int>(done * 100 / total);
}

std::vector<QueueItem>::iterator TransferQueue::find(quint64 id)
{
    return std::find_if(m_items.begin(), m_items.end(),
                        [id](const QueueItem& item) { return item.id == id; });
}

void TransferQueue::cancel(quint64 id)
{
    {
        const QMutexLocker lock(&m_mutex);
        const auto it = find(id);
        if (it == m_items.end() || !IsOpen(it->state))
            return;
        it->state = QueueState::Cancelled;
        it->rate = 0;
        for (const auto& worker : m_workers) {
            if (worker->moves(id))
                worker->cancelCurrent();
        }
    }
    Q_EMIT itemChanged(id);
    scheduleSave();
}

void TransferQueue::cancelAll()
{
    QList<quint64> open;
    {
        const QMutexLocker lock(&m_mutex);
        for (const QueueItem& item : m_items) {
            if (IsOpen(item.state))
                open << item.id;
        }
    }
    for (const quint64 id : open)
        cancel(id);
}

void TransferQueue::retry(quint64 id)
{
    {
        const QMutexLocker lock(&m_mutex);
        const auto it = find(id);
        if (it == m_items.end() ||
            (it->state != QueueState::Failed && it->state != QueueState::Cancelled))
            return;
        it->state = QueueState::Queued;
        it->error.clear();
        it->bytesDone = 0;
        it->rate = 0;
        m_stopping = false;
    }
    Q_EMIT itemChanged(id);
    scheduleSave();
    startWorkers();
}

void TransferQueue::removeFinished()
{
    {
        const QMutexLocker lock(&m_mutex);
        std::erase_if(m_items,
                      [](const QueueItem& item) { return item.state == QueueState::Finished; });
    }
    Q_EMIT itemsRemoved();
    scheduleSave();
}

void TransferQueue::remove(const QList<quint64>& ids)
{
    {
        const QMutexLocker lock(&m_mutex);
        for (const quint64 id : ids) {
            const auto it = find(id);
            if (it == m_items.end() || it->state == QueueState::Running)
                continue;
            if (it->direction == QueueDirection::Upload && !it->folder && m_uploads &&
                it->state != QueueState::Finished)
                m_discards.push_back(*it);
            m_items.erase(it);
        }
    }
    Q_EMIT itemsRemoved();
    scheduleSave();
    startWorkers();
}

void TransferQueue::stop()
{
    std::vector<std::unique_ptr<QueueWorker>> workers;
    {
        const QMutexLocker lock(&m_mutex);
        m_stopping = true;
        for (const auto& worker : m_workers)
            worker->cancelCurrent();
    }
    // Workers end on their own once told; their last updates need the lock, so it is not
    // held while waiting for them.
    for (;;) {
        QueueWorker* worker = nullptr;
        {
            const QMutexLocker lock(&m_mutex);
            if (m_workers.empty())
                break;
            worker = m_workers.front().get();
        }
        worker->wait();
        workerFinished(worker);
    }
    if (m_writer.joinable())
        m_writer.join();
    {
        // What ran is continued next time, not lost.
        const QMutexLocker lock(&m_mutex);
        for (QueueItem& item : m_items) {
            if (item.state == QueueState::Running)
                item.state = QueueState::Queued;
        }
    }
    save();
}

std::optional<QueueItem> TransferQueue::takeDiscard(QueueWorker* worker)
{
    const QMutexLocker lock(&m_mutex);
    if (m_stopping || worker->retired || m_discards.empty())
        return std::nullopt;
    QueueItem removed = std::move(m_discards.front());
    m_discards.erase(m_discards.begin());
    return removed;
}

std::optional<QueueItem> TransferQueue::take(QueueWorker* worker)
{
    const QMutexLocker lock(&m_mutex);
    if (m_stopping)
        return std::nullopt;
    if (worker->retired)
        return std::nullopt;
    for (QueueItem& item : m_items) {
        if (item.state == QueueState::Queued) {
            item.state = QueueState::Running;
            item.worker = worker->number();
            item.logAttempt = ++m_attempts;
            item.bytesDone = 0;
            item.rate = 0;
            item.error.clear();
            const quint64 id = item.id;
            post([this, id] { Q_EMIT itemChanged(id); });
            return item;
        }
    }
    return std::nullopt;
}

std::vector<QueueItem> TransferQueue::takeBatch(QueueWorker* worker, const QueueItem& first)
{
    std::vector<QueueItem> taken;
    QList<quint64> ids;
    {
        const QMutexLocker lock(&m_mutex);
        if (m_stopping || worker->retired)
            return taken;
        qint64 bytes = first.size;
        for (QueueItem& item : m_items) {
            if (static_cast<int>(taken.size()) + 1 >= kQueueBatchFiles || bytes >= kQueueBatchBytes)
                break;
            if (item.state != QueueState::Queued || item.direction != first.direction ||
                !FitsQueueBatch(item))
                continue;
            item.state = QueueState::Running;
            item.worker = worker->number();
            item.logAttempt = first.logAttempt;
            item.bytesDone = 0;
            item.rate = 0;
            item.error.clear();
            bytes += item.size;
            ids << item.id;
            taken.push_back(item);
        }
    }
    if (!ids.isEmpty())
        post([this, ids] {
            for (const quint64 id : ids)
                Q_EMIT itemChanged(id);
        });
    return taken;
}

void TransferQueue::update(quint64 id, const std::function<void(QueueItem&)>& change, bool keep)
{
    {
        const QMutexLocker lock(&m_mutex);
        const auto it = find(id);
        if (it == m_items.end())
            return;
        change(*it);
    }
    post([this, id] { Q_EMIT itemChanged(id); });
    if (keep)
        scheduleSave();
}

void TransferQueue::addListed(quint64 parent, QList<QueueItem> children)
{
    {
        const QMutexLocker lock(&m_mutex);
        for (QueueItem& child : children) {
            child.id = m_nextId++;
            child.parent = parent;
            m_items.push_back(std::move(child));
        }
    }
    post([this] {
        Q_EMIT itemsAdded();
        startWorkers();
    });
    scheduleSave();
}

bool TransferQueue::stopping() const
{
    const QMutexLocker lock(&m_mutex);
    return m_stopping;
}

bool TransferQueue::cancelled(quint64 id) const
{
    const QMutexLocker lock(&m_mutex);
    for (const QueueItem& item : m_items) {
        if (item.id == id)
            return item.state != QueueState::Running || m_stopping;
    }
    return true;
}

bool TransferQueue::refusedLogon(QueueWorker* worker)
{
    const QMutexLocker lock(&m_mutex);
    const int open = static_cast<int>(
        std::count_if(m_workers.begin(), m_workers.end(), [worker](const auto& other) {
            return other.get() != worker && other->hasSession();
        }));
    const int others = static_cast<int>(m_workers.size()) - 1;
    m_activeLimit = std::max(1, open);
    worker->retired = others > 0;
    return worker->retired;
}

void TransferQueue::workerFinished(QueueWorker* worker)
{
    std::unique_ptr<QueueWorker> ended;
    {
        const QMutexLocker lock(&m_mutex);
        const auto it = std::find_if(m_workers.begin(), m_workers.end(),
                                     [worker](const auto& own) { return own.get() == worker; });
        if (it == m_workers.end())
            return;
        ended = std::move(*it);
        m_workers.erase(it);
    }
    ended->wait();
    startWorkers();
}

void TransferQueue::startWorkers()
{
    const QMutexLocker lock(&m_mutex);
    if (m_stopping)
        return;
    const auto queued = std::count_if(m_items.begin(), m_items.end(), [](const QueueItem& item) {
        return item.state == QueueState::Queued;
    });
    // Each running worker takes the next item itself; a new one is started only for items
    // nobody will get to soon.
    const auto busy = std::count_if(m_workers.begin(), m_workers.end(),
                                    [](const auto& worker) { return worker->current() != 0; });
    const qsizetype discards = m_discards.empty() ? 0 : 1;
    const qsizetype wanted = std::min<qsizetype>(m_activeLimit, queued + busy + discards);
    while (static_cast<qsizetype>(m_workers.size()) < wanted) {
        auto worker = std::make_unique<QueueWorker>(*this, ++m_workersStarted);
        QueueWorker* started = worker.get();
        connect(
            started, &QThread::finished, this, [this, started] { workerFinished(started); },
            Qt::QueuedConnection);
        m_workers.push_back(std::move(worker));
        started->start();
    }
}

void TransferQueue::post(std::function<void()> call)
{
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void TransferQueue::scheduleSave()
{
    {
        const QMutexLocker lock(&m_mutex);
        if (!m_store || m_savePending)
            return;
        m_savePending = true;
    }
    post([this] { QTimer::singleShot(kSaveDelayMs, this, [this] { saveInBackground(); }); });
}

void TransferQueue::saveInBackground()
{
    QList<QueueItem> snapshot;
    {
        const QMutexLocker lock(&m_mutex);
        m_savePending = false;
        if (!m_store)
            return;
        if (m_writing) {
            m_saveAgain = true; // the writer schedules the next write when it ends
            return;
        }
        m_writing = true;
        snapshot = QList<QueueItem>(m_items.begin(), m_items.end());
    }
    if (m_writer.joinable())
        m_writer.join(); // it ended already: m_writing was false
    m_writer = std::thread([this, snapshot = std::move(snapshot)] {
        const bool written = m_store->write(snapshot);
        const QString why = written ? QString() : m_store->errorText();
        bool again = false;
        {
            const QMutexLocker lock(&m_mutex);
            m_writing = false;
            again = std::exchange(m_saveAgain, false);
        }
        if (!written)
            post([this, why] {
                Q_EMIT logLine(tr("The transfer queue could not be saved to %1: %2")
                                   .arg(m_store->filePath(), why));
            });
        if (again)
            scheduleSave();
    });
}

void TransferQueue::save()
{
    QList<QueueItem> snapshot;
    {
        const QMutexLocker lock(&m_mutex);
        m_savePending = false;
        if (!m_store)
            return;
        snapshot = QList<QueueItem>(m_items.begin(), m_items.end());
    }
    if (!m_store->write(snapshot))
        Q_EMIT logLine(tr("The transfer queue could not be saved to %1: %2")
                           .arg(m_store->filePath(), m_store->errorText()));
}
