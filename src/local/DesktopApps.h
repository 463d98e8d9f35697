#pragma once
#include <QString>
#include <QStringList>

// The folders where the desktop keeps its file-type associations (the freedesktop base
// directories), as the environment names them.
struct XdgFolders
{
    QString configHome;
    QStringList configDirs;
    QString dataHome;
    QStringList dataDirs;
    QStringList desktops; // XDG_CURRENT_DESKTOP, lower case, most specific first

    static XdgFolders fromEnvironment();
};

// The MIME type of the local file at `path` followed by every type it is a kind of, most
// specific first (text/x-csrc, text/plain, application/octet-stream).
QStringList MimeTypeChain(const QString& path);

// A short description of the file's kind ("plain text document").
QString MimeTypeDescription(const QString& path);

// Whether an installed application is set to open files of one of `mimeTypes`, by the
// desktop's association rules: the mimeapps.list files (defaults, added and removed
// associations) and the applications folders' caches or, without a cache, their entries.
bool HasApplicationFor(const QStringList& mimeTypes, const XdgFolders& folders);
