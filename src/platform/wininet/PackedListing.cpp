#include "PackedListing.h"

#include <cstring>
#include <limits>

namespace wininet {
namespace {

std::uint64_t joined(DWORD high, DWORD low)
{
    return (std::uint64_t{high} << 32) | low;
}

FILETIME fileTime(std::uint64_t value)
{
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

} // namespace

bool PackedListing::add(const WIN32_FIND_DATAA& entry)
{
    if (m_records.size() >= kMaxEntries)
        return false;
    const std::size_t nameLength = ::strnlen(entry.cFileName, sizeof entry.cFileName - 1);
    const std::size_t offset = m_names.size();
    if (offset + nameLength + 1 > std::numeric_limits<std::uint32_t>::max())
        return false;
    m_names.insert(m_names.end(), entry.cFileName, entry.cFileName + nameLength);
    m_names.push_back('\0');
    m_records.push_back(
        Record{joined(entry.nFileSizeHigh, entry.nFileSizeLow),
               joined(entry.ftLastWriteTime.dwHighDateTime, entry.ftLastWriteTime.dwLowDateTime),
               static_cast<std::uint32_t>(offset), entry.dwFileAttributes});
    return true;
}

void PackedListing::fill(std::size_t index, WIN32_FIND_DATAA& out) const
{
    const Record& record = m_records[index];
    const std::size_t end =
        index + 1 < m_records.size() ? m_records[index + 1].nameOffset : m_names.size();
    // Only the used part of the name buffer is written; the rest must read as NULs.
    const std::size_t nameLength = end - record.nameOffset - 1;
    std::memset(&out, 0, offsetof(WIN32_FIND_DATAA, cFileName));
    out.dwFileAttributes = record.attributes;
    out.ftCreationTime = out.ftLastAccessTime = out.ftLastWriteTime = fileTime(record.lastWrite);
    out.nFileSizeHigh = static_cast<DWORD>(record.size >> 32);
    out.nFileSizeLow = static_cast<DWORD>(record.size & 0xFFFFFFFFu);
    std::memcpy(out.cFileName, m_names.data() + record.nameOffset, nameLength);
    std::memset(out.cFileName + nameLength, 0, sizeof out.cFileName - nameLength);
    std::memset(out.cAlternateFileName, 0, sizeof out.cAlternateFileName);
}

void PackedListing::shrink()
{
    m_records.shrink_to_fit();
    m_names.shrink_to_fit();
}

} // namespace wininet
