#pragma once
#include "common/FileListRow.h"
#include "remote/RemoteEntry.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <vector>

// The local date-time of an entry's UTC time (100-ns ticks since 1601, as RemoteEntry and
// FileListRow keep it) as seconds since 30 December 1899 00:00 (the zero date-time), in the
// time-zone offset `utcOffsetSeconds`; even seconds only, as the MS-DOS form holds them. A
// stamp whose local time falls before 1980 or after 2107 gives 0.
qint64 FileTimeToLocalSeconds(qint64 utcTicks, int utcOffsetSeconds);

// The local date-time of an entry's UTC time stamp, converted with the time-zone offset in
// force now (not the one at the stamp's date). Before 1980 or after 2107: 30 December 1899,
// 00:00.
QDateTime FileTimeToLocalDateTime(qint64 utcTicks);

// The ticks of a POSIX time (seconds and nanoseconds since 1970 UTC), for local entries.
qint64 FileTimeFromUnix(qint64 seconds, qint64 nanoseconds = 0);

// The image a row gets: folder, archive (".zip" anywhere in the ASCII-lower-cased name of a
// non-folder) or file.
int FileListImageIndex(const QString& name, bool folder);

// The text a name from the server shows as, and the name a download of it gets locally. Valid
// UTF-8 is read as UTF-8; a byte that is not part of a valid sequence stands for its Latin-1
// character, as older servers send names in a single-byte code page. So "\xff.txt" and
// "\xef\xbf\xbd.txt" show as "\u00ff.txt" and "\ufffd.txt", not both as the latter.
QString ServerNameText(QByteArrayView name);

// Builds FileListRows for one listing. It takes the time-zone offset and the locale's short
// date and time formats once, and keeps the Modified texts it made, so 100,000 rows cost
// a few lookups each rather than a locale formatting call each.
class FileListRowBuilder
{
public:
    // The offset and formats in force now.
    FileListRowBuilder();
    // A fixed offset and formats (tests, and callers that list many folders at once).
    FileListRowBuilder(int utcOffsetSeconds, const QString& dateFormat, const QString& timeFormat);

    FileListRow build(const RemoteEntry& entry);
    // A local entry; `lastWrite` in ticks, 0 for none.
    FileListRow build(const QString& name, bool folder, qint64 size, qint64 lastWrite);

    // The Modified text of a local time in seconds since the zero date-time.
    QString modifiedText(qint64 localSeconds);

    // The user's short time format with the seconds taken out (the list shows minutes).
    static QString shortTimeFormat(const QLocale& locale);

private:
    FileListRow buildRow(const QString& name, bool folder, quint64 size, qint64 lastWrite,
                         bool dateOnly = false);
    QString dateText(qint64 day);

    int m_utcOffset = 0;
    QString m_dateFormat;
    QString m_timeFormat;
    QHash<qint64, QString> m_dateTexts;     // by day number since the zero date
    QHash<qint64, QString> m_timeTexts;     // by minute of the day
    QHash<qint64, QString> m_modifiedTexts; // by minute since the zero date
};
