// LIST lines: Unix ls -l, DOS/IIS and EPLF, and the year of "MMM DD HH:MM" entries.
#include "tst_listingparser.h"
#include "wininet/PackedListing.h"

#include <QTest>

namespace {

std::string_view view(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

const QDateTime kNow = utc(2026, 6, 15, 12);
const QDateTime kNoTime = utc(1601, 1, 1);

} // namespace

void TestListingParser::listEntries_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<quint64>("size");
    QTest::addColumn<QDateTime>("modified");

    auto row = [](const char* tag, const QByteArray& line, const QByteArray& name, bool folder,
                  quint64 size, const QDateTime& modified) {
        QTest::newRow(tag) << line << name << folder << size << modified;
    };
    // Unix ls -l
    row("folder, time of day", "drwxr-xr-x   2 ftp      ftp          4096 Mar  3 14:07 pub", "pub",
        true, 0, utc(2026, 3, 3, 14, 7));
    row("file, year", "-rw-r--r--   1 ftp      ftp          1234 Dec 24  2019 notes.txt",
        "notes.txt", false, 1234, utc(2019, 12, 24));
    row("without group", "-rw-r--r--   1 ftp          1234 Dec 24  2019 notes.txt", "notes.txt",
        false, 1234, utc(2019, 12, 24));
    row("without link count and group", "-rw-r--r-- ftp 1234 Dec 24 2019 bare", "bare", false, 1234,
        utc(2019, 12, 24));
    row("setuid and sticky", "-rwsr-sr-t   1 root root 100 Jan  5  2020 suid", "suid", false, 100,
        utc(2020, 1, 5));
    row("sticky folder", "drwxrwxrwt  10 root root 4096 Jun  1 10:00 tmp", "tmp", true, 0,
        utc(2026, 6, 1, 10));
    row("capital mode letters", "-rwSr-Sr-T   1 u g 7 Jan  5  2020 caps", "caps", false, 7,
        utc(2020, 1, 5));
    row("ACL marker", "-rw-r--r--+  1 u g 5 Jan  5  2020 acl", "acl", false, 5, utc(2020, 1, 5));
    row("name starts with digits", "-rw-r--r-- 1 u g 5 Jan  5  2020 2019 12 31 report",
        "2019 12 31 report", false, 5, utc(2020, 1, 5));
    row("blanks inside the name", "-rw-r--r-- 1 u g 5 Jan  5  2020 x  y z", "x  y z", false, 5,
        utc(2020, 1, 5));
    row("leading blank in the name", "-rw-r--r-- 1 u g 5 Jan  5  2020  lead", " lead", false, 5,
        utc(2020, 1, 5));
    row("name that looks like a date", "-rw-r--r-- 1 u g 5 Jan  5  2020 Feb  3 12:00 x",
        "Feb  3 12:00 x", false, 5, utc(2020, 1, 5));
    row("owner named like a month", "-rw-r--r-- 1 May staff 10 Apr  1  2020 mayfile", "mayfile",
        false, 10, utc(2020, 4, 1));
    row("symlink shown by name", "lrwxrwxrwx 1 u g 11 Jan  5 09:00 www -> /var/www", "www", false,
        11, utc(2026, 1, 5, 9));
    row("symlink without target", "lrwxrwxrwx 1 u g 11 Jan  5 09:00 www", "www", false, 11,
        utc(2026, 1, 5, 9));
    row("arrow in a plain file name", "-rw-r--r-- 1 u g 1 Jan  5  2020 a -> b", "a -> b", false, 1,
        utc(2020, 1, 5));
    row("character device", "crw-rw-rw- 1 root root 1,   3 Jan  5 09:00 null", "null", false, 0,
        utc(2026, 1, 5, 9));
    row("block device, compact numbers", "brw-rw---- 1 root disk 8,0 Jan  5 09:00 sda", "sda",
        false, 0, utc(2026, 1, 5, 9));
    row("fifo", "prw-r--r-- 1 u g 0 Jan  5  2020 pipe", "pipe", false, 0, utc(2020, 1, 5));
    row("5 GiB", "-rw-r--r-- 1 u g 5368709120 Jan  5  2020 big.iso", "big.iso", false,
        5368709120ULL, utc(2020, 1, 5));
    row("dot", "drwxr-xr-x 2 u g 4096 Jan  5  2020 .", ".", true, 0, utc(2020, 1, 5));
    row("dot dot", "drwxr-xr-x 2 u g 4096 Jan  5  2020 ..", "..", true, 0, utc(2020, 1, 5));
    row("lower-case month", "-rw-r--r-- 1 u g 1 jan  5  2020 lower", "lower", false, 1,
        utc(2020, 1, 5));
    row("utf-8 name", "-rw-r--r-- 1 u g 1 Jan  5  2020 \xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9",
        false, 1, utc(2020, 1, 5));
    row("tab-separated columns", "-rw-r--r--\t1\tu\tg\t1\tJan\t5\t2020\ttabbed", "tabbed", false, 1,
        utc(2020, 1, 5));
    // DOS / IIS
    row("dos folder", "04-27-00  09:09PM       <DIR>          licensed", "licensed", true, 0,
        utc(2000, 4, 27, 21, 9));
    row("dos file, four-digit year", "11-18-2003  11:06AM      1,234,567 report.pdf", "report.pdf",
        false, 1234567, utc(2003, 11, 18, 11, 6));
    row("dos midnight", "01-02-99  12:00AM  100 old.txt", "old.txt", false, 100,
        utc(1999, 1, 2, 0, 0));
    row("dos noon", "01-02-99  12:30PM  100 noon.txt", "noon.txt", false, 100,
        utc(1999, 1, 2, 12, 30));
    row("dos 24-hour clock", "11-18-2003  23:06  5 late.txt", "late.txt", false, 5,
        utc(2003, 11, 18, 23, 6));
    row("dos separate suffix", "11-18-2003  11:06 PM  5 spaced.txt", "spaced.txt", false, 5,
        utc(2003, 11, 18, 23, 6));
    row("dos dot separators", "11-18-2003  11:06AM  1.234.567 dots.bin", "dots.bin", false, 1234567,
        utc(2003, 11, 18, 11, 6));
    row("dos 5 GiB", "11-18-2003  11:06AM  5,368,709,120 big.iso", "big.iso", false, 5368709120ULL,
        utc(2003, 11, 18, 11, 6));
    row("dos folder with blanks", "04-27-00  09:09PM       <DIR>          My Documents",
        "My Documents", true, 0, utc(2000, 4, 27, 21, 9));
    row("dos name starts with digits", "04-27-00  09:09PM  12 123 go.txt", "123 go.txt", false, 12,
        utc(2000, 4, 27, 21, 9));
    row("dos two-digit year before 2000", "04-27-70  09:09AM  1 y70", "y70", false, 1,
        utc(1970, 4, 27, 9, 9));
    row("dos two-digit year after 2000", "04-27-69  09:09AM  1 y69", "y69", false, 1,
        utc(2069, 4, 27, 9, 9));
    // EPLF
    row("eplf file", "+i8388621.48594,m825718503,r,s280,\tdjb.html", "djb.html", false, 280,
        QDateTime::fromSecsSinceEpoch(825718503, QTimeZone::utc()));
    row("eplf folder", "+i8388621.50690,m824255907,/,\t514", "514", true, 0,
        QDateTime::fromSecsSinceEpoch(824255907, QTimeZone::utc()));
    row("eplf 5 GiB", "+r,s5368709120,\tbig", "big", false, 5368709120ULL, kNoTime);
    row("eplf name keeps its blanks", "+r,s1,\t two words ", " two words ", false, 1, kNoTime);
    row("eplf unknown facts", "+up644,r,x9,\tf", "f", false, 0, kNoTime);
}

void TestListingParser::listEntries()
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

void TestListingParser::listRejected_data()
{
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("total") << QByteArray("total 12");
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("blanks") << QByteArray("   ");
    QTest::newRow("banner") << QByteArray("Total of 11 entries");
    QTest::newRow("no name") << QByteArray("drwxr-xr-x 2 u g 4096 Mar  3 14:07");
    QTest::newRow("only the separator") << QByteArray("drwxr-xr-x 2 u g 4096 Mar  3 14:07 ");
    QTest::newRow("slash in name") << QByteArray("-rw-r--r-- 1 u g 5 Jan  5  2020 a/b");
    QTest::newRow("climbs out") << QByteArray("-rw-r--r-- 1 u g 5 Jan  5  2020 ../x");
    QTest::newRow("NUL in name") << QByteArray("-rw-r--r-- 1 u g 5 Jan  5  2020 a\0b", 35);
    QTest::newRow("unknown month") << QByteArray("-rw-r--r-- 1 u g 5 Foo  5  2020 x");
    QTest::newRow("Feb 30") << QByteArray("-rw-r--r-- 1 u g 5 Feb 30  2020 x");
    QTest::newRow("day 0") << QByteArray("-rw-r--r-- 1 u g 5 Feb  0  2020 x");
    QTest::newRow("hour 24 past midnight") << QByteArray("-rw-r--r-- 1 u g 5 Jan  5 24:01 x");
    QTest::newRow("minute 60") << QByteArray("-rw-r--r-- 1 u g 5 Jan  5 12:60 x");
    QTest::newRow("two-digit year") << QByteArray("-rw-r--r-- 1 u g 5 Jan  5 20 x");
    QTest::newRow("unknown entry kind") << QByteArray("xrw-r--r-- 1 u g 5 Jan  5  2020 x");
    QTest::newRow("bad mode letter") << QByteArray("-rw-r--r-Q 1 u g 5 Jan  5  2020 x");
    QTest::newRow("mode too short") << QByteArray("-rw-r--r- 1 u g 5 Jan  5  2020 x");
    QTest::newRow("device without comma") << QByteArray("crw-rw-rw- 1 r r 1 3 Jan  5 09:00 x");
    QTest::newRow("dos month 13") << QByteArray("13-01-2003  11:06AM  5 x");
    QTest::newRow("dos Feb 30") << QByteArray("02-30-2003  11:06AM  5 x");
    QTest::newRow("dos 13 PM") << QByteArray("11-18-2003  13:06PM  5 x");
    QTest::newRow("dos 0 AM") << QByteArray("11-18-2003  00:06AM  5 x");
    QTest::newRow("dos bad suffix") << QByteArray("11-18-2003  11:06XM  5 x");
    QTest::newRow("dos bad grouping") << QByteArray("11-18-2003  11:06AM  1,23 x");
    QTest::newRow("dos leading separator") << QByteArray("11-18-2003  11:06AM  ,123 x");
    QTest::newRow("dos size with junk") << QByteArray("11-18-2003  11:06AM  12a x");
    QTest::newRow("dos no name") << QByteArray("11-18-2003  11:06AM  <DIR>   ");
    QTest::newRow("dos slash in name") << QByteArray("11-18-2003  11:06AM  <DIR> a/b");
    QTest::newRow("dos slashed date") << QByteArray("11/18/2003  11:06AM  5 x");
    QTest::newRow("dos three-digit year") << QByteArray("11-18-200  11:06AM  5 x");
    QTest::newRow("eplf without tab") << QByteArray("+i1,r,s280,djb.html");
    QTest::newRow("eplf empty name") << QByteArray("+r,\t");
    QTest::newRow("eplf slash in name") << QByteArray("+r,\ta/b");
}

void TestListingParser::listRejected()
{
    QFETCH(QByteArray, line);
    WIN32_FIND_DATAA data;
    QVERIFY(!ParseListLine(view(line), kNow.toSecsSinceEpoch(), data));
}

void TestListingParser::timeOfDayYear_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QDateTime>("modified");

    QTest::newRow("earlier today") << kNow << QByteArray("Jun 15 11:00") << utc(2026, 6, 15, 11);
    QTest::newRow("earlier this year") << kNow << QByteArray("Jan  1 00:00") << utc(2026, 1, 1);
    QTest::newRow("slightly ahead (server's zone)")
        << kNow << QByteArray("Jun 17 12:00") << utc(2026, 6, 17, 12);
    QTest::newRow("three days ahead is still this year")
        << kNow << QByteArray("Jun 18 12:00") << utc(2026, 6, 18, 12);
    QTest::newRow("further ahead is last year")
        << kNow << QByteArray("Jun 18 12:01") << utc(2025, 6, 18, 12, 1);
    QTest::newRow("end of year is last year")
        << kNow << QByteArray("Dec 31 23:59") << utc(2025, 12, 31, 23, 59);
    QTest::newRow("just after New Year")
        << utc(2027, 1, 1, 0, 30) << QByteArray("Dec 31 23:00") << utc(2026, 12, 31, 23);
    QTest::newRow("server already in the new year")
        << utc(2026, 12, 31, 22) << QByteArray("Jan  1 08:00") << utc(2027, 1, 1, 8);
    QTest::newRow("leap day this year")
        << utc(2024, 3, 1) << QByteArray("Feb 29 10:00") << utc(2024, 2, 29, 10);
    QTest::newRow("leap day of last year")
        << utc(2025, 3, 10) << QByteArray("Feb 29 10:00") << utc(2024, 2, 29, 10);
}

void TestListingParser::timeOfDayYear()
{
    QFETCH(QDateTime, now);
    QFETCH(QByteArray, date);
    QFETCH(QDateTime, modified);

    WIN32_FIND_DATAA data;
    const QByteArray unixLine = "-rw-r--r-- 1 u g 1 " + date + " f";
    QVERIFY(ParseListLine(view(unixLine), now.toSecsSinceEpoch(), data));
    QCOMPARE(writtenAt(data), modified);
}

void TestListingParser::dateOnlyWhereNoTimeIsListed_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("mlsd");
    QTest::addColumn<QDateTime>("modified");
    QTest::addColumn<bool>("dateOnly");

    const auto row = [](const char* name, const char* line, QDateTime modified, bool dateOnly,
                        bool mlsd = false) {
        QTest::newRow(name) << QByteArray(line) << mlsd << modified << dateOnly;
    };
    row("ls, older than six months", "-rw-r--r-- 1 u g 5 Dec 10  2019 old.txt", utc(2019, 12, 10),
        true);
    row("ls, recent", "-rw-r--r-- 1 u g 5 Dec 10 14:07 new.txt", utc(2025, 12, 10, 14, 7), false);
    row("ls, recent at midnight", "-rw-r--r-- 1 u g 5 Jan  1 00:00 n.txt", utc(2026, 1, 1), false);
    row("ls, full time", "-rw-r--r-- 1 u g 5 Mar  3 14:07:33 2019 f.txt",
        utc(2019, 3, 3, 14, 7, 33), false);
    row("ls, German, day first", "-rw-r--r-- 1 u g 5 10. Dez. 2019 alt.txt", utc(2019, 12, 10),
        true);
    row("ls, numeric date alone", "-rw-r--r-- 1 u g 5 2004.07.15 n.txt", utc(2004, 7, 15), true);
    row("ls, ISO with time", "-rw-r--r-- 1 u g 5 2005-06-07 21:22 i.txt", utc(2005, 6, 7, 21, 22),
        false);
    row("dos", "04-27-00  09:09PM       <DIR>          licensed", utc(2000, 4, 27, 21, 9), false);
    row("mvs dataset", "WYOSPT 3390   2003/09/08  1   15  FB      80  3120  PS  ADSSE.CNTL",
        utc(2003, 9, 8), true);
    row("mlsd", "modify=20191210000000;type=file;size=5; m.txt", utc(2019, 12, 10), false, true);
}

void TestListingParser::dateOnlyWhereNoTimeIsListed()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, mlsd);
    QFETCH(QDateTime, modified);
    QFETCH(bool, dateOnly);

    WIN32_FIND_DATAA parsed;
    QVERIFY(mlsd ? ParseMlsdLine(view(line), parsed)
                 : ParseListLine(view(line), kNow.toSecsSinceEpoch(), parsed));
    // The mark has to survive the packed copy the listing is kept in until it is handed out.
    wininet::PackedListing kept;
    QVERIFY(kept.add(parsed));
    WIN32_FIND_DATAA data;
    QVERIFY(kept.take(data));
    QCOMPARE(writtenAt(data), modified);
    QCOMPARE((data.dwReserved1 & FIND_DATA_DATE_ONLY) != 0, dateOnly);
}
