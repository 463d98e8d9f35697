#pragma once
// Turns one line of a server's directory listing into a find record. Pure functions over
// bytes: no sockets, no globals, so every server quirk can be pinned down by a unit test.
#include "wininet.h"
#include <cstdint>
#include <string_view>

// One line of an MLSD reply (no CR/LF). True and `out` filled when the line is an entry to
// pass on; false when it is not (malformed, or a name no directory can hold).
bool ParseMlsdLine(std::string_view line, WIN32_FIND_DATAA& out);
// One line of a LIST reply (Unix ls -l, DOS/IIS, EPLF). `nowUtc` (seconds since 1970) decides
// the year of "MMM DD HH:MM" entries. False for lines no parser understands ("total 12" etc.).
bool ParseListLine(std::string_view line, std::int64_t nowUtc, WIN32_FIND_DATAA& out);
