#pragma once
#include "local/LocalVolumes.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

// The text that asks the folder tree for the parent of the current folder. At "/" it
// resolves to "/" itself, but as a text of its own it still runs the whole change.
inline const QString kLocalFolderUp = QStringLiteral("..");

// True when setting the folder tree to `text` must do nothing at all: an empty text, or the
// current folder's own path. Linux compares names exactly, so the comparison is
// case-sensitive: "/Data" and "/data" are two folders.
bool localFolderRequestIgnored(const QString& currentFolder, const QString& text);

// Makes `text` (absolute, or relative to the current directory) the process's current
// directory and returns the resulting full path. Throws FileSystemError and leaves the
// current directory as it was when the folder can't be entered.
QString enterLocalFolder(const QString& text);

// The process's current directory, or "/" in the unlikely case it can't be read.
QString currentLocalDirectory();

// The folders from "/" down to `folder`: "/", "/home", "/home/ann".
QStringList folderChain(const QString& folder);

// The names of the subfolders of `folder` (links to folders included), sorted as a person
// would look them up: letter case ignored, then exact. An unreadable folder has none.
QStringList subfolderNames(const QString& folder);

// `folder` joined with a name: "/" + "a" gives "/a", "/x" + "a" gives "/x/a".
QString joinLocalPath(const QString& folder, const QString& name);

// Remembers the last folder visited on each volume, as the system kept one per drive.
class LocalFolderMemory
{
public:
    void remember(const std::vector<LocalVolume>& volumes, const QString& folder);
    // The folder to open when `volume` is picked: the last one seen there, else its root.
    QString folderFor(const LocalVolume& volume) const;

private:
    QHash<QString, QString> m_lastFolder; // mount point -> folder
};
