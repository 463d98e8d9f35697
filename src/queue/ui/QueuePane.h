#pragma once
#include <QStringList>
#include <QTabWidget>
#include <QTimer>

class QPlainTextEdit;
class QPushButton;
class QTableView;
class QueueModel;
class TransferQueue;

// The pane at the bottom of the main window: the transfer queue with its commands, and the
// message log beside it.
class QueuePane final : public QTabWidget
{
    Q_OBJECT
public:
    explicit QueuePane(QWidget* parent = nullptr);

    // Shows `queue` (none: an empty list).
    void setQueue(TransferQueue* queue);
    // A line for the message log, stamped with the time. The log keeps the latest lines only.
    // `attempt`: the try of a queued item the line belongs to (QueueItem::logAttempt).
    void addLogLine(const QString& text, int attempt = 0);
    // Shows at once the lines addLogLine() gathered for the next moment.
    void flushLog();
    // Shows the message log with the lines of the selected item's latest try selected.
    void showSelectedInLog();

    QTableView* QueueList = nullptr;
    QPushButton* btnQueueCancel = nullptr;
    QPushButton* btnQueueCancelAll = nullptr;
    QPushButton* btnQueueRetry = nullptr;
    QPushButton* btnQueueRemove = nullptr;
    QPushButton* btnQueueRemoveFinished = nullptr;
    QPushButton* btnQueueShowLog = nullptr;
    QAction* actQueueShowLog = nullptr;
    QPlainTextEdit* txtLog = nullptr;

private:
    QList<quint64> selectedIds() const;
    void cancelSelected();
    void retrySelected();

    TransferQueue* m_queue = nullptr;
    QueueModel* m_model = nullptr;
    QStringList m_pendingLog;
    QList<int> m_pendingAttempts; // the try of each pending line
    QTimer m_logFlush;
};
