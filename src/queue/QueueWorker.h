#pragma once
#include "queue/QueueItem.h"
#include "windef.h"

#include <QMutex>
#include <QThread>

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

class ServerSession;
class TransferQueue;

// One worker of a transfer queue: a thread with a connection of its own, taking the queue's
// next item until none is left. The connection is opened for the first item and closed when
// the worker ends.
class QueueWorker final : public QThread
{
public:
    // `number` names its connection in the message log.
    QueueWorker(TransferQueue& queue, int number) : m_queue(queue), m_number(number) {}
    ~QueueWorker() override;
    QueueWorker(const QueueWorker&) = delete;
    QueueWorker& operator=(const QueueWorker&) = delete;

    // Its connection's number in the message log.
    int number() const { return m_number; }
    // The item it moves now (0: none).
    quint64 current() const { return m_current.load(); }
    // Whether `id` is the item it moves or one of the batch it moves.
    bool moves(quint64 id) const;
    bool hasSession() const { return m_sessionOpen.load(); }
    // Stops the item it moves: the loop ends before its next block, and the connection is told
    // to end the call that waits now. Safe from any thread.
    void cancelCurrent();
    // Set by the queue when the server refused this worker's connection: it takes no more items.
    bool retired = false;

protected:
    void run() override;

private:
    void runItem(const QueueItem& item);
    void runBatch(const std::vector<QueueItem>& taken);
    void discardCopy(const QueueItem& removed);
    bool openSession(const QueueItem& item);
    void closeSession();
    static void logLine(void* context, bool sent, const char* line, std::size_t length);

    TransferQueue& m_queue;
    int m_number;
    QMutex m_sessionMutex; // guards m_session against cancelCurrent() from another thread
    std::unique_ptr<ServerSession> m_session;
    std::atomic<bool> m_sessionOpen{false};
    std::atomic<quint64> m_current{0};
    mutable QMutex m_batchMutex;  // guards m_batch against moves() from another thread
    std::vector<quint64> m_batch; // the items of the batch it moves, m_current among them
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_attempt{0}; // the logAttempt of the item it moves: its lines carry it
};
