#pragma once
// The registry file's contents in memory, and its REGEDIT4 text form.
#include "windef.h"

#include <string>
#include <string_view>
#include <vector>

namespace regfile {

struct Value
{
    std::string name; // "" is the key's default value, written "@"
    DWORD type = 0;
    std::string data; // the bytes exactly as set, a string's NUL included
};

struct Key
{
    std::string path; // "HKEY_LOCAL_MACHINE\Software\..."
    std::vector<Value> values;
};

struct Hive
{
    std::vector<Key> keys; // in file order

    Key* findKey(std::string_view path);
    const Key* findKey(std::string_view path) const;
    // True for a stored key and for every key above a stored one.
    bool keyExists(std::string_view path) const;
    Key& addKey(std::string path);
};

Value* findValue(Key& key, std::string_view name);
const Value* findValue(const Key& key, std::string_view name);

// Registry names match without regard to (ASCII) letter case.
bool sameName(std::string_view a, std::string_view b);

// Parses a REGEDIT4 file. False when any line is not understood: such a file is never
// replaced, since writing it back would drop what could not be read.
bool parse(std::string_view text, Hive& hive);
std::string serialize(const Hive& hive);

} // namespace regfile
