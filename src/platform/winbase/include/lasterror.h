#pragma once
// The calling thread's last error, as the system layer reports it (Win32 GetLastError).
#include "windef.h"

DWORD GetLastError();
void SetLastError(DWORD errorCode);

// Maps an errno value to the nearest Win32 error code.
DWORD Win32ErrorFromErrno(int errnoValue);
