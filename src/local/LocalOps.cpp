#include "local/LocalOps.h"

#include "local/LocalFolder.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

LocalRenameResult failedWith(int code, int* error)
{
    if (error)
        *error = code;
    return LocalRenameResult::Failed;
}

} // namespace

LocalRenameResult renameLocalEntry(const QString& oldName, const QString& newName, int* error)
{
    if (newName.contains(QLatin1Char('/')))
        return LocalRenameResult::RefusedPath;
    if (newName.isEmpty())
        return failedWith(EINVAL, error);
    if (oldName == newName)
        return failedWith(EEXIST, error);
    const QByteArray from = QFile::encodeName(oldName);
    const QByteArray to = QFile::encodeName(newName);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return LocalRenameResult::Renamed;
    if (errno != EINVAL && errno != ENOSYS)
        return failedWith(errno, error);
    // A file system without the no-replace flag: look first. The window between the look and
    // the rename is the same one a user has who checks by hand.
    struct stat st = {};
    if (::lstat(to.constData(), &st) == 0)
        return failedWith(EEXIST, error);
    if (errno != ENOENT)
        return failedWith(errno, error);
    if (::rename(from.constData(), to.constData()) != 0)
        return failedWith(errno, error);
    return LocalRenameResult::Renamed;
}

bool createLocalFolder(const QString& folder, const QString& name, int* error)
{
    const QByteArray path = QFile::encodeName(joinLocalPath(folder, name));
    if (::mkdir(path.constData(), 0777) == 0)
        return true;
    if (error)
        *error = errno;
    return false;
}
