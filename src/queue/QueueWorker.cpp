#include "queue/QueueWorker.h"

#include "common/FileSystemError.h"
#include "queue/QueueTransfers.h"
#include "queue/QueuedUploadCopy.h"
#include "queue/TransferQueue.h"
#include "remote/ServerSession.h"
#include "remote/SessionLog.h"

#include <QElapsedTimer>

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
        runItem(*item);
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
