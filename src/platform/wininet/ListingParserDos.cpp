// LIST lines of DOS-style servers (IIS and others), OS/2 and EPLF
// (http://cr.yp.to/ftp/list/eplf.html):
//   04-27-00  09:09PM       <DIR>          licensed
//   11-18-2003  11:06      1,234,567 report.pdf
//   2002-09-02  19:06          9,730 name.txt
//        0           DIR   02-18-98  15:14  lambda                       (OS/2)
//   +i8388621.48594,m825718503,r,s280,\tdjb.html
#include "ListingParserDetail.h"

#include <algorithm>
#include <limits>
#include <string>

namespace listing {

namespace {

std::string_view nextToken(std::string_view& rest)
{
    const std::size_t begin = std::min(rest.find_first_not_of(' '), rest.size());
    rest.remove_prefix(begin);
    const std::size_t end = std::min(rest.find(' '), rest.size());
    const std::string_view token = rest.substr(0, end);
    rest.remove_prefix(end);
    return token;
}

int fieldValue(std::string_view text, int maxDigits)
{
    std::uint64_t value = 0;
    if (text.empty() || text.size() > static_cast<std::size_t>(maxDigits) ||
        !parseUnsigned(text, 9999, value))
        return -1;
    return static_cast<int>(value);
}

// "MM-DD-YY", "MM-DD-YYYY" or "YYYY-MM-DD". Two-digit years follow the usual window: 70..99
// are 19xx.
bool parseDosDate(std::string_view text, int& year, int& month, int& day)
{
    if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        year = fieldValue(text.substr(0, 4), 4);
        month = fieldValue(text.substr(5, 2), 2);
        day = fieldValue(text.substr(8, 2), 2);
        return isValidDate(year, month, day);
    }
    const std::size_t first = text.find('-');
    const std::size_t second = first == std::string_view::npos ? first : text.find('-', first + 1);
    if (second == std::string_view::npos || first != 2 || second != 5)
        return false;
    month = fieldValue(text.substr(0, 2), 2);
    day = fieldValue(text.substr(3, 2), 2);
    const std::string_view yearText = text.substr(6);
    if (yearText.size() != 2 && yearText.size() != 4)
        return false;
    year = fieldValue(yearText, 4);
    if (year < 0 || month < 0 || day < 0)
        return false;
    if (yearText.size() == 2)
        year += year < 70 ? 2000 : 1900;
    return isValidDate(year, month, day);
}

// "09:09PM", "09:09 PM" (the suffix as its own token) or 24-hour "21:09".
bool parseDosTime(std::string_view text, std::string_view& rest, int& hour, int& minute)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() < colon + 3)
        return false;
    hour = fieldValue(text.substr(0, colon), 2);
    minute = fieldValue(text.substr(colon + 1, 2), 2);
    std::string_view suffix = text.substr(colon + 3);
    if (suffix.empty()) {
        std::string_view lookAhead = rest;
        const std::string_view next = nextToken(lookAhead);
        if (next == "AM" || next == "PM" || next == "am" || next == "pm") {
            suffix = next;
            rest = lookAhead;
        }
    }
    if (hour < 0 || minute < 0 || minute > 59)
        return false;
    if (suffix.empty())
        return hour <= 23;
    if (hour < 1 || hour > 12)
        return false;
    const bool pm = suffix == "PM" || suffix == "pm";
    if (!pm && suffix != "AM" && suffix != "am")
        return false;
    hour = hour % 12 + (pm ? 12 : 0);
    return true;
}

// "1234", "1,234,567" or "1.234.567": thousands separators only between groups of three.
bool parseGroupedSize(std::string_view text, std::uint64_t& size)
{
    if (text.empty())
        return false;
    const char separator = text.find(',') != std::string_view::npos ? ',' : '.';
    std::string digits;
    std::size_t groupLength = 0;
    bool grouped = false;
    for (const char c : text) {
        if (c == separator) {
            if (groupLength == 0 || groupLength > 3 || (grouped && groupLength != 3))
                return false;
            grouped = true;
            groupLength = 0;
        } else {
            digits.push_back(c);
            ++groupLength;
        }
    }
    if (grouped && groupLength != 3)
        return false;
    return parseUnsigned(digits, std::numeric_limits<std::uint64_t>::max(), size);
}

} // namespace

bool parseDosLine(std::string_view line, WIN32_FIND_DATAA& out)
{
    std::string_view rest = line;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (!parseDosDate(nextToken(rest), year, month, day) ||
        !parseDosTime(nextToken(rest), rest, hour, minute))
        return false;
    const std::string_view sizeOrDir = nextToken(rest);
    std::uint64_t size = 0;
    const bool folder = sizeOrDir == "<DIR>" || sizeOrDir == "<dir>";
    if (!folder && !parseGroupedSize(sizeOrDir, size))
        return false;
    // The name column is padded to line up, so all blanks before it are padding.
    const std::size_t nameBegin = rest.find_first_not_of(' ');
    if (nameBegin == std::string_view::npos)
        return false;
    FILETIME written{};
    if (!makeFileTime(year, month, day, hour, minute, 0, 0, written))
        return false;
    return fillEntry(rest.substr(nameBegin), folder, size, written, out);
}

bool parseOs2Line(std::string_view line, WIN32_FIND_DATAA& out)
{
    // size, attribute columns ("A", "R", "H", "S", "DIR" or blank), MM-DD-YY, HH:MM, name
    std::string_view rest = line;
    std::uint64_t size = 0;
    if (!parseUnsigned(nextToken(rest), std::numeric_limits<std::uint64_t>::max(), size))
        return false;
    bool folder = false;
    std::string_view token = nextToken(rest);
    for (int attributes = 0; attributes < 4 && !token.empty() && token.front() >= 'A';
         ++attributes) {
        if (token == "DIR")
            folder = true;
        else if (token.find_first_not_of("ARHS") != std::string_view::npos)
            return false;
        token = nextToken(rest);
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    // Some servers count years from 1900 past 1999: "04-23-103" is 2003.
    std::string date(token);
    if (date.size() == 9 && date[6] == '1' && fieldValue(token.substr(6), 3) >= 100)
        date = date.substr(0, 6) + std::to_string(1900 + fieldValue(token.substr(6), 3));
    if (date.size() != 8 && date.size() != 10)
        return false;
    if (!parseDosDate(date, year, month, day))
        return false;
    const std::string_view clock = nextToken(rest);
    if (clock.size() != 5 || clock[2] != ':')
        return false;
    hour = fieldValue(clock.substr(0, 2), 2);
    minute = fieldValue(clock.substr(3), 2);
    // The name column is padded to line up, so all blanks before it are padding.
    const std::size_t nameBegin = rest.find_first_not_of(' ');
    FILETIME written{};
    if (nameBegin == std::string_view::npos ||
        !makeFileTime(year, month, day, hour, minute, 0, 0, written))
        return false;
    return fillEntry(rest.substr(nameBegin), folder, folder ? 0 : size, written, out);
}

bool parseEplfLine(std::string_view line, WIN32_FIND_DATAA& out)
{
    // "+" facts separated by ",", a tab, then the name exactly as the server holds it.
    const std::size_t tab = line.find('\t');
    if (line.empty() || line.front() != '+' || tab == std::string_view::npos)
        return false;
    std::string_view facts = line.substr(1, tab - 1);
    bool folder = false;
    std::uint64_t size = 0;
    FILETIME written{};
    while (!facts.empty()) {
        const std::size_t end = std::min(facts.find(','), facts.size());
        const std::string_view fact = facts.substr(0, end);
        facts.remove_prefix(std::min(end + 1, facts.size()));
        if (fact.empty())
            continue;
        const std::string_view value = fact.substr(1);
        switch (fact.front()) {
        case '/':
            folder = true;
            break;
        // A size or time no file can have ("s-1", a time past the year 9999) leaves the entry
        // shown with that fact unknown rather than its name hidden.
        case 's':
            if (!parseUnsigned(value, std::numeric_limits<std::uint64_t>::max(), size))
                size = kUnknownSize;
            break;
        case 'm': {
            std::uint64_t seconds = 0;
            if (!parseUnsigned(value, std::numeric_limits<std::uint64_t>::max(), seconds) ||
                !fileTimeFromUnix(seconds, written))
                written = FILETIME{};
            break;
        }
        default: // "r" (retrievable), "i" (identity), "up" (permissions) and future facts
            break;
        }
    }
    return fillEntry(line.substr(tab + 1), folder, folder ? 0 : size, written, out);
}

} // namespace listing
