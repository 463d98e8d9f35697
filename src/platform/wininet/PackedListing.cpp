#include "PackedListing.h"

#include <sys/mman.h>

#include <cstring>

namespace wininet {
namespace {

// What an entry keeps besides its name, which follows it; the pair is padded to 8 bytes.
struct Record
{
    std::uint64_t size;
    std::uint64_t lastWrite; // FILETIME as one number; the parsers give all three times alike
    DWORD attributes;
    std::uint16_t nameLength; // below MAX_PATH
    std::uint16_t reserved1;  // the find record's dwReserved1 flags (FIND_DATA_DATE_ONLY)
};
static_assert(sizeof(Record) == 24);

constexpr std::size_t kAlign = alignof(Record);

std::size_t storedBytes(std::size_t nameLength)
{
    return (sizeof(Record) + nameLength + kAlign - 1) / kAlign * kAlign;
}

std::uint64_t joined(DWORD high, DWORD low)
{
    return (std::uint64_t{high} << 32) | low;
}

FILETIME fileTime(std::uint64_t value)
{
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

} // namespace

void PackedListing::Unmap::operator()(char* pages) const
{
    ::munmap(pages, kChunkBytes);
}

bool PackedListing::add(const WIN32_FIND_DATAA& entry)
{
    if (m_added >= kMaxEntries)
        return false;
    const std::size_t nameLength = ::strnlen(entry.cFileName, sizeof entry.cFileName - 1);
    const std::size_t bytes = storedBytes(nameLength);
    if (m_chunks.empty() || m_chunks.back().used + bytes > kChunkBytes) {
        // Pages straight from the system, so that giving them back returns them at once.
        void* pages = ::mmap(nullptr, kChunkBytes, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED)
            return false;
        m_chunks.push_back(Chunk{std::unique_ptr<char, Unmap>(static_cast<char*>(pages))});
    }
    Chunk& chunk = m_chunks.back();
    char* at = chunk.pages.get() + chunk.used;
    const Record record{
        joined(entry.nFileSizeHigh, entry.nFileSizeLow),
        joined(entry.ftLastWriteTime.dwHighDateTime, entry.ftLastWriteTime.dwLowDateTime),
        entry.dwFileAttributes, static_cast<std::uint16_t>(nameLength),
        static_cast<std::uint16_t>(entry.dwReserved1 & 0xFFFFu)};
    std::memcpy(at, &record, sizeof record);
    std::memcpy(at + sizeof record, entry.cFileName, nameLength);
    chunk.used += bytes;
    ++m_added;
    return true;
}

bool PackedListing::take(WIN32_FIND_DATAA& out)
{
    if (m_chunks.empty())
        return false;
    Chunk& chunk = m_chunks.front();
    const char* at = chunk.pages.get() + chunk.read;
    Record record;
    std::memcpy(&record, at, sizeof record);
    // Only the used part of the name buffer is written; the rest must read as NULs.
    std::memset(&out, 0, offsetof(WIN32_FIND_DATAA, cFileName));
    out.dwFileAttributes = record.attributes;
    out.ftCreationTime = out.ftLastAccessTime = out.ftLastWriteTime = fileTime(record.lastWrite);
    out.nFileSizeHigh = static_cast<DWORD>(record.size >> 32);
    out.nFileSizeLow = static_cast<DWORD>(record.size & 0xFFFFFFFFu);
    out.dwReserved1 = record.reserved1;
    std::memcpy(out.cFileName, at + sizeof record, record.nameLength);
    std::memset(out.cFileName + record.nameLength, 0, sizeof out.cFileName - record.nameLength);
    std::memset(out.cAlternateFileName, 0, sizeof out.cAlternateFileName);
    chunk.read += storedBytes(record.nameLength);
    if (chunk.read >= chunk.used)
        m_chunks.pop_front();
    return true;
}

} // namespace wininet
