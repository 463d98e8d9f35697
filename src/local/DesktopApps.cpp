#include "local/DesktopApps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QSet>

namespace {

// One parsed desktop key file: group -> key -> the ';'-separated list of desktop file ids.
using KeyLists = QHash<QString, QHash<QString, QStringList>>;

// Association files are a few kilobytes; a huge one is not one, and is not read whole.
constexpr qint64 kMaxAssociationFileSize = 4 * 1024 * 1024;

KeyLists readKeyLists(const QString& path)
{
    KeyLists groups;
    QFile file(path);
    if (file.size() > kMaxAssociationFileSize || !file.open(QIODevice::ReadOnly))
        return groups;
    QString group;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QStringList ids = line.mid(equals + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (const QString& id : ids)
            groups[group][key].append(id.trimmed());
    }
    return groups;
}

QStringList environmentList(const char* name, const QStringList& fallback)
{
    QStringList list;
    for (const QString& entry :
         qEnvironmentVariable(name).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(entry)) // the base directory rules ignore relative entries
            list.append(entry);
    return list.isEmpty() ? fallback : list;
}

QString environmentFolder(const char* name, const QString& fallback)
{
    const QString value = qEnvironmentVariable(name);
    return QDir::isAbsolutePath(value) ? value : fallback;
}

// The associations of every folder, read once per lookup.
class Associations
{
public:
    explicit Associations(const XdgFolders& folders)
    {
        m_applicationDirs.append(folders.dataHome + QStringLiteral("/applications"));
        for (const QString& dir : folders.dataDirs)
            m_applicationDirs.append(dir + QStringLiteral("/applications"));
        QStringList listDirs = {folders.configHome};
        listDirs += folders.configDirs;
        listDirs += m_applicationDirs;
        for (const QString& dir : listDirs) {
            for (const QString& desktop : folders.desktops)
                m_lists.append(readKeyLists(dir + QLatin1Char('/') + desktop +
                                            QStringLiteral("-mimeapps.list")));
            m_lists.append(readKeyLists(dir + QStringLiteral("/mimeapps.list")));
        }
        for (const QString& dir : m_applicationDirs)
            m_caches.append(cacheOf(dir));
    }

    bool anyApplicationFor(const QString& type)
    {
        QSet<QString>& removed = m_removed[type];
        for (const KeyLists& list : m_lists) {
            const QStringList candidates =
                list.value(QStringLiteral("Default Applications")).value(type) +
                list.value(QStringLiteral("Added Associations")).value(type);
            for (const QString& id : candidates)
                if (!removed.contains(id) && isInstalled(id))
                    return true;
            // A removal hides the association from the files of lower precedence only.
            for (const QString& id : list.value(QStringLiteral("Removed Associations")).value(type))
                removed.insert(id);
        }
        for (const QHash<QString, QStringList>& cache : m_caches)
            for (const QString& id : cache.value(type))
                if (!removed.contains(id) && isInstalled(id))
                    return true;
        return false;
    }

private:
    // The folder's mimeinfo.cache or, where none was made, what its entries declare.
    static QHash<QString, QStringList> cacheOf(const QString& dir)
    {
        const QString cachePath = dir + QStringLiteral("/mimeinfo.cache");
        if (QFileInfo::exists(cachePath))
            return readKeyLists(cachePath).value(QStringLiteral("MIME Cache"));
        QHash<QString, QStringList> declared;
        const QStringList entries =
            QDir(dir).entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable);
        for (const QString& entry : entries) {
            const KeyLists keys = readKeyLists(dir + QLatin1Char('/') + entry);
            for (const QString& type :
                 keys.value(QStringLiteral("Desktop Entry")).value(QStringLiteral("MimeType")))
                declared[type].append(entry);
        }
        return declared;
    }

    // A desktop file id names applications/<id>, a '-' possibly standing for a subfolder.
    bool isInstalled(const QString& id) const
    {
        QString nested = id;
        const qsizetype dash = nested.indexOf(QLatin1Char('-'));
        if (dash > 0)
            nested[dash] = QLatin1Char('/');
        for (const QString& dir : m_applicationDirs)
            if (QFileInfo::exists(dir + QLatin1Char('/') + id) ||
                (dash > 0 && QFileInfo::exists(dir + QLatin1Char('/') + nested)))
                return true;
        return false;
    }

    QStringList m_applicationDirs;
    QList<KeyLists> m_lists;
    QList<QHash<QString, QStringList>> m_caches;
    QHash<QString, QSet<QString>> m_removed;
};

} // namespace

XdgFolders XdgFolders::fromEnvironment()
{
    XdgFolders folders;
    const QString home = QDir::homePath();
    folders.configHome = environmentFolder("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    folders.configDirs = environmentList("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")});
    folders.dataHome = environmentFolder("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    folders.dataDirs = environmentList(
        "XDG_DATA_DIRS", {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")});
    for (const QString& desktop :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders.desktops.append(desktop.toLower());
    return folders;
}

QStringList MimeTypeChain(const QString& path)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    QStringList chain;
    if (type.isValid()) // not without a MIME database
        chain = QStringList{type.name()} + type.allAncestors();
    // Every file's data is a byte stream; a folder is not.
    const QString stream = QStringLiteral("application/octet-stream");
    if (!type.inherits(QStringLiteral("inode/directory")) && !chain.contains(stream))
        chain.append(stream);
    return chain;
}

QString MimeTypeDescription(const QString& path)
{
    return QMimeDatabase().mimeTypeForFile(path).comment();
}

bool HasApplicationFor(const QStringList& mimeTypes, const XdgFolders& folders)
{
    Associations associations(folders);
    for (const QString& type : mimeTypes)
        if (associations.anyApplicationFor(type))
            return true;
    return false;
}
