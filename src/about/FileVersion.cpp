#include "about/FileVersion.h"

#include "winver.h"

#include <QFile>

#include <climits>
#include <vector>

QString ReadFileVersion()
{
    char path[PATH_MAX];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return QString();
    return ReadFileVersion(QFile::decodeName(QByteArray(path, static_cast<qsizetype>(length))));
}

QString ReadFileVersion(const QString& executablePath)
{
    const QByteArray path = QFile::encodeName(executablePath);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.constData(), &handle);
    if (size == 0)
        return QString();
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoA(path.constData(), handle, size, block.data()))
        return QString();
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\FileVersion", &value, &length))
        return QString();
    // The length counts the terminating NUL.
    return QString::fromUtf8(static_cast<const char*>(value),
                             length > 0 ? static_cast<qsizetype>(length - 1) : 0);
}
