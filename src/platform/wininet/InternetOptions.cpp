// InternetSetOptionA / InternetQueryOptionA: the time-outs and the security options.
#include "FtpObjects.h"
#include "HandleTable.h"
#include "InternetTimeouts.h"
#include "TlsChannel.h"
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

// Copies a fixed-size answer into the caller's buffer, or says how big it must be.
template <typename T> BOOL answer(const T& value, LPVOID buffer, LPDWORD length)
{
    if (buffer == nullptr || *length < sizeof(T)) {
        *length = sizeof(T);
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, &value, sizeof(T));
    *length = sizeof(T);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// The fingerprint of the certificate the user trusts, set on the service handle.
BOOL setAcceptedCertificate(HINTERNET hInternet, LPVOID buffer, DWORD length)
{
    const auto service = findHandleAs<InternetService>(hInternet, HandleKind::Internet);
    if (!service)
        return fail(hInternet == nullptr || !isOpenHandle(hInternet)
                        ? ERROR_INVALID_HANDLE
                        : ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    if (buffer == nullptr && length > 0)
        return fail(ERROR_INVALID_PARAMETER);
    const auto* text = static_cast<const char*>(buffer);
    const std::string fingerprint(text, text == nullptr ? 0 : ::strnlen(text, length));
    if (fingerprint.size() >= sizeof(INTERNET_CERTIFICATE_INFOA::szFingerprintSha256))
        return fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
    service->setAcceptedCertificate(fingerprint);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL querySecurity(HINTERNET hInternet, DWORD option, LPVOID buffer, LPDWORD length)
{
    if (option == INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT && hInternet == nullptr) {
        const INTERNET_CERTIFICATE_INFOA& rejected = lastRejectedCertificate();
        if (rejected.szFingerprintSha256[0] == '\0')
            return fail(ERROR_INTERNET_INVALID_OPERATION);
        return answer(rejected, buffer, length);
    }
    const auto connection = findHandleAs<FtpConnection>(hInternet, HandleKind::Connect);
    if (!connection)
        return fail(hInternet == nullptr || !isOpenHandle(hInternet)
                        ? ERROR_INVALID_HANDLE
                        : ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    const FtpSession& session = *connection->session();
    if (option == INTERNET_OPTION_SECURITY_FLAGS) {
        const DWORD flags = session.isSecure() ? SECURITY_FLAG_SECURE : 0;
        return answer(flags, buffer, length);
    }
    if (option == INTERNET_OPTION_SECURITY_CONNECTION_INFO) {
        INTERNET_SECURITY_CONNECTION_INFO info{};
        info.dwSize = sizeof info;
        info.fSecure = session.isSecure() ? TRUE : FALSE;
        info.fDataSecure = session.protectsData() ? TRUE : FALSE;
        info.dwProtocol = session.tlsProtocol();
        return answer(info, buffer, length);
    }
    return fail(ERROR_INTERNET_INVALID_OPERATION);
}

bool isSecurityOption(DWORD option)
{
    return option == INTERNET_OPTION_SECURITY_FLAGS ||
           option == INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT ||
           option == INTERNET_OPTION_SECURITY_CONNECTION_INFO;
}

} // namespace

BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength)
{
    if (hInternet != nullptr && !isOpenHandle(hInternet))
        return fail(ERROR_INVALID_HANDLE);
    if (dwOption == INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT)
        return setAcceptedCertificate(hInternet, lpBuffer, dwBufferLength);
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
    if (isSecurityOption(dwOption))
        return lpdwBufferLength == nullptr
                   ? fail(ERROR_INVALID_PARAMETER)
                   : querySecurity(hInternet, dwOption, lpBuffer, lpdwBufferLength);
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
