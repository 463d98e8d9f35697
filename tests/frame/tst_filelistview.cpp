#include "app/ui/FileListView.h"
#include "common/FileListModel.h"

#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>
#include <QVBoxLayout>

// The file list widget: row images, in-place renaming, focus reports and drag acceptance.
class TestFileListView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void rowImageFollowsImageIndex_data();
    void rowImageFollowsImageIndex();
    void renameHooks_data();
    void renameHooks();
    void editingCanBeRefused();
    void nameEditorDoesNotCountAsLeavingTheList();
    void desktopDragsAreLeftToTheWindow();
    void selectedRowsComeInListOrder();
};

namespace {

struct Fixture
{
    QWidget window;
    FileListView* list = nullptr;
    QLineEdit* other = nullptr;
    FileListModel* model = nullptr;

    Fixture()
    {
        auto* layout = new QVBoxLayout(&window);
        list = new FileListView(&window);
        other = new QLineEdit(&window);
        layout->addWidget(list);
        layout->addWidget(other);
        model = new FileListModel(list);
        list->setModel(model);
        std::vector<FileListRow> rows;
        const QList<QPair<QString, int>> entries = {
            {"docs", kFolderImage}, {"a.txt", kFileImage}, {"b.zip", kArchiveImage}};
        for (const auto& [name, image] : entries) {
            FileListRow row;
            row.name = name;
            row.imageIndex = image;
            rows.push_back(row);
        }
        model->setRows(std::move(rows));
    }

    bool showActive()
    {
        window.show();
        return QTest::qWaitForWindowActive(&window);
    }
};

QStyleOptionViewItem viewOption(FileListView* list, const QModelIndex& index)
{
    // The delegate fills the option the way painting does.
    QStyleOptionViewItem option;
    option.initFrom(list);
    auto* delegate = static_cast<QStyledItemDelegate*>(list->itemDelegate());
    struct Access : QStyledItemDelegate
    {
        using QStyledItemDelegate::initStyleOption;
    };
    (delegate->*&Access::initStyleOption)(&option, index);
    return option;
}

} // namespace

void TestFileListView::cleanup()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY(!widget->isVisible());
}

void TestFileListView::rowImageFollowsImageIndex_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("image");
    QTest::newRow("folder") << 0 << kFolderImage;
    QTest::newRow("file") << 1 << kFileImage;
    QTest::newRow("archive") << 2 << kArchiveImage;
}

void TestFileListView::rowImageFollowsImageIndex()
{
    QFETCH(int, row);
    QFETCH(int, image);
    Fixture f;
    const QStyleOptionViewItem name = viewOption(f.list, f.model->index(row, 0));
    QVERIFY(name.features & QStyleOptionViewItem::HasDecoration);
    const QIcon& expected = FileListView::rowIcons()[static_cast<size_t>(image)];
    QVERIFY(!expected.isNull());
    QCOMPARE(name.icon.cacheKey(), expected.cacheKey());
    // Only the Name column carries a picture.
    const QStyleOptionViewItem size = viewOption(f.list, f.model->index(row, 1));
    QVERIFY(!(size.features & QStyleOptionViewItem::HasDecoration));
}

void TestFileListView::renameHooks_data()
{
    QTest::addColumn<int>("endKey");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("Enter accepts") << int(Qt::Key_Return) << true;
    QTest::newRow("Escape cancels") << int(Qt::Key_Escape) << false;
}

void TestFileListView::renameHooks()
{
    QFETCH(int, endKey);
    QFETCH(bool, accepted);
    Fixture f;
    QList<int> editing;
    QList<QPair<int, QString>> edited;
    QList<int> cancelled;
    f.list->onEditing = [&](int row, bool&) { editing.append(row); };
    f.list->onEdited = [&](int row, QString& text) { edited.append({row, text}); };
    f.list->onEditCancelled = [&](int row) { cancelled.append(row); };
    QVERIFY(f.showActive());
    f.list->setFocus();
    f.list->setCurrentIndex(f.model->index(1, 0));
    QTest::keyClick(f.list, Qt::Key_F2);
    auto* editor = f.list->findChild<QLineEdit*>();
    QVERIFY(editor);
    QCOMPARE(editing, QList<int>{1});
    QVERIFY(f.list->isEditingName());
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("c.txt"));
    QTest::keyClick(editor, Qt::Key(endKey));
    QTRY_VERIFY(!f.list->isEditingName());
    if (accepted) {
        QCOMPARE(edited, (QList<QPair<int, QString>>{{1, QStringLiteral("c.txt")}}));
        QVERIFY(cancelled.isEmpty());
    } else {
        QVERIFY(edited.isEmpty());
        QCOMPARE(cancelled, QList<int>{1});
    }
    // The row shows what the rename handler decides; the editor never writes the model.
    QCOMPARE(f.model->row(1).name, QStringLiteral("a.txt"));
}

void TestFileListView::editingCanBeRefused()
{
    Fixture f;
    f.list->onEditing = [](int, bool& allow) { allow = false; };
    QVERIFY(f.showActive());
    f.list->setFocus();
    f.list->setCurrentIndex(f.model->index(0, 0));
    QTest::keyClick(f.list, Qt::Key_F2);
    QVERIFY(!f.list->findChild<QLineEdit*>());
    QVERIFY(!f.list->isEditingName());
}

void TestFileListView::nameEditorDoesNotCountAsLeavingTheList()
{
    Fixture f;
    QSignalSpy entered(f.list, &FileListView::focusEntered);
    QSignalSpy left(f.list, &FileListView::focusLeft);
    QVERIFY(f.showActive());
    f.list->setFocus();
    QTRY_COMPARE(entered.count(), 1);
    f.list->setCurrentIndex(f.model->index(1, 0));
    QTest::keyClick(f.list, Qt::Key_F2);
    auto* editor = f.list->findChild<QLineEdit*>();
    QVERIFY(editor);
    QTRY_VERIFY(editor->hasFocus());
    QCOMPARE(left.count(), 0);
    // Leaving from inside the editor is leaving the list.
    f.other->setFocus();
    QTRY_COMPARE(left.count(), 1);
    QCOMPARE(entered.count(), 1);
    QVERIFY(!f.list->hasPaneFocus());
}

void TestFileListView::desktopDragsAreLeftToTheWindow()
{
    Fixture f;
    int asked = 0;
    f.list->onDragOver = [&](QObject*, const QPoint&, bool& accept) {
        ++asked;
        accept = true;
    };
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/x"))});
    // No source: the drag comes from outside the program.
    QDragEnterEvent event(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.list->viewport(), &event);
    QVERIFY(!event.isAccepted());
    QCOMPARE(asked, 0);
}

void TestFileListView::selectedRowsComeInListOrder()
{
    Fixture f;
    QCOMPARE(f.list->focusedRow(), -1);
    auto* selection = f.list->selectionModel();
    selection->setCurrentIndex(f.model->index(2, 1), QItemSelectionModel::NoUpdate);
    for (int row : {2, 0})
        selection->select(f.model->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(f.list->selectedRowNumbers(), (QList<int>{0, 2}));
    QCOMPARE(f.list->focusedRow(), 2);
}

QTEST_MAIN(TestFileListView)
#include "tst_filelistview.moc"
