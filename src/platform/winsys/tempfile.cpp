#include "fileapi.h"

#include "lasterror.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr UINT kLastNumber = 0xFFFF;

// Where the search for a free number starts: the clock, so that two programs that create a
// copy at the same moment in the same folder rarely walk the same numbers.
UINT clockStart()
{
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<UINT>(static_cast<unsigned long long>(ticks) % kLastNumber) + 1;
}

// "<folder>/<prefix><HEX>.TMP", or false when it does not fit the caller's buffer.
bool formName(LPCSTR folder, LPCSTR prefix, UINT number, std::string& name)
{
    name = folder;
    if (name.empty() || name.back() != '/')
        name += '/';
    name.append(prefix, strnlen(prefix, 3));
    char digits[16];
    std::snprintf(digits, sizeof digits, "%X.TMP", number & kLastNumber);
    name += digits;
    return name.size() < kTempFileNameBytes;
}
} // namespace

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName)
{
    if (!lpPathName || !*lpPathName || !lpTempFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* prefix = lpPrefixString ? lpPrefixString : "";
    std::string name;
    if (uUnique != 0) {
        if (!formName(lpPathName, prefix, uUnique, name)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
        std::memcpy(lpTempFileName, name.c_str(), name.size() + 1);
        SetLastError(ERROR_SUCCESS);
        return uUnique & kLastNumber;
    }
    UINT number = clockStart();
    for (UINT tried = 0; tried < kLastNumber; ++tried) {
        if (!formName(lpPathName, prefix, number, name)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
        // The copy holds whatever the server file holds: private to its owner.
        const int fd =
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            std::memcpy(lpTempFileName, name.c_str(), name.size() + 1);
            SetLastError(ERROR_SUCCESS);
            return number;
        }
        if (errno != EEXIST) {
            SetLastError(Win32ErrorFromErrno(errno));
            return 0;
        }
        number = number % kLastNumber + 1;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

BOOL DeleteFileA(LPCSTR lpFileName)
{
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (::unlink(lpFileName) != 0) {
        SetLastError(errno == EISDIR ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno));
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
