#include "local/ui/LocalPaneState.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QListWidget>
#include <QStyle>
#include <QStyledItemDelegate>

namespace {

// Draws each LocalFolders row shifted right by its depth, so the folders from "/" down read
// as a path and the subfolders sit one step below the current folder.
class FolderIndentDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem shifted(option);
        shifted.rect.setLeft(option.rect.left() + indent(index));
        QStyledItemDelegate::paint(painter, shifted, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QSize size = QStyledItemDelegate::sizeHint(option, index);
        return {size.width() + indent(index), size.height()};
    }

private:
    static int indent(const QModelIndex& index)
    {
        return kIndentPerLevel * index.data(LocalPaneState::FolderDepthRole).toInt();
    }
    static constexpr int kIndentPerLevel = 8;
};

} // namespace

LocalPaneState::LocalPaneState(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("LocalPaneState"));
}

QIcon LocalPaneState::volumeIcon(VolumeKind kind)
{
    // The desktop theme's pictures where it has them, the style's otherwise.
    const auto themed = [](const char* name, QStyle::StandardPixmap fallback) {
        return QIcon::fromTheme(QString::fromLatin1(name),
                                QApplication::style()->standardIcon(fallback));
    };
    switch (kind) {
    case VolumeKind::Removable:
        return themed("drive-removable-media", QStyle::SP_DriveFDIcon);
    case VolumeKind::Network:
        return themed("folder-remote", QStyle::SP_DriveNetIcon);
    case VolumeKind::Optical:
        return themed("drive-optical", QStyle::SP_DriveCDIcon);
    case VolumeKind::RamDisk:
        return themed("media-flash", QStyle::SP_DriveHDIcon);
    case VolumeKind::Home:
        return themed("user-home", QStyle::SP_DirHomeIcon);
    case VolumeKind::Fixed:
        break;
    }
    return themed("drive-harddisk", QStyle::SP_DriveHDIcon);
}

void LocalPaneState::refreshVolumes(QComboBox* drives)
{
    std::vector<LocalVolume> now = enumerateLocalVolumes();
    const auto same = [](const LocalVolume& a, const LocalVolume& b) {
        return a.mountPoint == b.mountPoint && a.source == b.source && a.label == b.label &&
               a.kind == b.kind;
    };
    if (now.size() == volumes.size() && std::equal(now.begin(), now.end(), volumes.begin(), same) &&
        drives->count() == static_cast<int>(volumes.size()))
        return;
    volumes = std::move(now);
    const QSignalBlocker block(drives);
    drives->clear();
    for (const LocalVolume& v : volumes)
        drives->addItem(volumeIcon(v.kind), volumeText(v));
    showVolumeOfFolder(drives);
}

void LocalPaneState::indentFolderRows(QListWidget* folders)
{
    folders->setItemDelegate(new FolderIndentDelegate(folders));
}

void LocalPaneState::watchDrivePicker(QComboBox* drives)
{
    m_watchedDrives = drives;
    drives->installEventFilter(this);
}

bool LocalPaneState::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watchedDrives) {
        const bool opening =
            event->type() == QEvent::MouseButtonPress ||
            (event->type() == QEvent::KeyPress &&
             (static_cast<QKeyEvent*>(event)->key() == Qt::Key_F4 ||
              static_cast<QKeyEvent*>(event)->modifiers().testFlag(Qt::AltModifier)));
        if (opening)
            refreshVolumes(m_watchedDrives);
    }
    return QObject::eventFilter(watched, event);
}

void LocalPaneState::showVolumeOfFolder(QComboBox* drives) const
{
    const QSignalBlocker block(drives);
    drives->setCurrentIndex(volumeIndexForPath(volumes, folder));
}

void LocalPaneState::fillFolders(QListWidget* folders) const
{
    const QIcon open = QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = QApplication::style()->standardIcon(QStyle::SP_DirClosedIcon);
    const QSignalBlocker block(folders);
    folders->clear();
    int depth = 0;
    const auto add = [&](const QString& path, const QString& text, const QIcon& icon) {
        auto* item = new QListWidgetItem(icon, text, folders);
        item->setData(FolderPathRole, path);
        item->setData(FolderDepthRole, depth);
        item->setToolTip(path);
        item->setSizeHint(QSize(0, kFolderRowHeight));
    };
    const QStringList chain = folderChain(folder);
    for (const QString& path : chain) {
        add(path, path == QLatin1String("/") ? path : QFileInfo(path).fileName(), open);
        ++depth;
    }
    for (const QString& name : subfolderNames(folder))
        add(joinLocalPath(folder, name), name, closed);
    folders->setCurrentRow(static_cast<int>(chain.size()) - 1);
}
