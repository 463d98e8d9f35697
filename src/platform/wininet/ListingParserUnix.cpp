// LIST lines in the Unix "ls -l" form, e.g.
//   drwxr-xr-x   2 ftp      ftp          4096 Mar  3 14:07 pub
//   -rw-r--r--   1 ftp          1234 Dec 24  2019 notes.txt          (no group column)
//   crw-rw-rw-   1 root     root       1,   3 Jan  5 09:00 null       (device: major, minor)
//   lrwxrwxrwx   1 ftp      ftp            11 Jan  5 09:00 www -> /var/www
#include "ListingParserDetail.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace listing {

namespace {

// Anything more than this far ahead of the caller's clock cannot be this year's entry: ls
// prints the time of day only for recent files, so the date is from last year. The slack
// absorbs time-zone differences (the server shows its local time) and clock skew.
constexpr std::int64_t kFutureSlackSeconds = 3 * 86400;

struct Token
{
    std::size_t begin;
    std::size_t end;
};

std::vector<Token> splitBlanks(std::string_view line)
{
    std::vector<Token> tokens;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            ++pos;
        const std::size_t begin = pos;
        while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t')
            ++pos;
        if (pos > begin)
            tokens.push_back({begin, pos});
    }
    return tokens;
}

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

bool isNumber(std::string_view text)
{
    std::uint64_t ignored = 0;
    return parseUnsigned(text, std::numeric_limits<std::uint32_t>::max(), ignored);
}

// Only for values that fit an int (max at most 9999).
int smallNumber(std::string_view text, std::uint64_t max)
{
    std::uint64_t value = 0;
    return parseUnsigned(text, max, value) ? static_cast<int>(value) : -1;
}

// "14:07" into hour and minute.
bool parseTimeOfDay(std::string_view text, int& hour, int& minute)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() != colon + 3)
        return false;
    hour = smallNumber(text.substr(0, colon), 23);
    minute = smallNumber(text.substr(colon + 1), 59);
    return hour >= 0 && minute >= 0;
}

// The latest year in which the date is not clearly in the future. Trying the next year too
// keeps "Jan  1 00:10" right when the server's clock has already passed New Year and ours has
// not; going back a few years finds the leap year a "Feb 29" must belong to.
int yearOfRecentDate(int month, int day, int hour, int minute, std::int64_t nowUtc)
{
    // The caller's clock, held to the years a FILETIME can show.
    nowUtc = std::clamp<std::int64_t>(nowUtc, 0, unixFromCivil(9998, 1, 1, 0, 0));
    // Civil year of nowUtc without a time library: an estimate from below, then whole years.
    int year = 1970 + static_cast<int>(nowUtc / 86400 / 366);
    while (unixFromCivil(year + 1, 1, 1, 0, 0) <= nowUtc)
        ++year;
    for (int candidate = year + 1; candidate >= year - 8; --candidate) {
        if (!isValidDate(candidate, month, day))
            continue;
        if (unixFromCivil(candidate, month, day, hour, minute) <= nowUtc + kFutureSlackSeconds)
            return candidate;
    }
    return 0;
}

struct UnixDate
{
    int month = 0;
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    bool timeOfDay = false;
};

// "Mar  3 14:07" or "Dec 24  2019" starting at tokens[at].
bool readDate(std::string_view line, const std::vector<Token>& tokens, std::size_t at,
              UnixDate& date)
{
    auto text = [&](std::size_t i) {
        return line.substr(tokens[i].begin, tokens[i].end - tokens[i].begin);
    };
    date.month = monthFromName(text(at));
    date.day = smallNumber(text(at + 1), 31);
    if (date.month == 0 || date.day < 1)
        return false;
    const std::string_view last = text(at + 2);
    if (parseTimeOfDay(last, date.hour, date.minute)) {
        date.timeOfDay = true;
        return true;
    }
    date.year = last.size() == 4 ? smallNumber(last, 9999) : -1;
    return date.year >= 1601;
}

// The size column before the date: a byte count, or for a device file its "major, minor".
bool readSize(std::string_view line, const std::vector<Token>& tokens, std::size_t at, char type,
              std::uint64_t& size)
{
    const std::string_view text = line.substr(tokens[at].begin, tokens[at].end - tokens[at].begin);
    if (type == 'c' || type == 'b') {
        size = 0;
        const std::size_t comma = text.find(',');
        if (comma != std::string_view::npos) // "1,3"
            return isNumber(text.substr(0, comma)) && isNumber(text.substr(comma + 1));
        if (at < 2) // "1,   3": the major number is the token before
            return false;
        const Token& major = tokens[at - 1];
        return line[major.end - 1] == ',' &&
               isNumber(line.substr(major.begin, major.end - 1 - major.begin)) && isNumber(text);
    }
    return parseUnsigned(text, std::numeric_limits<std::uint64_t>::max(), size);
}

} // namespace

bool parseUnixLine(std::string_view line, std::int64_t nowUtc, WIN32_FIND_DATAA& out)
{
    const std::vector<Token> tokens = splitBlanks(line);
    if (tokens.size() < 5 ||
        !isModeText(line.substr(tokens[0].begin, tokens[0].end - tokens[0].begin)))
        return false;
    const char type = line[tokens[0].begin];
    // Owner and group columns may be missing, or be names like "May"; the first place where a
    // size is followed by a complete date is the date, and the name comes after it.
    for (std::size_t at = 2; at + 2 < tokens.size(); ++at) {
        UnixDate date;
        std::uint64_t size = 0;
        if (!readDate(line, tokens, at, date) || !readSize(line, tokens, at - 1, type, size))
            continue;
        if (date.timeOfDay)
            date.year = yearOfRecentDate(date.month, date.day, date.hour, date.minute, nowUtc);
        FILETIME written{};
        if (!makeFileTime(date.year, date.month, date.day, date.hour, date.minute, 0, 0, written))
            return false;
        // ls separates the name by exactly one blank; more blanks belong to the name.
        const std::size_t nameBegin = tokens[at + 2].end + 1;
        if (nameBegin >= line.size())
            return false;
        std::string_view name = line.substr(nameBegin);
        if (type == 'l') {
            const std::size_t arrow = name.find(" -> ");
            if (arrow != std::string_view::npos)
                name = name.substr(0, arrow);
        }
        // A link is passed on as a file, for the reason given at MLSD's "OS.unix=slink".
        const bool folder = type == 'd';
        return fillEntry(name, folder, folder ? 0 : size, written, out);
    }
    return false;
}

} // namespace listing
