#include "ftp/DeleteQuestion.h"

#include "ftp/RemoteDelete.h"

#include <QStringList>

namespace {

// Enough names to recognise the selection; a long one is summed up after them.
constexpr qsizetype kNamesShown = 4;

QString counted(qsizetype count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

} // namespace

QString DeleteQuestionText(const QString& paneName, const std::vector<FileListRow>& rows)
{
    qsizetype folders = 0;
    QStringList names;
    for (const FileListRow& row : rows) {
        if (row.isFolder())
            ++folders;
        if (names.size() < kNamesShown)
            names.append(QLatin1Char('"') + row.name + QLatin1Char('"'));
    }
    const qsizetype files = static_cast<qsizetype>(rows.size()) - folders;
    QStringList parts;
    if (folders > 0)
        parts.append(
            counted(folders, "folder", "folders") +
            QLatin1String(folders == 1 ? " with everything in it" : " with everything in them"));
    if (files > 0)
        parts.append(counted(files, "file", "files"));
    QString list = names.join(QStringLiteral(", "));
    if (static_cast<qsizetype>(rows.size()) > names.size())
        list +=
            QStringLiteral(" and %1 more").arg(static_cast<qsizetype>(rows.size()) - names.size());
    return QString::fromLatin1(kDeleteQuestion) +
           QStringLiteral("\n\n%1: %2\n%3")
               .arg(paneName, parts.join(QStringLiteral(" and ")), list);
}

bool DeleteTakesFolder(const std::vector<FileListRow>& rows)
{
    for (const FileListRow& row : rows)
        if (row.isFolder())
            return true;
    return false;
}
