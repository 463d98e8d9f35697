#include "winver.h"

#include "lasterror.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Finding the version block in an executable file: the section headers of the ELF file
// (either class, either byte order), then the section of our name.

namespace {

constexpr unsigned kElfClass32 = 1;
constexpr unsigned kElfClass64 = 2;
constexpr unsigned kElfDataLsb = 1;
constexpr unsigned kElfDataMsb = 2;
constexpr unsigned kSectionNoBits = 8; // SHT_NOBITS: the section takes no room in the file
constexpr unsigned long long kExtendedIndex = 0xFFFF; // SHN_XINDEX
// Far more sections than any linker writes; a header claiming more is not one of ours, and
// walking it would only cost time.
constexpr unsigned long long kMaxSections = 1u << 20;
// A node length is a WORD, so no version block is larger.
constexpr unsigned long long kMaxBlockBytes = 0xFFFF;

// The fields of the ELF header and section headers that we use, at their offsets for the
// two classes.
struct ElfLayout
{
    std::size_t headerBytes;
    std::size_t shoff, shentsize, shnum, shstrndx;
    std::size_t sectionHeaderBytes;
    std::size_t shName, shType, shOffset, shSize, shLink;
    std::size_t addressBytes; // the width of sh_offset and sh_size
};

constexpr ElfLayout kElf32{52, 0x20, 0x2E, 0x30, 0x32, 40, 0x00, 0x04, 0x10, 0x14, 0x18, 4};
constexpr ElfLayout kElf64{64, 0x28, 0x3A, 0x3C, 0x3E, 64, 0x00, 0x04, 0x18, 0x20, 0x28, 8};

class ByteOrder
{
public:
    explicit ByteOrder(bool bigEndian) : m_big(bigEndian) {}
    unsigned long long read(const unsigned char* at, std::size_t width) const
    {
        unsigned long long value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const unsigned char byte = m_big ? at[i] : at[width - 1 - i];
            value = (value << 8) | byte;
        }
        return value;
    }

private:
    bool m_big;
};

bool fitsIn(unsigned long long offset, unsigned long long length, unsigned long long fileSize)
{
    return offset <= fileSize && length <= fileSize - offset;
}

struct SectionHeader
{
    unsigned long long name, type, offset, size, link;
};

class ElfReader
{
public:
    ElfReader(const FileReadAt& readAt, unsigned long long fileSize)
        : m_readAt(readAt), m_fileSize(fileSize)
    {}

    DWORD find(const char* name, unsigned long long& offset, unsigned long long& size);

private:
    bool readBytes(unsigned long long offset, std::size_t length, void* out) const
    {
        return fitsIn(offset, length, m_fileSize) && m_readAt(offset, length, out);
    }
    bool section(unsigned long long index, SectionHeader& header) const;
    bool nameIs(const SectionHeader& strings, unsigned long long nameOffset,
                const char* name) const;

    const FileReadAt& m_readAt;
    unsigned long long m_fileSize;
    ElfLayout m_layout = kElf64;
    ByteOrder m_order{false};
    unsigned long long m_shoff = 0;
    unsigned long long m_shentsize = 0;
};

bool ElfReader::section(unsigned long long index, SectionHeader& header) const
{
    unsigned char raw[64];
    if (!readBytes(m_shoff + index * m_shentsize, m_layout.sectionHeaderBytes, raw))
        return false;
    const std::size_t width = m_layout.addressBytes;
    header.name = m_order.read(raw + m_layout.shName, 4);
    header.type = m_order.read(raw + m_layout.shType, 4);
    header.offset = m_order.read(raw + m_layout.shOffset, width);
    header.size = m_order.read(raw + m_layout.shSize, width);
    header.link = m_order.read(raw + m_layout.shLink, 4);
    return true;
}

bool ElfReader::nameIs(const SectionHeader& strings, unsigned long long nameOffset,
                       const char* name) const
{
    // The name and its NUL must lie inside the string table.
    const std::size_t wanted = std::strlen(name) + 1;
    if (nameOffset >= strings.size || wanted > strings.size - nameOffset)
        return false;
    char found[64];
    if (wanted > sizeof found || !readBytes(strings.offset + nameOffset, wanted, found))
        return false;
    return std::memcmp(found, name, wanted) == 0;
}

DWORD ElfReader::find(const char* name, unsigned long long& offset, unsigned long long& size)
{
    unsigned char ident[64] = {};
    if (!readBytes(0, 16, ident) || std::memcmp(ident, "\177ELF", 4) != 0)
        return ERROR_BAD_EXE_FORMAT;
    if ((ident[4] != kElfClass32 && ident[4] != kElfClass64) ||
        (ident[5] != kElfDataLsb && ident[5] != kElfDataMsb))
        return ERROR_BAD_EXE_FORMAT;
    m_layout = ident[4] == kElfClass32 ? kElf32 : kElf64;
    m_order = ByteOrder(ident[5] == kElfDataMsb);
    if (!readBytes(0, m_layout.headerBytes, ident))
        return ERROR_BAD_EXE_FORMAT;
    m_shoff = m_order.read(ident + m_layout.shoff, m_layout.addressBytes);
    m_shentsize = m_order.read(ident + m_layout.shentsize, 2);
    unsigned long long count = m_order.read(ident + m_layout.shnum, 2);
    unsigned long long stringsIndex = m_order.read(ident + m_layout.shstrndx, 2);
    if (m_shoff == 0)
        return ERROR_RESOURCE_TYPE_NOT_FOUND; // no section headers at all
    if (m_shentsize < m_layout.sectionHeaderBytes)
        return ERROR_BAD_EXE_FORMAT;
    // Files with very many sections keep the real count and string table index in the
    // first section header.
    SectionHeader first{};
    if (!section(0, first))
        return ERROR_BAD_EXE_FORMAT;
    if (count == 0)
        count = first.size;
    if (stringsIndex == kExtendedIndex)
        stringsIndex = first.link;
    if (count > kMaxSections || !fitsIn(m_shoff, count * m_shentsize, m_fileSize) ||
        stringsIndex >= count)
        return ERROR_BAD_EXE_FORMAT;
    SectionHeader strings{};
    if (!section(stringsIndex, strings) || !fitsIn(strings.offset, strings.size, m_fileSize))
        return ERROR_BAD_EXE_FORMAT;
    for (unsigned long long index = 1; index < count; ++index) {
        SectionHeader header{};
        if (!section(index, header))
            return ERROR_BAD_EXE_FORMAT;
        if (!nameIs(strings, header.name, name))
            continue;
        if (header.type == kSectionNoBits || header.size == 0)
            return ERROR_RESOURCE_TYPE_NOT_FOUND;
        if (!fitsIn(header.offset, header.size, m_fileSize))
            return ERROR_BAD_EXE_FORMAT;
        offset = header.offset;
        size = header.size;
        return ERROR_SUCCESS;
    }
    return ERROR_RESOURCE_TYPE_NOT_FOUND;
}

// An open file, closed on every path.
class ReadOnlyFile
{
public:
    explicit ReadOnlyFile(LPCSTR path)
        : m_fd(::open(path, O_RDONLY | O_CLOEXEC)), m_openError(m_fd < 0 ? errno : 0)
    {}
    ~ReadOnlyFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int openError() const { return m_openError; }
    unsigned long long size() const
    {
        struct stat info
        {};
        return ::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode)
                   ? static_cast<unsigned long long>(info.st_size)
                   : 0;
    }
    bool readAt(unsigned long long offset, std::size_t length, void* out) const
    {
        auto* bytes = static_cast<char*>(out);
        while (length > 0) {
            const ssize_t got = ::pread(m_fd, bytes, length, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            bytes += got;
            length -= static_cast<std::size_t>(got);
            offset += static_cast<unsigned long long>(got);
        }
        return true;
    }

private:
    int m_fd;
    int m_openError;
};

// Opens `path` and finds the version section; sets the last error and returns false when
// there is none.
bool locateVersionBlock(const ReadOnlyFile& file, LPCSTR path, unsigned long long& offset,
                        unsigned long long& size)
{
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!file.isOpen()) {
        const int error = file.openError();
        SetLastError(error == ENOENT ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(error));
        return false;
    }
    const FileReadAt readAt = [&file](unsigned long long at, std::size_t length, void* out) {
        return file.readAt(at, length, out);
    };
    const DWORD error = FindElfSection(readAt, file.size(), kVersionSectionName, offset, size);
    if (error == ERROR_SUCCESS && size > kMaxBlockBytes) {
        SetLastError(ERROR_BAD_FORMAT);
        return false;
    }
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

} // namespace

DWORD FindElfSection(const FileReadAt& readAt, unsigned long long fileSize, const char* name,
                     unsigned long long& offset, unsigned long long& size)
{
    ElfReader reader(readAt, fileSize);
    return reader.find(name, offset, size);
}

DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle)
{
    if (lpdwHandle)
        *lpdwHandle = 0;
    ReadOnlyFile file(lptstrFilename && *lptstrFilename ? lptstrFilename : "");
    unsigned long long offset = 0;
    unsigned long long size = 0;
    if (!locateVersionBlock(file, lptstrFilename, offset, size))
        return 0;
    return static_cast<DWORD>(size);
}

BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData)
{
    if (!lpData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ReadOnlyFile file(lptstrFilename && *lptstrFilename ? lptstrFilename : "");
    unsigned long long offset = 0;
    unsigned long long size = 0;
    if (!locateVersionBlock(file, lptstrFilename, offset, size))
        return FALSE;
    const auto length = static_cast<std::size_t>(std::min<unsigned long long>(size, dwLen));
    if (length < 2 || !file.readAt(offset, length, lpData)) {
        SetLastError(length < 2 ? ERROR_INSUFFICIENT_BUFFER : ERROR_READ_FAULT);
        return FALSE;
    }
    // VerQueryValueA trusts the root's length, so the whole root must be in the buffer.
    const auto* block = static_cast<const BYTE*>(lpData);
    const std::size_t rootLength = static_cast<std::size_t>(block[0] | (block[1] << 8));
    if (rootLength > size) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (rootLength > length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD GetModuleFileNameA(HANDLE hModule, LPSTR lpFilename, DWORD nSize)
{
    if (hModule || !lpFilename || nSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) {
        SetLastError(length < 0 ? Win32ErrorFromErrno(errno) : ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const auto wanted = static_cast<std::size_t>(length);
    const std::size_t copied = std::min<std::size_t>(wanted, nSize - 1);
    std::memcpy(lpFilename, path, copied);
    lpFilename[copied] = '\0';
    if (copied < wanted) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(copied);
}
