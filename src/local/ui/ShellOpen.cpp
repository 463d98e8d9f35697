#include "local/ui/ShellOpen.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

bool ShellOpenFile(const QString& file, const QString& parameters, const QString& directory)
{
    Q_UNUSED(parameters);
    const QDir base(directory.isEmpty() ? QDir::currentPath() : directory);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(base.absoluteFilePath(file)));
}
