#include "common/FileListModel.h"
#include "common/FileListRows.h"
#include "common/RemoteFilesCompare.h"
#include "remote/FtpServerSession.h"

#include <QItemSelectionModel>
#include <QLocale>
#include <QtTest>

#include <climits>
#include <cstring>

// The row form shared by both lists and the one order both are sorted in.
class TestRowSort : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void compareTable_data();
    void compareTable();
    void folderFirstUnderEveryCode_data();
    void folderFirstUnderEveryCode();
    void strictOrderAgreesWithCompare();
    void sortKeepsListingOrderForEqualKeys_data();
    void sortKeepsListingOrderForEqualKeys();
    void sortAgreesWithStrictOrder_data();
    void sortAgreesWithStrictOrder();
    void unknownSizeAndDateShowEmptyAndSortFirst_data();
    void unknownSizeAndDateShowEmptyAndSortFirst();
    void columnClickCodes_data();
    void columnClickCodes();
    void imageIndex_data();
    void imageIndex();
    void localSeconds_data();
    void localSeconds();
    void zeroDateTimeBefore1980();
    void rowFromFindData_data();
    void rowFromFindData();
    void nameFieldIsBounded();
    void modifiedText_data();
    void modifiedText();
    void dateOnlyRowShowsTheListedDay_data();
    void dateOnlyRowShowsTheListedDay();
    void shortTimeFormatHasNoSeconds_data();
    void shortTimeFormatHasNoSeconds();
    void modelSortKeepsSelection();
};

namespace {

FileListRow fileRow(const QString& name, qint64 size, qint64 minutes = 0)
{
    FileListRow row;
    row.name = name;
    row.size = size;
    row.imageIndex = FileListImageIndex(name, false);
    row.modifiedMinutes = minutes;
    return row;
}

FileListRow folderRow(const QString& name, qint64 minutes = 0)
{
    FileListRow row;
    row.name = name;
    row.imageIndex = kFolderImage;
    row.modifiedMinutes = minutes;
    return row;
}

qint64 fileTimeOf(const QDateTime& utc)
{
    return FileTimeFromUnix(utc.toSecsSinceEpoch());
}

// The same time in a find record's two halves.
FILETIME findTimeOf(const QDateTime& utc)
{
    const auto ticks = static_cast<quint64>(fileTimeOf(utc));
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

QStringList namesOf(const std::vector<FileListRow>& rows)
{
    QStringList names;
    for (const FileListRow& row : rows)
        names << row.name;
    return names;
}

} // namespace

void TestRowSort::compareTable_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<FileListRow>("item1");
    QTest::addColumn<FileListRow>("item2");
    QTest::addColumn<int>("expected");
    const auto upperB = fileRow("B.txt", 5, 200);
    const auto lowerA = fileRow("a.txt", 10, 100);
    QTest::newRow("upper case before lower") << 1 << upperB << lowerA << -1;
    QTest::newRow("lower case after upper") << 1 << lowerA << upperB << 1;
    QTest::newRow("prefix first") << 1 << fileRow("abc", 1) << fileRow("abcd", 1) << -1;
    QTest::newRow("longer after prefix") << 1 << fileRow("abcd", 1) << fileRow("abc", 1) << 1;
    QTest::newRow("equal names answer +1") << 1 << fileRow("x", 1) << fileRow("x", 2) << 1;
    QTest::newRow("descending turns round") << -1 << upperB << lowerA << 1;
    QTest::newRow("descending equal names -1") << -1 << fileRow("x", 1) << fileRow("x", 2) << -1;
    QTest::newRow("two folders by name") << 1 << folderRow("b") << folderRow("a") << 1;
    QTest::newRow("smaller size first") << 2 << upperB << lowerA << -1;
    QTest::newRow("larger size after") << 2 << lowerA << upperB << 1;
    QTest::newRow("sizes are numbers, not texts") << 2 << fileRow("n", 9) << fileRow("m", 10) << -1;
    QTest::newRow("zero bytes is a file") << 2 << fileRow("z", 0) << fileRow("y", 1) << -1;
    QTest::newRow("5 GiB after 4 GiB")
        << 2 << fileRow("big", 5LL << 30) << fileRow("b", 4LL << 30) << 1;
    QTest::newRow("equal sizes +1") << 2 << fileRow("a", 7) << fileRow("b", 7) << 1;
    QTest::newRow("size descending") << -2 << upperB << lowerA << 1;
    QTest::newRow("two folders by size are equal") << 2 << folderRow("b") << folderRow("a") << 1;
    QTest::newRow("earlier first") << 3 << lowerA << upperB << -1;
    QTest::newRow("later after") << 3 << upperB << lowerA << 1;
    QTest::newRow("same minute +1") << 3 << fileRow("a", 1, 50) << fileRow("b", 2, 50) << 1;
    QTest::newRow("modified descending") << -3 << lowerA << upperB << 1;
    QTest::newRow("code 0 unset") << 0 << upperB << lowerA << 0;
    QTest::newRow("code 4 unset") << 4 << upperB << lowerA << 0;
    QTest::newRow("code -7 unset") << -7 << upperB << lowerA << 0;
    QTest::newRow("lowest code unset") << INT_MIN << upperB << lowerA << 0;
}

void TestRowSort::compareTable()
{
    QFETCH(int, code);
    QFETCH(FileListRow, item1);
    QFETCH(FileListRow, item2);
    QFETCH(int, expected);
    QCOMPARE(RemoteFilesCompare(code, item1, item2), expected);
}

void TestRowSort::folderFirstUnderEveryCode_data()
{
    QTest::addColumn<int>("code");
    for (int code : {0, 1, -1, 2, -2, 3, -3, 4, -9})
        QTest::addRow("code %d", code) << code;
}

void TestRowSort::folderFirstUnderEveryCode()
{
    QFETCH(int, code);
    const FileListRow folder = folderRow("zzz", 999);
    const FileListRow file = fileRow("AAA", 0, 1);
    QCOMPARE(RemoteFilesCompare(code, folder, file), -1);
    QCOMPARE(RemoteFilesCompare(code, file, folder), 1);
    std::vector<FileListRow> rows{fileRow("b", 3, 3), folderRow("y"), fileRow("a", 1, 1),
                                  folderRow("x")};
    SortFileListRows(rows, code);
    QVERIFY(rows[0].isFolder());
    QVERIFY(rows[1].isFolder());
    QVERIFY(!rows[2].isFolder());
    QVERIFY(!rows[3].isFolder());
}

void TestRowSort::strictOrderAgreesWithCompare()
{
    // Equal keys answer +1 both ways, which no sort may take as an order; the sort's own
    // "before" must be a strict weak order that agrees with the compare where it decides.
    const std::vector<FileListRow> rows{
        fileRow("a", 1, 10), fileRow("a", 2, 10), fileRow("B", 1, 11),
        fileRow("b", 3, 9),  folderRow("a", 10),  folderRow("c", 10),
    };
    for (int code : {0, 1, -1, 2, -2, 3, -3, 5}) {
        for (const FileListRow& a : rows) {
            QVERIFY(!FileListRowBefore(code, a, a));
            for (const FileListRow& b : rows) {
                const bool before = FileListRowBefore(code, a, b);
                QVERIFY(!(before && FileListRowBefore(code, b, a)));
                const bool decided =
                    RemoteFilesCompare(code, a, b) == -1 && RemoteFilesCompare(code, b, a) == 1;
                QCOMPARE(before, decided);
                for (const FileListRow& c : rows) {
                    if (before && FileListRowBefore(code, b, c))
                        QVERIFY(FileListRowBefore(code, a, c));
                }
            }
        }
    }
}

void TestRowSort::sortKeepsListingOrderForEqualKeys_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("expected");
    // Listing order: f2 b(5) a(5) f1 c(1) B(9); b and a share size 5 and minute 7.
    QTest::newRow("no sort column") << 0 << QStringList{"f2", "f1", "b", "a", "c", "B"};
    QTest::newRow("unknown column") << 8 << QStringList{"f2", "f1", "b", "a", "c", "B"};
    QTest::newRow("name ascending") << 1 << QStringList{"f1", "f2", "B", "a", "b", "c"};
    QTest::newRow("name descending") << -1 << QStringList{"f2", "f1", "c", "b", "a", "B"};
    QTest::newRow("size ascending") << 2 << QStringList{"f2", "f1", "c", "b", "a", "B"};
    QTest::newRow("size descending") << -2 << QStringList{"f2", "f1", "B", "b", "a", "c"};
    QTest::newRow("modified ascending") << 3 << QStringList{"f1", "f2", "c", "b", "a", "B"};
    QTest::newRow("modified descending") << -3 << QStringList{"f2", "f1", "B", "b", "a", "c"};
}

void TestRowSort::sortKeepsListingOrderForEqualKeys()
{
    QFETCH(int, code);
    QFETCH(QStringList, expected);
    std::vector<FileListRow> rows{folderRow("f2", 20), fileRow("b", 5, 7), fileRow("a", 5, 7),
                                  folderRow("f1", 10), fileRow("c", 1, 3), fileRow("B", 9, 8)};
    const std::vector<int> order = SortFileListRows(rows, code);
    QCOMPARE(namesOf(rows), expected);
    const QStringList listing{"f2", "b", "a", "f1", "c", "B"};
    for (size_t i = 0; i < order.size(); ++i)
        QCOMPARE(listing[order[i]], expected[static_cast<qsizetype>(i)]);
}

void TestRowSort::sortAgreesWithStrictOrder_data()
{
    QTest::addColumn<int>("code");
    for (int code : {0, 1, -1, 2, -2, 3, -3, 6})
        QTest::addRow("code %d", code) << code;
}

void TestRowSort::sortAgreesWithStrictOrder()
{
    // The sort compares packed keys first; it must give exactly the order that a stable sort
    // by the row compare gives, also for names that share long prefixes, differ only after
    // the eighth character or in case, are prefixes of each other, or leave the BMP.
    QFETCH(int, code);
    const QStringList stems{"IMG_0001", "IMG_00010", "img_0001", "IMG_0001.jpg", "IMG_0001.JPG",
                            "a",        "",          "B",        "été",          "😀x",
                            "�z",       "abcdefgh",  "abcdefghi"};
    std::vector<FileListRow> rows;
    quint32 state = 12345;
    const auto next = [&] {
        state = state * 1103515245u + 12345u;
        return (state >> 16) & 0x7FFF;
    };
    for (int i = 0; i < 600; ++i) {
        const QString name = stems[next() % stems.size()] +
                             (next() % 3 == 0 ? QString::number(next() % 4) : QString());
        const qint64 minutes = static_cast<qint64>(next() % 5) - 2;
        rows.push_back(next() % 6 == 0 ? folderRow(name, minutes)
                                       : fileRow(name, qint64(next() % 5) - 1, minutes));
    }
    std::vector<FileListRow> expected = rows;
    std::stable_sort(
        expected.begin(), expected.end(),
        [&](const FileListRow& a, const FileListRow& b) { return FileListRowBefore(code, a, b); });
    std::vector<FileListRow> sorted = rows;
    const std::vector<int> order = SortFileListRows(sorted, code);
    for (size_t i = 0; i < rows.size(); ++i) {
        QCOMPARE(sorted[i].name, expected[i].name);
        QCOMPARE(sorted[i].size, expected[i].size);
        QCOMPARE(sorted[i].modifiedMinutes, expected[i].modifiedMinutes);
        QCOMPARE(sorted[i].isFolder(), expected[i].isFolder());
        QCOMPARE(rows[static_cast<size_t>(order[i])].name, sorted[i].name);
    }
}

void TestRowSort::unknownSizeAndDateShowEmptyAndSortFirst_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("order");
    // "size?" has no size, "date?" no date, "old" a date before 1980 (the zero date-time).
    QTest::newRow("size ascending") << 2 << QStringList{"size?", "empty", "old", "date?"};
    QTest::newRow("size descending") << -2 << QStringList{"date?", "old", "empty", "size?"};
    QTest::newRow("modified ascending") << 3 << QStringList{"date?", "old", "empty", "size?"};
    QTest::newRow("modified descending") << -3 << QStringList{"size?", "empty", "old", "date?"};
}

void TestRowSort::unknownSizeAndDateShowEmptyAndSortFirst()
{
    QFETCH(int, code);
    QFETCH(QStringList, order);
    const struct
    {
        const char* name;
        DWORD high, low;
        FILETIME written;
    } entries[] = {
        {"empty", 0, 0, findTimeOf(QDateTime({2021, 1, 2}, {3, 4}, Qt::UTC))},
        {"size?", INVALID_FILE_SIZE, INVALID_FILE_SIZE,
         findTimeOf(QDateTime({2022, 1, 2}, {3, 4}, Qt::UTC))},
        {"date?", 0, 9, FILETIME{0, 0}},
        {"old", 0, 5, findTimeOf(QDateTime({1975, 1, 2}, {3, 4}, Qt::UTC))},
    };
    FileListRowBuilder builder(0, QStringLiteral("yyyy-MM-dd"), QStringLiteral("HH:mm"));
    std::vector<FileListRow> rows;
    for (const auto& entry : entries) {
        WIN32_FIND_DATAA data{};
        data.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
        data.nFileSizeHigh = entry.high;
        data.nFileSizeLow = entry.low;
        data.ftLastWriteTime = entry.written;
        std::strcpy(data.cFileName, entry.name);
        rows.push_back(builder.build(FtpListedEntry(data)));
    }
    QCOMPARE(rows[1].sizeText(), QStringLiteral("?"));
    QVERIFY(!rows[1].isFolder());
    QCOMPARE(rows[2].modifiedText, QString());
    QCOMPARE(rows[3].modifiedText, QStringLiteral("1899-12-30 00:00"));
    std::vector<FileListRow> strict = rows;
    std::stable_sort(strict.begin(), strict.end(), [&](const FileListRow& a, const FileListRow& b) {
        return FileListRowBefore(code, a, b);
    });
    SortFileListRows(rows, code);
    QCOMPARE(namesOf(rows), order);
    QCOMPARE(namesOf(strict), order);
}

void TestRowSort::columnClickCodes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("next");
    QTest::newRow("default Name click descends") << 1 << 0 << -1;
    QTest::newRow("third click ascends again") << -1 << 0 << 1;
    QTest::newRow("another column ascends") << 1 << 1 << 2;
    QTest::newRow("from no column") << 0 << 2 << 3;
    QTest::newRow("descending Modified clicked") << -3 << 2 << 3;
    QTest::newRow("ascending Modified clicked") << 3 << 2 << -3;
    QTest::newRow("from descending Size to Name") << -2 << 0 << 1;
}

void TestRowSort::columnClickCodes()
{
    QFETCH(int, code);
    QFETCH(int, column);
    QFETCH(int, next);
    QCOMPARE(SortCodeAfterColumnClick(code, column), next);
}

void TestRowSort::imageIndex_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<int>("image");
    QTest::newRow("zip archive") << "data.zip" << false << kArchiveImage;
    QTest::newRow("upper case") << "DATA.ZIP" << false << kArchiveImage;
    QTest::newRow("zip in the middle") << "backup.zip.old" << false << kArchiveImage;
    QTest::newRow("zipper") << "my.zipper" << false << kArchiveImage;
    QTest::newRow("folder named zip") << "old.zip" << true << kFolderImage;
    QTest::newRow("no dot") << "zipfile" << false << kFileImage;
    QTest::newRow("cut short") << "a.zi" << false << kFileImage;
    QTest::newRow("other extension") << "a.zap" << false << kFileImage;
    QTest::newRow("plain file") << "readme" << false << kFileImage;
    QTest::newRow("non-ASCII lookalike")
        << QString::fromUtf8("a.\xc5\xbaip") << false << kFileImage;
}

void TestRowSort::imageIndex()
{
    QFETCH(QString, name);
    QFETCH(bool, folder);
    QFETCH(int, image);
    QCOMPARE(FileListImageIndex(name, folder), image);
}

void TestRowSort::localSeconds_data()
{
    QTest::addColumn<QDateTime>("utc");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QDateTime>("local"); // invalid: the zero date-time
    const Qt::TimeSpec utc = Qt::UTC;
    QTest::newRow("first DOS second")
        << QDateTime({1980, 1, 1}, {0, 0}, utc) << 0 << QDateTime({1980, 1, 1}, {0, 0}, utc);
    QTest::newRow("before 1980") << QDateTime({1979, 12, 31}, {23, 59, 59}, utc) << 0
                                 << QDateTime();
    QTest::newRow("offset pushes before 1980")
        << QDateTime({1980, 1, 1}, {0, 30}, utc) << -3600 << QDateTime();
    QTest::newRow("offset pulls into 1980") << QDateTime({1979, 12, 31}, {23, 30}, utc) << 3600
                                            << QDateTime({1980, 1, 1}, {0, 30}, utc);
    QTest::newRow("odd second rounds down")
        << QDateTime({2020, 3, 4}, {5, 6, 7}, utc) << 0 << QDateTime({2020, 3, 4}, {5, 6, 6}, utc);
    QTest::newRow("last DOS second") << QDateTime({2107, 12, 31}, {23, 59, 59}, utc) << 0
                                     << QDateTime({2107, 12, 31}, {23, 59, 58}, utc);
    QTest::newRow("after 2107") << QDateTime({2108, 1, 1}, {0, 0}, utc) << 0 << QDateTime();
    QTest::newRow("offset east") << QDateTime({2024, 6, 30}, {23, 0}, utc) << 7200
                                 << QDateTime({2024, 7, 1}, {1, 0}, utc);
}

void TestRowSort::localSeconds()
{
    QFETCH(QDateTime, utc);
    QFETCH(int, offset);
    QFETCH(QDateTime, local);
    const QDateTime zero({1899, 12, 30}, {0, 0}, Qt::UTC);
    const qint64 expected = local.isValid() ? zero.secsTo(local) : 0;
    QCOMPARE(FileTimeToLocalSeconds(fileTimeOf(utc), offset), expected);
}

void TestRowSort::zeroDateTimeBefore1980()
{
    QCOMPARE(FileTimeToLocalDateTime(0), QDateTime({1899, 12, 30}, {0, 0}));
    QCOMPARE(FileTimeToLocalDateTime(-1), QDateTime({1899, 12, 30}, {0, 0}));
    // A recent stamp comes back as the same instant in local time, to two seconds.
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime back = FileTimeToLocalDateTime(FileTimeFromUnix(now.toSecsSinceEpoch()));
    QVERIFY(qAbs(back.secsTo(now)) <= 2);
}

void TestRowSort::rowFromFindData_data()
{
    QTest::addColumn<quint32>("attributes");
    QTest::addColumn<quint32>("high");
    QTest::addColumn<quint32>("low");
    QTest::addColumn<QString>("sizeText");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("image");
    QTest::newRow("small file") << 0x80u << 0u << 1234u << "1234" << qint64(1234) << kFileImage;
    QTest::newRow("empty file") << 0x80u << 0u << 0u << "0" << qint64(0) << kFileImage;
    QTest::newRow("5 GiB") << 0x80u << 1u << 0x40000000u << "5368709120" << qint64(5368709120)
                           << kFileImage;
    QTest::newRow("4 GiB boundary")
        << 0u << 1u << 0u << "4294967296" << qint64(4294967296) << kFileImage;
    QTest::newRow("sizes past qint64 saturate") << 0u << 0x80000000u << 0u << "9223372036854775808"
                                                << std::numeric_limits<qint64>::max() << kFileImage;
    QTest::newRow("no size the server could give")
        << 0x80u << 0xFFFFFFFFu << 0xFFFFFFFFu << "?" << kUnknownRowSize << kFileImage;
    QTest::newRow("folder ignores size") << 0x10u << 0u << 4096u << "" << qint64(0) << kFolderImage;
}

void TestRowSort::rowFromFindData()
{
    QFETCH(quint32, attributes);
    QFETCH(quint32, high);
    QFETCH(quint32, low);
    QFETCH(QString, sizeText);
    QFETCH(qint64, size);
    QFETCH(int, image);
    WIN32_FIND_DATAA entry{};
    entry.dwFileAttributes = attributes;
    entry.nFileSizeHigh = high;
    entry.nFileSizeLow = low;
    std::strcpy(entry.cFileName, "entry");
    entry.ftLastWriteTime = findTimeOf(QDateTime({2021, 1, 2}, {3, 4, 5}, Qt::UTC));
    FileListRowBuilder builder(0, QStringLiteral("yyyy-MM-dd"), QStringLiteral("HH:mm"));
    const FileListRow row = builder.build(FtpListedEntry(entry));
    QCOMPARE(row.name, QStringLiteral("entry"));
    QCOMPARE(row.sizeText(), sizeText);
    QCOMPARE(row.size, size);
    QCOMPARE(row.imageIndex, image);
    QCOMPARE(row.isFolder(), sizeText.isEmpty());
    QCOMPARE(row.modifiedText, QStringLiteral("2021-01-02 03:04"));
}

void TestRowSort::nameFieldIsBounded()
{
    FileListRowBuilder builder(0, QStringLiteral("yyyy"), QStringLiteral("HH"));
    WIN32_FIND_DATAA entry{};
    // A full name field with no terminator must not run into the fields after it.
    std::memset(entry.cFileName, 'n', sizeof entry.cFileName);
    std::memset(entry.cAlternateFileName, 'X', sizeof entry.cAlternateFileName);
    QCOMPARE(builder.build(FtpListedEntry(entry)).name, QString(MAX_PATH, QLatin1Char('n')));
    std::strcpy(entry.cFileName, "cut");
    QCOMPARE(builder.build(FtpListedEntry(entry)).name, QStringLiteral("cut"));
    std::strcpy(entry.cFileName, "caf\xc3\xa9 menu.txt");
    QCOMPARE(builder.build(FtpListedEntry(entry)).name, QString::fromUtf8("caf\xc3\xa9 menu.txt"));
}

void TestRowSort::modifiedText_data()
{
    QTest::addColumn<QString>("dateFormat");
    QTest::addColumn<QString>("timeFormat");
    QTest::addColumn<QDateTime>("utc");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("text");
    const Qt::TimeSpec utc = Qt::UTC;
    QTest::newRow("24-hour") << "dd/MM/yyyy"
                             << "HH:mm" << QDateTime({2020, 3, 4}, {5, 6, 7}, utc) << 0
                             << "04/03/2020 05:06";
    QTest::newRow("12-hour with marker")
        << "M/d/yy"
        << "h:mm AP" << QDateTime({2020, 3, 4}, {17, 6, 59}, utc) << 0 << "3/4/20 5:06 PM";
    QTest::newRow("offset applied")
        << "yyyy-MM-dd"
        << "HH:mm" << QDateTime({2020, 12, 31}, {23, 30}, utc) << 3600 << "2021-01-01 00:30";
    QTest::newRow("zero date-time")
        << "dd.MM.yyyy"
        << "HH:mm" << QDateTime({1975, 5, 5}, {12, 0}, utc) << 0 << "30.12.1899 00:00";
}

void TestRowSort::modifiedText()
{
    QFETCH(QString, dateFormat);
    QFETCH(QString, timeFormat);
    QFETCH(QDateTime, utc);
    QFETCH(int, offset);
    QFETCH(QString, text);
    FileListRowBuilder builder(offset, dateFormat, timeFormat);
    const FileListRow row = builder.build(QStringLiteral("f"), false, 1, fileTimeOf(utc));
    QCOMPARE(row.modifiedText, text);
    // Asked again (from the cache) it is the same text.
    QCOMPARE(builder.build(QStringLiteral("g"), true, 0, fileTimeOf(utc)).modifiedText, text);
}

void TestRowSort::dateOnlyRowShowsTheListedDay_data()
{
    QTest::addColumn<int>("offset");
    QTest::newRow("west of UTC") << -5 * 3600;
    QTest::newRow("UTC") << 0;
    QTest::newRow("east of UTC") << 3600;
}

void TestRowSort::dateOnlyRowShowsTheListedDay()
{
    QFETCH(int, offset);
    FileListRowBuilder builder(offset, QStringLiteral("yyyy-MM-dd"), QStringLiteral("HH:mm"));
    WIN32_FIND_DATAA entry{};
    std::strcpy(entry.cFileName, "old.txt");
    entry.ftLastWriteTime = findTimeOf(QDateTime({2019, 12, 10}, {0, 0}, Qt::UTC));
    entry.dwReserved1 = FIND_DATA_DATE_ONLY;
    const FileListRow old = builder.build(FtpListedEntry(entry));
    QCOMPARE(old.modifiedText, QStringLiteral("2019-12-10"));
    QVERIFY(old.modifiedDateOnly);
    // The same moment listed with its time is shown in local time, as before.
    entry.dwReserved1 = 0;
    const FileListRow exact = builder.build(FtpListedEntry(entry));
    QCOMPARE(exact.modifiedText, QDateTime({2019, 12, 10}, {0, 0}, Qt::UTC)
                                     .addSecs(offset)
                                     .toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    // The day sorts among the exact times as its own 00:00.
    entry.ftLastWriteTime =
        findTimeOf(QDateTime({2019, 12, 9}, {23, 59}, Qt::UTC).addSecs(-offset));
    QVERIFY(builder.build(FtpListedEntry(entry)).modifiedMinutes < old.modifiedMinutes);
}

void TestRowSort::shortTimeFormatHasNoSeconds_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("C") << QLocale::c();
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany);
    QTest::newRow("fi_FI") << QLocale(QLocale::Finnish, QLocale::Finland);
}

void TestRowSort::shortTimeFormatHasNoSeconds()
{
    QFETCH(QLocale, locale);
    const QString format = FileListRowBuilder::shortTimeFormat(locale);
    QVERIFY2(!format.contains(QLatin1Char('s')), qPrintable(format));
    QVERIFY2(format.contains(QLatin1Char('m')), qPrintable(format));
    const QString shown = QTime(13, 7, 42).toString(format);
    QVERIFY2(!shown.contains(QStringLiteral("42")), qPrintable(shown));
}

void TestRowSort::modelSortKeepsSelection()
{
    FileListModel model;
    model.setRows(
        {fileRow("delta", 4), fileRow("alpha", 1), folderRow("zeta"), fileRow("beta", 2)});
    QItemSelectionModel selection(&model);
    selection.select(model.index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection.setCurrentIndex(model.index(3, 0), QItemSelectionModel::NoUpdate);
    model.sortRows(1);
    QCOMPARE(model.row(0).name, QStringLiteral("zeta"));
    QCOMPARE(model.row(1).name, QStringLiteral("alpha"));
    const QModelIndexList selected = selection.selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(model.row(selected.first().row()).name, QStringLiteral("delta"));
    QCOMPARE(model.row(selection.currentIndex().row()).name, QStringLiteral("beta"));
    ClearFileList(model);
    QCOMPARE(model.rowCount(), 0);
}

QTEST_MAIN(TestRowSort)
#include "tst_rowsort.moc"
