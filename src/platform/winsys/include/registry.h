#pragma once
// The registry functions the program uses, with their Win32 names, signatures and return
// codes (each returns its error code; the last error is left alone, as on Windows).
//
// Keys and typed values live in one REGEDIT4 text file, "zulftp.reg" in the data folder
// (see datafolder.h). Every call reads the file afresh; every change rewrites it atomically
// under a lock, so two running copies see each other's values and a crash never leaves a
// torn file. A file that cannot be parsed makes every call fail with ERROR_BADDB and is never
// overwritten: the user's values in it stay there to be repaired.
#include "windef.h"

#include <string>

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(ULONG_PTR{0x80000000});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(ULONG_PTR{0x80000001});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(ULONG_PTR{0x80000002});
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(ULONG_PTR{0x80000003});

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Key paths are relative to the root key; a leading backslash is accepted ("\Software\X").
LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition);
// Strings come back with their terminating NUL, counted in *lpcbData. A buffer too small
// gives ERROR_MORE_DATA with the size needed; a missing value ERROR_FILE_NOT_FOUND.
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
LONG RegCloseKey(HKEY hKey);

// The full path of the registry file, for messages that must tell the user which file is
// damaged.
std::string RegistryFilePath();
