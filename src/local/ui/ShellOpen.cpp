#include "local/ui/ShellOpen.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

void ShellOpenFile(const QString& file, const QString& parameters, const QString& directory)
{
    Q_UNUSED(parameters);
    const QDir base(directory.isEmpty() ? QDir::currentPath() : directory);
    (void)QDesktopServices::openUrl(QUrl::fromLocalFile(base.absoluteFilePath(file)));
}
