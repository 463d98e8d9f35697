#pragma once
// Turns one line of a server's directory listing into a find record. Pure functions over
// bytes: no sockets, no globals, so every server quirk can be pinned down by a unit test.
#include "wininet.h"
#include <cstdint>
#include <string>
#include <string_view>

// One line of an MLSD reply (no CR/LF). True and `out` filled when the line is an entry to
// pass on; false when it is not (malformed, or a name no directory can hold).
bool ParseMlsdLine(std::string_view line, WIN32_FIND_DATAA& out);
// One line of a LIST reply, in whichever form its server writes (Unix ls -l and its many
// variants, DOS/IIS, EPLF, MLSD facts, NetWare, OS/2, VMS, AS/400, MVS, z/VM, OS-9, Nortel,
// NonStop, ...): the form is recognised per line, so one odd line can't hide the others.
// `nowUtc` (seconds since 1970) decides the year of entries that show only month and day.
// False for lines no parser understands ("total 12", headers, banners): they are skipped,
// never guessed at.
bool ParseListLine(std::string_view line, std::int64_t nowUtc, WIN32_FIND_DATAA& out);

// The lines of one LIST reply in order. Some forms need the lines before: VMS moves the
// details of a long name onto the next line, and MVS lists members without statistics as bare
// names once its member header has been seen. Still pure: everything it knows came from the
// lines it was given.
class ListingLineParser
{
public:
    explicit ListingLineParser(std::int64_t nowUtc) : m_now(nowUtc) {}
    bool parse(std::string_view line, WIN32_FIND_DATAA& out);
    // Lines so far that were neither an entry nor a line a listing holds besides its entries
    // (blank, "total 12", headers): whatever they named is missing from the entries.
    std::size_t notUnderstood() const { return m_notUnderstood + (m_vmsName.empty() ? 0 : 1); }

private:
    std::int64_t m_now;
    std::string m_vmsName; // a VMS name waiting for its details line
    bool m_mvsMembers = false;
    std::size_t m_notUnderstood = 0;
};

// True for a line a listing may hold besides its entries: blank, "total 12" in any language,
// and the headers and footers of the forms that have them. A line that is neither this nor
// an entry was not understood.
bool IsListingNoise(std::string_view line);
