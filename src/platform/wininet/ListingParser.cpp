// MLSD lines (RFC 3659), the dispatch of LIST lines, and the helpers every parser shares.
#include "ListingParser.h"
#include "ListingParserDetail.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

namespace listing {

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

int smallValue(std::string_view text)
{
    std::uint64_t value = 0;
    return parseUnsigned(text, 9999, value) ? static_cast<int>(value) : -1;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

Fields::Fields(std::string_view line) : m_line(line)
{
    std::size_t pos = 0;
    while (pos < line.size() && m_count < kMax) {
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        const std::size_t begin = pos;
        while (pos < line.size() && !isBlank(line[pos]))
            ++pos;
        if (pos > begin) {
            m_begin[m_count] = begin;
            m_end[m_count] = pos;
            ++m_count;
        }
    }
}

bool fillEntry(std::string_view name, bool folder, std::uint64_t size, const FILETIME& written,
               WIN32_FIND_DATAA& out)
{
    // A name with "/" would address another directory ("../x" climbs out of the one being
    // listed), a NUL would cut it short, and cFileName must keep its terminator.
    if (name.empty() || name.size() > MAX_PATH - 1 || name.find('/') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return false;
    if (size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        size = kUnknownSize;
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

void markDateOnly(const ListDate& date, WIN32_FIND_DATAA& out)
{
    if (date.dateOnly())
        out.dwReserved1 |= FIND_DATA_DATE_ONLY;
}

bool fillDatedEntry(std::string_view name, bool folder, std::uint64_t size, const ListDate& date,
                    WIN32_FIND_DATAA& out)
{
    FILETIME written{};
    if (!dateToFileTime(date, 0, written) ||
        !fillEntry(name, folder, folder ? 0 : size, written, out))
        return false;
    markDateOnly(date, out);
    return true;
}

bool parseHex(std::string_view text, std::size_t maxDigits, std::uint64_t& value)
{
    if (text.empty() || text.size() > std::min<std::size_t>(maxDigits, 16) ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
        return false;
    std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return true;
}

namespace {

enum class MlsdKind { Missing, File, Folder };

// "type" values: file, dir, cdir, pdir, and OS-specific kinds such as "OS.unix=slink:/x" or
// "OS.unix=chr-13/29". A link is passed on as a file: treating a link to a folder as a folder
// would let a recursive delete walk into the folder it points at and empty it. A kind we do
// not know ("type=weird") is shown as a file for the same reason: nothing ever enters it,
// and its name is not taken for a free one.
MlsdKind mlsdKind(std::string_view type)
{
    if (equalsNoCase(type, "dir") || equalsNoCase(type, "cdir") || equalsNoCase(type, "pdir"))
        return MlsdKind::Folder;
    return MlsdKind::File;
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
    const int year = smallValue(text.substr(0, 4));
    const int month = smallValue(text.substr(4, 2));
    const int day = smallValue(text.substr(6, 2));
    const int hour = smallValue(text.substr(8, 2));
    const int minute = smallValue(text.substr(10, 2));
    const int second = smallValue(text.substr(12, 2));
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

    MlsdKind kind = MlsdKind::Missing;
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
        // A size or time no file can have ("size=-1", 20 digits, the year 10000) leaves the
        // entry shown with that fact unknown: dropping it would hide a name that exists.
        if (equalsNoCase(key, "type")) {
            kind = mlsdKind(value);
        } else if (equalsNoCase(key, "size")) {
            if (!parseUnsigned(value, std::numeric_limits<std::uint64_t>::max(), size))
                size = kUnknownSize;
        } else if (equalsNoCase(key, "modify")) {
            if (!parseMlsdTime(value, written))
                written = FILETIME{};
        }
    }
    // Without a type there is no telling a folder from a file, and guessing wrong would
    // send a download into a folder or a delete at the wrong kind of entry.
    if (kind == MlsdKind::Missing)
        return false;
    const bool folder = kind == MlsdKind::Folder;
    return fillEntry(name, folder, folder ? 0 : size, written, out);
}

namespace {

std::size_t findNoCase(std::string_view text, std::string_view word)
{
    for (std::size_t at = 0; at + word.size() <= text.size(); ++at)
        if (listing::equalsNoCase(text.substr(at, word.size()), word))
            return at;
    return std::string_view::npos;
}

// True for a line whose form says "MLSD facts", also when it comes in answer to LIST.
bool looksLikeFacts(std::string_view line)
{
    const std::size_t blank = line.find(' ');
    const std::string_view facts = line.substr(0, blank);
    // A lone fact has no ";" at all when the final one is left out: "type=dir pub".
    return blank != std::string_view::npos && facts.find('=') != std::string_view::npos &&
           (facts.find(';') != std::string_view::npos ||
            (facts.size() > 5 && listing::equalsNoCase(facts.substr(0, 5), "type=")));
}

// MVS introduces a member list with a header ("Name     VV.MM   Created ..." or
// "Name      Size     TTR ..."); below it, a member without statistics is a bare name.
bool isMvsMemberHeader(std::string_view line)
{
    const listing::Fields fields(line);
    return fields.size() >= 3 && fields[0] == "Name" &&
           (fields[1] == "VV.MM" || (fields[1] == "Size" && fields[2] == "TTR"));
}

bool isMvsMemberName(std::string_view line)
{
    const listing::Fields fields(line);
    if (fields.size() != 1 || fields[0].size() > 8)
        return false;
    const std::string_view name = fields[0];
    return name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789@#$") ==
               std::string_view::npos &&
           !(name[0] >= '0' && name[0] <= '9');
}

} // namespace

bool ParseListLine(std::string_view line, std::int64_t nowUtc, WIN32_FIND_DATAA& out)
{
    using namespace listing;
    if (line.empty())
        return false;
    // Every form is tried in turn; each accepts only lines whose every column fits it, so the
    // order matters only for speed: the common forms come first.
    if (line.front() == '+')
        return parseEplfLine(line, out);
    if (looksLikeFacts(line))
        return ParseMlsdLine(line, out);
    return parseUnixLine(line, nowUtc, out) || parseDosLine(line, out) || parseOs2Line(line, out) ||
           parseVmsLine(line, out) || parseAs400Line(line, out) || parseMvsLine(line, out) ||
           parseZvmLine(line, out) || parseOs9Line(line, out) || parseNortelLine(line, out) ||
           parseNonStopLine(line, out);
}

bool IsListingNoise(std::string_view line)
{
    using namespace listing;
    const Fields fields(line);
    if (fields.size() == 0)
        return true;
    // MLSD's entries for the folder itself and its parent, which some servers name by their
    // path ("type=cdir;... /home/ann"): they name nothing inside the folder.
    if (looksLikeFacts(line)) {
        const std::string_view facts = line.substr(0, line.find(' '));
        for (const std::string_view kind : {"type=cdir", "type=pdir"}) {
            const std::size_t at = findNoCase(facts, kind);
            if (at != std::string_view::npos && (at == 0 || facts[at - 1] == ';') &&
                (at + kind.size() == facts.size() || facts[at + kind.size()] == ';'))
                return true;
        }
        return false;
    }
    const auto is = [&](std::size_t i, std::string_view word) {
        return i < fields.size() && fields[i] == word;
    };
    // "total 12", "insgesamt 12", "totale 1,5M": a word in lower case (or another script),
    // then a count. "README 12" is no such line.
    const auto isWordByte = [](char c) {
        return (c >= 'a' && c <= 'z') || static_cast<unsigned char>(c) >= 0x80;
    };
    if (fields.size() == 2 && std::all_of(fields[0].begin(), fields[0].end(), isWordByte) &&
        fields[1].find_first_of("0123456789") == 0 &&
        fields[1].find_first_not_of("0123456789.,KMGTkmgt") == std::string_view::npos)
        return true;
    // Rules under column headers ("-------   ----------").
    if (line.find_first_not_of("- \t") == std::string_view::npos)
        return true;
    // VMS "Directory DKA0:[JONES]" and "Total of 3 files, 44/46 blocks."; DOS "Volume in
    // drive C", "Directory of C:\x", "3 File(s)", "2 Dir(s)"; the MVS headers; NonStop's
    // "File Code EOF ..." and OS-9's "Owner Last modified ..." column headers.
    return (is(0, "Directory") && fields.size() <= 3) || (is(0, "Total") && is(1, "of")) ||
           (is(0, "Grand") && is(1, "total")) || (is(0, "Volume") && is(1, "in")) ||
           (is(0, "Volume") && is(1, "Serial")) || (is(0, "Directory") && is(1, "of")) ||
           is(1, "File(s)") || is(1, "Dir(s)") || (is(0, "Volume") && is(1, "Unit")) ||
           isMvsMemberHeader(line) || (is(0, "File") && is(1, "Code")) ||
           (is(0, "Owner") && is(1, "Last"));
}

bool ListingLineParser::parse(std::string_view line, WIN32_FIND_DATAA& out)
{
    using namespace listing;
    if (!m_vmsName.empty()) {
        const std::string name = std::move(m_vmsName);
        m_vmsName.clear();
        if (!line.empty() && isBlank(line.front()) && parseVmsDetails(name, line, out))
            return true;
        ++m_notUnderstood; // a long VMS name whose details never came
    }
    if (isVmsNameLine(line)) {
        const Fields fields(line);
        m_vmsName = fields[0];
        return false;
    }
    if (isMvsMemberHeader(line)) {
        m_mvsMembers = true;
        return false;
    }
    if (m_mvsMembers && isMvsMemberName(line))
        return fillEntry(Fields(line)[0], false, 0, FILETIME{}, out);
    if (ParseListLine(line, m_now, out))
        return true;
    if (!IsListingNoise(line))
        ++m_notUnderstood;
    return false;
}
