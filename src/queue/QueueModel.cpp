#include "queue/QueueModel.h"

#include "queue/TransferQueue.h"

#include <QLocale>

QueueModel::QueueModel(TransferQueue& queue, QObject* parent)
    : QAbstractTableModel(parent), m_queue(queue)
{
    connect(&queue, &TransferQueue::itemChanged, this, &QueueModel::changed);
    connect(&queue, &TransferQueue::itemsAdded, this, &QueueModel::added);
    connect(&queue, &TransferQueue::itemsRemoved, this, &QueueModel::reload);
    reload();
}

int QueueModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int QueueModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

quint64 QueueModel::idAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows[row].id : 0;
}

const QueueItem* QueueModel::itemAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? &m_rows[row] : nullptr;
}

QString QueueModel::stateText(QueueState state)
{
    switch (state) {
    case QueueState::Queued:
        return tr("queued");
    case QueueState::Running:
        return tr("running");
    case QueueState::Failed:
        return tr("failed");
    case QueueState::Finished:
        return tr("finished");
    case QueueState::Cancelled:
        return tr("cancelled");
    }
    return {};
}

int QueueModel::percent(const QueueItem& item)
{
    if (item.state == QueueState::Finished)
        return 100;
    if (item.size <= 0)
        return 0;
    return static_cast<int>(std::min<qint64>(item.bytesDone, item.size) * 100 / item.size);
}

QString QueueModel::accessibleText(const QueueItem& item)
{
    QString text =
        (item.direction == QueueDirection::Download ? tr("Download %1") : tr("Upload %1"))
            .arg(item.localName) +
        QStringLiteral(", ") + stateText(item.state);
    if (!item.folder && item.state == QueueState::Running)
        text += tr(", %1 percent").arg(percent(item));
    if (!item.error.isEmpty())
        text += QStringLiteral(": ") + item.error;
    return text;
}

namespace {
QString leftText(const QueueItem& item)
{
    if (item.state != QueueState::Running || item.rate <= 0 || item.size < 0)
        return {};
    const auto seconds =
        static_cast<qint64>(static_cast<double>(item.size - item.bytesDone) / item.rate);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

QVariant QueueModel::data(const QModelIndex& index, int role) const
{
    const QueueItem* item = itemAt(index.row());
    if (!item)
        return {};
    if (role == Qt::AccessibleTextRole || role == Qt::ToolTipRole)
        return accessibleText(*item);
    if (role != Qt::DisplayRole)
        return {};
    const QLocale locale;
    switch (index.column()) {
    case Direction:
        return item->direction == QueueDirection::Download ? tr("Download") : tr("Upload");
    case Local:
        return item->localFolder + QLatin1Char('/') + item->localName;
    case Remote:
        return QString::fromUtf8(item->remotePath);
    case Size:
        return item->folder || item->size < 0 ? QString() : locale.formattedDataSize(item->size);
    case Progress:
        return item->folder ? QString() : QStringLiteral("%1 %").arg(percent(*item));
    case Rate:
        return item->state == QueueState::Running && item->rate > 0
                   ? locale.formattedDataSize(static_cast<qint64>(item->rate)) + tr("/s")
                   : QString();
    case TimeLeft:
        return leftText(*item);
    case State:
        return item->error.isEmpty() ? stateText(item->state)
                                     : stateText(item->state) + QStringLiteral(": ") + item->error;
    default:
        return {};
    }
}

QVariant QueueModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const kTitles[] = {"Direction", "Local", "Remote",    "Size",
                                          "Progress",  "Rate",  "Time left", "State"};
    return section >= 0 && section < ColumnCount ? tr(kTitles[section]) : QVariant();
}

void QueueModel::changed(quint64 id)
{
    const auto row = m_rowOf.constFind(id);
    const auto item = m_queue.item(id);
    if (row == m_rowOf.constEnd() || !item)
        return;
    m_rows[*row] = *item;
    Q_EMIT dataChanged(index(*row, 0), index(*row, ColumnCount - 1));
}

void QueueModel::added()
{
    // Items are only ever appended; removal resets the model.
    const QList<QueueItem> all = m_queue.items();
    const quint64 last = m_rows.isEmpty() ? 0 : m_rows.last().id;
    QList<QueueItem> fresh;
    for (const QueueItem& item : all) {
        if (item.id > last)
            fresh << item;
    }
    if (fresh.isEmpty())
        return;
    const auto first = static_cast<int>(m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(fresh.size()) - 1);
    for (const QueueItem& item : fresh) {
        m_rowOf.insert(item.id, static_cast<int>(m_rows.size()));
        m_rows << item;
    }
    endInsertRows();
}

void QueueModel::reload()
{
    beginResetModel();
    m_rows = m_queue.items();
    m_rowOf.clear();
    for (int row = 0; row < m_rows.size(); ++row)
        m_rowOf.insert(m_rows[row].id, row);
    endResetModel();
}
