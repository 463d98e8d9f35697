// The WinINet-named entry points: argument and handle checks, then the FTP engine.
#include "FtpObjects.h"
#include "HandleTable.h"
#include "InternetTimeouts.h"
#include "TlsChannel.h"
#include "wininet.h"

#include <algorithm>
#include <cstring>

using namespace wininet;

namespace {

// No path or name the program sends is anywhere near this; a longer one is not a name.
constexpr std::size_t kMaxArgumentLength = 4096;
constexpr const char* kAnonymousUser = "anonymous";
constexpr const char* kAnonymousPassword = "ZULFTP@";

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

HINTERNET failHandle(DWORD error)
{
    SetLastError(error);
    return nullptr;
}

BOOL succeed()
{
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// A text that goes into a command line. CR or LF would end the command early and let the rest
// be read as a second command of the attacker's choosing, so such a text never leaves.
bool isSafeText(LPCSTR text, bool emptyAllowed)
{
    if (text == nullptr)
        return false;
    const std::size_t length = ::strnlen(text, kMaxArgumentLength + 1);
    return length <= kMaxArgumentLength && (emptyAllowed || length > 0) &&
           std::strpbrk(text, "\r\n") == nullptr;
}

// The session of an open connection handle that may take a command now, or the error.
std::shared_ptr<FtpSession> readySession(HINTERNET hConnect, DWORD& error)
{
    const auto connection = findHandleAs<FtpConnection>(hConnect, HandleKind::Connect);
    if (!connection) {
        error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    error = connection->session()->checkReady();
    return error == ERROR_SUCCESS ? connection->session() : nullptr;
}

// The common shape of the calls that act on one name in the current directory.
template <typename Action> BOOL onConnection(HINTERNET hConnect, LPCSTR name, Action action)
{
    if (!findHandle(hConnect, HandleKind::Connect))
        return fail(ERROR_INVALID_HANDLE);
    if (!isSafeText(name, false))
        return fail(ERROR_INVALID_PARAMETER);
    DWORD error = ERROR_SUCCESS;
    const auto session = readySession(hConnect, error);
    if (!session)
        return fail(error);
    if ((error = action(*session)))
        return fail(error);
    return succeed();
}

std::string hostWithoutBrackets(LPCSTR host)
{
    // "[::1]" as written in URLs is "::1" to the resolver.
    std::string text(host);
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        return text.substr(1, text.size() - 2);
    return text;
}

} // namespace

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR, LPCSTR, DWORD)
{
    // Preconfigured settings mean a direct connection here: the service speaks to FTP
    // servers directly and has no proxy support.
    if (dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG && dwAccessType != INTERNET_OPEN_TYPE_DIRECT)
        return failHandle(ERROR_INVALID_PARAMETER);
    const std::string agent = lpszAgent != nullptr ? lpszAgent : "";
    SetLastError(ERROR_SUCCESS);
    return addHandle(std::make_shared<InternetService>(agent), nullptr);
}

HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCSTR lpszUserName, LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                           DWORD_PTR)
{
    const auto service = findHandleAs<InternetService>(hInternet, HandleKind::Internet);
    if (!service)
        return failHandle(ERROR_INVALID_HANDLE);
    forgetRejectedCertificate();
    const bool anonymous = lpszUserName == nullptr;
    if (dwService != INTERNET_SERVICE_FTP || !isSafeText(lpszServerName, false) ||
        (!anonymous && !isSafeText(lpszUserName, true)) ||
        (lpszPassword != nullptr && !isSafeText(lpszPassword, true)))
        return failHandle(ERROR_INVALID_PARAMETER);
    LoginDetails details;
    details.host = hostWithoutBrackets(lpszServerName);
    const bool implicitTls = (dwFlags & INTERNET_FLAG_IMPLICIT_TLS) != 0;
    details.port = nServerPort != INTERNET_INVALID_PORT_NUMBER ? nServerPort
                   : implicitTls                               ? INTERNET_DEFAULT_FTPS_PORT
                                                               : INTERNET_DEFAULT_FTP_PORT;
    details.user = anonymous ? kAnonymousUser : lpszUserName;
    details.password =
        lpszPassword != nullptr ? lpszPassword : (anonymous ? kAnonymousPassword : "");
    details.passiveOnly = (dwFlags & INTERNET_FLAG_PASSIVE) != 0;
    if (implicitTls)
        details.tls = TlsUse::Implicit;
    else if ((dwFlags & INTERNET_FLAG_SECURE) != 0)
        details.tls = TlsUse::Required;
    else if ((dwFlags & INTERNET_FLAG_SECURE_IF_AVAILABLE) != 0)
        details.tls = TlsUse::IfAvailable;
    details.plainFallback = !implicitTls && (dwFlags & INTERNET_FLAG_INSECURE_FALLBACK) != 0;
    details.acceptedCertificate = service->acceptedCertificate();
    auto connection = std::make_shared<FtpConnection>();
    if (const DWORD error = connection->session()->connect(details)) {
        connection->session()->quit();
        return failHandle(error);
    }
    SetLastError(ERROR_SUCCESS);
    return addHandle(std::move(connection), hInternet);
}

BOOL InternetCloseHandle(HINTERNET hInternet)
{
    // Success leaves the last error alone: callers close handles on their way to reporting
    // the failure of an earlier call.
    if (const DWORD error = removeHandle(hInternet))
        return fail(error);
    return TRUE;
}

BOOL FtpGetCurrentDirectoryA(HINTERNET hConnect, LPSTR lpszCurrentDirectory,
                             LPDWORD lpdwCurrentDirectory)
{
    if (!findHandle(hConnect, HandleKind::Connect))
        return fail(ERROR_INVALID_HANDLE);
    if (lpszCurrentDirectory == nullptr || lpdwCurrentDirectory == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    DWORD error = ERROR_SUCCESS;
    const auto session = readySession(hConnect, error);
    std::string path;
    if (!session || (error = session->currentDirectory(path)))
        return fail(error);
    if (path.size() + 1 > *lpdwCurrentDirectory) {
        *lpdwCurrentDirectory = static_cast<DWORD>(path.size() + 1);
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpszCurrentDirectory, path.c_str(), path.size() + 1);
    *lpdwCurrentDirectory = static_cast<DWORD>(path.size());
    return succeed();
}

BOOL FtpSetCurrentDirectoryA(HINTERNET hConnect, LPCSTR lpszDirectory)
{
    return onConnection(hConnect, lpszDirectory,
                        [&](FtpSession& s) { return s.changeDirectory(lpszDirectory); });
}

BOOL FtpCreateDirectoryA(HINTERNET hConnect, LPCSTR lpszDirectory)
{
    return onConnection(hConnect, lpszDirectory,
                        [&](FtpSession& s) { return s.simpleCommand("MKD", lpszDirectory); });
}

BOOL FtpRemoveDirectoryA(HINTERNET hConnect, LPCSTR lpszDirectory)
{
    return onConnection(hConnect, lpszDirectory,
                        [&](FtpSession& s) { return s.simpleCommand("RMD", lpszDirectory); });
}

BOOL FtpDeleteFileA(HINTERNET hConnect, LPCSTR lpszFileName)
{
    return onConnection(hConnect, lpszFileName,
                        [&](FtpSession& s) { return s.simpleCommand("DELE", lpszFileName); });
}

BOOL FtpRenameFileA(HINTERNET hConnect, LPCSTR lpszExisting, LPCSTR lpszNew)
{
    if (findHandle(hConnect, HandleKind::Connect) && !isSafeText(lpszNew, false))
        return fail(ERROR_INVALID_PARAMETER);
    return onConnection(hConnect, lpszExisting,
                        [&](FtpSession& s) { return s.rename(lpszExisting, lpszNew); });
}

HINTERNET FtpFindFirstFileA(HINTERNET hConnect, LPCSTR lpszSearchFile,
                            LPWIN32_FIND_DATAA lpFindFileData, DWORD dwFlags, DWORD_PTR)
{
    if (!findHandle(hConnect, HandleKind::Connect))
        return failHandle(ERROR_INVALID_HANDLE);
    if (lpszSearchFile != nullptr && !isSafeText(lpszSearchFile, true))
        return failHandle(ERROR_INVALID_PARAMETER);
    DWORD error = ERROR_SUCCESS;
    const auto session = readySession(hConnect, error);
    PackedListing entries;
    if (!session || (error = listDirectory(session, lpszSearchFile ? lpszSearchFile : "", entries,
                                           (dwFlags & FTP_FIND_REAL_FOLDERS) != 0)))
        return failHandle(error);
    if (entries.empty())
        return failHandle(ERROR_NO_MORE_FILES);
    WIN32_FIND_DATAA first;
    entries.take(lpFindFileData != nullptr ? *lpFindFileData : first);
    SetLastError(ERROR_SUCCESS);
    return addHandle(std::make_shared<FtpFind>(std::move(entries)), hConnect);
}

BOOL FtpCancelPendingCall(HINTERNET hConnect)
{
    const auto connection = findHandleAs<FtpConnection>(hConnect, HandleKind::Connect);
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    connection->session()->cancelPending();
    return TRUE;
}

BOOL FtpSetThreadLogCallback(FTP_LOG_CALLBACK callback, void* context)
{
    setThreadControlLog({callback, callback ? context : nullptr});
    return succeed();
}

BOOL FtpGetListingUnknownLines(HINTERNET hConnect, LPDWORD lpdwLines)
{
    const auto connection = findHandleAs<FtpConnection>(hConnect, HandleKind::Connect);
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    if (lpdwLines == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    const std::size_t lines = connection->session()->listingUnknownLines();
    *lpdwLines = static_cast<DWORD>(std::min<std::size_t>(lines, 0xFFFFFFFFu));
    return succeed();
}

BOOL FtpGetServerFeatures(HINTERNET hConnect, LPDWORD lpdwFeatures)
{
    const auto connection = findHandleAs<FtpConnection>(hConnect, HandleKind::Connect);
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    if (lpdwFeatures == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    const auto& session = *connection->session();
    *lpdwFeatures = (session.offersRestart() ? FTP_FEATURE_RESTART : 0) |
                    (session.offersMlsd() ? FTP_FEATURE_MLSD : 0);
    return succeed();
}

BOOL InternetFindNextFileA(HINTERNET hFind, LPVOID lpvFindData)
{
    const auto find = findHandleAs<FtpFind>(hFind, HandleKind::Find);
    if (!find)
        return fail(ERROR_INVALID_HANDLE);
    if (lpvFindData == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    if (!find->next(*static_cast<WIN32_FIND_DATAA*>(lpvFindData)))
        return fail(ERROR_NO_MORE_FILES);
    return succeed();
}

HINTERNET FtpOpenFileA(HINTERNET hConnect, LPCSTR lpszFileName, DWORD dwAccess, DWORD dwFlags,
                       DWORD_PTR dwContext)
{
    return FtpOpenFileAtA(hConnect, lpszFileName, dwAccess, dwFlags, 0, dwContext);
}

HINTERNET FtpOpenFileAtA(HINTERNET hConnect, LPCSTR lpszFileName, DWORD dwAccess, DWORD dwFlags,
                         ULONGLONG offset, DWORD_PTR)
{
    if (!findHandle(hConnect, HandleKind::Connect))
        return failHandle(ERROR_INVALID_HANDLE);
    if (!isSafeText(lpszFileName, false) || (dwAccess != GENERIC_READ && dwAccess != GENERIC_WRITE))
        return failHandle(ERROR_INVALID_PARAMETER);
    const char type = (dwFlags & 3) == FTP_TRANSFER_TYPE_ASCII ? 'A' : 'I';
    // An offset counts bytes as they are stored, which only a binary transfer keeps.
    if (offset > 0 && type != 'I')
        return failHandle(ERROR_INVALID_PARAMETER);
    DWORD error = ERROR_SUCCESS;
    const auto session = readySession(hConnect, error);
    if (!session)
        return failHandle(error);
    const bool writing = dwAccess == GENERIC_WRITE;
    std::string verb = writing ? "STOR " : "RETR ";
    std::uint64_t restartAt = 0;
    if (offset > 0 && !writing) {
        if (!session->offersRestart())
            return failHandle(ERROR_NOT_SUPPORTED);
        restartAt = offset;
    } else if (offset > 0) {
        // APPE adds to whatever the server holds, so the caller's idea of the file's length is
        // checked against the server's own first: appending at the wrong point corrupts it.
        std::uint64_t stored = 0;
        if ((error = session->fileSize(lpszFileName, stored)))
            return failHandle(error);
        if (stored != offset)
            return failHandle(ERROR_NOT_SUPPORTED);
        verb = "APPE ";
    }
    DataConnection data;
    if ((error = session->startTransfer(verb + lpszFileName, type, data, restartAt))) {
        if (error == ERROR_INTERNET_EXTENDED_ERROR && verb == "APPE ") {
            // A refusal of APPE itself means this server will not continue the copy (some
            // refuse it by policy: "451 Append/Restart not permitted"); only a reply about the
            // connection or the data channel leaves continuing for another time.
            const int code = session->lastReply().code;
            if (code >= 450 && code < 600 && code != 421 && code != 425 && code != 426)
                error = ERROR_NOT_SUPPORTED;
        }
        return failHandle(error);
    }
    SetLastError(ERROR_SUCCESS);
    return addHandle(std::make_shared<FtpFile>(session, std::move(data), writing), hConnect);
}

BOOL FtpGetFileSizeA(HINTERNET hConnect, LPCSTR lpszFileName, ULONGLONG* lpSize)
{
    if (lpSize == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    return onConnection(hConnect, lpszFileName, [&](FtpSession& session) {
        std::uint64_t size = 0;
        const DWORD error = session.fileSize(lpszFileName, size);
        if (error == ERROR_SUCCESS)
            *lpSize = size;
        return error;
    });
}

BOOL FtpGetFileTimeA(HINTERNET hConnect, LPCSTR lpszFileName, LPSTR lpszStamp,
                     LPDWORD lpdwStampLength)
{
    if (lpszStamp == nullptr || lpdwStampLength == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    return onConnection(hConnect, lpszFileName, [&](FtpSession& session) {
        std::string stamp;
        DWORD error = session.fileTime(lpszFileName, stamp);
        if (error != ERROR_SUCCESS)
            return error;
        if (stamp.size() >= *lpdwStampLength) {
            *lpdwStampLength = static_cast<DWORD>(stamp.size() + 1);
            return static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(lpszStamp, stamp.c_str(), stamp.size() + 1);
        *lpdwStampLength = static_cast<DWORD>(stamp.size());
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead)
{
    const auto file = findHandleAs<FtpFile>(hFile, HandleKind::File);
    if (!file || file->isWriting())
        return fail(ERROR_INVALID_HANDLE);
    if (lpdwNumberOfBytesRead == nullptr || (lpBuffer == nullptr && dwNumberOfBytesToRead > 0))
        return fail(ERROR_INVALID_PARAMETER);
    *lpdwNumberOfBytesRead = 0;
    std::size_t got = 0;
    const DWORD error = file->read(static_cast<char*>(lpBuffer), dwNumberOfBytesToRead, got);
    *lpdwNumberOfBytesRead = static_cast<DWORD>(got);
    return error ? fail(error) : succeed();
}

BOOL InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       LPDWORD lpdwNumberOfBytesWritten)
{
    const auto file = findHandleAs<FtpFile>(hFile, HandleKind::File);
    if (!file || !file->isWriting())
        return fail(ERROR_INVALID_HANDLE);
    if (lpdwNumberOfBytesWritten == nullptr || (lpBuffer == nullptr && dwNumberOfBytesToWrite > 0))
        return fail(ERROR_INVALID_PARAMETER);
    *lpdwNumberOfBytesWritten = 0;
    if (const DWORD error = file->write(static_cast<const char*>(lpBuffer), dwNumberOfBytesToWrite))
        return fail(error);
    *lpdwNumberOfBytesWritten = dwNumberOfBytesToWrite;
    return succeed();
}

BOOL FtpAbortFile(HINTERNET hFile)
{
    const auto file = findHandleAs<FtpFile>(hFile, HandleKind::File);
    if (!file)
        return fail(ERROR_INVALID_HANDLE);
    if (const DWORD error = file->abort())
        return fail(error);
    return succeed();
}

namespace {
BOOL copyReply(const FtpReply& reply, LPDWORD lpdwError, LPSTR lpszBuffer, LPDWORD lpdwBufferLength)
{
    *lpdwError = static_cast<DWORD>(reply.code);
    if (lpszBuffer == nullptr || reply.text.size() + 1 > *lpdwBufferLength) {
        *lpdwBufferLength = static_cast<DWORD>(reply.text.size() + 1);
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpszBuffer, reply.text.c_str(), reply.text.size() + 1);
    *lpdwBufferLength = static_cast<DWORD>(reply.text.size());
    return succeed();
}
} // namespace

BOOL InternetGetLastResponseInfoA(LPDWORD lpdwError, LPSTR lpszBuffer, LPDWORD lpdwBufferLength)
{
    if (lpdwError == nullptr || lpdwBufferLength == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    return copyReply(lastResponse(), lpdwError, lpszBuffer, lpdwBufferLength);
}

BOOL FtpGetLastResponseInfoA(HINTERNET hConnect, LPDWORD lpdwError, LPSTR lpszBuffer,
                             LPDWORD lpdwBufferLength)
{
    const auto connection = findHandleAs<FtpConnection>(hConnect, HandleKind::Connect);
    if (!connection)
        return fail(ERROR_INVALID_HANDLE);
    if (lpdwError == nullptr || lpdwBufferLength == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    return copyReply(connection->session()->lastReply(), lpdwError, lpszBuffer, lpdwBufferLength);
}
