// LIST lines of the many server families, one or two per form, and whole listings that mix
// them with lines no parser may take.
#include "tst_listingparser.h"

#include <QTest>

namespace {

std::string_view view(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

const QDateTime kNow = utc(2026, 6, 15, 12);
const QDateTime kNoTime = utc(1601, 1, 1);

void row(const char* tag, const QByteArray& line, const QByteArray& name, bool folder, quint64 size,
         const QDateTime& modified)
{
    QTest::newRow(tag) << line << name << folder << size << modified;
}

void unixVariants()
{
    const QByteArray p = "-rw-r--r-- 1 ann staff ";
    row("iso date", "-rw-r--r--   1 root     other        531 2005-06-07 21:22 readme", "readme",
        false, 531, utc(2005, 6, 7, 21, 22));
    row("full iso with zone", p + "7 2021-03-04 05:06:07.123456789 +0100 z.log", "z.log", false, 7,
        utc(2021, 3, 4, 5, 6, 7));
    row("numeric month and day", p + "2048 3 29 03:26 cal.txt", "cal.txt", false, 2048,
        utc(2026, 3, 29, 3, 26));
    row("month-day, year", "drwxr-xr-x 2 ann staff 512 09-26 2000 old", "old", true, 0,
        utc(2000, 9, 26));
    row("month-day, time", p + "15 09-26 13:45 new", "new", false, 15, utc(2025, 9, 26, 13, 45));
    row("slashed date", p + "12 1999/10/12 17:12 s.txt", "s.txt", false, 12,
        utc(1999, 10, 12, 17, 12));
    row("day-month-year", p + "12 24-04-2003 17:12 d.txt", "d.txt", false, 12,
        utc(2003, 4, 24, 17, 12));
    row("dotted date", p + "12 2004.07.15 dotted", "dotted", false, 12, utc(2004, 7, 15));
    row("size with unit", p + "33.5k Jan  5  2020 k.bin", "k.bin", false, 34304, utc(2020, 1, 5));
    row("day before month", p + "99 29 Jul 02:27 jul", "jul", false, 99, utc(2025, 7, 29, 2, 27));
    row("day before month, year", p + "99 01 oct 2004 oct", "oct", false, 99, utc(2004, 10, 1));
    row("german, dotted", p + "5 Okt. 12 14:07 okt", "okt", false, 5, utc(2025, 10, 12, 14, 7));
    row("german, day first", p + "5 3. Jan. 2019 jan", "jan", false, 5, utc(2019, 1, 3));
    row("german, full name", p + "5 Juli 3 2019 juli", "juli", false, 5, utc(2019, 7, 3));
    row("hungarian, year first", p + "5 2004. szept. 15. hu", "hu", false, 5, utc(2004, 9, 15));
    row("hungarian, latin-1", p + "5 \xe1pr 3 10:00 apr", "apr", false, 5, utc(2026, 4, 3, 10));
    row("east asian, utf-8", p + "5 5\xe6\x9c\x88 14\xe6\x97\xa5 12:00 jp", "jp", false, 5,
        utc(2026, 5, 14, 12));
    row("east asian, glued with year",
        p + "5 2003\xe5\xb9\xb4"
            "5\xe6\x9c\x88"
            "14\xe6\x97\xa5 cn",
        "cn", false, 5, utc(2003, 5, 14));
    row("east asian, shift jis", p + "5 5\x8c\x8e 14\x93\xfa 2003 sj", "sj", false, 5,
        utc(2003, 5, 14));
    row("east asian, euc-kr", p + "5 2003\xb3\xe2 5\xbf\xf9 14\xc0\xcf 08:15 kr", "kr", false, 5,
        utc(2003, 5, 14, 8, 15));
    row("24:00 is the next day", p + "5 Jan  5 24:00 midnight", "midnight", false, 5,
        utc(2026, 1, 6));
    row("no date", "-rw-r--r--   1 ann      staff        1234 nodate.txt", "nodate.txt", false,
        1234, kNoTime);
    row("group glued to size", "-rw-r--r--   1 ann      ftpusers1234567 Nov 12  2001 glued",
        "glued", false, 1234567, utc(2001, 11, 12));
    row("blanks in owner and group", "-rw-r--r-- 1 Domain Admins Domain Users 77 Feb  2  2022 ad",
        "ad", false, 77, utc(2022, 2, 2));
    row("bsd full time", p + "5 Mar  3 14:07:33 2019 bsd", "bsd", false, 5,
        utc(2019, 3, 3, 14, 7, 33));
    row("inode and blocks", "  131074    8 -rw-r--r-- 1 ann staff 5 Jan  5  2020 ino", "ino", false,
        5, utc(2020, 1, 5));
    row("day with comma", p + "5 Sep 10, 2004 vs", "vs", false, 5, utc(2004, 9, 10));
    row("netware folder", "d [R----F--] supervisor            512       Jan 16 18:53    login",
        "login", true, 0, utc(2026, 1, 16, 18, 53));
    row("netware file", "- [RWCEAFMS] rhesus             214059       Oct 20  2001    cx.exe",
        "cx.exe", false, 214059, utc(2001, 10, 20));
    row("netware, rights glued", "-[RWCEAFMS] tim 1234 Oct 20  2001    notes.txt", "notes.txt",
        false, 1234, utc(2001, 10, 20));
    row("connect:enterprise", "-C--E-----FTP B QUA1I1      18128       41 Aug 12 13:56 QUA1I1.txt",
        "QUA1I1.txt", false, 41, utc(2025, 8, 12, 13, 56));
    row("mlsd facts in answer to LIST", "type=file;size=12;modify=20200102030405; facts.txt",
        "facts.txt", false, 12, utc(2020, 1, 2, 3, 4, 5));
}

void otherFamilies()
{
    row("dos, year first", "2002-09-02  19:06          9,730 name.txt", "name.txt", false, 9730,
        utc(2002, 9, 2, 19, 6));
    row("dos, year first, folder", "2002-09-02  07:06PM       <DIR>          Web Site", "Web Site",
        true, 0, utc(2002, 9, 2, 19, 6));
    row("os/2 folder", "     0           DIR   02-18-98  15:14  lambda", "lambda", true, 0,
        utc(1998, 2, 18, 15, 14));
    row("os/2 file", "  1432      A          02-19-98  10:33  setup.cmd", "setup.cmd", false, 1432,
        utc(1998, 2, 19, 10, 33));
    row("os/2, year past 1999", " 36611      A    04-23-103  10:57  OS2 test1.file",
        "OS2 test1.file", false, 36611, utc(2003, 4, 23, 10, 57));
    row("vms file",
        "LOGIN.COM;2                  3/4      12-NOV-2003 09:14:51  [STAFF,JONES]  "
        "(RWED,RWED,RE,)",
        "LOGIN.COM;2", false, 1536, utc(2003, 11, 12, 9, 14, 51));
    row("vms folder", "ARCHIVE.DIR;1      1        3-MAR-2001 17:02      [JONES]  (RWE,RWE,RE,RE)",
        "ARCHIVE.DIR;1", true, 0, utc(2001, 3, 3, 17, 2));
    row("as/400 folder", "QSYS           18432 04/15/99 16:11:34 *DIR       QDOC/", "QDOC", true, 0,
        utc(1999, 4, 15, 16, 11, 34));
    row("as/400 stream file", "QPGMR          36864 15.04.99 15:41:01 *STMF      notes.txt",
        "notes.txt", false, 36864, utc(1999, 4, 15, 15, 41, 1));
    row("as/400 member",
        "QPGMR                                  *MEM       QGPL/QCLSRC.FILE/MAIN.MBR", "MAIN.MBR",
        false, 0, kNoTime);
    row("mvs dataset", "WYOSPT 3390   2003/09/08  1   15  FB      80  3120  PS  ADSSE.CNTL",
        "ADSSE.CNTL", false, 15 * 56664, utc(2003, 9, 8));
    row("mvs partitioned dataset",
        "B10142 3390   2004/06/22  1    9  U        0 27998  PO  USER.LOAD", "USER.LOAD", true, 0,
        utc(2004, 6, 22));
    row("mvs migrated", "Migrated                                                HLQ.OLD.DATA",
        "HLQ.OLD.DATA", false, 0, kNoTime);
    row("mvs tape", "ARCIVE Not Direct Access Device                         KJ.TAPE.BACKUP",
        "KJ.TAPE.BACKUP", false, 0, kNoTime);
    row("mvs member", "MEMBER1   01.01 2002/09/12 2002/09/12 11:30    20    20     0 USERID",
        "MEMBER1", false, 1600, utc(2002, 9, 12, 11, 30));
    row("mvs load module", "IEFBR14   00000A3C  00000F          00  FO             RN RU   31  ANY",
        "IEFBR14", false, 0xA3C, kNoTime);
    row("z/vm", "PROFILE  EXEC     V         70         10          1 2001-06-08 14:21:01 -",
        "PROFILE.EXEC", false, 700, utc(2001, 6, 8, 14, 21, 1));
    row("z/vm, short date",
        "README   FTPMSG   F         80          3          1  6/08/01 14:21:01 TCP291",
        "README.FTPMSG", false, 240, utc(2001, 6, 8, 14, 21, 1));
    row("os-9 folder", "   0.0      93/10/07 1504  d-ewrewr       18       1c0 CMDS", "CMDS", true,
        0, utc(1993, 10, 7, 15, 4));
    row("os-9 file", "  12.34    05/01/25 0915  ----r-wr      3f4      4d2 startup", "startup",
        false, 1234, utc(2005, 1, 25, 9, 15));
    row("nortel wfftp", "readme.txt          1014196  06/03/04  Thur.   10:20:03", "readme.txt",
        false, 1014196, utc(2004, 6, 3, 10, 20, 3));
    row("nortel vxworks folder", "      512       FEB-04-1997  17:00:22   logs               <DIR>",
        "logs", true, 0, utc(1997, 2, 4, 17, 0, 22));
    row("nortel vxworks file", "     1289       FEB-04-1997  17:00:22   boot.cfg", "boot.cfg",
        false, 1289, utc(1997, 2, 4, 17, 0, 22));
    row("nonstop", "IARPAFIL       101            1024  5-Apr-05 12:00:00   255,255 \"oooo\"",
        "IARPAFIL", false, 1024, utc(2005, 4, 5, 12));
    row("nonstop, open file",
        "ALTDATA        180 O          8192 21-Jan-04 09:15:22   100,1   \"nunu\"", "ALTDATA",
        false, 8192, utc(2004, 1, 21, 9, 15, 22));
}

} // namespace

void TestListingParser::familyEntries_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<quint64>("size");
    QTest::addColumn<QDateTime>("modified");
    unixVariants();
    otherFamilies();
}

void TestListingParser::familyEntries()
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

// Whole listings as servers send them: headers, totals and error lines are skipped, entries
// split over two lines are joined, and a line no parser takes hides nothing after it.
void TestListingParser::listingsMixHeadersAndEntries_data()
{
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<QByteArrayList>("names");
    QTest::addColumn<int>("notUnderstood"); // lines that may have named an entry

    QTest::newRow("vms") << QByteArray("Directory DKA0:[JONES]\n"
                                       "\n"
                                       "AN_EXTREMELY_LONG_FILE_NAME.DATA;12\n"
                                       "                    41/42    30-DEC-1999 23:59:59.41 "
                                       "[JONES]  (RWED,RWED,,)\n"
                                       "SECRET.DAT;1        %RMS-E-PRV, insufficient privilege\n"
                                       "ORPHAN.TXT;1\n"
                                       "LOGIN.COM;2         3/4   12-NOV-2003 09:14:51  [STAFF, "
                                       "JONES]  (RWED,RWED,RE,)\n"
                                       "\n"
                                       "Total of 3 files, 44/46 blocks.\n")
                         << QByteArrayList{"AN_EXTREMELY_LONG_FILE_NAME.DATA;12", "LOGIN.COM;2"}
                         << 2;
    QTest::newRow("mvs members")
        << QByteArray(" Name     VV.MM   Created       Changed      Size  Init   Mod   Id\n"
                      "ALPHA     01.03 2002/09/12 2002/09/12 11:30    20    20     0 ANN\n"
                      "BETA\n"
                      "GAMMA\n")
        << QByteArrayList{"ALPHA", "BETA", "GAMMA"} << 0;
    QTest::newRow("bare names without a member header")
        << QByteArray("BETA\nGAMMA\n") << QByteArrayList{} << 2;
    QTest::newRow("mvs datasets")
        << QByteArray("Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname\n"
                      "WYOSPT 3390   2003/09/08  1   15  FB      80  3120  PS  ADSSE.CNTL\n"
                      "Migrated                                                HLQ.OLD\n")
        << QByteArrayList{"ADSSE.CNTL", "HLQ.OLD"} << 0;
    QTest::newRow("odd lines between unix lines")
        << QByteArray("total 12\n"
                      "-rw-r--r-- 1 ann staff 5 Jan  5  2020 one\n"
                      "some banner the server printed\n"
                      "-rw-r--r-- 1 ann staff 5 Foo  5  2020 unknown-month\n"
                      "drwxr-xr-x 2 ann staff 4096 2005-06-07 21:22 two\n"
                      "   0.0      93/10/07 1504  d-ewrewr       18       1c0 three\n")
        << QByteArrayList{"one", "two", "three"} << 2;
    QTest::newRow("nonstop and os-9 headers")
        << QByteArray("File         Code             EOF  Last Modification    Owner  RWEP\n"
                      " Owner    Last modified  Attributes Sector Bytecount Name\n"
                      "-------   -------------  ---------- ------ --------- ----\n")
        << QByteArrayList{} << 0;
    QTest::newRow("localized totals and dos footers")
        << QByteArray("insgesamt 1,5M\n"
                      "\xd0\xb8\xd1\x82\xd0\xbe\xd0\xb3\xd0\xbe 8\n"
                      " Volume in drive C is DATA\n"
                      " Directory of C:\\ftp\n"
                      "04-27-00  09:09PM       <DIR>          licensed\n"
                      "               1 File(s)          1,234 bytes\n"
                      "               2 Dir(s)  9,999,999 bytes free\n")
        << QByteArrayList{"licensed"} << 0;
    QTest::newRow("mlsd folder itself by its path")
        << QByteArray("type=cdir;modify=20200102030405; /home/ann\n"
                      "Type=PDIR /home\n"
                      "type=file;size=1; a\n"
                      "type=file;size=1; b/c\n")
        << QByteArrayList{"a"} << 1;
    QTest::newRow("a name and a number is no total")
        << QByteArray("README 12\n") << QByteArrayList{} << 1;
    QTest::newRow("a long vms name at the very end")
        << QByteArray("LOGIN.COM;2         3/4   12-NOV-2003 09:14:51  [JONES]  (RWED,RWED,RE,)\n"
                      "A_NAME_LEFT_WITHOUT_DETAILS.TXT;1")
        << QByteArrayList{"LOGIN.COM;2"} << 1;
    QTest::newRow("an error in place of an entry")
        << QByteArray("total 8\n"
                      "-rw-r--r--    1 1001     1001           12 Dec 10 11:07 a.txt\n"
                      "ls: cannot access 'b.txt': Permission denied\n")
        << QByteArrayList{"a.txt"} << 1;
}

void TestListingParser::listingsMixHeadersAndEntries()
{
    QFETCH(QByteArray, listing);
    QFETCH(QByteArrayList, names);
    QFETCH(int, notUnderstood);

    ListingLineParser parser(kNow.toSecsSinceEpoch());
    QByteArrayList got;
    for (const QByteArray& line : listing.split('\n')) {
        WIN32_FIND_DATAA data;
        if (parser.parse(view(line), data))
            got << QByteArray(data.cFileName);
    }
    QCOMPARE(got, names);
    QCOMPARE(int(parser.notUnderstood()), notUnderstood);
}
