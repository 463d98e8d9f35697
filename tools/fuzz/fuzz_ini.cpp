// The profile (INI) file: any file content is read without harm, and writing one key changes
// what that key reads and nothing else. Input: section, key and value to write, each ended by
// NUL, then the file's content.
#include "FuzzCheck.h"
#include "profile.h"

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Larger than any file the fuzzer makes (-max_len), so nothing read is ever cut.
constexpr DWORD kBufferSize = 64 * 1024;
char buffer[kBufferSize];

std::string folder()
{
    static const std::string path = [] {
        // In memory where there is such a folder: every write is flushed to the disk.
        char name[] = "/dev/shm/zulftp-fuzz-ini-XXXXXX";
        char fallback[] = "/tmp/zulftp-fuzz-ini-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            FUZZ_CHECK(mkdtemp(fallback) != nullptr);
            return std::string(fallback);
        }
        return std::string(name);
    }();
    return path;
}

std::vector<std::string> names(const char* section, const std::string& file)
{
    const DWORD length =
        GetPrivateProfileStringA(section, nullptr, "", buffer, kBufferSize, file.c_str());
    std::vector<std::string> list;
    for (std::size_t at = 0; at < length;) {
        const std::string name(buffer + at);
        at += name.size() + 1;
        list.push_back(name);
    }
    return list;
}

std::string valueOf(const std::string& section, const std::string& key, const std::string& file)
{
    const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01missing",
                                                  buffer, kBufferSize, file.c_str());
    return std::string(buffer, length);
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool sameName(std::string_view a, std::string_view b)
{
    a = trimmed(a);
    b = trimmed(b);
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

struct Entry
{
    std::string section, key, value;
};

std::vector<Entry> everything(const std::string& file)
{
    std::vector<Entry> entries;
    for (const std::string& section : names(nullptr, file))
        for (const std::string& key : names(section.c_str(), file))
            entries.push_back({section, key, valueOf(section, key, file)});
    return entries;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    std::string_view input = fuzzInput(data, size);
    std::string parts[3] = {"site", "Host", "127.0.0.1"};
    for (std::string& part : parts) {
        const std::size_t end = input.find('\0');
        if (end == std::string_view::npos)
            break;
        part.assign(input.substr(0, end));
        input.remove_prefix(end + 1);
    }
    const std::string file = folder() + "/zulftp.ini";
    FILE* out = std::fopen(file.c_str(), "wb");
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(std::fwrite(input.data(), 1, input.size(), out) == input.size());
    FUZZ_CHECK(std::fclose(out) == 0);

    const std::vector<Entry> before = everything(file);
    const auto& [section, key, value] = parts;
    if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()))
        return 0; // names that would break the file's lines are refused
    const std::string_view plain = trimmed(value);
    const bool quoted = plain.size() >= 2 && plain.front() == plain.back() &&
                        (plain.front() == '"' || plain.front() == '\'');
    if (plain.size() == value.size() && !quoted)
        FUZZ_CHECK(valueOf(section, key, file) == value);
    for (const Entry& entry : before) {
        if (sameName(entry.section, section) && sameName(entry.key, key))
            continue;
        FUZZ_CHECK(valueOf(entry.section, entry.key, file) == entry.value);
    }
    return 0;
}
