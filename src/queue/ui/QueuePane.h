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
    void addLogLine(const QString& text);
    // Shows at once the lines addLogLine() gathered for the next moment.
    void flushLog();

    QTableView* QueueList = nullptr;
    QPushButton* btnQueueCancel = nullptr;
    QPushButton* btnQueueCancelAll = nullptr;
    QPushButton* btnQueueRetry = nullptr;
    QPushButton* btnQueueRemoveFinished = nullptr;
    QPlainTextEdit* txtLog = nullptr;

private:
    QList<quint64> selectedIds() const;
    void cancelSelected();
    void retrySelected();

    TransferQueue* m_queue = nullptr;
    QueueModel* m_model = nullptr;
    QStringList m_pendingLog;
    QTimer m_logFlush;
};
