// LIST replies. The first byte picks one family's parser, so each is explored on its own; the
// last choices run the per-line recognition and the line-by-line parser over a whole listing.
// Every entry must have a name a directory can hold, taken from the line it came from.
#include "FuzzCheck.h"
#include "wininet/ListingParser.h"
#include "wininet/ListingParserDetail.h"

#include <cstring>

namespace {

constexpr std::int64_t kNow = 1781524800; // 2026-06-15 12:00 UTC

void checkEntry(const WIN32_FIND_DATAA& entry, std::string_view text, bool joinedName)
{
    const std::size_t length = strnlen(entry.cFileName, MAX_PATH);
    FUZZ_CHECK(length > 0 && length < MAX_PATH);
    const std::string_view name(entry.cFileName, length);
    FUZZ_CHECK(name.find('/') == std::string_view::npos);
    FUZZ_CHECK(entry.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ||
               entry.dwFileAttributes == FILE_ATTRIBUTE_NORMAL);
    FUZZ_CHECK(entry.dwFileAttributes == FILE_ATTRIBUTE_NORMAL ||
               (entry.nFileSizeHigh == 0 && entry.nFileSizeLow == 0));
    // z/VM joins its two name columns with a dot.
    if (!joinedName)
        FUZZ_CHECK(text.find(name) != std::string_view::npos);
}

using Family = bool (*)(std::string_view, WIN32_FIND_DATAA&);
bool unixLine(std::string_view line, WIN32_FIND_DATAA& out)
{
    return listing::parseUnixLine(line, kNow, out);
}

constexpr Family kFamilies[] = {
    unixLine,
    listing::parseDosLine,
    listing::parseEplfLine,
    listing::parseOs2Line,
    listing::parseVmsLine,
    listing::parseAs400Line,
    listing::parseMvsLine,
    listing::parseZvmLine,
    listing::parseOs9Line,
    listing::parseNortelLine,
    listing::parseNonStopLine,
};
constexpr std::size_t kFamilyCount = sizeof kFamilies / sizeof kFamilies[0];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t choice = data[0] % (kFamilyCount + 2);
    std::string_view input = fuzzInput(data + 1, size - 1);
    WIN32_FIND_DATAA entry;
    if (choice < kFamilyCount) {
        if (kFamilies[choice](input, entry))
            checkEntry(entry, input, kFamilies[choice] == listing::parseZvmLine);
        return 0;
    }
    if (choice == kFamilyCount) {
        if (ParseListLine(input, kNow, entry))
            checkEntry(entry, input, true);
        return 0;
    }
    ListingLineParser parser(kNow);
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        const std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        if (parser.parse(line, entry))
            checkEntry(entry, fuzzInput(data + 1, size - 1), true);
    }
    return 0;
}
