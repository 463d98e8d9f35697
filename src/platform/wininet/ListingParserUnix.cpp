// LIST lines in the Unix "ls -l" form and the forms built on it, e.g.
//   drwxr-xr-x   2 ftp      ftp          4096 Mar  3 14:07 pub
//   -rw-r--r--   1 ftp          1234 Dec 24  2019 notes.txt          (no group column)
//   crw-rw-rw-   1 root     root       1,   3 Jan  5 09:00 null       (device: major, minor)
//   lrwxrwxrwx   1 ftp      ftp            11 Jan  5 09:00 www -> /var/www
//   -rw-r--r--   1 Domain Users  staff  33.5k 2005-06-07 21:22 a b    (blanks in owner, unit)
//   d [R----F--] supervisor            512       Jan 16 18:53    login (NetWare)
//   -C--E-----FTP B QUA1I1      18128       41 Aug 12 13:56 QUA1I1    (Connect:Enterprise)
// The date forms are in ListingParserUnixDate.cpp.
#include "ListingParserDetail.h"

#include <cmath>
#include <limits>

namespace listing {

namespace {

// "drwxr-xr-x", "-rwsr-sr-t", optionally followed by an ACL or security marker ("+", "@", ".").
bool isModeText(std::string_view mode)
{
    if (mode.size() != 10 &&
        !(mode.size() == 11 && std::string_view("+@.").find(mode[10]) != std::string_view::npos))
        return false;
    if (std::string_view("-dlcbpsD").find(mode[0]) == std::string_view::npos)
        return false;
    for (std::size_t i = 1; i < 10; ++i)
        if (std::string_view("-rwxsStTlL").find(mode[i]) == std::string_view::npos)
            return false;
    return true;
}

// NetWare: "d" or "-", then the trustee rights in brackets ("[RWCEAFMS]", "-" for a right not
// granted).
bool isNetWareRights(std::string_view rights)
{
    return rights.size() == 10 && rights.front() == '[' && rights.back() == ']' &&
           rights.substr(1, 8).find_first_not_of("RWCEAFMS-") == std::string_view::npos;
}

// Connect:Enterprise mailboxes: ten flag columns of capitals and dashes, the protocol glued
// on ("-C--E-----FTP").
bool isMailboxFlags(std::string_view flags)
{
    return flags.size() >= 10 && flags.size() <= 16 && flags.front() == '-' &&
           flags.substr(0, 10).find_first_not_of("-ABCDEFGHIJKLMNOPQRSTUVWXYZ") ==
               std::string_view::npos &&
           flags.substr(10).find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") ==
               std::string_view::npos;
}

// The mode as a number ("100644", "40755", "120777"), as some servers print st_mode in
// octal: the file type bits name the kind, so a count of links or an inode number, which
// precede a mode text, is never taken for it. The letter is the one ls would show.
char octalModeType(std::string_view text)
{
    std::uint64_t mode = 0;
    if (text.size() < 5 || text.size() > 7 ||
        text.find_first_not_of("01234567") != std::string_view::npos)
        return 0;
    for (const char digit : text)
        mode = mode * 8 + std::uint64_t(digit - '0');
    switch (mode >> 12) {
    case 010:
        return '-';
    case 004:
        return 'd';
    case 012:
        return 'l';
    case 002:
        return 'c';
    case 006:
        return 'b';
    case 001:
        return 'p';
    case 014:
        return 's';
    default:
        return 0;
    }
}

bool isNumber(std::string_view text)
{
    std::uint64_t ignored = 0;
    return parseUnsigned(text, std::numeric_limits<std::uint32_t>::max(), ignored);
}

// "33.5k", "12M", "1.2G": sizes some servers round to a unit of 1024.
bool parseUnitSize(std::string_view text, std::uint64_t& size)
{
    if (text.size() < 2 || text.size() > 12)
        return false;
    static constexpr std::string_view kUnits = "kmgt";
    const char unit =
        text.back() >= 'A' && text.back() <= 'Z' ? char(text.back() + 32) : text.back();
    const std::size_t power = kUnits.find(unit);
    if (power == std::string_view::npos)
        return false;
    text.remove_suffix(1);
    const std::size_t dot = text.find('.');
    std::uint64_t whole = 0;
    std::uint64_t fraction = 0;
    const std::string_view fractionText =
        dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (!parseUnsigned(text.substr(0, dot), 999999, whole) ||
        (dot != std::string_view::npos &&
         (fractionText.size() > 3 || !parseUnsigned(fractionText, 999, fraction))))
        return false;
    double value = double(whole);
    if (!fractionText.empty())
        value += double(fraction) / std::pow(10.0, double(fractionText.size()));
    size = static_cast<std::uint64_t>(std::llround(value * std::pow(1024.0, double(power + 1))));
    return true;
}

// A group name too long for its column runs into the size: "ftpusers1234567". The size is
// the digits after the last letter.
bool parseGluedSize(std::string_view text, std::uint64_t& size)
{
    const std::size_t digits = text.find_last_not_of("0123456789") + 1;
    if (digits == 0 || digits == text.size())
        return false;
    const char last = text[digits - 1];
    const char first = text.front();
    const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    return isLetter(first) && isLetter(last) &&
           parseUnsigned(text.substr(digits), std::numeric_limits<std::uint64_t>::max(), size);
}

// "-1294967296" (a 32-bit server's count for a file over 2 GiB) or more digits than 64 bits
// hold: the entry is there, its size is not known.
bool isImpossibleSize(std::string_view text, std::uint64_t& size)
{
    if (!text.empty() && text.front() == '-')
        text.remove_prefix(1);
    if (text.empty() || text.size() > 40 ||
        text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    size = kUnknownSize;
    return true;
}

// The size column before the date: a byte count, for a device file its "major, minor", a
// size with a unit, or one glued to the group.
bool readSize(const Fields& fields, std::size_t at, char type, std::uint64_t& size)
{
    const std::string_view text = fields[at];
    if (type == 'c' || type == 'b') {
        size = 0;
        const std::size_t comma = text.find(',');
        if (comma != std::string_view::npos) // "1,3"
            return isNumber(text.substr(0, comma)) && isNumber(text.substr(comma + 1));
        if (at < 2) // "1,   3": the major number is the column before
            return false;
        const std::string_view major = fields[at - 1];
        return major.size() > 1 && major.back() == ',' &&
               isNumber(major.substr(0, major.size() - 1)) && isNumber(text);
    }
    return parseUnsigned(text, std::numeric_limits<std::uint64_t>::max(), size) ||
           parseUnitSize(text, size) || parseGluedSize(text, size) || isImpossibleSize(text, size);
}

struct Layout
{
    std::size_t first; // the first column that may be an owner or size
    char type;         // the mode's first letter
    bool paddedName;   // the name column is padded (NetWare): its leading blanks are padding
};

// The columns before owner and size: the mode, after an inode number and a block count when
// the server lists with -i and -s.
bool readLayout(const Fields& fields, Layout& layout)
{
    std::size_t mode = 0;
    while (mode < 2 && mode + 1 < fields.size() && isNumber(fields[mode]))
        ++mode;
    if (mode + 1 >= fields.size())
        return false;
    const std::string_view text = fields[mode];
    if (isModeText(text)) {
        layout = {mode + 1, text[0], false};
        return true;
    }
    if (mode == 0 && (text == "d" || text == "-") && isNetWareRights(fields[1])) {
        layout = {2, text[0], true};
        return true;
    }
    if (mode == 0 && text.size() == 11 && (text[0] == 'd' || text[0] == '-') &&
        isNetWareRights(text.substr(1))) { // "-[RWCEAFMS]"
        layout = {1, text[0], true};
        return true;
    }
    if (mode == 0 && isMailboxFlags(text)) {
        layout = {1, '-', false};
        return true;
    }
    if (const char type = octalModeType(fields[0]);
        type != 0 && !isModeText(fields[1]) && !(fields.size() > 2 && isModeText(fields[2]))) {
        layout = {1, type, false};
        return true;
    }
    return false;
}

bool finishEntry(const Fields& fields, std::size_t nameAfter, const Layout& layout,
                 std::uint64_t size, const ListDate& date, std::int64_t nowUtc,
                 WIN32_FIND_DATAA& out)
{
    FILETIME written{};
    if (!dateToFileTime(date, nowUtc, written))
        return false;
    // ls separates the name by exactly one blank; more blanks belong to the name.
    const std::string_view line = fields.line();
    std::size_t nameBegin = fields.end(nameAfter) + 1;
    if (layout.paddedName)
        while (nameBegin < line.size() && isBlank(line[nameBegin]))
            ++nameBegin;
    if (nameBegin >= line.size())
        return false;
    std::string_view name = line.substr(nameBegin);
    if (layout.type == 'l') {
        const std::size_t arrow = name.find(" -> ");
        if (arrow != std::string_view::npos)
            name = name.substr(0, arrow);
    }
    // A link is passed on as a file, for the reason given at MLSD's "OS.unix=slink".
    const bool folder = layout.type == 'd';
    if (!fillEntry(name, folder, folder ? 0 : size, written, out))
        return false;
    markDateOnly(date, out);
    return true;
}

bool looksLikeDateStart(const Fields& fields, std::size_t at)
{
    ListDate ignored;
    return at < fields.size() &&
           (isNumber(fields[at]) || parseClock(fields[at], ignored) ||
            monthFromName(fields[at]) != 0 || (at + 1 < fields.size() && isNumber(fields[at + 1])));
}

// "-rw-r--r--   1 owner    group        1234 name": servers that show no date. Taken only
// when what follows the size can't be the start of a date that failed to parse, or the
// name would be a guess.
bool parseWithoutDate(const Fields& fields, const Layout& layout, WIN32_FIND_DATAA& out)
{
    const std::size_t first = layout.first;
    const bool links = isNumber(fields[first]);
    const std::size_t sizeAt = first + (links ? 3 : 2);
    std::uint64_t size = 0;
    if (sizeAt + 1 >= fields.size() || layout.paddedName ||
        !parseUnsigned(fields[sizeAt], std::numeric_limits<std::uint64_t>::max(), size) ||
        looksLikeDateStart(fields, sizeAt + 1))
        return false;
    return finishEntry(fields, sizeAt, layout, size, ListDate{}, 0, out);
}

} // namespace

bool parseUnixLine(std::string_view line, std::int64_t nowUtc, WIN32_FIND_DATAA& out)
{
    const Fields fields(line);
    Layout layout{};
    if (fields.size() < 4 || !readLayout(fields, layout))
        return false;
    // Owner and group columns may be missing, hold blanks, or be names like "May"; the first
    // place where a size is followed by a complete date is the date, and the name comes after
    // it. ls's own date form is looked for first along the whole line: numeric owners and
    // groups ("1001 1001 4095 Dec 10 11:07") put numbers before the size that other forms
    // would take for a year or a day. Dates written as bare numbers come last.
    for (const DateForms forms : {DateForms::Common, DateForms::Named, DateForms::PlainNumbers}) {
        for (std::size_t at = layout.first + 1; at + 1 < fields.size(); ++at) {
            std::uint64_t size = 0;
            if (!readSize(fields, at - 1, layout.type, size))
                continue;
            ListDate date;
            const std::size_t taken = readListDate(fields, at, forms, date);
            if (taken != 0)
                return finishEntry(fields, at + taken - 1, layout, size, date, nowUtc, out);
        }
    }
    return parseWithoutDate(fields, layout, out);
}

} // namespace listing
