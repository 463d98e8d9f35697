#pragma once
#include <QIcon>
#include <QTreeView>

#include <array>
#include <functional>

class FileListModel;

// One of the two file lists (LocalFiles, RemoteFiles): a report view over a FileListModel
// with the folder/file/archive icons, several selected rows, in-place renaming of the Name
// column, dragging rows to the other list and a context menu that activates the list first.
// The main window answers through the hooks below; the view itself decides nothing.
class FileListView : public QTreeView
{
    Q_OBJECT
public:
    explicit FileListView(QWidget* parent = nullptr);

    // Asked when an in-place edit is about to open; clearing `allow` keeps the edit closed.
    std::function<void(int row, bool& allow)> onEditing;
    // The user accepted `text` as the row's new name; the hook may adjust the text.
    std::function<void(int row, QString& text)> onEdited;
    // The edit was left without accepting a name (Escape).
    std::function<void(int row)> onEditCancelled;
    // A key reached the list itself; true when the hook used it.
    std::function<bool(QKeyEvent* event)> onKeyDown;
    // Rows from one of our lists are dragged over this one; set `accept` to take them.
    std::function<void(QObject* source, const QPoint& pos, bool& accept)> onDragOver;
    std::function<void(QObject* source, const QPoint& pos)> onDragDrop;

    FileListModel* fileModel() const;
    // The row with the focus rectangle, or -1.
    int focusedRow() const;
    // The selected rows from the top of the list.
    QList<int> selectedRowNumbers() const;
    // True from the moment the list (or its name editor) took the focus until the focus went
    // to another control of the same window.
    bool hasPaneFocus() const { return m_hasPaneFocus; }
    bool isEditingName() const { return m_editRow >= 0; }

    // The three row images in image-index order: folder, file, archive.
    static const std::array<QIcon, 3>& rowIcons();

Q_SIGNALS:
    void focusEntered();
    void focusLeft();
    // A right-click or the menu key: the list already holds the focus when this arrives.
    void contextMenuWanted(const QPoint& globalPos);

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    bool viewportEvent(QEvent* event) override;

private:
    friend class FileListDelegate;
    bool editAboutToOpen(int row);
    void nameAccepted(int row, QString& text);
    void onFocusChanged(QWidget* old, QWidget* now);
    bool acceptsDrag(QDropEvent* event);

    bool m_hasPaneFocus = false;
    int m_editRow = -1;
    bool m_editCommitted = false;
};
