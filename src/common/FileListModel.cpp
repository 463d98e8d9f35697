#include "common/FileListModel.h"

#include "common/RemoteFilesCompare.h"

#include <QLocale>

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const FileListRow& r = row(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (index.column()) {
        case NameColumn:
            return r.name;
        case SizeColumn:
            // Grouped as the user's locale groups digits: 123,456,789 is read at a glance.
            if (role == Qt::DisplayRole && !r.isFolder())
                return r.sizeBeyondRange != 0 ? QLocale().toString(r.sizeBeyondRange)
                                              : QLocale().toString(r.size);
            return r.sizeText();
        case ModifiedColumn:
            return r.modifiedText;
        default:
            return {};
        }
    case Qt::TextAlignmentRole:
        if (index.column() == SizeColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    case ImageIndexRole:
        return index.column() == NameColumn ? QVariant(r.imageIndex) : QVariant();
    default:
        return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case NameColumn:
            return QStringLiteral("Name");
        case SizeColumn:
            return QStringLiteral("Size");
        case ModifiedColumn:
            return QStringLiteral("Modified");
        default:
            return {};
        }
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(section == SizeColumn ? (Qt::AlignRight | Qt::AlignVCenter)
                                                         : (Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (index.column() == NameColumn)
        f |= Qt::ItemIsEditable;
    return f;
}

void FileListModel::setRows(std::vector<FileListRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

void FileListModel::clear()
{
    setRows({});
}

void FileListModel::setRowName(int index, const QString& name)
{
    if (index < 0 || index >= rowCount())
        return;
    FileListRow& row = m_rows[static_cast<size_t>(index)];
    row.name = name;
    // The renamed entry is called what the rename sent, the UTF-8 of the typed text.
    row.nameBytes = QByteArray();
    const QModelIndex cell = this->index(index, NameColumn);
    Q_EMIT dataChanged(cell, cell);
}

void FileListModel::sortRows(int sortCode)
{
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<int> order = SortFileListRows(m_rows, sortCode);
    // Persistent indexes (selection, current row, an open editor) follow their rows.
    const QModelIndexList before = persistentIndexList();
    if (!before.isEmpty()) {
        std::vector<int> newPosition(order.size());
        for (size_t i = 0; i < order.size(); ++i)
            newPosition[static_cast<size_t>(order[i])] = static_cast<int>(i);
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& old : before)
            after.append(old.row() < static_cast<int>(newPosition.size())
                             ? index(newPosition[static_cast<size_t>(old.row())], old.column())
                             : QModelIndex());
        changePersistentIndexList(before, after);
    }
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ClearFileList(FileListModel& list)
{
    list.clear();
}
