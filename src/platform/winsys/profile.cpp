#include "profile.h"

#include "datafolder.h"
#include "lasterror.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// One line of the file exactly as it was, its line ending kept apart.
struct Line
{
    std::string text;
    std::string ending; // "\n", "\r\n" or, on a last line without one, "" (a lone CR: "\r\n")
};

std::vector<Line> splitLines(std::string_view contents)
{
    std::vector<Line> lines;
    while (!contents.empty()) {
        const auto end = contents.find('\n');
        std::string_view text = contents.substr(0, end);
        std::string ending = end == std::string_view::npos ? "" : "\n";
        contents = end == std::string_view::npos ? std::string_view{} : contents.substr(end + 1);
        // A last line that ends in a lone CR ends like the others: whatever is written after
        // it must not change what it reads.
        if ((!ending.empty() || contents.empty()) && !text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
            ending = "\r\n";
        }
        lines.push_back(Line{std::string(text), std::move(ending)});
    }
    return lines;
}

std::string joinLines(const std::vector<Line>& lines)
{
    std::string out;
    for (const auto& line : lines)
        out += line.text + line.ending;
    return out;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

// "[name]" (blanks before the bracket allowed, anything after the ']' ignored).
std::optional<std::string_view> sectionOf(std::string_view line)
{
    line = trimmed(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return line.substr(1, close - 1);
}

// "key=value" outside comments; the key trimmed, the value as it stands.
bool keyOf(std::string_view line, std::string_view& key, std::string_view& value)
{
    const std::string_view body = trimmed(line);
    if (body.empty() || body.front() == ';' || body.front() == '[')
        return false;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = trimmed(line.substr(0, eq));
    value = line.substr(eq + 1);
    return true;
}

// The plain rule: blanks trimmed, then one pair of matching enclosing quotes removed.
std::string_view plainValue(std::string_view raw)
{
    std::string_view value = trimmed(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

// Lines [begin, end) of the first section called `name`, header included.
struct Range
{
    size_t begin = 0;
    size_t end = 0;
};

std::optional<Range> findSection(const std::vector<Line>& lines, std::string_view name,
                                 size_t from = 0)
{
    for (size_t i = from; i < lines.size(); ++i) {
        const auto section = sectionOf(lines[i].text);
        if (!section || !sameName(*section, name))
            continue;
        size_t end = i + 1;
        while (end < lines.size() && !sectionOf(lines[end].text))
            ++end;
        return Range{i, end};
    }
    return std::nullopt;
}

std::optional<size_t> findKey(const std::vector<Line>& lines, Range section, std::string_view key)
{
    for (size_t i = section.begin + 1; i < section.end; ++i) {
        std::string_view k, v;
        if (keyOf(lines[i].text, k, v) && sameName(k, key))
            return i;
    }
    return std::nullopt;
}

bool readLines(LPCSTR fileName, std::vector<Line>& lines)
{
    std::string contents;
    if (!ReadWholeFile(fileName, contents))
        return false;
    lines = splitLines(contents);
    return true;
}

// Copies a list of names, each ended by NUL, plus the closing NUL, cutting it to fit.
DWORD copyList(const std::vector<std::string>& names, LPSTR buffer, DWORD size)
{
    std::string list;
    for (const auto& name : names)
        list += name + '\0';
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        if (list.empty())
            buffer[1] = '\0';
        return static_cast<DWORD>(list.size());
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

DWORD copyValue(std::string_view value, LPSTR buffer, DWORD size)
{
    const size_t n = std::min<size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

bool hasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool validNames(LPCSTR section, LPCSTR key, LPCSTR value)
{
    const std::string_view s = section;
    if (hasLineBreak(s) || s.find(']') != std::string_view::npos)
        return false;
    if (key) {
        const std::string_view k = trimmed(key);
        if (k.empty() || hasLineBreak(k) || k.find('=') != std::string_view::npos ||
            k.front() == '[' || k.front() == ';')
            return false;
    }
    return !value || !hasLineBreak(value);
}

std::string newLineEnding(const std::vector<Line>& lines)
{
    return !lines.empty() && lines.front().ending == "\r\n" ? "\r\n" : "\n";
}

// Sets the key, adding it after the section's last non-blank line, or adds the section.
void setKey(std::vector<Line>& lines, LPCSTR section, LPCSTR key, LPCSTR value)
{
    const std::string eol = newLineEnding(lines);
    const std::string keyText(trimmed(key));
    if (const auto range = findSection(lines, section)) {
        if (const auto at = findKey(lines, *range, keyText)) {
            std::string_view oldKey, oldValue;
            keyOf(lines[*at].text, oldKey, oldValue);
            lines[*at].text = std::string(oldKey) + "=" + value;
            return;
        }
        size_t at = range->end;
        while (at > range->begin + 1 && trimmed(lines[at - 1].text).empty())
            --at;
        if (lines[at - 1].ending.empty())
            lines[at - 1].ending = eol;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
                     Line{keyText + "=" + value, eol});
        return;
    }
    if (!lines.empty()) {
        if (lines.back().ending.empty())
            lines.back().ending = eol;
        if (!trimmed(lines.back().text).empty())
            lines.push_back(Line{"", eol});
    }
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict for "[" + string.
    std::string header("[");
    header.append(section).append("]");
    lines.push_back(Line{header, eol});
    lines.push_back(Line{keyText + "=" + value, eol});
}

// Erases every section of that name (so no later copy shows through) or the key in the first.
bool eraseEntry(std::vector<Line>& lines, LPCSTR section, LPCSTR key)
{
    bool changed = false;
    if (!key) {
        while (const auto range = findSection(lines, section)) {
            size_t end = range->end;
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->begin),
                        lines.begin() + static_cast<std::ptrdiff_t>(end));
            changed = true;
        }
        return changed;
    }
    if (const auto range = findSection(lines, section)) {
        if (const auto at = findKey(lines, *range, trimmed(key))) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*at));
            changed = true;
        }
    }
    return changed;
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
    if (!lpReturnedString || nSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::vector<Line> lines;
    const bool haveFile = lpFileName && readLines(lpFileName, lines);
    if (!lpAppName || !lpKeyName) {
        std::vector<std::string> names;
        auto addName = [&](std::string_view name) {
            for (const auto& known : names)
                if (sameName(known, name))
                    return;
            names.emplace_back(name);
        };
        const auto range = lpAppName ? findSection(lines, lpAppName) : std::nullopt;
        for (size_t i = 0; i < lines.size(); ++i) {
            std::string_view key, value;
            if (!lpAppName) {
                if (const auto section = sectionOf(lines[i].text))
                    addName(*section);
            } else if (range && i > range->begin && i < range->end &&
                       keyOf(lines[i].text, key, value)) {
                addName(key);
            }
        }
        return copyList(names, lpReturnedString, nSize);
    }
    if (haveFile) {
        if (const auto range = findSection(lines, lpAppName)) {
            if (const auto at = findKey(lines, *range, trimmed(lpKeyName))) {
                std::string_view key, value;
                keyOf(lines[*at].text, key, value);
                SetLastError(ERROR_SUCCESS);
                return copyValue(plainValue(value), lpReturnedString, nSize);
            }
        }
    }
    std::string_view fallback = lpDefault ? lpDefault : "";
    while (!fallback.empty() && fallback.back() == ' ')
        fallback.remove_suffix(1);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return copyValue(fallback, lpReturnedString, nSize);
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName)
{
    if (!lpAppName) {
        // All none asks to flush a cache; every write here already reached the disk.
        if (!lpKeyName && !lpString)
            return TRUE;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!lpFileName || !*lpFileName || !validNames(lpAppName, lpKeyName, lpString)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FolderWriteLock lock(lpFileName);
    if (!lock.locked())
        return FALSE;
    std::vector<Line> lines;
    if (!readLines(lpFileName, lines) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return FALSE;
    if (!lpKeyName || !lpString) {
        if (!eraseEntry(lines, lpAppName, lpKeyName))
            return TRUE;
    } else {
        setKey(lines, lpAppName, lpKeyName, lpString);
    }
    return ReplaceFileContents(lpFileName, joinLines(lines));
}
