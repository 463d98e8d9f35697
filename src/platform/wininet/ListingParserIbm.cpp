// LIST lines of IBM systems: AS/400 (IBM i), MVS (z/OS) and z/VM.
#include "ListingParserDetail.h"

#include <limits>

namespace listing {

namespace {

bool isNumber(std::string_view text, std::uint64_t& value)
{
    return parseUnsigned(text, std::numeric_limits<std::uint64_t>::max() / 65536, value);
}

// An AS/400 object type: "*STMF", "*DIR", "*FILE", "*MEM", "*LIB", "*PGM" ...
bool isObjectType(std::string_view text)
{
    return text.size() >= 3 && text.size() <= 10 && text.front() == '*' &&
           text.substr(1).find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") ==
               std::string_view::npos;
}

// The name after the object type: the integrated file system lists paths ("QGPL/QCLSRC.FILE/
// A.MBR", "QDOC/"); the entry is the last part, since every other part names a folder that
// is not the one listed.
std::string_view lastPathPart(std::string_view path)
{
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// MVS names: qualifiers of letters, digits and @#$- joined by dots, or a member name.
bool isDatasetName(std::string_view name)
{
    if (name.size() >= 2 && name.front() == '\'' && name.back() == '\'')
        name = name.substr(1, name.size() - 2);
    return !name.empty() && name.size() <= 44 &&
           name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                  "@#$-.{}") == std::string_view::npos;
}

// The last column of a fixed-form line is the name; it must start where that column does.
std::string_view lastColumn(const Fields& fields)
{
    return fields.size() < Fields::kMax ? fields[fields.size() - 1] : std::string_view();
}

// A 3390 track holds 56,664 bytes: MVS lists space in tracks, so the size is an estimate.
constexpr std::uint64_t kTrackBytes = 56664;
// ISPF statistics count lines; 80 bytes is the record length of nearly every source library.
constexpr std::uint64_t kLineBytes = 80;

//   WYOSPT 3390   2003/09/08  1   15  FB      80  3120  PS  ADSSE.CNTL
//   WORK01 3390   **NONE**    1    1  FB      80  6160  PS  HLQ.NEVER.READ
//   B10142 3390   2004/06/22  1    9  U        0 27998  PO  USER.LOAD
//   Migrated                                                HLQ.OLD.DATA
//   ARCIVE Not Direct Access Device                         KJ.TAPE.BACKUP
//   Pseudo Directory                                        HLQ.SUB
bool parseDataset(const Fields& fields, WIN32_FIND_DATAA& out)
{
    const std::string_view name = lastColumn(fields);
    if (!isDatasetName(name))
        return false;
    if (fields.size() == 2 && fields[0] == "Migrated")
        return fillEntry(name, false, 0, FILETIME{}, out);
    if (fields.size() == 3 && fields[0] == "Pseudo" && fields[1] == "Directory")
        return fillEntry(name, true, 0, FILETIME{}, out);
    if (fields.size() == 6 && fields[1] == "Not" && fields[2] == "Direct" &&
        fields[3] == "Access" && fields[4] == "Device")
        return fillEntry(name, false, 0, FILETIME{}, out);
    std::uint64_t extents = 0, tracks = 0, ignored = 0;
    ListDate date;
    // "**NONE**" in place of the date: a data set nobody has referred to since it was made.
    if (fields.size() != 10 || !isNumber(fields[1], ignored) ||
        (fields[2] != "**NONE**" && !parseNumericDate(fields[2], "/", false, false, date)) ||
        !isNumber(fields[3], extents) || !isNumber(fields[4], tracks))
        return false;
    const std::string_view dsorg = fields[8];
    if (dsorg.empty() ||
        dsorg.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ-") != std::string_view::npos)
        return false;
    // A partitioned data set (PO, PO-E) holds members: it is entered like a folder.
    const bool folder = dsorg.starts_with("PO");
    return fillDatedEntry(name, folder, tracks * kTrackBytes, date, out);
}

//   MEMBER1   01.01 2002/09/12 2002/09/12 11:30    20    20     0 USERID
//   IEFBR14   00000002  00000F          00  FO             RN RU            31    ANY
// (the second is a load module: size and track address in hexadecimal)
bool parseMember(const Fields& fields, WIN32_FIND_DATAA& out)
{
    std::uint64_t moduleSize = 0, address = 0;
    if (fields.size() >= 4 && fields[0].size() <= 8 && isDatasetName(fields[0]) &&
        fields[0].find('.') == std::string_view::npos && fields[1].size() == 8 &&
        parseHex(fields[1], 8, moduleSize) && fields[2].size() == 6 &&
        parseHex(fields[2], 6, address))
        return fillEntry(fields[0], false, moduleSize, FILETIME{}, out);
    const std::string_view version = fields.size() >= 9 ? fields[1] : std::string_view();
    ListDate created, date;
    std::uint64_t lines = 0, ignored = 0;
    if (version.size() != 5 || version[2] != '.' || smallValue(version.substr(0, 2)) < 0 ||
        smallValue(version.substr(3)) < 0 ||
        !parseNumericDate(fields[2], "/", false, false, created) ||
        !parseNumericDate(fields[3], "/", false, false, date) || !parseClock(fields[4], date) ||
        !isNumber(fields[5], lines) || !isNumber(fields[6], ignored) ||
        !isNumber(fields[7], ignored) || fields[0].size() > 8 || !isDatasetName(fields[0]))
        return false;
    return fillDatedEntry(fields[0], false, lines * kLineBytes, date, out);
}

} // namespace

//   QSYS           18432 04/15/99 16:11:34 *DIR       QDOC/
//   QPGMR          36864 15.04.99 15:41:01 *FILE      QGPL/QCLSRC.FILE
//   QPGMR                                  *MEM       QGPL/QCLSRC.FILE/MAIN.MBR
bool parseAs400Line(std::string_view line, WIN32_FIND_DATAA& out)
{
    const Fields fields(line);
    if (fields.size() >= 3 && isObjectType(fields[1])) { // no size or date: a member
        return fields[1] == "*MEM" &&
               fillEntry(lastPathPart(fields.from(2)), false, 0, FILETIME{}, out);
    }
    std::uint64_t size = 0;
    ListDate date;
    if (fields.size() < 6 || !isNumber(fields[1], size) ||
        !parseNumericDate(fields[2], "/.-", fields[2].find('.') != std::string_view::npos, true,
                          date) ||
        !parseClock(fields[3], date) || !isObjectType(fields[4]))
        return false;
    const std::string_view type = fields[4];
    // Libraries, physical files (which hold members) and folders can all be entered.
    const bool folder = type == "*DIR" || type == "*LIB" || type == "*FILE" || type == "*FLR" ||
                        fields.from(5).back() == '/';
    return fillDatedEntry(lastPathPart(fields.from(5)), folder, size, date, out);
}

bool parseMvsLine(std::string_view line, WIN32_FIND_DATAA& out)
{
    const Fields fields(line);
    return fields.size() >= 2 && (parseDataset(fields, out) || parseMember(fields, out));
}

//   PROFILE  EXEC     V         70         10          1 2001-06-08 14:21:01 -
//   README   FTPMSG   F         80          3          1  6/08/01 14:21:01 TCP291
//   BACKUP   DIR      -          -          -          - 2003-05-05 11:11:11 -
// The file is named "fname.ftype" in commands.
bool parseZvmLine(std::string_view line, WIN32_FIND_DATAA& out)
{
    const Fields fields(line);
    if (fields.size() < 9 || fields.size() > 10 || fields[0].size() > 8 || fields[1].size() > 8)
        return false;
    const std::string_view format = fields[2];
    const bool folder = format == "DIR" || fields[1] == "DIR";
    if (!folder && format != "F" && format != "V")
        return false;
    std::uint64_t recordLength = 0, records = 0, ignored = 0;
    for (std::size_t i = 3; i <= 5; ++i) {
        std::uint64_t& value = i == 3 ? recordLength : i == 4 ? records : ignored;
        if (fields[i] != "-" && !isNumber(fields[i], value))
            return false;
    }
    if (recordLength > 65535) // CMS records are at most 65,535 bytes
        return false;
    ListDate date;
    if (!parseNumericDate(fields[6], "-/", false, true, date) || !parseClock(fields[7], date))
        return false;
    char name[2 * 8 + 2];
    const std::size_t length = fields[0].size() + 1 + fields[1].size();
    fields[0].copy(name, fields[0].size());
    name[fields[0].size()] = '.';
    fields[1].copy(name + fields[0].size() + 1, fields[1].size());
    return fillDatedEntry(std::string_view(name, length), folder, recordLength * records, date,
                          out);
}

} // namespace listing
