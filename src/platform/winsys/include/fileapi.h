#pragma once
// The file calls of the Windows API that the editor's temporary copy uses.
#include "windef.h"

inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;

// The size `lpTempFileName` must have here: a Linux path may be far longer than MAX_PATH.
inline constexpr DWORD kTempFileNameBytes = 4096;

// Creates a new empty file "<lpPathName>/<prefix><hex>.TMP", readable and writable by its
// owner only, and writes its path into `lpTempFileName` (kTempFileNameBytes bytes). The
// prefix is the first three bytes of `lpPrefixString`; the hex number is one to four upper-case
// digits. With `uUnique` 0 the numbers are tried from a clock-based start until a name is
// free: the file is created exclusively, never over an existing entry (a symbolic link
// included). Returns the number used, or 0 with the last error set (ERROR_FILE_EXISTS when
// every number is taken, ERROR_FILENAME_EXCED_RANGE when the path does not fit). A non-zero
// `uUnique` only forms the name: nothing is created, as the Windows call does.
UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName);

// Removes the file at `lpFileName`; a symbolic link is removed itself, never what it points
// to, and a folder is refused (ERROR_ACCESS_DENIED). FALSE with the last error set on failure.
BOOL DeleteFileA(LPCSTR lpFileName);
