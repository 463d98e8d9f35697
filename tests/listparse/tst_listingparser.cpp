// MLSD lines, the name rules shared by every form, and robustness against mangled input.
#include "tst_listingparser.h"

#include <QTest>

#include <cstring>

namespace {

std::string_view view(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

const QDateTime kNoTime = utc(1601, 1, 1);

} // namespace

void TestListingParser::mlsdEntries_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<quint64>("size");
    QTest::addColumn<QDateTime>("modified");

    QTest::newRow("file") << QByteArray("type=file;size=1024;modify=20200102030405; notes.txt")
                          << QByteArray("notes.txt") << false << quint64(1024)
                          << utc(2020, 1, 2, 3, 4, 5);
    QTest::newRow("fact names and values in any case")
        << QByteArray("Type=File;SIZE=7;Modify=20200102030405; upper.txt")
        << QByteArray("upper.txt") << false << quint64(7) << utc(2020, 1, 2, 3, 4, 5);
    QTest::newRow("folder") << QByteArray("TYPE=DIR;MODIFY=19991231235959; Folder")
                            << QByteArray("Folder") << true << quint64(0)
                            << utc(1999, 12, 31, 23, 59, 59);
    QTest::newRow("folder size is not a file size")
        << QByteArray("type=dir;size=4096;sizd=4096; d") << QByteArray("d") << true << quint64(0)
        << kNoTime;
    QTest::newRow("cdir passed on")
        << QByteArray("type=cdir;modify=20200102030405; .") << QByteArray(".") << true << quint64(0)
        << utc(2020, 1, 2, 3, 4, 5);
    QTest::newRow("pdir passed on")
        << QByteArray("type=pdir; ..") << QByteArray("..") << true << quint64(0) << kNoTime;
    QTest::newRow("final semicolon missing")
        << QByteArray("type=file;size=3 nosemicolon.txt") << QByteArray("nosemicolon.txt") << false
        << quint64(3) << kNoTime;
    QTest::newRow("leading blanks belong to the name")
        << QByteArray("type=file;size=1;   two blanks") << QByteArray("  two blanks") << false
        << quint64(1) << kNoTime;
    QTest::newRow("trailing blank belongs to the name")
        << QByteArray("type=file;size=1; trailing ") << QByteArray("trailing ") << false
        << quint64(1) << kNoTime;
    QTest::newRow("fact characters inside the name")
        << QByteArray("type=file;size=1; a;b=c d.txt") << QByteArray("a;b=c d.txt") << false
        << quint64(1) << kNoTime;
    QTest::newRow("symlink is a file") << QByteArray("type=OS.unix=symlink;size=9; link")
                                       << QByteArray("link") << false << quint64(9) << kNoTime;
    QTest::newRow("slink with target is a file")
        << QByteArray("type=OS.unix=slink:/etc;modify=20200102030405; etc-link")
        << QByteArray("etc-link") << false << quint64(0) << utc(2020, 1, 2, 3, 4, 5);
    QTest::newRow("device is a file") << QByteArray("type=OS.unix=chr-13/29; tty")
                                      << QByteArray("tty") << false << quint64(0) << kNoTime;
    QTest::newRow("5 GiB fills both halves")
        << QByteArray("type=file;size=5368709120; big.iso") << QByteArray("big.iso") << false
        << quint64(5368709120ULL) << kNoTime;
    QTest::newRow("largest 64-bit size")
        << QByteArray("type=file;size=18446744073709551615; huge") << QByteArray("huge") << false
        << quint64(18446744073709551615ULL) << kNoTime;
    QTest::newRow("milliseconds") << QByteArray("type=file;modify=20200102030405.123; ms")
                                  << QByteArray("ms") << false << quint64(0)
                                  << utc(2020, 1, 2, 3, 4, 5, 123);
    QTest::newRow("tenths") << QByteArray("type=file;modify=20200102030405.5; tenth")
                            << QByteArray("tenth") << false << quint64(0)
                            << utc(2020, 1, 2, 3, 4, 5, 500);
    QTest::newRow("microseconds cut to milliseconds")
        << QByteArray("type=file;modify=20200102030405.123999; us") << QByteArray("us") << false
        << quint64(0) << utc(2020, 1, 2, 3, 4, 5, 123);
    QTest::newRow("leap day") << QByteArray("type=file;modify=20240229120000; leap")
                              << QByteArray("leap") << false << quint64(0) << utc(2024, 2, 29, 12);
    QTest::newRow("leap second held as :59")
        << QByteArray("type=file;modify=20161231235960; leapsec") << QByteArray("leapsec") << false
        << quint64(0) << utc(2016, 12, 31, 23, 59, 59);
    QTest::newRow("before 1970") << QByteArray("type=file;modify=19690720201700; moon")
                                 << QByteArray("moon") << false << quint64(0)
                                 << utc(1969, 7, 20, 20, 17);
    QTest::newRow("unknown facts ignored")
        << QByteArray("unix.mode=0644;perm=adfr;type=file;unique=803U1;size=0; x")
        << QByteArray("x") << false << quint64(0) << kNoTime;
    QTest::newRow("utf-8 name") << QByteArray("type=file;size=1; Gr\xc3\xbc\xc3\x9f"
                                              "e.txt")
                                << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                              "e.txt")
                                << false << quint64(1) << kNoTime;
    QTest::newRow("digits and blanks in the name")
        << QByteArray("type=file;size=1; 2024 12 31 report") << QByteArray("2024 12 31 report")
        << false << quint64(1) << kNoTime;
    QTest::newRow("backslash is an ordinary character")
        << QByteArray("type=file; a\\b") << QByteArray("a\\b") << false << quint64(0) << kNoTime;

    // A fact no file can have leaves the entry shown with that fact unknown: its name exists.
    const quint64 unknown = ~quint64(0);
    const QDateTime when = utc(2020, 1, 2, 3, 4, 5);
    const struct
    {
        const char* tag;
        const char* facts;
        quint64 size;
        bool dated;
    } unknownFacts[] = {
        {"unknown type is a file", "type=weird;size=3;modify=20200102030405;", 3, true},
        {"empty type is a file", "type=;size=3;modify=20200102030405;", 3, true},
        {"negative size", "type=file;size=-1;modify=20200102030405;", unknown, true},
        {"signed size", "type=file;size=+1;modify=20200102030405;", unknown, true},
        {"size with junk", "type=file;size=12a;modify=20200102030405;", unknown, true},
        {"empty size", "type=file;size=;modify=20200102030405;", unknown, true},
        {"20-digit size", "type=file;size=18446744073709551616;modify=20200102030405;", unknown,
         true},
        {"year above 9999", "type=file;size=7;modify=100000102030405;", 7, false},
        {"short time", "type=file;size=7;modify=2020010203040;", 7, false},
        {"month 13", "type=file;size=7;modify=20201301000000;", 7, false},
        {"Feb 29 of a common year", "type=file;size=7;modify=20210229000000;", 7, false},
        {"hour 24", "type=file;size=7;modify=20200102240000;", 7, false},
        {"empty fraction", "type=file;size=7;modify=20200102030405.;", 7, false},
        {"zone letter", "type=file;size=7;modify=20200102030405Z;", 7, false},
        {"ISO form", "type=file;size=7;modify=2020-01-02T03:04:05;", 7, false},
    };
    for (const auto& row : unknownFacts)
        QTest::newRow(row.tag) << QByteArray(row.facts) + " x" << QByteArray("x") << false
                               << row.size << (row.dated ? when : kNoTime);
}

void TestListingParser::mlsdEntries()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, name);
    QFETCH(bool, folder);
    QFETCH(quint64, size);
    QFETCH(QDateTime, modified);

    WIN32_FIND_DATAA data;
    QVERIFY(ParseMlsdLine(view(line), data));
    QCOMPARE(QByteArray(data.cFileName), name);
    QCOMPARE(data.dwFileAttributes, folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL);
    QCOMPARE(sizeOf(data), size);
    QCOMPARE(writtenAt(data), modified);
}

void TestListingParser::mlsdRejected_data()
{
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("no name") << QByteArray("type=file;size=1;");
    QTest::newRow("empty name") << QByteArray("type=file;size=1; ");
    QTest::newRow("slash in name") << QByteArray("type=file; a/b");
    QTest::newRow("climbs out") << QByteArray("type=file; ../x");
    QTest::newRow("cdir as full path") << QByteArray("type=cdir; /home/user");
    QTest::newRow("NUL in name") << QByteArray("type=file; a\0b", 14);
    QTest::newRow("no type") << QByteArray("size=1; notype");
    QTest::newRow("no facts at all") << QByteArray(" name");
    QTest::newRow("fact without value sign") << QByteArray("typefile; x");
    QTest::newRow("fact without name") << QByteArray("=file; x");
}

void TestListingParser::mlsdRejected()
{
    QFETCH(QByteArray, line);
    WIN32_FIND_DATAA data;
    QVERIFY(!ParseMlsdLine(view(line), data));
}

void TestListingParser::nameLengthLimit_data()
{
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<bool>("mlsd");

    QTest::newRow("mlsd") << QByteArray("type=file;size=1; ") << true;
    QTest::newRow("unix") << QByteArray("-rw-r--r-- 1 u g 1 Jan  5  2020 ") << false;
    QTest::newRow("dos") << QByteArray("01-05-2020  10:00AM  1 ") << false;
    QTest::newRow("eplf") << QByteArray("+r,s1,\t") << false;
}

void TestListingParser::nameLengthLimit()
{
    QFETCH(QByteArray, prefix);
    QFETCH(bool, mlsd);
    auto parse = [&](int length, WIN32_FIND_DATAA& data) {
        const QByteArray line = prefix + QByteArray(length, 'n');
        return mlsd ? ParseMlsdLine(view(line), data) : ParseListLine(view(line), 0, data);
    };
    WIN32_FIND_DATAA data;
    // cFileName holds MAX_PATH bytes including its terminator.
    QVERIFY(parse(int(MAX_PATH) - 1, data));
    QCOMPARE(std::strlen(data.cFileName), std::size_t(MAX_PATH - 1));
    QVERIFY(!parse(int(MAX_PATH), data));
    QVERIFY(!parse(100000, data));
}

void TestListingParser::recordHoldsNothingOfPreviousEntry()
{
    WIN32_FIND_DATAA fresh{};
    QVERIFY(ParseMlsdLine("type=file;size=1; a", fresh));
    WIN32_FIND_DATAA reused;
    std::memset(&reused, 0xAB, sizeof reused);
    QVERIFY(ParseMlsdLine("type=file;size=1; a", reused));
    QCOMPARE(std::memcmp(&fresh, &reused, sizeof fresh), 0);
    QCOMPARE(reused.cAlternateFileName[0], '\0');

    std::memset(&reused, 0xAB, sizeof reused);
    QVERIFY(ParseListLine("-rw-r--r-- 1 u g 1 Jan  5  2020 a", 0, reused));
    QCOMPARE(reused.cFileName[1], '\0');
    QCOMPARE(reused.dwReserved0, DWORD(0));
}

// Every prefix of real lines, and each with single bytes replaced by troublesome ones, must
// parse without reading outside the line (the sanitizer build watches) and may only ever
// yield a name that is really in the line and that a directory can hold.
void TestListingParser::truncatedAndMangledLinesAreSafe()
{
    const QList<QByteArray> samples = {
        "type=file;size=1024;modify=20200102030405.123; notes.txt",
        "type=OS.unix=slink:/etc;size=3 link",
        "drwxr-xr-x   2 ftp      ftp          4096 Mar  3 14:07 pub",
        "crw-rw-rw-   1 root     root       1,   3 Jan  5 09:00 null",
        "lrwxrwxrwx   1 ftp      ftp            11 Jan  5  2020 www -> /var/www",
        "04-27-00  09:09PM       <DIR>          licensed",
        "11-18-2003  11:06 PM      1,234,567 report.pdf",
        "+i8388621.48594,m825718503,r,s280,\tdjb.html",
    };
    const QByteArray troublesome("\0/ 9;,:-\t\xff", 10);
    WIN32_FIND_DATAA data;
    auto check = [&](const QByteArray& line) {
        const bool mlsdOk = ParseMlsdLine(view(line), data);
        const QByteArray mlsdName(data.cFileName);
        if (mlsdOk)
            QVERIFY2(!mlsdName.isEmpty() && !mlsdName.contains('/') && line.contains(mlsdName),
                     line.constData());
        if (ParseListLine(view(line), 1781524800, data)) {
            const QByteArray name(data.cFileName);
            QVERIFY2(!name.isEmpty() && !name.contains('/') && line.contains(name),
                     line.constData());
        }
    };
    for (const QByteArray& sample : samples) {
        for (qsizetype length = 0; length <= sample.size(); ++length)
            check(sample.left(length));
        for (qsizetype at = 0; at < sample.size(); ++at) {
            for (const char byte : troublesome) {
                QByteArray mangled = sample;
                mangled[at] = byte;
                check(mangled);
                if (QTest::currentTestFailed())
                    return;
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestListingParser)
