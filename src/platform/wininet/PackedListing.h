#pragma once
// The entries of one directory listing, kept small: a find record is 320 bytes, most of it an
// empty name buffer, so a million of them would cost 320 MB. Here each entry is a 24-byte
// record and its name, and the find record is filled only when it is handed out.
#include "wininet.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

namespace wininet {

class PackedListing
{
public:
    // A folder with more entries than this is refused as a whole rather than shown in part:
    // two million rows are already far beyond what anyone scrolls through, and without a
    // bound a server sending short lines could make us hold tens of millions.
    static constexpr std::size_t kMaxEntries = 2'000'000;

    // Keeps the entry; false when the listing is full (kMaxEntries) or out of memory.
    bool add(const WIN32_FIND_DATAA& entry);
    // Entries added, whether handed out yet or not.
    std::size_t size() const { return m_added; }
    bool empty() const { return m_chunks.empty(); }
    // Hands out the next entry in the order they were added; false when none is left.
    bool take(WIN32_FIND_DATAA& out);

private:
    // Entries lie back to back in chunks of pages of their own. A chunk whose entries have
    // all been handed out goes straight back to the system, so while the caller turns a large
    // listing into rows of its own, this copy shrinks as that one grows; and the listing
    // grows without ever being copied to a bigger block.
    static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
    struct Unmap
    {
        void operator()(char* pages) const;
    };
    struct Chunk
    {
        std::unique_ptr<char, Unmap> pages;
        std::size_t used = 0;
        std::size_t read = 0;
    };

    std::deque<Chunk> m_chunks;
    std::size_t m_added = 0;
};

} // namespace wininet
