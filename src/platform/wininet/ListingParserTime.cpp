// Calendar arithmetic, month names, clock times and numeric dates for every listing form.
#include "ListingParserDetail.h"

#include <algorithm>

namespace listing {

namespace {

// FILETIME counts 100 ns intervals from 1601-01-01; Unix time counts seconds from 1970-01-01.
constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600ULL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
constexpr std::uint64_t kTicksPerMilli = 10000ULL;
// 9999-12-31 23:59:59 UTC: past it a FILETIME is no longer a date any program shows.
constexpr std::uint64_t kLastUnixSecond = 253402300799ULL;
// Anything more than this far ahead of the caller's clock cannot be this year's entry: ls
// prints the time of day only for recent files, so the date is from last year. The slack
// absorbs time-zone differences (the server shows its local time) and clock skew.
constexpr std::int64_t kFutureSlackSeconds = 3 * 86400;

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

// Month names as servers' locales write them, lower case; accented letters in UTF-8 and in
// Latin-1, since servers send whichever their locale uses. An abbreviation is any prefix of
// three or more bytes that belongs to one month only ("jui" could be juin or juillet).
struct MonthName
{
    std::string_view name;
    int month;
};
constexpr MonthName kMonthNames[] = {
    // English, German (with the Austrian J\xe4nner), Dutch, Scandinavian
    {"january", 1},
    {"february", 2},
    {"march", 3},
    {"april", 4},
    {"may", 5},
    {"june", 6},
    {"july", 7},
    {"august", 8},
    {"september", 9},
    {"october", 10},
    {"november", 11},
    {"december", 12},
    {"januar", 1},
    {"j\xc3\xa4nner", 1},
    {"j\xe4nner", 1},
    {"februar", 2},
    {"m\xc3\xa4rz", 3},
    {"m\xe4rz", 3},
    {"mrz", 3},
    {"mai", 5},
    {"juni", 6},
    {"juli", 7},
    {"oktober", 10},
    {"dezember", 12},
    {"maart", 3},
    {"mrt", 3},
    {"mei", 5},
    {"augustus", 8},
    {"mars", 3},
    {"marts", 3},
    {"maj", 5},
    {"augusti", 8},
    {"desember", 12},
    // French
    {"janvier", 1},
    {"f\xc3\xa9vrier", 2},
    {"f\xe9vrier", 2},
    {"fevrier", 2},
    {"avril", 4},
    {"juin", 6},
    {"juillet", 7},
    {"ao\xc3\xbbt", 8},
    {"ao\xfbt", 8},
    {"aout", 8},
    {"septembre", 9},
    {"octobre", 10},
    {"novembre", 11},
    {"d\xc3\xa9"
     "cembre",
     12},
    {"d\xe9"
     "cembre",
     12},
    // Spanish, Italian, Portuguese
    {"enero", 1},
    {"febrero", 2},
    {"marzo", 3},
    {"abril", 4},
    {"mayo", 5},
    {"junio", 6},
    {"julio", 7},
    {"agosto", 8},
    {"septiembre", 9},
    {"setiembre", 9},
    {"octubre", 10},
    {"noviembre", 11},
    {"diciembre", 12},
    {"gennaio", 1},
    {"febbraio", 2},
    {"aprile", 4},
    {"maggio", 5},
    {"giugno", 6},
    {"luglio", 7},
    {"settembre", 9},
    {"ottobre", 10},
    {"dicembre", 12},
    {"janeiro", 1},
    {"fevereiro", 2},
    {"mar\xc3\xa7o", 3},
    {"mar\xe7o", 3},
    {"maio", 5},
    {"junho", 6},
    {"julho", 7},
    {"setembro", 9},
    {"outubro", 10},
    {"novembro", 11},
    {"dezembro", 12},
    // Polish and Russian (UTF-8), as ls abbreviates them: "sty", "pa\xc5\xba",
    // "\xd1\x8f\xd0\xbd\xd0\xb2"
    {"stycze\xc5\x84", 1},
    {"luty", 2},
    {"marzec", 3},
    {"kwiecie\xc5\x84", 4},
    {"czerwiec", 6},
    {"lipiec", 7},
    {"sierpie\xc5\x84", 8},
    {"wrzesie\xc5\x84", 9},
    {"pa\xc5\xba"
     "dziernik",
     10},
    {"listopad", 11},
    {"grudzie\xc5\x84", 12},
    {"\xd1\x8f\xd0\xbd\xd0\xb2\xd0\xb0\xd1\x80\xd1\x8c", 1},
    {"\xd1\x84\xd0\xb5\xd0\xb2\xd1\x80\xd0\xb0\xd0\xbb\xd1\x8c", 2},
    {"\xd0\xbc\xd0\xb0\xd1\x80\xd1\x82", 3},
    {"\xd0\xb0\xd0\xbf\xd1\x80\xd0\xb5\xd0\xbb\xd1\x8c", 4},
    {"\xd0\xbc\xd0\xb0\xd0\xb9", 5},
    {"\xd0\xb8\xd1\x8e\xd0\xbd\xd1\x8c", 6},
    {"\xd0\xb8\xd1\x8e\xd0\xbb\xd1\x8c", 7},
    {"\xd0\xb0\xd0\xb2\xd0\xb3\xd1\x83\xd1\x81\xd1\x82", 8},
    {"\xd1\x81\xd0\xb5\xd0\xbd\xd1\x82\xd1\x8f\xd0\xb1\xd1\x80\xd1\x8c", 9},
    {"\xd0\xbe\xd0\xba\xd1\x82\xd1\x8f\xd0\xb1\xd1\x80\xd1\x8c", 10},
    {"\xd0\xbd\xd0\xbe\xd1\x8f\xd0\xb1\xd1\x80\xd1\x8c", 11},
    {"\xd0\xb4\xd0\xb5\xd0\xba\xd0\xb0\xd0\xb1\xd1\x80\xd1\x8c", 12},
    // Hungarian
    {"janu\xc3\xa1r", 1},
    {"janu\xe1r", 1},
    {"febru\xc3\xa1r", 2},
    {"febru\xe1r", 2},
    {"m\xc3\xa1rcius", 3},
    {"m\xe1rcius", 3},
    {"\xc3\xa1prilis", 4},
    {"\xe1prilis", 4},
    {"m\xc3\xa1jus", 5},
    {"m\xe1jus", 5},
    {"j\xc3\xbanius", 6},
    {"j\xfanius", 6},
    {"j\xc3\xbalius", 7},
    {"j\xfalius", 7},
    {"augusztus", 8},
    {"szeptember", 9},
    {"okt\xc3\xb3"
     "ber",
     10},
    {"okt\xf3"
     "ber",
     10},
};

// ASCII letters, and the accented capitals of UTF-8 ("\xc3\x81") and Latin-1 ("\xc1"), to
// lower case.
std::size_t foldCase(std::string_view text, char* folded, std::size_t capacity)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size() && n < capacity; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<unsigned char>(c + 32);
        } else if (c == 0xC3 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0xBF) {
            auto next = static_cast<unsigned char>(text[++i]);
            if (next <= 0x9E && next != 0x97)
                next = static_cast<unsigned char>(next + 32);
            folded[n++] = static_cast<char>(c);
            if (n == capacity)
                break;
            c = next;
        } else if (c >= 0xC0 && c <= 0xDE && c != 0xD7 &&
                   !(i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) ==
                                                0x80)) { // not the start of a UTF-8 character
            c = static_cast<unsigned char>(c + 32);
        }
        folded[n++] = static_cast<char>(c);
    }
    return n;
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

bool allDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

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
    if (!text.empty() && text.back() == '.')
        text.remove_suffix(1);
    char folded[16];
    if (text.size() < 3 || text.size() > sizeof folded)
        return 0;
    const std::string_view key(folded, foldCase(text, folded, sizeof folded));
    int month = 0;
    for (const MonthName& entry : kMonthNames) {
        if (entry.name.front() != key.front() || !entry.name.starts_with(key))
            continue;
        if (month != 0 && month != entry.month)
            return 0;
        month = entry.month;
    }
    return month;
}

bool parseClock(std::string_view text, ListDate& date)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() < colon + 3)
        return false;
    const int hour = smallValue(text.substr(0, colon));
    const int minute = smallValue(text.substr(colon + 1, 2));
    int second = 0;
    std::string_view rest = text.substr(colon + 3);
    if (!rest.empty()) {
        if (rest.size() < 3 || rest[0] != ':')
            return false;
        second = smallValue(rest.substr(1, 2));
        rest.remove_prefix(3);
        // Fractions of a second ("14:07:33.25", VMS and --full-time) are dropped.
        if (!rest.empty() && (rest[0] != '.' || !allDigits(rest.substr(1))))
            return false;
    }
    const bool endOfDay = hour == 24 && minute == 0 && second == 0;
    if (hour < 0 || (hour > 23 && !endOfDay) || minute < 0 || minute > 59 || second < 0 ||
        second > 60)
        return false;
    date.hour = hour;
    date.minute = minute;
    date.second = second;
    date.clock = true;
    return true;
}

bool parseNumericDate(std::string_view text, std::string_view separators, bool dayFirst,
                      bool shortYear, ListDate& date)
{
    const std::size_t first = text.find_first_of(separators);
    if (first == std::string_view::npos)
        return false;
    const char separator = text[first];
    const std::size_t second = text.find(separator, first + 1);
    if (second == std::string_view::npos)
        return false;
    const std::string_view groups[] = {
        text.substr(0, first), text.substr(first + 1, second - first - 1), text.substr(second + 1)};
    int value[3];
    for (int i = 0; i < 3; ++i) {
        if (groups[i].size() > 4 || !allDigits(groups[i]))
            return false;
        value[i] = smallValue(groups[i]);
    }
    auto window = [](int twoDigits) { return twoDigits + (twoDigits < 70 ? 2000 : 1900); };
    auto isShort = [&](int i) { return shortYear && groups[i].size() == 2; };
    int year = 0, month = 0, day = 0;
    if (groups[0].size() == 4 || (isShort(0) && value[0] > 31)) {
        year = groups[0].size() == 4 ? value[0] : window(value[0]);
        month = value[1];
        day = value[2];
    } else if (groups[2].size() == 4 || isShort(2)) {
        year = groups[2].size() == 4 ? value[2] : window(value[2]);
        const bool dmy = (dayFirst && value[1] <= 12) || value[0] > 12;
        day = dmy ? value[0] : value[1];
        month = dmy ? value[1] : value[0];
    } else {
        return false;
    }
    if (groups[1].size() > 2 || !isValidDate(year, month, day))
        return false;
    date.year = year;
    date.month = month;
    date.day = day;
    return true;
}

bool dateToFileTime(const ListDate& date, std::int64_t nowUtc, FILETIME& out)
{
    if (date.month == 0 || date.unknown) { // no date shown, or none a file time can hold
        out = FILETIME{};
        return true;
    }
    const bool endOfDay = date.hour == 24;
    const int hour = endOfDay ? 23 : date.hour;
    const int minute = endOfDay ? 59 : date.minute;
    const int year =
        date.year != 0 ? date.year : yearOfRecentDate(date.month, date.day, hour, minute, nowUtc);
    if (!makeFileTime(year, date.month, date.day, endOfDay ? 0 : date.hour,
                      endOfDay ? 0 : date.minute, date.second, 0, out))
        return false;
    if (endOfDay) { // "24:00" is the first moment of the next day
        const std::uint64_t ticks =
            ((std::uint64_t(out.dwHighDateTime) << 32) | out.dwLowDateTime) +
            86400 * kTicksPerSecond;
        out = splitTicks(ticks);
    }
    return true;
}

} // namespace listing
