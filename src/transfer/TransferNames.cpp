#include "transfer/TransferNames.h"

#include <QFile>

namespace {
// NAME_MAX of the Linux file systems we write to, in bytes of the encoded name.
constexpr qsizetype kNameMax = 255;
} // namespace

bool IsPlainName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QString NotPlainNameText(const QString& name)
{
    return QStringLiteral("The server offered the name \"%1\", which is not a plain file name. "
                          "It was not downloaded.")
        .arg(name);
}

QString FileNamePart(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString RemoteNameFor(const QString& localPath, bool lowerCase)
{
    QString name = FileNamePart(localPath);
    if (lowerCase) {
        for (QChar& c : name) {
            if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                c = QChar(c.unicode() + ('a' - 'A'));
        }
    }
    return name;
}

QString JoinLocalPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

QString PartialDownloadName(const QString& localName)
{
    const QString suffix = QString::fromLatin1(kPartialSuffix);
    QString stem = localName;
    // Shorten the stem a character at a time so a multi-byte character is never split.
    while (!stem.isEmpty() && QFile::encodeName(stem + suffix).size() > kNameMax)
        stem.chop(stem.size() >= 2 && stem.back().isLowSurrogate() ? 2 : 1);
    return stem + suffix;
}
