#include "common/FileListRows.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Every bit set: the listing gave no size a file can have.
constexpr quint64 kUnknownListedSize = ~quint64{0};

// 100-nanosecond ticks from 1601-01-01 (the origin of every entry's time) to 1970-01-01.
constexpr qint64 kTicksPerSecond = 10'000'000;
constexpr qint64 kUnixEpochSeconds = 11'644'473'600;
// Seconds between the zero date-time 1899-12-30 and 1970-01-01.
constexpr qint64 kZeroToUnixSeconds = 25'569LL * 86'400;
constexpr qint64 kSecondsPerDay = 86'400;
// The MS-DOS date form holds the years 1980 to 2107; local seconds since the zero date of
// 1980-01-01 00:00:00 and of the first second after 2107-12-31 23:59:58.
constexpr qint64 kDosFirstSecond = 29'221LL * kSecondsPerDay;
constexpr qint64 kDosEndSecond = 75'972LL * kSecondsPerDay;
const QDate kZeroDate(1899, 12, 30);

// The length of the valid UTF-8 sequence at the start of `bytes` (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF), or 0 when it does not start with one.
qsizetype utf8SequenceLength(QByteArrayView bytes)
{
    const auto byte = [&](qsizetype at) { return static_cast<unsigned char>(bytes[at]); };
    const unsigned char lead = byte(0);
    qsizetype length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (bytes.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

QString ServerNameText(QByteArrayView name)
{
    if (name.isValidUtf8())
        return QString::fromUtf8(name);
    QString text;
    text.reserve(name.size());
    while (!name.isEmpty()) {
        const qsizetype length = utf8SequenceLength(name);
        if (length == 0) {
            text += QChar(static_cast<unsigned char>(name.front()));
            name = name.sliced(1);
        } else {
            text += QString::fromUtf8(name.first(length));
            name = name.sliced(length);
        }
    }
    return text;
}

qint64 FileTimeToLocalSeconds(qint64 utcTicks, int utcOffsetSeconds)
{
    const auto ticks = static_cast<quint64>(utcTicks);
    // Signed arithmetic: a 64-bit tick count fits in seconds with plenty of room.
    const qint64 unixSeconds =
        static_cast<qint64>(ticks / static_cast<quint64>(kTicksPerSecond)) - kUnixEpochSeconds;
    const qint64 local = unixSeconds + utcOffsetSeconds + kZeroToUnixSeconds;
    if (local < kDosFirstSecond || local >= kDosEndSecond)
        return 0;
    return local - (local % 2);
}

QDateTime FileTimeToLocalDateTime(qint64 utcTicks)
{
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    const qint64 local = FileTimeToLocalSeconds(utcTicks, offset);
    return QDateTime(
        kZeroDate.addDays(local / kSecondsPerDay),
        QTime::fromMSecsSinceStartOfDay(static_cast<int>(local % kSecondsPerDay) * 1000));
}

qint64 FileTimeFromUnix(qint64 seconds, qint64 nanoseconds)
{
    const qint64 ticks = (seconds + kUnixEpochSeconds) * kTicksPerSecond + nanoseconds / 100;
    return ticks < 0 ? 0 : ticks;
}

int FileListImageIndex(const QString& name, bool folder)
{
    if (folder)
        return kFolderImage;
    // Only ASCII letters are folded, so "ZIP" matches but no other script's letters do.
    const qsizetype length = name.size();
    for (qsizetype i = 0; i + 4 <= length; ++i) {
        if (name[i] != QLatin1Char('.'))
            continue;
        const auto lower = [&](qsizetype at) {
            const char16_t c = name[at].unicode();
            return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
        };
        if (lower(i + 1) == u'z' && lower(i + 2) == u'i' && lower(i + 3) == u'p')
            return kArchiveImage;
    }
    return kFileImage;
}

FileListRowBuilder::FileListRowBuilder()
    : FileListRowBuilder(QDateTime::currentDateTime().offsetFromUtc(),
                         QLocale().dateFormat(QLocale::ShortFormat), shortTimeFormat(QLocale()))
{}

FileListRowBuilder::FileListRowBuilder(int utcOffsetSeconds, const QString& dateFormat,
                                       const QString& timeFormat)
    : m_utcOffset(utcOffsetSeconds), m_dateFormat(dateFormat), m_timeFormat(timeFormat)
{}

QString FileListRowBuilder::shortTimeFormat(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    // Some locales' short form still carries seconds ("HH:mm:ss"); the list shows minutes.
    static const QRegularExpression seconds(QStringLiteral("[:.]?s+"));
    format.remove(seconds);
    return format.trimmed();
}

QString FileListRowBuilder::modifiedText(qint64 localSeconds)
{
    const qint64 minute = localSeconds / 60;
    auto cached = m_modifiedTexts.constFind(minute);
    if (cached != m_modifiedTexts.constEnd())
        return *cached;
    const qint64 minuteOfDay = (localSeconds % kSecondsPerDay) / 60;
    const QString date = dateText(localSeconds / kSecondsPerDay);
    auto time = m_timeTexts.find(minuteOfDay);
    if (time == m_timeTexts.end())
        time = m_timeTexts.insert(minuteOfDay, QTime(static_cast<int>(minuteOfDay / 60),
                                                     static_cast<int>(minuteOfDay % 60))
                                                   .toString(m_timeFormat));
    QString text = date + QLatin1Char(' ') + *time;
    m_modifiedTexts.insert(minute, text);
    return text;
}

QString FileListRowBuilder::dateText(qint64 day)
{
    auto date = m_dateTexts.find(day);
    if (date == m_dateTexts.end())
        date = m_dateTexts.insert(day, kZeroDate.addDays(day).toString(m_dateFormat));
    return *date;
}

FileListRow FileListRowBuilder::build(const QString& name, bool folder, qint64 size,
                                      qint64 lastWrite)
{
    return buildRow(name, folder, size < 0 ? 0 : static_cast<quint64>(size), lastWrite);
}

FileListRow FileListRowBuilder::buildRow(const QString& name, bool folder, quint64 size,
                                         qint64 lastWrite, bool dateOnly)
{
    FileListRow row;
    row.name = name;
    row.imageIndex = FileListImageIndex(name, folder);
    if (!folder && size == kUnknownListedSize) {
        row.size = kUnknownRowSize;
    } else if (!folder) {
        // The text shows every byte of the two 32-bit halves; the number kept for sorting
        // and transfers saturates rather than turning negative.
        constexpr auto kMax = static_cast<quint64>(std::numeric_limits<qint64>::max());
        row.size = static_cast<qint64>(std::min(size, kMax));
        if (size > kMax)
            row.sizeBeyondRange = size;
    }
    // A time of 0 is the listing's "no date" (none shown, or none a file time can hold); it
    // shows empty and sorts before every real date, the zero date-time of old ones included.
    if (lastWrite == 0) {
        row.modifiedMinutes = kUnknownModifiedMinutes;
        return row;
    }
    if (dateOnly) {
        // The day as the server listed it: moved by no offset, which would turn its 00:00
        // into the evening before for anyone west of the server.
        const qint64 day = FileTimeToLocalSeconds(lastWrite, 0);
        row.modifiedDateOnly = true;
        row.modifiedMinutes = day / 60;
        row.modifiedTime = lastWrite;
        row.modifiedText = dateText(day / kSecondsPerDay);
        return row;
    }
    const qint64 local = FileTimeToLocalSeconds(lastWrite, m_utcOffset);
    row.modifiedMinutes = local / 60;
    row.modifiedTime = lastWrite;
    row.modifiedText = modifiedText(local);
    return row;
}

FileListRow FileListRowBuilder::build(const RemoteEntry& entry)
{
    quint64 size = static_cast<quint64>(entry.size);
    if (entry.size == kUnknownEntrySize)
        size = kUnknownListedSize;
    else if (entry.sizeBeyondRange != 0)
        size = entry.sizeBeyondRange;
    FileListRow row = buildRow(entry.name, entry.isFolder, size, entry.modifiedTime,
                               entry.precision == TimePrecision::Day);
    // A UTF-8 name comes back unchanged from its text; only other names keep their bytes,
    // which spares a listing of a million rows a second copy of every name.
    if (!entry.serverName.isValidUtf8())
        row.nameBytes = entry.serverName;
    return row;
}
