// LIST lines of OS-9, Nortel (WfFtp on its routers, and the VxWorks "ls -l" of its switches)
// and HP NonStop (Guardian).
#include "ListingParserDetail.h"

#include <limits>

namespace listing {

namespace {

bool isNumber(std::string_view text, std::uint64_t& value)
{
    return parseUnsigned(text, std::numeric_limits<std::uint64_t>::max(), value);
}

// The name column after `after`, padding blanks skipped.
std::string_view paddedName(const Fields& fields, std::size_t after)
{
    const std::string_view line = fields.line();
    std::size_t begin = fields.end(after);
    while (begin < line.size() && isBlank(line[begin]))
        ++begin;
    return line.substr(begin);
}

// "d-ewrewr": folder flag, then public and owner rights.
bool isOs9Attributes(std::string_view text)
{
    static constexpr std::string_view kLetters = "dsewrewr";
    if (text.size() != kLetters.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != '-' && text[i] != kLetters[i])
            return false;
    return true;
}

// "1504": the time of day as four digits.
bool parseCompactClock(std::string_view text, ListDate& date)
{
    if (text.size() != 4)
        return false;
    date.hour = smallValue(text.substr(0, 2));
    date.minute = smallValue(text.substr(2));
    date.clock = true;
    return date.hour >= 0 && date.hour <= 23 && date.minute >= 0 && date.minute <= 59;
}

// "93/10/07": OS-9 writes the year first, in two digits.
bool parseShortYearFirst(std::string_view text, ListDate& date)
{
    if (text.size() != 8 || text[2] != '/' || text[5] != '/')
        return false;
    date.year = smallValue(text.substr(0, 2));
    date.month = smallValue(text.substr(3, 2));
    date.day = smallValue(text.substr(6, 2));
    if (date.year < 0)
        return false;
    date.year += date.year < 70 ? 2000 : 1900;
    return isValidDate(date.year, date.month, date.day);
}

bool isWeekday(std::string_view text)
{
    static constexpr std::string_view kDays[] = {"Sun.", "Mon.",  "Tue.",   "Tues.", "Wed.",
                                                 "Thu.", "Thur.", "Thurs.", "Fri.",  "Sat."};
    for (const std::string_view day : kDays)
        if (equalsNoCase(text, day))
            return true;
    return false;
}

// "FEB-04-1997": month name, day, year.
bool parseNamedMonthDate(std::string_view text, ListDate& date)
{
    if (text.size() != 11 || text[3] != '-' || text[6] != '-')
        return false;
    date.month = monthFromName(text.substr(0, 3));
    date.day = smallValue(text.substr(4, 2));
    date.year = smallValue(text.substr(7));
    return date.month != 0 && isValidDate(date.year, date.month, date.day);
}

// "5-Apr-05" or "21-JAN-2004": day, month name, year.
bool parseDayMonthYear(std::string_view text, ListDate& date)
{
    const std::size_t first = text.find('-');
    const std::size_t second = text.rfind('-');
    if (first == std::string_view::npos || first == 0 || first > 2 || second != first + 4)
        return false;
    date.day = smallValue(text.substr(0, first));
    date.month = monthFromName(text.substr(first + 1, 3));
    const std::string_view year = text.substr(second + 1);
    date.year = smallValue(year);
    if (year.size() == 2 && date.year >= 0)
        date.year += date.year < 70 ? 2000 : 1900;
    else if (year.size() != 4)
        return false;
    return date.month != 0 && isValidDate(date.year, date.month, date.day);
}

} // namespace

//    Owner    Last modified  Attributes Sector Bytecount Name
//    0.0      93/10/07 1504  d-ewrewr       18       1c0 CMDS
//    12.34    05/01/25 0915  ----r-wr      3f4      4d2 startup
// Sector and byte count are hexadecimal.
bool parseOs9Line(std::string_view line, WIN32_FIND_DATAA& out)
{
    const Fields fields(line);
    std::uint64_t ignored = 0, size = 0;
    ListDate date;
    const std::string_view owner = fields.size() >= 7 ? fields[0] : std::string_view();
    const std::size_t dot = owner.find('.');
    if (dot == std::string_view::npos || !isNumber(owner.substr(0, dot), ignored) ||
        !isNumber(owner.substr(dot + 1), ignored) || !parseShortYearFirst(fields[1], date) ||
        !parseCompactClock(fields[2], date) || !isOs9Attributes(fields[3]) ||
        !parseHex(fields[4], 16, ignored) || !parseHex(fields[5], 16, size))
        return false;
    return fillDatedEntry(paddedName(fields, 5), fields[3].front() == 'd', size, date, out);
}

//   readme.txt          1014196  06/03/04  Thur.   10:20:03        (WfFtp)
//     1289       FEB-04-1997  17:00:22   boot.cfg                   (VxWorks)
//      512       FEB-04-1997  17:00:22   logs               <DIR>
bool parseNortelLine(std::string_view line, WIN32_FIND_DATAA& out)
{
    const Fields fields(line);
    std::uint64_t size = 0;
    ListDate date;
    if (fields.size() == 5 && isNumber(fields[1], size) &&
        parseNumericDate(fields[2], "/", false, true, date) && isWeekday(fields[3]) &&
        parseClock(fields[4], date))
        return fillDatedEntry(fields[0], false, size, date, out);
    if (fields.size() < 4 || !isNumber(fields[0], size) || !parseNamedMonthDate(fields[1], date) ||
        !parseClock(fields[2], date))
        return false;
    std::string_view name = paddedName(fields, 2);
    const bool folder = fields[fields.size() - 1] == "<DIR>" && fields.size() < Fields::kMax;
    if (folder) {
        name = name.substr(0, fields.begin(fields.size() - 1) - fields.begin(3));
        while (!name.empty() && isBlank(name.back()))
            name.remove_suffix(1);
    }
    return fillDatedEntry(name, folder, size, date, out);
}

//   File         Code             EOF  Last Modification    Owner  RWEP
//   IARPAFIL       101            1024  5-Apr-05 12:00:00   255,255 "oooo"
//   ALTDATA        180 O          8192 21-Jan-04 09:15:22   100,1   "nunu"
bool parseNonStopLine(std::string_view line, WIN32_FIND_DATAA& out)
{
    const Fields fields(line);
    std::uint64_t code = 0, size = 0;
    if (fields.size() < 6 || fields[0].size() > 8 || !isNumber(fields[1], code))
        return false;
    // A letter after the code marks the file open ("O") or audited ("A").
    std::size_t at = 2;
    if (fields[at].size() == 1 && fields[at][0] >= 'A' && fields[at][0] <= 'Z')
        ++at;
    ListDate date;
    if (fields.size() < at + 4 || !isNumber(fields[at], size) ||
        !parseDayMonthYear(fields[at + 1], date) || !parseClock(fields[at + 2], date))
        return false;
    const std::string_view owner = fields[at + 3];
    const std::size_t comma = owner.find(',');
    std::uint64_t ignored = 0;
    if (comma == std::string_view::npos || !isNumber(owner.substr(0, comma), ignored) ||
        !isNumber(owner.substr(comma + 1), ignored))
        return false;
    const std::string_view name = fields[0];
    const bool letter = (name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z');
    return letter && fillDatedEntry(name, false, size, date, out);
}

} // namespace listing
