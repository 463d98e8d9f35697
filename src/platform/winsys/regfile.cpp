#include "regfile.h"

#include <cstdio>

namespace regfile {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A quoted name or string with regedit's two escapes, \\ and \". Advances `s` past it.
bool parseQuoted(std::string_view& s, std::string& out)
{
    if (s.empty() || s.front() != '"')
        return false;
    out.clear();
    for (size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"'))
                return false;
            out += s[++i];
        } else {
            out += c;
        }
    }
    return false;
}

bool parseHexBytes(std::string_view s, std::string& out)
{
    out.clear();
    s = trimmed(s);
    while (!s.empty()) {
        if (s.size() < 2 || hexDigit(s[0]) < 0 || hexDigit(s[1]) < 0)
            return false;
        out += static_cast<char>(hexDigit(s[0]) * 16 + hexDigit(s[1]));
        s = trimmed(s.substr(2));
        if (s.empty())
            break;
        if (s.front() != ',')
            return false;
        s = trimmed(s.substr(1));
        if (s.empty())
            return false;
    }
    return true;
}

bool parseDword(std::string_view s, std::string& out)
{
    s = trimmed(s);
    if (s.empty() || s.size() > 8)
        return false;
    DWORD value = 0;
    for (char c : s) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<DWORD>(digit);
    }
    out.clear();
    for (int i = 0; i < 4; ++i) // little-endian, as the registry keeps a DWORD
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return true;
}

// The data after '=': "text", dword:, hex: or hex(n):.
bool parseData(std::string_view s, Value& value)
{
    if (!s.empty() && s.front() == '"') {
        std::string text;
        if (!parseQuoted(s, text) || !trimmed(s).empty())
            return false;
        value.type = 1; // REG_SZ
        value.data = text + '\0';
        return true;
    }
    if (s.substr(0, 6) == "dword:") {
        value.type = 4; // REG_DWORD
        return parseDword(s.substr(6), value.data);
    }
    if (s.substr(0, 4) == "hex:") {
        value.type = 3; // REG_BINARY
        return parseHexBytes(s.substr(4), value.data);
    }
    if (s.substr(0, 4) == "hex(") {
        const auto close = s.find("):");
        if (close == std::string_view::npos || close == 4 || close > 12)
            return false;
        DWORD type = 0;
        for (char c : s.substr(4, close - 4)) {
            const int digit = hexDigit(c);
            if (digit < 0)
                return false;
            type = type * 16 + static_cast<DWORD>(digit);
        }
        value.type = type;
        return parseHexBytes(s.substr(close + 2), value.data);
    }
    return false;
}

bool knownRoot(std::string_view path)
{
    static constexpr std::string_view roots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                 "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
    const std::string_view root = path.substr(0, path.find('\\'));
    for (auto r : roots)
        if (sameName(root, r))
            return true;
    return false;
}

// Joins lines ending in a backslash with the next one (regedit wraps long hex data so).
std::vector<std::string> logicalLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::string current;
    bool continuing = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        line = continuing ? trimmed(line) : line;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string_view body = trimmed(line);
        continuing = !body.empty() && body.back() == '\\' && body.front() != ';';
        current += continuing ? body.substr(0, body.size() - 1) : line;
        if (!continuing) {
            lines.push_back(std::move(current));
            current.clear();
        }
    }
    if (continuing)
        lines.push_back(std::move(current)); // a file cut after a '\' fails on this line
    return lines;
}

bool needsHexForm(const Value& value)
{
    if (value.type != 1 || value.data.empty() || value.data.back() != '\0')
        return true;
    for (size_t i = 0; i + 1 < value.data.size(); ++i) {
        const auto c = static_cast<unsigned char>(value.data[i]);
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

std::string quoted(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + '"';
}

std::string hexBytes(std::string_view data)
{
    std::string out;
    char buffer[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(data[i]));
        if (i)
            out += ',';
        out += buffer;
    }
    return out;
}

std::string dataText(const Value& value)
{
    char buffer[32];
    if (value.type == 4 && value.data.size() == 4) {
        DWORD v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(value.data[static_cast<size_t>(i)]);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", v);
        return buffer;
    }
    if (!needsHexForm(value))
        return quoted(std::string_view(value.data).substr(0, value.data.size() - 1));
    if (value.type == 3)
        return "hex:" + hexBytes(value.data);
    std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
    return buffer + hexBytes(value.data);
}

} // namespace

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

Key* Hive::findKey(std::string_view path)
{
    for (auto& key : keys)
        if (sameName(key.path, path))
            return &key;
    return nullptr;
}

const Key* Hive::findKey(std::string_view path) const
{
    return const_cast<Hive*>(this)->findKey(path);
}

bool Hive::keyExists(std::string_view path) const
{
    for (const auto& key : keys) {
        if (sameName(key.path, path))
            return true;
        if (key.path.size() > path.size() && key.path[path.size()] == '\\' &&
            sameName(std::string_view(key.path).substr(0, path.size()), path))
            return true;
    }
    return false;
}

Key& Hive::addKey(std::string path)
{
    keys.push_back(Key{std::move(path), {}});
    return keys.back();
}

Value* findValue(Key& key, std::string_view name)
{
    for (auto& value : key.values)
        if (sameName(value.name, name))
            return &value;
    return nullptr;
}

const Value* findValue(const Key& key, std::string_view name)
{
    return findValue(const_cast<Key&>(key), name);
}

bool parse(std::string_view text, Hive& hive)
{
    hive.keys.clear();
    const auto lines = logicalLines(text);
    size_t i = 0;
    while (i < lines.size() && trimmed(lines[i]).empty())
        ++i;
    if (i == lines.size() || trimmed(lines[i]) != kHeader)
        return false;
    Key* current = nullptr;
    for (++i; i < lines.size(); ++i) {
        std::string_view line = trimmed(lines[i]);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const auto close = line.rfind(']');
            if (close == std::string_view::npos || close < 2 ||
                !trimmed(line.substr(close + 1)).empty())
                return false;
            const std::string_view path = line.substr(1, close - 1);
            if (!knownRoot(path))
                return false; // "[-key]" deletions and unknown roots included
            current = hive.findKey(path);
            if (!current)
                current = &hive.addKey(std::string(path));
            continue;
        }
        if (!current)
            return false;
        Value value;
        if (line.front() == '@') {
            line.remove_prefix(1);
        } else if (!parseQuoted(line, value.name)) {
            return false;
        }
        line = trimmed(line);
        if (line.empty() || line.front() != '=')
            return false;
        if (!parseData(trimmed(line.substr(1)), value))
            return false;
        if (Value* existing = findValue(*current, value.name))
            *existing = std::move(value);
        else
            current->values.push_back(std::move(value));
    }
    return true;
}

std::string serialize(const Hive& hive)
{
    std::string out = std::string(kHeader) + "\n";
    for (const auto& key : hive.keys) {
        out += "\n[" + key.path + "]\n";
        for (const auto& value : key.values)
            out += (value.name.empty() ? std::string("@") : quoted(value.name)) + "=" +
                   dataText(value) + "\n";
    }
    return out;
}

} // namespace regfile
