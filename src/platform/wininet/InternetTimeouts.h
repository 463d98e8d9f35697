#pragma once
// How long the service waits for the network before a call fails with ERROR_INTERNET_TIMEOUT.
// The defaults suit a slow server across the world; InternetSetOptionA changes them for the
// whole process (tests shorten them to keep fault cases quick).
#include "windef.h"

namespace wininet {

inline constexpr DWORD kDefaultConnectTimeoutMs = 30000; // TCP connect, data accept
inline constexpr DWORD kDefaultReceiveTimeoutMs = 30000; // each reply, each data read
inline constexpr DWORD kDefaultSendTimeoutMs = 30000;    // each command, each data write
// Saying goodbye (QUIT) never holds up closing a handle for long.
inline constexpr DWORD kQuitTimeoutMs = 2000;
// After we cut a listing short the server answers at once or not at all; waiting longer
// would only hold up the Cancel. Without an answer in time the connection is given up.
inline constexpr DWORD kAbandonReplyTimeoutMs = 2000;
// Ending a transfer early: the server's answers to ABOR come at once or not at all, and a
// Cancel must not freeze the window for the full receive time-out.
inline constexpr DWORD kAbortTimeoutMs = 5000;

DWORD connectTimeoutMs();
DWORD receiveTimeoutMs();
DWORD sendTimeoutMs();
void setConnectTimeoutMs(DWORD milliseconds);
void setReceiveTimeoutMs(DWORD milliseconds);
void setSendTimeoutMs(DWORD milliseconds);

} // namespace wininet
