#pragma once
#include "local/LocalFolder.h"
#include "local/LocalVolumes.h"

#include <QObject>
#include <QString>

#include <vector>

class QComboBox;
class QIcon;
class QListWidget;

// What the local pane keeps between commands: the volumes in LocalDrives, the folder last
// visited on each, the current folder of LocalFolders, and the guard that keeps two local
// listings from running into each other while one pumps window messages.
class LocalPaneState : public QObject
{
    Q_OBJECT
public:
    explicit LocalPaneState(QObject* parent);

    QString folder;                   // the current folder of LocalFolders, a full path
    std::vector<LocalVolume> volumes; // what LocalDrives shows, in its order
    LocalFolderMemory memory;
    bool listing = false;      // a ListLocalFiles is running
    bool relistWanted = false; // another one was asked for meanwhile

    // Reads the volumes again and refills `drives` when they changed (media come and go).
    void refreshVolumes(QComboBox* drives);
    // Gives `folders` the indentation that shows the chain as a tree.
    static void indentFolderRows(QListWidget* folders);
    // Reads the volumes again whenever the user is about to open `drives`' list, so media
    // mounted since the last folder change are there to pick.
    void watchDrivePicker(QComboBox* drives);
    // Puts `drives` on the volume that holds the current folder, without raising a change.
    void showVolumeOfFolder(QComboBox* drives) const;
    // Fills `folders` with the root-down chain to the current folder, then its subfolders.
    void fillFolders(QListWidget* folders) const;

    static QIcon volumeIcon(VolumeKind kind);
    // The role of a LocalFolders row that holds the folder's full path.
    static constexpr int FolderPathRole = Qt::UserRole + 1;
    // The role of a LocalFolders row that holds its depth below "/", for the indentation.
    static constexpr int FolderDepthRole = Qt::UserRole + 2;
    // The height of a LocalFolders row.
    static constexpr int kFolderRowHeight = 17;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QComboBox* m_watchedDrives = nullptr;
};
