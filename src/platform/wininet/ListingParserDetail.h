#pragma once
// Building blocks shared by the listing parsers: checked numbers, calendar times, the columns
// of a line, and the one place that decides whether a name may be passed on.
#include "wininet.h"
#include <array>
#include <cstdint>
#include <string_view>

namespace listing {

// The size of an entry whose listing shows a number no file can have; fillEntry passes it on
// as INVALID_FILE_SIZE in both halves.
inline constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};

// Decimal digits only (no sign, no blanks), at most `max`.
bool parseUnsigned(std::string_view text, std::uint64_t max, std::uint64_t& value);
// Decimal digits only, at most 9999; -1 otherwise.
int smallValue(std::string_view text);

// A calendar time in UTC as FILETIME; false for a date or time that does not exist.
bool makeFileTime(int year, int month, int day, int hour, int minute, int second, int millis,
                  FILETIME& out);
// Seconds since 1970 (UTC) as FILETIME; false beyond the year 9999.
bool fileTimeFromUnix(std::uint64_t seconds, FILETIME& out);
// Seconds since 1970 of a calendar time, for comparing with the caller's clock.
std::int64_t unixFromCivil(int year, int month, int day, int hour, int minute);
bool isValidDate(int year, int month, int day);
// A month's name or abbreviation in the languages servers list in ("Jan", "Okt.", "Juli",
// "szept", "m\xc3\xa4r"), any ASCII letter case: 1..12, else 0.
int monthFromName(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);

// A date as a listing shows it. A missing year (ls shows the time of day instead for recent
// files) is filled in from the caller's clock; a date missing altogether gives no time.
struct ListDate
{
    int year = 0; // 0: not shown
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool unknown = false; // shown, but beyond what a file time holds (a year past 9999)
    bool clock = false;   // a time of day was shown
    // A day was shown without its time: the entry is marked FIND_DATA_DATE_ONLY.
    bool dateOnly() const { return month != 0 && !unknown && !clock; }
};
bool dateToFileTime(const ListDate& date, std::int64_t nowUtc, FILETIME& out);

// "14:07", "14:07:33", "14:07:33.25" and "24:00" (the end of the day, which some servers print
// for midnight).
bool parseClock(std::string_view text, ListDate& date);
// Three numbers joined by `separators` ("2003/09/08", "29-04-2003", "04/15/99"). A four-digit
// group first is the year (Y M D); last, the order is M D Y unless the first group can't be a
// month, or `dayFirst` says the country writes D M Y. Two-digit years only when allowed
// (70..99 are 19xx).
bool parseNumericDate(std::string_view text, std::string_view separators, bool dayFirst,
                      bool shortYear, ListDate& date);

// Fills `out` with one entry, or returns false when no directory can hold `name`. A size
// beyond what any file system stores (2^63 and up) is kUnknownSize.
bool fillEntry(std::string_view name, bool folder, std::uint64_t size, const FILETIME& written,
               WIN32_FIND_DATAA& out);
// Marks an entry filled from `date` as having no time of day where the listing showed none.
void markDateOnly(const ListDate& date, WIN32_FIND_DATAA& out);
// The same for forms that always show the year, or no date at all.
bool fillDatedEntry(std::string_view name, bool folder, std::uint64_t size, const ListDate& date,
                    WIN32_FIND_DATAA& out);
// Hexadecimal digits only, at most `maxDigits` (16 at most).
bool parseHex(std::string_view text, std::size_t maxDigits, std::uint64_t& value);

// The first blank-separated columns of a line. Names are taken from the line by offset, so
// the columns after the last one kept are never needed.
class Fields
{
public:
    static constexpr std::size_t kMax = 24;
    explicit Fields(std::string_view line);
    std::size_t size() const { return m_count; }
    std::string_view operator[](std::size_t i) const
    {
        return m_line.substr(m_begin[i], m_end[i] - m_begin[i]);
    }
    std::size_t begin(std::size_t i) const { return m_begin[i]; }
    std::size_t end(std::size_t i) const { return m_end[i]; }
    // The line from column i on, blanks inside kept.
    std::string_view from(std::size_t i) const { return m_line.substr(m_begin[i]); }
    std::string_view line() const { return m_line; }

private:
    std::string_view m_line;
    std::array<std::size_t, kMax> m_begin{};
    std::array<std::size_t, kMax> m_end{};
    std::size_t m_count = 0;
};

bool isBlank(char c);

// Which date forms readListDate looks for: ls's own "Mar  3 14:07" / "Mar  3  2019"; every
// form but bare numbers; or only "3 29 03:26" (month and day as bare numbers).
enum class DateForms { Common, Named, PlainNumbers };
// The date columns of a Unix-style line from column `at`: how many columns they take, 0 when
// no date of the `forms` starts there.
std::size_t readListDate(const Fields& fields, std::size_t at, DateForms forms, ListDate& date);

// One parser per family of servers; each says no to lines that aren't its own.
bool parseUnixLine(std::string_view line, std::int64_t nowUtc, WIN32_FIND_DATAA& out);
bool parseDosLine(std::string_view line, WIN32_FIND_DATAA& out);
bool parseEplfLine(std::string_view line, WIN32_FIND_DATAA& out);
bool parseOs2Line(std::string_view line, WIN32_FIND_DATAA& out);
bool parseVmsLine(std::string_view line, WIN32_FIND_DATAA& out);
// A VMS entry whose name had a line of its own; `details` is the line after it.
bool parseVmsDetails(std::string_view name, std::string_view details, WIN32_FIND_DATAA& out);
// A line holding nothing but a VMS file name ("A_VERY_LONG_NAME.TXT;3").
bool isVmsNameLine(std::string_view line);
bool parseAs400Line(std::string_view line, WIN32_FIND_DATAA& out);
bool parseMvsLine(std::string_view line, WIN32_FIND_DATAA& out);
bool parseZvmLine(std::string_view line, WIN32_FIND_DATAA& out);
bool parseOs9Line(std::string_view line, WIN32_FIND_DATAA& out);
bool parseNortelLine(std::string_view line, WIN32_FIND_DATAA& out);
bool parseNonStopLine(std::string_view line, WIN32_FIND_DATAA& out);

} // namespace listing
