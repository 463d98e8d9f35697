// MLSD lines (RFC 3659), the dispatch of LIST lines, and the helpers every parser shares.
#include "ListingParser.h"
#include "ListingParserDetail.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

namespace listing {

namespace {

// FILETIME counts 100 ns intervals from 1601-01-01; Unix time counts seconds from 1970-01-01.
constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600ULL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
constexpr std::uint64_t kTicksPerMilli = 10000ULL;
// 9999-12-31 23:59:59 UTC: past it a FILETIME is no longer a date any program shows.
constexpr std::uint64_t kLastUnixSecond = 253402300799ULL;

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t daysFromCivil(int year, int month, int day)
{
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

FILETIME splitTicks(std::uint64_t ticks)
{
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFULL), static_cast<DWORD>(ticks >> 32)};
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

int digitsValue(std::string_view text)
{
    std::uint64_t value = 0;
    return parseUnsigned(text, 9999, value) ? static_cast<int>(value) : -1;
}

} // namespace

bool parseUnsigned(std::string_view text, std::uint64_t max, std::uint64_t& value)
{
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return false;
    std::uint64_t parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || parsed > max)
        return false;
    value = parsed;
    return true;
}

bool isValidDate(int year, int month, int day)
{
    return year >= 1601 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(year, month);
}

std::int64_t unixFromCivil(int year, int month, int day, int hour, int minute)
{
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60;
}

bool makeFileTime(int year, int month, int day, int hour, int minute, int second, int millis,
                  FILETIME& out)
{
    // A leap second (":60") is a real time a server may report; it is held as :59.
    if (!isValidDate(year, month, day) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 60 || millis < 0 || millis > 999)
        return false;
    const std::int64_t sinceEpoch = unixFromCivil(year, month, day, hour, minute) +
                                    std::min(second, 59) +
                                    static_cast<std::int64_t>(kSecondsFrom1601To1970);
    const auto ticks = static_cast<std::uint64_t>(sinceEpoch) * kTicksPerSecond +
                       static_cast<std::uint64_t>(millis) * kTicksPerMilli;
    out = splitTicks(ticks);
    return true;
}

bool fileTimeFromUnix(std::uint64_t seconds, FILETIME& out)
{
    if (seconds > kLastUnixSecond)
        return false;
    out = splitTicks((seconds + kSecondsFrom1601To1970) * kTicksPerSecond);
    return true;
}

int monthFromName(std::string_view text)
{
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; ++i)
        if (equalsNoCase(text, kMonths[i]))
            return i + 1;
    return 0;
}

bool fillEntry(std::string_view name, bool folder, std::uint64_t size, const FILETIME& written,
               WIN32_FIND_DATAA& out)
{
    // A name with "/" would address another directory ("../x" climbs out of the one being
    // listed), a NUL would cut it short, and cFileName must keep its terminator.
    if (name.empty() || name.size() > MAX_PATH - 1 || name.find('/') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return false;
    out = WIN32_FIND_DATAA{};
    out.dwFileAttributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    out.ftCreationTime = written;
    out.ftLastAccessTime = written;
    out.ftLastWriteTime = written;
    out.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    out.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFULL);
    std::memcpy(out.cFileName, name.data(), name.size());
    return true;
}

namespace {

enum class MlsdKind { Unknown, File, Folder };

// "type" values: file, dir, cdir, pdir, and OS-specific kinds such as "OS.unix=slink:/x" or
// "OS.unix=chr-13/29". A link is passed on as a file: treating a link to a folder as a folder
// would let a recursive delete walk into the folder it points at and empty it.
MlsdKind mlsdKind(std::string_view type)
{
    if (equalsNoCase(type, "file"))
        return MlsdKind::File;
    if (equalsNoCase(type, "dir") || equalsNoCase(type, "cdir") || equalsNoCase(type, "pdir"))
        return MlsdKind::Folder;
    if (startsWithNoCase(type, "os.") && type.find('=') != std::string_view::npos)
        return MlsdKind::File;
    return MlsdKind::Unknown;
}

// "YYYYMMDDHHMMSS" with an optional fraction ".s" to ".sss…" (RFC 3659 time-val, UTC).
bool parseMlsdTime(std::string_view text, FILETIME& out)
{
    if (text.size() < 14)
        return false;
    int millis = 0;
    if (text.size() > 14) {
        const std::string_view fraction = text.substr(15);
        if (text[14] != '.' || fraction.empty() ||
            fraction.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        for (std::size_t i = 0; i < 3; ++i)
            millis = millis * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    }
    const int year = digitsValue(text.substr(0, 4));
    const int month = digitsValue(text.substr(4, 2));
    const int day = digitsValue(text.substr(6, 2));
    const int hour = digitsValue(text.substr(8, 2));
    const int minute = digitsValue(text.substr(10, 2));
    const int second = digitsValue(text.substr(12, 2));
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return false;
    return makeFileTime(year, month, day, hour, minute, second, millis, out);
}

} // namespace

} // namespace listing

bool ParseMlsdLine(std::string_view line, WIN32_FIND_DATAA& out)
{
    using namespace listing;
    // Facts never hold a blank, so the first blank ends them and the name follows it; any
    // further blanks belong to the name (" x" is a file called " x").
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos)
        return false;
    std::string_view facts = line.substr(0, blank);
    const std::string_view name = line.substr(blank + 1);

    MlsdKind kind = MlsdKind::Unknown;
    std::uint64_t size = 0;
    FILETIME written{};
    while (!facts.empty()) {
        // The final ";" is optional in practice: "type=file;size=3 name".
        const std::size_t end = std::min(facts.find(';'), facts.size());
        const std::string_view fact = facts.substr(0, end);
        facts.remove_prefix(std::min(end + 1, facts.size()));
        if (fact.empty())
            continue;
        const std::size_t equals = fact.find('=');
        if (equals == 0 || equals == std::string_view::npos)
            return false;
        const std::string_view key = fact.substr(0, equals);
        const std::string_view value = fact.substr(equals + 1);
        if (equalsNoCase(key, "type")) {
            kind = mlsdKind(value);
            if (kind == MlsdKind::Unknown)
                return false;
        } else if (equalsNoCase(key, "size")) {
            if (!parseUnsigned(value, std::numeric_limits<std::uint64_t>::max(), size))
                return false;
        } else if (equalsNoCase(key, "modify")) {
            if (!parseMlsdTime(value, written))
                return false;
        }
    }
    // Without a type there is no telling a folder from a file, and guessing wrong would
    // send a download into a folder or a delete at the wrong kind of entry.
    if (kind == MlsdKind::Unknown)
        return false;
    const bool folder = kind == MlsdKind::Folder;
    return fillEntry(name, folder, folder ? 0 : size, written, out);
}

bool ParseListLine(std::string_view line, std::int64_t nowUtc, WIN32_FIND_DATAA& out)
{
    if (line.empty())
        return false;
    const char first = line.front();
    if (first == '+')
        return listing::parseEplfLine(line, out);
    if (first >= '0' && first <= '9')
        return listing::parseDosLine(line, out);
    return listing::parseUnixLine(line, nowUtc, out);
}
