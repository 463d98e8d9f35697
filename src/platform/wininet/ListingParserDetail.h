#pragma once
// Building blocks shared by the listing parsers: checked numbers, calendar times and the
// one place that decides whether a name may be passed on.
#include "wininet.h"
#include <cstdint>
#include <string_view>

namespace listing {

// Decimal digits only (no sign, no blanks), at most `max`.
bool parseUnsigned(std::string_view text, std::uint64_t max, std::uint64_t& value);

// A calendar time in UTC as FILETIME; false for a date or time that does not exist.
bool makeFileTime(int year, int month, int day, int hour, int minute, int second, int millis,
                  FILETIME& out);
// Seconds since 1970 (UTC) as FILETIME; false beyond the year 9999.
bool fileTimeFromUnix(std::uint64_t seconds, FILETIME& out);
// Seconds since 1970 of a calendar time, for comparing with the caller's clock.
std::int64_t unixFromCivil(int year, int month, int day, int hour, int minute);
bool isValidDate(int year, int month, int day);
// "Jan".."Dec" in any letter case: 1..12, else 0.
int monthFromName(std::string_view text);

// Fills `out` with one entry, or returns false when no directory can hold `name`.
bool fillEntry(std::string_view name, bool folder, std::uint64_t size, const FILETIME& written,
               WIN32_FIND_DATAA& out);

bool parseUnixLine(std::string_view line, std::int64_t nowUtc, WIN32_FIND_DATAA& out);
bool parseDosLine(std::string_view line, WIN32_FIND_DATAA& out);
bool parseEplfLine(std::string_view line, WIN32_FIND_DATAA& out);

} // namespace listing
