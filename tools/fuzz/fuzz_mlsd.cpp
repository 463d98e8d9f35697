// MLSD lines: an entry, when there is one, has a name a directory can hold, taken from the line.
#include "FuzzCheck.h"
#include "wininet/ListingParser.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const std::string_view line = fuzzInput(data, size);
    WIN32_FIND_DATAA entry;
    if (!ParseMlsdLine(line, entry))
        return 0;
    const std::size_t length = strnlen(entry.cFileName, MAX_PATH);
    FUZZ_CHECK(length > 0 && length < MAX_PATH);
    const std::string_view name(entry.cFileName, length);
    FUZZ_CHECK(name.find('/') == std::string_view::npos);
    FUZZ_CHECK(line.ends_with(name) && line[line.size() - length - 1] == ' ');
    FUZZ_CHECK(entry.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ||
               entry.dwFileAttributes == FILE_ATTRIBUTE_NORMAL);
    return 0;
}
