#pragma once
#include "queue/QueueItem.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>

class TransferQueue;

// The rows of the queue pane, one per item in the queue's order: direction, local and remote
// path, size, progress, rate, time left and state. Each row's accessible text says all of it
// in words, so a screen reader hears "Download one.bin, running, 45 percent".
class QueueModel final : public QAbstractTableModel
{
public:
    enum Column { Direction, Local, Remote, Size, Progress, Rate, TimeLeft, State, ColumnCount };

    explicit QueueModel(TransferQueue& queue, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    quint64 idAt(int row) const;
    const QueueItem* itemAt(int row) const;

    static QString stateText(QueueState state);
    static int percent(const QueueItem& item);
    // The row as one sentence, for assistive tools.
    static QString accessibleText(const QueueItem& item);

private:
    void changed(quint64 id);
    void added();
    void reload();

    TransferQueue& m_queue;
    QList<QueueItem> m_rows;
    QHash<quint64, int> m_rowOf;
};
