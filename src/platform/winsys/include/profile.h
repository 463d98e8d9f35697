#pragma once
// The profile-string (INI file) functions, with their Win32 names, signatures, return values
// and truncation rules.
//
// Section and key names match without regard to (ASCII) letter case; a missing file, section
// or key gives the default. A value is read with blanks and tabs trimmed from both ends and
// one pair of matching enclosing quotation marks (" or ') removed. Writes go through an
// atomic replace under a lock (see datafolder.h): every other line of the file stays byte for
// byte as it was, and a file created by the first write is readable by its owner only.
#include "windef.h"

// lpAppName none: the section names, each ended by NUL, the list ended by a second NUL.
// lpKeyName none: the key names of the section, in the same form.
// Otherwise the value of the key, or lpDefault (trailing blanks dropped; none = empty).
// Returns the number of characters copied, not counting the final NUL. A buffer of nSize
// holds at most nSize-1 characters of a value (result nSize-1 when cut) and, for a list,
// a cut list ends with two NULs (result nSize-2).
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);

// lpKeyName none: erases the section with all its keys. lpString none: erases the key.
// Otherwise sets the key, adding the section and the key when missing (the file too).
// Names or values that would break the file's lines are refused with
// ERROR_INVALID_PARAMETER: a line break in any of them, ']' in a section name, '=' in a key
// name or a key name starting with '[' or ';'. FALSE with the last error set on failure.
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName);
