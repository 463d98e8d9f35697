#include "transfer/TransferNames.h"

#include <QFile>

namespace {
// NAME_MAX of the Linux file systems we write to, in bytes of the encoded name.
constexpr qsizetype kNameMax = 255;
// The dot and the six characters LocalFileWriter adds to a partial download's name.
constexpr qsizetype kUniquePartBytes = 7;
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

bool FitsLocalNameLimit(const QString& name)
{
    return QFile::encodeName(name).size() <= kNameMax;
}

QString RefusedDownloadNameText(const QString& name)
{
    if (!IsPlainName(name))
        return NotPlainNameText(name);
    if (!FitsLocalNameLimit(name)) {
        return QStringLiteral("The server offered the name \"%1\", which is longer than this "
                              "computer's file system allows (255 bytes). It was not downloaded.")
            .arg(name);
    }
    return {};
}

QString LinkInTheWayText(const QString& path)
{
    return QStringLiteral("\"%1\" is a symbolic link. Downloads never write through a link, so "
                          "nothing was downloaded there and the link was left as it is.")
        .arg(path);
}

QString SkippedLinksText(const QString& folderPath, int count, const QString& firstPath)
{
    if (count == 1) {
        return QStringLiteral("\"%1\" holds a symbolic link, which was not uploaded: \"%2\". "
                              "Uploads never follow links.")
            .arg(folderPath, firstPath);
    }
    return QStringLiteral("\"%1\" holds %2 symbolic links, which were not uploaded. The first "
                          "was \"%3\". Uploads never follow links.")
        .arg(folderPath, QString::number(count), firstPath);
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
    while (!stem.isEmpty() && QFile::encodeName(stem + suffix).size() > kNameMax - kUniquePartBytes)
        stem.chop(stem.size() >= 2 && stem.back().isLowSurrogate() ? 2 : 1);
    return stem + suffix;
}

bool IsPartialDownloadOf(const QString& fileName, const QString& localName)
{
    const QString prefix = PartialDownloadName(localName);
    return fileName.size() == prefix.size() + kUniquePartBytes && fileName.startsWith(prefix) &&
           fileName.at(prefix.size()) == QLatin1Char('.');
}
