// Writes the version block that the link step puts into the executable's version section.
//   versionblock <output file> <file version> [<name>=<text>...]
// The texts go into the string table; FileVersion is added from the second argument.
#include "winver.h"

#include <cstdio>
#include <string>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: versionblock <output> <file version> [name=text...]\n");
        return 2;
    }
    const std::string version = argv[2];
    std::vector<std::pair<std::string, std::string>> strings;
    for (int i = 3; i < argc; ++i) {
        const std::string item = argv[i];
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos || equals == 0) {
            std::fprintf(stderr, "versionblock: not name=text: %s\n", argv[i]);
            return 2;
        }
        strings.emplace_back(item.substr(0, equals), item.substr(equals + 1));
    }
    strings.emplace_back("FileVersion", version);
    const std::vector<BYTE> block = BuildVersionInfo(version, strings);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(block.data(), 1, block.size(), out) == block.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
