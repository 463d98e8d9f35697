#pragma once
// The version resource calls of the Windows API. Our executables carry the version block in
// an ELF section of their own (kVersionSectionName), added when the program is linked; the
// calls read it from the file on disk, as the Windows calls read the file and not the image
// in memory, so a copy of the program reports its own version.
//
// The block is a tree of nodes, each: WORD wLength (the node with its children, in bytes),
// WORD wValueLength (bytes), WORD wType (1 text, 0 binary), the key as a NUL-terminated
// 8-bit string, padding to a multiple of four, the value, padding to four, the children.
// All numbers are little-endian. The root "VS_VERSION_INFO" holds a VS_FIXEDFILEINFO;
// "\StringFileInfo\<language><code page>\<name>" holds the texts.
#include "windef.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

inline constexpr char kVersionSectionName[] = ".zulftp.version";

inline constexpr DWORD ERROR_BAD_FORMAT = 11;
inline constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
inline constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;

inline constexpr DWORD VS_FFI_SIGNATURE = 0xFEEF04BD;
inline constexpr DWORD VS_FFI_STRUCVERSION = 0x00010000;

struct VS_FIXEDFILEINFO
{
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

// The size of the version block of the file `lptstrFilename`, 0 when there is none (last
// error ERROR_RESOURCE_TYPE_NOT_FOUND), when the file cannot be read (its open error) or is
// not an ELF file (ERROR_BAD_EXE_FORMAT). `lpdwHandle` is set to 0 when given.
DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle);

// Copies the version block into `lpData` of `dwLen` bytes. FALSE with the last error set when
// the file has no block, the buffer is smaller than the block (ERROR_INSUFFICIENT_BUFFER) or
// the block is malformed (ERROR_INVALID_DATA): a block that this returns is safe to query.
BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);

// Looks up `lpSubBlock` in a block read by GetFileVersionInfoA: "\" gives the
// VS_FIXEDFILEINFO (length in bytes), "\VarFileInfo\Translation" the language and code page
// pairs (bytes), "\StringFileInfo\040904E4\FileVersion" a NUL-terminated text (length in
// characters, the NUL included). Keys compare without regard to ASCII case. FALSE when the
// value is missing or malformed; `*lplpBuffer` then stays untouched.
BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen);

// The full path of the file of the module `hModule`; only the program's own executable
// (nullptr) is known. Copies at most `nSize` - 1 bytes and a NUL; returns the length copied,
// or `nSize` with ERROR_INSUFFICIENT_BUFFER when the path was cut short, or 0 on failure.
DWORD GetModuleFileNameA(HANDLE hModule, LPSTR lpFilename, DWORD nSize);

// Builds the block for a program: the fixed information from `fileVersion` ("a.b.c.d", parts
// missing or out of range count as 0), and the texts, all under the string table 040904E4
// with a matching translation entry. Used when the program is linked and by tests.
std::vector<BYTE> BuildVersionInfo(const std::string& fileVersion,
                                   const std::vector<std::pair<std::string, std::string>>& strings);

// Reads `length` bytes at `offset` of a file into `out`; false when they cannot be read.
using FileReadAt = std::function<bool(unsigned long long offset, std::size_t length, void* out)>;

// Finds the ELF section `name` in a file of `fileSize` bytes read through `readAt`. Sets
// `offset` and `size` and returns ERROR_SUCCESS; returns ERROR_BAD_EXE_FORMAT for anything but
// a well-formed ELF file and ERROR_RESOURCE_TYPE_NOT_FOUND when it has no such section with
// data. Every offset and size taken from the file is checked against `fileSize` before use.
DWORD FindElfSection(const FileReadAt& readAt, unsigned long long fileSize, const char* name,
                     unsigned long long& offset, unsigned long long& size);
