// InternetSetOptionA / InternetQueryOptionA for the time-outs.
#include "HandleTable.h"
#include "InternetTimeouts.h"
#include "wininet.h"

#include <cstring>

using namespace wininet;

namespace {

bool isTimeoutOption(DWORD option)
{
    return option == INTERNET_OPTION_CONNECT_TIMEOUT || option == INTERNET_OPTION_SEND_TIMEOUT ||
           option == INTERNET_OPTION_RECEIVE_TIMEOUT ||
           option == INTERNET_OPTION_DATA_SEND_TIMEOUT ||
           option == INTERNET_OPTION_DATA_RECEIVE_TIMEOUT;
}

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

} // namespace

BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength)
{
    if (hInternet != nullptr && !isOpenHandle(hInternet))
        return fail(ERROR_INVALID_HANDLE);
    if (!isTimeoutOption(dwOption))
        return fail(ERROR_INTERNET_INVALID_OPTION);
    if (lpBuffer == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    if (dwBufferLength != sizeof(DWORD))
        return fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
    DWORD milliseconds = 0;
    std::memcpy(&milliseconds, lpBuffer, sizeof milliseconds);
    // Zero would mean "wait forever", which the service never does.
    if (milliseconds == 0)
        return fail(ERROR_INVALID_PARAMETER);
    switch (dwOption) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
        setConnectTimeoutMs(milliseconds);
        break;
    case INTERNET_OPTION_SEND_TIMEOUT:
    case INTERNET_OPTION_DATA_SEND_TIMEOUT:
        setSendTimeoutMs(milliseconds);
        break;
    default:
        setReceiveTimeoutMs(milliseconds);
        break;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                          LPDWORD lpdwBufferLength)
{
    if (hInternet != nullptr && !isOpenHandle(hInternet))
        return fail(ERROR_INVALID_HANDLE);
    if (!isTimeoutOption(dwOption))
        return fail(ERROR_INTERNET_INVALID_OPTION);
    if (lpdwBufferLength == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    if (lpBuffer == nullptr || *lpdwBufferLength < sizeof(DWORD)) {
        *lpdwBufferLength = sizeof(DWORD);
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    DWORD milliseconds = receiveTimeoutMs();
    if (dwOption == INTERNET_OPTION_CONNECT_TIMEOUT)
        milliseconds = connectTimeoutMs();
    else if (dwOption == INTERNET_OPTION_SEND_TIMEOUT ||
             dwOption == INTERNET_OPTION_DATA_SEND_TIMEOUT)
        milliseconds = sendTimeoutMs();
    std::memcpy(lpBuffer, &milliseconds, sizeof milliseconds);
    *lpdwBufferLength = sizeof(DWORD);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
