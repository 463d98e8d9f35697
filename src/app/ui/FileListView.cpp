#include "app/ui/FileListView.h"

#include "common/FileListModel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>

// Draws the row image from the model's image index, and hands an accepted name to the view
// instead of writing it into the model: the rename handlers decide what the row shows.
class FileListDelegate : public QStyledItemDelegate
{
public:
    explicit FileListDelegate(FileListView* view) : QStyledItemDelegate(view), m_view(view) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        if (!m_view->editAboutToOpen(index.row()))
            return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override
    {
        auto* line = qobject_cast<QLineEdit*>(editor);
        if (!line)
            return;
        QString text = line->text();
        m_view->nameAccepted(index.row(), text);
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() != FileListModel::NameColumn)
            return;
        const QVariant image = index.data(FileListModel::ImageIndexRole);
        bool ok = false;
        const int i = image.toInt(&ok);
        if (!ok || i < 0 || i > 2)
            return;
        option->features |= QStyleOptionViewItem::HasDecoration;
        option->icon = FileListView::rowIcons()[static_cast<size_t>(i)];
        option->decorationSize = QSize(16, 16);
    }

private:
    FileListView* m_view;
};

FileListView::FileListView(QWidget* parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // Like a file manager: a click on an already selected name, or F2, starts a rename.
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setItemDelegate(new FileListDelegate(this));
    setIconSize(QSize(16, 16));
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    connect(qApp, &QApplication::focusChanged, this, &FileListView::onFocusChanged);
}

FileListModel* FileListView::fileModel() const
{
    return qobject_cast<FileListModel*>(model());
}

int FileListView::focusedRow() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

QList<int> FileListView::selectedRowNumbers() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

const std::array<QIcon, 3>& FileListView::rowIcons()
{
    static const std::array<QIcon, 3> icons = {
        QIcon(QStringLiteral(":/icons/row-folder.svg")),
        QIcon(QStringLiteral(":/icons/row-file.svg")),
        QIcon(QStringLiteral(":/icons/row-archive.svg")),
    };
    return icons;
}

void FileListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const
{
    QTreeView::drawRow(painter, option, index);
    // The style's own mark for the row with the focus is a faint tint that keyboard users
    // cannot find; a dotted frame in the text colour shows on selected rows and others alike.
    if (!hasFocus() || index.row() != currentIndex().row() || !currentIndex().isValid())
        return;
    const bool selected = selectionModel() && selectionModel()->isRowSelected(index.row());
    painter->save();
    painter->setPen(QPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text), 1,
                         Qt::DotLine));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

void FileListView::keyPressEvent(QKeyEvent* event)
{
    if (onKeyDown && onKeyDown(event)) {
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void FileListView::contextMenuEvent(QContextMenuEvent* event)
{
    // The menu serves the active pane, so the list this menu belongs to becomes it first.
    setFocus(Qt::MouseFocusReason);
    Q_EMIT contextMenuWanted(event->globalPos());
    event->accept();
}

bool FileListView::acceptsDrag(QDropEvent* event)
{
    // Files from the desktop are not ours to judge: the main window takes those.
    QObject* source = event->source();
    if (!source || !onDragOver)
        return false;
    bool accept = false;
    onDragOver(source, event->position().toPoint(), accept);
    return accept;
}

void FileListView::dragEnterEvent(QDragEnterEvent* event)
{
    if (acceptsDrag(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void FileListView::dragMoveEvent(QDragMoveEvent* event)
{
    if (acceptsDrag(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void FileListView::dropEvent(QDropEvent* event)
{
    QObject* source = event->source();
    if (!source) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (onDragDrop)
        onDragDrop(source, event->position().toPoint());
}

bool FileListView::editAboutToOpen(int row)
{
    bool allow = true;
    if (onEditing)
        onEditing(row, allow);
    if (allow) {
        m_editRow = row;
        m_editCommitted = false;
    }
    return allow;
}

void FileListView::nameAccepted(int row, QString& text)
{
    m_editCommitted = true;
    if (onEdited)
        onEdited(row, text);
}

void FileListView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    const int row = m_editRow;
    const bool committed = m_editCommitted;
    m_editRow = -1;
    m_editCommitted = false;
    QTreeView::closeEditor(editor, hint);
    // Without this, a rename left with Escape would leave the rename flag set, and Backspace
    // and Delete would stay dead in both lists until the next accepted rename.
    if (row >= 0 && !committed && onEditCancelled)
        onEditCancelled(row);
}

bool FileListView::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QTreeView::viewportEvent(event);
    // Only a cell too narrow for its text has a tip, and the tip is that whole text.
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    QString text;
    if (index.isValid()) {
        text = index.data(Qt::DisplayRole).toString();
        const QRect cell = visualRect(index);
        const int room = cell.width() - (index.column() == 0 ? iconSize().width() + 12 : 8);
        if (fontMetrics().horizontalAdvance(text) <= room)
            text.clear();
    }
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), text, viewport(), visualRect(index));
    }
    return true;
}

void FileListView::onFocusChanged(QWidget*, QWidget* now)
{
    // Only a move to another control of the same window counts: a message box, a menu or
    // another application taking the focus leaves this list the active pane.
    if (!now || now->window() != window())
        return;
    // Alt or F10 puts the focus on the menu bar of the same window; its commands still serve
    // this pane, so the pane stays active until the focus lands on another control.
    if (qobject_cast<QMenuBar*>(now))
        return;
    const bool inside = now == this || isAncestorOf(now);
    if (inside == m_hasPaneFocus)
        return;
    m_hasPaneFocus = inside;
    if (inside)
        Q_EMIT focusEntered();
    else
        Q_EMIT focusLeft();
}
