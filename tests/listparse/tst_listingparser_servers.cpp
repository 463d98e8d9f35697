// Lines as today's Unix servers write them (numeric owners, both date forms, sizes and names
// that look like years), entries whose size or date no file can have, the rarer families,
// and a round trip of random entries through the ls -l and ls -ln forms.
#include "tst_listingparser.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

std::string_view view(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

const QDateTime kNow = utc(2026, 12, 10, 12);
const QDateTime kNoTime = utc(1601, 1, 1);
constexpr quint64 kUnknownSize = ~quint64(0);

void row(const char* tag, const QByteArray& line, const QByteArray& name, bool folder, quint64 size,
         const QDateTime& modified)
{
    QTest::newRow(tag) << line << name << folder << size << modified;
}

void unixServers()
{
    const QByteArray vs = "-rw-r--r--    1 1001     1001     ";
    const QByteArray vd = "drwxr-xr-x    2 1001     1001     ";
    row("vsftpd, size like a year", vs + "    4095 Dec 10 11:07 f4095.bin", "f4095.bin", false,
        4095, utc(2026, 12, 10, 11, 7));
    row("vsftpd, folder of 4096", vd + "    4096 Dec 10 11:59 folder", "folder", true, 0,
        utc(2026, 12, 10, 11, 59));
    row("vsftpd, old folder", vd + "    4096 Mar 03  2022 oldfolder", "oldfolder", true, 0,
        utc(2022, 3, 3));
    row("vsftpd, 2048 old", vs + "    2048 Mar 03  2020 size2048-old.bin", "size2048-old.bin",
        false, 2048, utc(2020, 3, 3));
    row("vsftpd, 1999 named 1999", vs + "    1999 Dec 10 11:07 1999", "1999", false, 1999,
        utc(2026, 12, 10, 11, 7));
    row("vsftpd, dated in the future", vs + "    2048 Dec 10  2027 future.bin", "future.bin", false,
        2048, utc(2027, 12, 10));
    row("vsftpd, name of year and words",
        "-rw-r--r--    1 0        0            4096 Jan 01  1999 2020 report", "2020 report", false,
        4096, utc(1999, 1, 1));
    row("vsftpd, name like a date", vs + "       0 Dec 10 11:07 12 Dec 10 11:07", "12 Dec 10 11:07",
        false, 0, utc(2026, 12, 10, 11, 7));
    row("proftpd, folder named like its year",
        "drwxr-xr-x   3 ann      ann          4096 Dec 10  2025 2025", "2025", true, 0,
        utc(2025, 12, 10));
    row("proftpd, numeric", "-rw-r--r--   1 1001     1001         4096 Jan  5  2020 4096", "4096",
        false, 4096, utc(2020, 1, 5));
    row("pure-ftpd, wide columns",
        "-rw-r--r--    1 1001       1001             4095 Dec 10 11:07 f4095.bin", "f4095.bin",
        false, 4095, utc(2026, 12, 10, 11, 7));
    row("pure-ftpd, folder named like a year",
        "drwxr-xr-x    2 1001       1001             4096 Mar  3  2022 2022", "2022", true, 0,
        utc(2022, 3, 3));
    row("hungarian year needs its dot, and no time",
        "-rw-r--r-- 1 1001 1001 2004 szept. 15. 14:07 hu", "hu", false, 2004,
        utc(2026, 9, 15, 14, 7));
}

// Entries that were dropped once, so that a name that exists looked free.
void impossibleFacts()
{
    const QByteArray vs = "-rw-r--r--    1 1001     1001     ";
    row("year above 9999", vs + "       5 Dec 10  10000 far.txt", "far.txt", false, 5, kNoTime);
    row("year above 99999, name like a year", vs + "       5 Dec 10 100000 2020", "2020", false, 5,
        kNoTime);
    row("negative size", vs + "-1294967296 Dec 10 11:07 big32.iso", "big32.iso", false,
        kUnknownSize, utc(2026, 12, 10, 11, 7));
    row("20-digit size", vs + "99999999999999999999 Dec 10 11:07 huge", "huge", false, kUnknownSize,
        utc(2026, 12, 10, 11, 7));
    row("mlsd, unknown type", "type=weird;size=3; odd", "odd", false, 3, kNoTime);
    row("mlsd, negative size", "type=file;size=-5;modify=20261210110700; neg", "neg", false,
        kUnknownSize, utc(2026, 12, 10, 11, 7));
    row("mlsd, year above 9999", "type=file;size=1;modify=100001210110700; far", "far", false, 1,
        kNoTime);
    row("eplf, negative size", "+m1765364820,s-1,\teplf.bin", "eplf.bin", false, kUnknownSize,
        utc(2025, 12, 10, 11, 7));
    row("eplf, time past 9999", "+m99999999999999,s9,\tlate", "late", false, 9, kNoTime);
}

void rarerFamilies()
{
    row("numeric mode, file", "100644   1 ann staff 1234 Mar  3 14:07 octal.txt", "octal.txt",
        false, 1234, utc(2026, 3, 3, 14, 7));
    row("numeric mode, folder", "40755 2 ann staff 4096 Mar  3  2020 octdir", "octdir", true, 0,
        utc(2020, 3, 3));
    row("numeric mode, link", "120777 1 ann staff 7 Mar  3  2020 ln -> x", "ln", false, 7,
        utc(2020, 3, 3));
    row("mlsd without any semicolon", "type=dir pub", "pub", true, 0, kNoTime);
    row("polish", "-rw-r--r-- 1 ann staff 5 pa\xc5\xba  3  2019 pl", "pl", false, 5,
        utc(2019, 10, 3));
    row("russian", "-rw-r--r-- 1 ann staff 5 \xd1\x8f\xd0\xbd\xd0\xb2  3 14:07 ru", "ru", false, 5,
        utc(2026, 1, 3, 14, 7));
    row("mvs, never referred",
        "WORK01 3390   **NONE**    1    1  FB      80  6160  PS  HLQ.NEVER.READ", "HLQ.NEVER.READ",
        false, 56664, kNoTime);
}

// An entry and the line ls writes for it.
struct LsEntry
{
    QByteArray name;
    bool folder = false;
    quint64 size = 0;
    QDateTime modified; // to the minute
};

// The columns GNU ls -l and -ln write, with column widths as a listing of other entries would
// give them, and the date in its recent ("Dec 10 11:59") or old ("Dec 10  2019") form.
QByteArray lsLine(const LsEntry& entry, bool numeric, QRandomGenerator& random, QDateTime& expected)
{
    static const QByteArrayList names = {"ann", "ftp", "www-data", "May"};
    static const QByteArrayList groups = {"staff", "ftp", "users"};
    static const QByteArrayList ids = {"0", "33", "1000", "1001", "1999", "2048", "4096", "65534"};
    auto pick = [&](const QByteArrayList& list) {
        return list[random.bounded(qsizetype(list.size()))];
    };
    const QByteArray owner = numeric ? pick(ids) : pick(names);
    const QByteArray group = numeric ? pick(ids) : pick(groups);
    const int ownerWidth = int(owner.size()) + random.bounded(4);
    const int sizeWidth = int(QByteArray::number(entry.size).size()) + random.bounded(6);
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate day = entry.modified.date();
    // ls shows the time of day for entries of the last six months, the year for the rest.
    const bool recent = entry.modified <= kNow && entry.modified > kNow.addDays(-182);
    expected = recent ? entry.modified : QDateTime(day, QTime(0, 0), QTimeZone::utc());
    const QByteArray date = QByteArray(months[day.month() - 1]) + ' ' +
                            QByteArray::number(day.day()).rightJustified(2, ' ') + ' ' +
                            (recent ? entry.modified.time().toString("hh:mm").toLatin1()
                                    : QByteArray::number(day.year()).rightJustified(5, ' '));
    return QByteArray(entry.folder ? "drwxr-xr-x" : "-rw-r--r--") + ' ' +
           QByteArray::number(1 + random.bounded(40)).rightJustified(3, ' ') + ' ' +
           owner.leftJustified(ownerWidth, ' ') + ' ' + group.leftJustified(ownerWidth, ' ') + ' ' +
           QByteArray::number(entry.size).rightJustified(sizeWidth, ' ') + ' ' + date + ' ' +
           entry.name;
}

LsEntry randomEntry(QRandomGenerator& random)
{
    static const QByteArrayList parts = {
        "2020",   "1999",  "4096", "12",      "Dec",    "10",   "11:59", "x.txt",
        "report", "10000", "-",    ".hidden", "Mar  3", "2048", "a  b",  "\xc3\xa9t\xc3\xa9"};
    LsEntry entry;
    const int count = 1 + random.bounded(3);
    for (int i = 0; i < count; ++i) {
        if (i > 0 || random.bounded(8) == 0)
            entry.name += ' ';
        entry.name += parts[random.bounded(qsizetype(parts.size()))];
    }
    entry.folder = random.bounded(5) == 0;
    static const quint64 sizes[] = {0, 1999, 2048, 4096, 10000, 4095};
    entry.size =
        random.bounded(2) == 0 ? sizes[random.bounded(6)] : random.bounded(quint64(1) << 40);
    // From ten years back to a year ahead, to the minute.
    const qint64 minutes = random.bounded(qint64(11) * 366 * 24 * 60);
    entry.modified = kNow.addYears(-10).addSecs(minutes * 60);
    return entry;
}

} // namespace

void TestListingParser::serverLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<quint64>("size");
    QTest::addColumn<QDateTime>("modified");
    unixServers();
    impossibleFacts();
    rarerFamilies();
}

void TestListingParser::serverLines()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, name);
    QFETCH(bool, folder);
    QFETCH(quint64, size);
    QFETCH(QDateTime, modified);

    WIN32_FIND_DATAA data;
    QVERIFY(ParseListLine(view(line), kNow.toSecsSinceEpoch(), data));
    QCOMPARE(QByteArray(data.cFileName), name);
    QCOMPARE(data.dwFileAttributes, folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL);
    QCOMPARE(sizeOf(data), size);
    QCOMPARE(writtenAt(data), modified);
}

void TestListingParser::lsRoundTrip_data()
{
    QTest::addColumn<bool>("numeric");
    QTest::newRow("ls -l") << false;
    QTest::newRow("ls -ln") << true;
}

void TestListingParser::lsRoundTrip()
{
    QFETCH(bool, numeric);
    QRandomGenerator random(numeric ? 4096 : 1999);
    for (int i = 0; i < 5000; ++i) {
        const LsEntry entry = randomEntry(random);
        QDateTime expected;
        const QByteArray line = lsLine(entry, numeric, random, expected);
        WIN32_FIND_DATAA data;
        QVERIFY2(ParseListLine(view(line), kNow.toSecsSinceEpoch(), data), line.constData());
        QVERIFY2(QByteArray(data.cFileName) == entry.name, line.constData());
        QVERIFY2(sizeOf(data) == (entry.folder ? 0 : entry.size), line.constData());
        QVERIFY2(writtenAt(data) == expected, line.constData());
    }
}
