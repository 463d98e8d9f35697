#include "local/LocalOps.h"

#include "local/LocalFolder.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

LocalRenameResult renameLocalEntry(const QString& oldName, const QString& newName)
{
    if (newName.contains(QLatin1Char('/')))
        return LocalRenameResult::RefusedPath;
    if (newName.isEmpty() || oldName == newName)
        return LocalRenameResult::Failed;
    const QByteArray from = QFile::encodeName(oldName);
    const QByteArray to = QFile::encodeName(newName);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return LocalRenameResult::Renamed;
    if (errno != EINVAL && errno != ENOSYS)
        return LocalRenameResult::Failed;
    // A file system without the no-replace flag: look first. The window between the look and
    // the rename is the same one a user has who checks by hand.
    struct stat st = {};
    if (::lstat(to.constData(), &st) == 0 || errno != ENOENT)
        return LocalRenameResult::Failed;
    return ::rename(from.constData(), to.constData()) == 0 ? LocalRenameResult::Renamed
                                                           : LocalRenameResult::Failed;
}

bool createLocalFolder(const QString& folder, const QString& name)
{
    const QByteArray path = QFile::encodeName(joinLocalPath(folder, name));
    return ::mkdir(path.constData(), 0777) == 0;
}
