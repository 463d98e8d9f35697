#include "queue/QueueWorker.h"

#include "common/FileSystemError.h"
#include "queue/QueueBatch.h"
#include "queue/QueueTransfers.h"
#include "queue/QueuedUploadCopy.h"
#include "queue/TransferQueue.h"
#include "remote/ServerSession.h"
#include "remote/SessionLog.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {
// How often a running item's figures reach the window: often enough for a smooth bar, rare
// enough that 10 workers on small blocks do not flood the window's event loop.
constexpr qint64 kProgressEveryMs = 100;
} // namespace

QueueWorker::~QueueWorker()
{
    wait();
}

void QueueWorker::cancelCurrent()
{
    m_cancel = true;
    const QMutexLocker lock(&m_sessionMutex);
    if (m_session)
        m_session->cancel();
}

bool QueueWorker::moves(quint64 id) const
{
    if (m_current.load() == id)
        return true;
    const QMutexLocker lock(&m_batchMutex);
    return std::find(m_batch.begin(), m_batch.end(), id) != m_batch.end();
}

void QueueWorker::logLine(void* context, bool sent, const char* line, std::size_t length)
{
    auto* worker = static_cast<QueueWorker*>(context);
    Q_EMIT worker->m_queue.logLine(
        QStringLiteral("[%1 #%2] %3 %4")
            .arg(worker->m_queue.host())
            .arg(worker->m_number)
            .arg(sent ? QStringLiteral(">") : QStringLiteral("<"),
                 QString::fromUtf8(line, static_cast<qsizetype>(length))),
        worker->m_attempt.load());
}

void QueueWorker::run()
{
    // The connections this thread opens show their conversation in the message log.
    LogSessionsOfThisThread(&QueueWorker::logLine, this);
    for (;;) {
        if (const auto removed = m_queue.takeDiscard(this)) {
            discardCopy(*removed);
            continue;
        }
        const auto item = m_queue.take(this);
        if (!item)
            break;
        m_cancel = false;
        m_current = item->id;
        m_attempt = item->logAttempt;
        // Where the connection keeps several files in flight, the small files waiting next go
        // together with this one.
        std::vector<QueueItem> batch;
        if (FitsQueueBatch(*item)) {
            if (!openSession(*item)) {
                m_attempt = 0;
                m_current = 0;
                continue;
            }
            if (m_session->traits().filesInFlight)
                batch = m_queue.takeBatch(this, *item);
        }
        if (batch.empty()) {
            runItem(*item);
        } else {
            batch.insert(batch.begin(), *item);
            runBatch(batch);
        }
        m_attempt = 0;
        m_current = 0;
    }
    closeSession();
}

bool QueueWorker::openSession(const QueueItem& item)
{
    if (m_session)
        return true;
    RemoteResult result;
    QString why;
    auto session = m_queue.m_opener(result, why);
    if (!session) {
        // While other workers connect with the same log-on, a refusal of one more is the
        // server's limit on connections (421, or 530 "too many"; the reply itself cannot be
        // relied on while the engine keeps one last reply for the whole process), no failure
        // of the item: another worker's connection goes on with it.
        if (m_queue.refusedLogon(this)) {
            Q_EMIT m_queue.logLine(QObject::tr("%1 refused another connection (%2); "
                                               "transfers go on over %3 connection(s).")
                                       .arg(m_queue.host(), RemoteFailureText(result))
                                       .arg(m_queue.activeLimit()),
                                   m_attempt.load());
            m_queue.update(
                item.id, [](QueueItem& own) { own.state = QueueState::Queued; }, true);
            return false;
        }
        const QString text = why.isEmpty() ? RemoteFailureText(result) : why;
        m_queue.update(
            item.id,
            [&text](QueueItem& own) {
                if (own.state == QueueState::Running)
                    own.state = QueueState::Failed;
                own.error = text;
            },
            true);
        return false;
    }
    // Knowing its folder lets the session send a name in it alone, as the window's connection
    // does; a server that will not say still takes the absolute paths.
    QByteArray folder;
    session->currentFolder(folder);
    const QMutexLocker lock(&m_sessionMutex);
    m_session = std::move(session);
    m_sessionOpen = true;
    return true;
}

void QueueWorker::closeSession()
{
    std::unique_ptr<ServerSession> ended;
    {
        const QMutexLocker lock(&m_sessionMutex);
        ended = std::move(m_session);
        m_sessionOpen = false;
    }
}

void QueueWorker::discardCopy(const QueueItem& removed)
{
    if (!openSession(removed))
        return;
    const RemoteResult result = DiscardUploadCopy(*m_session, m_queue.uploadRecord(), removed);
    if (result.failure == RemoteFailure::ConnectionLost)
        closeSession();
}

void QueueWorker::runItem(const QueueItem& item)
{
    if (!openSession(item))
        return;
    QElapsedTimer clock;
    clock.start();
    qint64 lastShown = -kProgressEveryMs;
    const quint64 id = item.id;
    const QueueProgress progress = [&](qint64 done) {
        if (m_cancel.load() || m_queue.cancelled(id))
            return false;
        const qint64 now = clock.elapsed();
        if (now - lastShown >= kProgressEveryMs) {
            lastShown = now;
            const double rate =
                now > 0 ? static_cast<double>(done) * 1000.0 / static_cast<double>(now) : 0;
            m_queue.update(
                id,
                [done, rate](QueueItem& own) {
                    own.bytesDone = done;
                    own.rate = rate;
                },
                false);
        }
        return true;
    };
    QueueStep step;
    QList<QueueItem> children;
    try {
        if (item.folder)
            step = ListQueuedFolder(*m_session, item, children);
        else if (item.direction == QueueDirection::Download)
            step = DownloadQueued(*m_session, item, progress);
        else
            step = UploadQueued(*m_session, item, progress, m_queue.uploadRecord());
    } catch (const FileSystemError& error) {
        step.state = QueueState::Failed;
        step.error = error.text();
    }
    if (!children.isEmpty())
        m_queue.addListed(id, std::move(children));
    if (step.sessionLost) {
        closeSession();
    } else if (m_cancel.load()) {
        // The abort either left the connection answering in step or retired it; one command
        // tells which, before the next item trusts it.
        QByteArray folder;
        if (!m_session->currentFolder(folder))
            closeSession();
    }
    // The reason beside the conversation that led to it, where "Show in log" finds it.
    if (step.state == QueueState::Failed)
        Q_EMIT m_queue.logLine(
            QStringLiteral("[%1 #%2] %3").arg(m_queue.host()).arg(m_number).arg(step.error),
            m_attempt.load());
    const qint64 elapsed = clock.elapsed();
    const bool stopping = m_queue.stopping();
    m_queue.update(
        id,
        [&step, elapsed, stopping](QueueItem& own) {
            if (own.state != QueueState::Running)
                return; // cancelled meanwhile
            // A transfer the program's end broke off continues next time.
            own.state =
                stopping && step.state != QueueState::Finished ? QueueState::Queued : step.state;
            own.error = step.error;
            if (step.state == QueueState::Finished && own.size >= 0 && !own.folder) {
                own.bytesDone = own.size;
                if (elapsed > 0)
                    own.rate =
                        static_cast<double>(own.size) * 1000.0 / static_cast<double>(elapsed);
            }
        },
        true);
}

void QueueWorker::runBatch(const std::vector<QueueItem>& taken)
{
    {
        const QMutexLocker lock(&m_batchMutex);
        m_batch.clear();
        for (const QueueItem& item : taken)
            m_batch.push_back(item.id);
    }
    // From here a Cancel of any of them reaches this worker; one that came before is seen here.
    std::vector<QueueItem> items;
    for (const QueueItem& item : taken) {
        if (!m_queue.cancelled(item.id))
            items.push_back(item);
    }
    QElapsedTimer clock;
    clock.start();
    qint64 lastShown = -kProgressEveryMs;
    std::vector<qint64> shownBytes(items.size(), 0);
    // The batch reports its bytes as a whole: they are shown filling its items in turn.
    const QueueProgress progress = [&](qint64 done) {
        if (m_cancel.load() || m_queue.stopping())
            return false;
        const qint64 now = clock.elapsed();
        if (now - lastShown < kProgressEveryMs)
            return true;
        lastShown = now;
        const double rate =
            now > 0 ? static_cast<double>(done) * 1000.0 / static_cast<double>(now) : 0;
        qint64 left = done;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const qint64 part = std::min(left, std::max<qint64>(items[i].size, 0));
            left -= part;
            if (part == shownBytes[i])
                continue;
            shownBytes[i] = part;
            m_queue.update(
                items[i].id,
                [part, rate](QueueItem& own) {
                    own.bytesDone = part;
                    own.rate = rate;
                },
                false);
        }
        return true;
    };
    const QueueBatchSteps result = TransferQueuedBatch(*m_session, items, progress);
    if (result.sessionLost) {
        closeSession();
    } else if (result.cancelled || m_cancel.load()) {
        QByteArray folder;
        if (!m_session->currentFolder(folder))
            closeSession();
    }
    const qint64 elapsed = clock.elapsed();
    qint64 finishedBytes = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (result.steps[i].state == QueueState::Finished)
            finishedBytes += std::max<qint64>(items[i].size, 0);
    }
    const double rate =
        elapsed > 0 ? static_cast<double>(finishedBytes) * 1000.0 / static_cast<double>(elapsed)
                    : 0;
    const bool stopping = m_queue.stopping();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const QueueStep& step = result.steps[i];
        if (step.state == QueueState::Failed)
            Q_EMIT m_queue.logLine(
                QStringLiteral("[%1 #%2] %3").arg(m_queue.host()).arg(m_number).arg(step.error),
                m_attempt.load());
        m_queue.update(
            items[i].id,
            [&step, stopping, rate](QueueItem& own) {
                if (own.state != QueueState::Running)
                    return; // cancelled meanwhile
                // Those the batch did not reach, or that stopped with it for another item's
                // Cancel, wait for the next worker free; what the program's end broke off
                // continues next time.
                own.state = (stopping && step.state != QueueState::Finished) ||
                                    step.state == QueueState::Cancelled
                                ? QueueState::Queued
                                : step.state;
                own.error = step.error;
                if (own.state == QueueState::Queued) {
                    own.bytesDone = 0;
                    own.rate = 0;
                } else if (step.state == QueueState::Finished) {
                    own.bytesDone = std::max<qint64>(own.size, 0);
                    own.rate = rate;
                }
            },
            true);
    }
    const QMutexLocker lock(&m_batchMutex);
    m_batch.clear();
}
