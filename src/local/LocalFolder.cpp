#include "local/LocalFolder.h"

#include "common/FileSystemError.h"
#include "local/PosixDir.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool localFolderRequestIgnored(const QString& currentFolder, const QString& text)
{
    return text.isEmpty() || text == currentFolder;
}

QString currentLocalDirectory()
{
    // getcwd with a null buffer allocates one long enough for any depth.
    char* cwd = getcwd(nullptr, 0);
    if (!cwd)
        return QStringLiteral("/");
    const QString path = QFile::decodeName(cwd);
    std::free(cwd);
    return path;
}

QString enterLocalFolder(const QString& text)
{
    if (::chdir(QFile::encodeName(text).constData()) != 0)
        throw FileSystemError(errno);
    return currentLocalDirectory();
}

QStringList folderChain(const QString& folder)
{
    QStringList chain{QStringLiteral("/")};
    const QStringList parts = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (const QString& part : parts) {
        path += QLatin1Char('/') + part;
        chain.append(path);
    }
    return chain;
}

QStringList subfolderNames(const QString& folder)
{
    QStringList names;
    const QByteArray native = QFile::encodeName(folder);
    PosixDir dir(native.constData());
    if (!dir)
        return names;
    while (const dirent* entry = dir.next()) {
        const char* n = entry->d_name;
        if (isDotOrDotDot(n))
            continue;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st = {};
            isDir = fstatat(dir.fd(), n, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (isDir)
            names.append(QFile::decodeName(n));
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    return names;
}

QString joinLocalPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

void LocalFolderMemory::remember(const std::vector<LocalVolume>& volumes, const QString& folder)
{
    const int index = volumeIndexForPath(volumes, folder);
    if (index >= 0)
        m_lastFolder.insert(volumes[static_cast<size_t>(index)].mountPoint, folder);
}

QString LocalFolderMemory::folderFor(const LocalVolume& volume) const
{
    return m_lastFolder.value(volume.mountPoint, volume.mountPoint);
}
