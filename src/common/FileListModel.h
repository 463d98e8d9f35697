#pragma once
#include "common/FileListRow.h"

#include <QAbstractTableModel>

#include <vector>

// The rows of one file list (local or remote) in the three columns Name, Size, Modified.
// Holds plain rows so that 100,000 entries cost one vector, not 100,000 widget items.
class FileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { NameColumn = 0, SizeColumn = 1, ModifiedColumn = 2, ColumnCount = 3 };
    // Qt::DecorationRole is not answered here (core has no pixmaps): the view maps this
    // role's image index to its icon.
    static constexpr int ImageIndexRole = Qt::UserRole + 1;

    explicit FileListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const FileListRow& row(int index) const { return m_rows[static_cast<size_t>(index)]; }
    const std::vector<FileListRow>& rows() const { return m_rows; }
    // Replaces every row at once (one reset instead of a signal per row).
    void setRows(std::vector<FileListRow> rows);
    void clear();
    // Changes one row's name in place, as a successful in-place rename does.
    void setRowName(int index, const QString& name);
    // Sorts every row by the list's sort code (RemoteFilesCompare's order), keeping the
    // selection and the current row on the rows they were on.
    void sortRows(int sortCode);

private:
    std::vector<FileListRow> m_rows;
};

// Removes every row of a list in one step.
void ClearFileList(FileListModel& list);
