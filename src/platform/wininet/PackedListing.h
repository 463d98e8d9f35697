#pragma once
// The entries of one directory listing, kept small: a find record is 320 bytes, most of it an
// empty name buffer, so a million of them would cost 320 MB. Here each entry is a 24-byte
// record and its name, and the find record is filled only when it is handed out.
#include "wininet.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wininet {

class PackedListing
{
public:
    // A folder with more entries than this is refused as a whole rather than shown in part:
    // two million rows are already far beyond what anyone scrolls through, and without a
    // bound a server sending short lines could make us hold tens of millions.
    static constexpr std::size_t kMaxEntries = 2'000'000;

    // Keeps the entry; false when the listing is full (kMaxEntries) or the names would
    // outgrow their 32-bit offsets.
    bool add(const WIN32_FIND_DATAA& entry);
    std::size_t size() const { return m_records.size(); }
    bool empty() const { return m_records.empty(); }
    // The entry at `index` as the enumeration hands it out.
    void fill(std::size_t index, WIN32_FIND_DATAA& out) const;
    // Gives back the room kept for growth once the listing is complete.
    void shrink();

private:
    struct Record
    {
        std::uint64_t size;
        std::uint64_t lastWrite;  // FILETIME as one number; the parsers give all three times alike
        std::uint32_t nameOffset; // into m_names; each name ends with a NUL
        DWORD attributes;
    };
    static_assert(sizeof(Record) == 24);

    std::vector<Record> m_records;
    std::vector<char> m_names;
};

} // namespace wininet
