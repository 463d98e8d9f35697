// LIST lines of VMS servers:
//   LOGIN.COM;2                  3/4      12-NOV-2003 09:14:51  [STAFF,JONES]  (RWED,RWED,RE,)
//   ARCHIVE.DIR;1                1        3-MAR-2001 17:02      [STAFF,JONES]  (RWE,RWE,RE,RE)
//   AN_EXTREMELY_LONG_FILE_NAME.DATA;12
//                               41/42    30-DEC-1999 23:59:59.41 [JONES]       (RWED,RWED,,)
// Sizes are in blocks of 512 bytes (used/allocated); a name too long for its column puts the
// rest of the entry on the next line. The name is passed on as the server wrote it, version
// included: that is the name the server accepts back.
#include "ListingParserDetail.h"

#include <limits>

namespace listing {

namespace {

constexpr std::uint64_t kBlockBytes = 512;

// "NAME.TYPE;VERSION"; the type may be empty ("MAKEFILE.;1").
bool isVmsName(std::string_view name)
{
    const std::size_t semicolon = name.find(';');
    const std::size_t dot = name.find('.');
    std::uint64_t version = 0;
    return semicolon != std::string_view::npos && dot != std::string_view::npos && dot > 0 &&
           dot < semicolon &&
           name.substr(0, semicolon)
                   .find_first_not_of(
                       "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789$_-.~^") ==
               std::string_view::npos &&
           parseUnsigned(name.substr(semicolon + 1), 32767, version);
}

bool isVmsFolder(std::string_view name)
{
    const std::size_t semicolon = name.find(';');
    return semicolon >= 4 && equalsNoCase(name.substr(semicolon - 4, 4), ".DIR");
}

// "3/4" (used/allocated) or "3": the used blocks.
bool readBlocks(std::string_view text, std::uint64_t& blocks)
{
    const std::size_t slash = text.find('/');
    std::uint64_t allocated = 0;
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max() / kBlockBytes;
    return parseUnsigned(text.substr(0, slash), max, blocks) &&
           (slash == std::string_view::npos ||
            parseUnsigned(text.substr(slash + 1), max, allocated));
}

// "12-NOV-2003" (also with a two-digit year on old systems).
bool readVmsDate(std::string_view text, ListDate& date)
{
    const std::size_t first = text.find('-');
    const std::size_t second = text.rfind('-');
    if (first == std::string_view::npos || second == first || first > 2)
        return false;
    date.day = smallValue(text.substr(0, first));
    date.month = monthFromName(text.substr(first + 1, second - first - 1));
    const std::string_view yearText = text.substr(second + 1);
    date.year = smallValue(yearText);
    if (yearText.size() == 2 && date.year >= 0)
        date.year += date.year < 70 ? 2000 : 1900;
    else if (yearText.size() != 4)
        return false;
    return second - first == 4 && date.month != 0 && isValidDate(date.year, date.month, date.day);
}

// The columns after the name: size, date, time, then owner and protection, which are not
// needed but must look like themselves, so that an error text in their place is not taken.
bool readDetails(const Fields& fields, std::size_t at, std::uint64_t& blocks, ListDate& date)
{
    if (fields.size() < at + 3 || !readBlocks(fields[at], blocks) ||
        !readVmsDate(fields[at + 1], date) || !parseClock(fields[at + 2], date) || date.hour == 24)
        return false;
    for (std::size_t i = at + 3; i < fields.size(); ++i) {
        const char open = fields[i].front();
        if (open != '[' && open != '(' && fields[i - 1].back() == ',') // "[STAFF, JONES]"
            continue;
        if (open != '[' && open != '(')
            return false;
    }
    return true;
}

bool fillVmsEntry(std::string_view name, std::uint64_t blocks, const ListDate& date,
                  WIN32_FIND_DATAA& out)
{
    return fillDatedEntry(name, isVmsFolder(name), blocks * kBlockBytes, date, out);
}

} // namespace

bool isVmsNameLine(std::string_view line)
{
    const Fields fields(line);
    return fields.size() == 1 && fields.begin(0) == 0 && isVmsName(fields[0]);
}

bool parseVmsLine(std::string_view line, WIN32_FIND_DATAA& out)
{
    const Fields fields(line);
    std::uint64_t blocks = 0;
    ListDate date;
    if (fields.size() < 4 || fields.begin(0) != 0 || !isVmsName(fields[0]) ||
        !readDetails(fields, 1, blocks, date))
        return false;
    return fillVmsEntry(fields[0], blocks, date, out);
}

bool parseVmsDetails(std::string_view name, std::string_view details, WIN32_FIND_DATAA& out)
{
    const Fields fields(details);
    std::uint64_t blocks = 0;
    ListDate date;
    if (!isVmsName(name) || !readDetails(fields, 0, blocks, date))
        return false;
    return fillVmsEntry(name, blocks, date, out);
}

} // namespace listing
