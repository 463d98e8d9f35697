#pragma once
// The internet client service: FTP behind the WinINet function names, signatures, handles
// and error codes. Every call is synchronous; failures return FALSE or a null handle and
// leave the reason in GetLastError().
#include "lasterror.h"
#include "windef.h"

using HINTERNET = void*;
using INTERNET_PORT = WORD;

inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr DWORD INTERNET_SERVICE_FTP = 1;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
// Where servers listen for FTP over implicit TLS (IANA's "ftps").
inline constexpr INTERNET_PORT INTERNET_DEFAULT_FTPS_PORT = 990;
inline constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;

inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000;
// InternetConnectA: FTP over TLS (RFC 4217) is required; without it nothing is sent after the
// greeting, the user name and password included.
inline constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
// Ours: TLS when the server offers it. A server that answers AUTH TLS with a refusal ends the
// connect with ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED before the user name goes out, so the
// caller can ask whether plain FTP is acceptable, unless INTERNET_FLAG_INSECURE_FALLBACK is
// given too, which then continues in plain FTP.
inline constexpr DWORD INTERNET_FLAG_SECURE_IF_AVAILABLE = 0x00000004;
inline constexpr DWORD INTERNET_FLAG_INSECURE_FALLBACK = 0x00000008;
// Ours: FTP over implicit TLS. The control connection is TLS from its first byte (the server's
// greeting comes encrypted), data connections are protected as with PROT P, and the
// certificate is checked as for INTERNET_FLAG_SECURE. There is no plain fallback: a server that
// does not speak TLS at once fails the connect. Overrides the two flags above.
inline constexpr DWORD INTERNET_FLAG_IMPLICIT_TLS = 0x00000010;
// Ours, for FtpFindFirstFileA: every folder entry is a real folder as far as the server lets
// us see. Some servers' MLSD facts follow links ("type=dir" for a link to a folder, as
// pyftpdlib writes them), so where MLSD listed folders, the ls-style LIST of the same
// directory is read as well, and a folder that it does not show as a folder comes as
// FILE_ATTRIBUTE_REPARSE_POINT (a link, or nothing that can be proven a folder) instead.
inline constexpr DWORD FTP_FIND_REAL_FOLDERS = 0x00000200;

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FTP_TRANSFER_TYPE_ASCII = 1;
inline constexpr DWORD FTP_TRANSFER_TYPE_BINARY = 2;

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
// A find record whose nFileSizeHigh and nFileSizeLow both hold this has no known size: the
// server listed a number no file can have (a negative one, from a 32-bit server's overflow,
// or one beyond 64 bits).
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;

// Options of InternetSetOptionA / InternetQueryOptionA: time-outs in milliseconds (a DWORD).
// They apply to the whole process, whichever handle (or none) they are set on; the data
// variants are the same values as the plain ones.
inline constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
inline constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
inline constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr DWORD INTERNET_OPTION_DATA_SEND_TIMEOUT = 7;
inline constexpr DWORD INTERNET_OPTION_DATA_RECEIVE_TIMEOUT = 8;
// Security options. SECURITY_FLAGS (a DWORD) and SECURITY_CONNECTION_INFO are read from a
// connection handle. The certificate option, read with a null handle, gives the certificate
// that the last failed InternetConnectA of this thread did not trust; set on a service handle
// (a text of the SHA-256 fingerprint, "AB:CD:..."), it is the one certificate that the
// service's connections accept although the system's authorities do not vouch for it.
inline constexpr DWORD INTERNET_OPTION_SECURITY_FLAGS = 31;
inline constexpr DWORD INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT = 32;
inline constexpr DWORD INTERNET_OPTION_SECURITY_CONNECTION_INFO = 66;
inline constexpr DWORD SECURITY_FLAG_SECURE = 0x00000001;
inline constexpr DWORD SP_PROT_TLS1_2_CLIENT = 0x00000800;
inline constexpr DWORD SP_PROT_TLS1_3_CLIENT = 0x00002000;

// WinINet error codes.
inline constexpr DWORD INTERNET_ERROR_BASE = 12000;
inline constexpr DWORD ERROR_INTERNET_OUT_OF_HANDLES = 12001;
inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
inline constexpr DWORD ERROR_INTERNET_BAD_OPTION_LENGTH = 12010;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_USER_NAME = 12013;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_PASSWORD = 12014;
inline constexpr DWORD ERROR_INTERNET_LOGIN_FAILURE = 12015;
inline constexpr DWORD ERROR_INTERNET_INVALID_OPERATION = 12016;
inline constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr DWORD ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED = 12059;
inline constexpr DWORD ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;
inline constexpr DWORD ERROR_FTP_DROPPED = 12111;
inline constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr DWORD ERROR_INTERNET_SEC_INVALID_CERT = 12169;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_REVOKED = 12170;

// dwReserved1 of a listed entry: the listing gave the day but no time of day (ls shows only
// the year for entries older than six months, "Dec 10  2019"). ftLastWriteTime is then that
// day's 00:00 UTC and stands for the calendar date as listed, not for a moment.
inline constexpr DWORD FIND_DATA_DATE_ONLY = 0x1;

struct WIN32_FIND_DATAA
{
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[MAX_PATH];
    char cAlternateFileName[14];
};
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;

// INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT: a server certificate as the user is shown it.
// Texts are NUL-terminated and cut to fit.
struct INTERNET_CERTIFICATE_INFOA
{
    FILETIME ftExpiry;
    FILETIME ftStart;
    char szSubjectInfo[512];      // "CN=ftp.example.org, O=Example"
    char szIssuerInfo[512];       // the same form; equal to the subject when self-signed
    char szFingerprintSha256[96]; // "AB:CD:...", 32 bytes in hex pairs
    DWORD dwVerifyError;          // why it was not trusted: 12037, 12038, 12045 or 12169
    char szVerifyErrorText[256];  // the same in words, as the TLS library puts it
};

// INTERNET_OPTION_SECURITY_CONNECTION_INFO.
struct INTERNET_SECURITY_CONNECTION_INFO
{
    DWORD dwSize;     // set by the caller to sizeof the structure
    BOOL fSecure;     // the control connection is encrypted
    BOOL fDataSecure; // data connections are encrypted too (PROT P)
    DWORD dwProtocol; // SP_PROT_TLS1_2_CLIENT or SP_PROT_TLS1_3_CLIENT; 0 when not secure
};

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                        LPCSTR lpszProxyBypass, DWORD dwFlags);
HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCSTR lpszUserName, LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                           DWORD_PTR dwContext);
BOOL InternetCloseHandle(HINTERNET hInternet);

BOOL FtpGetCurrentDirectoryA(HINTERNET hConnect, LPSTR lpszCurrentDirectory,
                             LPDWORD lpdwCurrentDirectory);
BOOL FtpSetCurrentDirectoryA(HINTERNET hConnect, LPCSTR lpszDirectory);
HINTERNET FtpFindFirstFileA(HINTERNET hConnect, LPCSTR lpszSearchFile,
                            LPWIN32_FIND_DATAA lpFindFileData, DWORD dwFlags, DWORD_PTR dwContext);
BOOL InternetFindNextFileA(HINTERNET hFind, LPVOID lpvFindData);
// Our addition to the Windows set, safe to call from any thread: ends the listing that
// FtpFindFirstFileA is reading on hConnect in another thread. That call fails with
// ERROR_INTERNET_OPERATION_CANCELLED; the connection stays usable when the server answers the
// cut listing in time, and is given up (ERROR_FTP_DROPPED from then on) when it does not.
// Does nothing when no listing is being read.
BOOL FtpCancelPendingCall(HINTERNET hConnect);
// Ours: the lines of the last listing FtpFindFirstFileA read on hConnect that were neither an
// entry nor a header or total line ("total 12"). Whatever they named is missing from the
// entries handed out, so no name may be taken as free in that folder while this is not 0.
BOOL FtpGetListingUnknownLines(HINTERNET hConnect, LPDWORD lpdwLines);
// Ours: what the server of hConnect said it can do in its FEAT reply (RFC 2389), as
// FTP_FEATURE_* bits.
inline constexpr DWORD FTP_FEATURE_RESTART = 0x1; // "REST STREAM": transfers may start midway
inline constexpr DWORD FTP_FEATURE_MLSD = 0x2;    // machine-readable listings
BOOL FtpGetServerFeatures(HINTERNET hConnect, LPDWORD lpdwFeatures);
// Ours: a log of the control connection. Every connection the calling thread opens from now on
// hands each command it sends (`sent` TRUE; a password as "PASS ****") and each reply line it
// receives (without CR LF) to `callback` with `context`, on whichever thread the connection
// is used. A null callback: later connections of this thread log nothing. The context must
// outlive those connections.
typedef void (*FTP_LOG_CALLBACK)(void* context, BOOL sent, const char* line, DWORD length);
BOOL FtpSetThreadLogCallback(FTP_LOG_CALLBACK callback, void* context);
BOOL FtpCreateDirectoryA(HINTERNET hConnect, LPCSTR lpszDirectory);
BOOL FtpRemoveDirectoryA(HINTERNET hConnect, LPCSTR lpszDirectory);
BOOL FtpDeleteFileA(HINTERNET hConnect, LPCSTR lpszFileName);
BOOL FtpRenameFileA(HINTERNET hConnect, LPCSTR lpszExisting, LPCSTR lpszNew);
HINTERNET FtpOpenFileA(HINTERNET hConnect, LPCSTR lpszFileName, DWORD dwAccess, DWORD dwFlags,
                       DWORD_PTR dwContext);
// Ours, beside FtpOpenFileA: a binary transfer that starts `offset` bytes into the file, to
// finish one that broke off. Reading sends REST (RFC 3659 5) before RETR and returns the data
// from the offset on; writing appends with APPE, and `offset` must be the file's length on the
// server (checked with SIZE first, so nothing is ever appended at the wrong point). Offset 0 is
// FtpOpenFileA. ERROR_NOT_SUPPORTED when the server cannot restart: no "REST STREAM" in its
// FEAT, REST not answered 350, no SIZE or APPE, or a length that is not `offset`; the
// connection is then ready for the next command (such as starting over from the beginning).
HINTERNET FtpOpenFileAtA(HINTERNET hConnect, LPCSTR lpszFileName, DWORD dwAccess, DWORD dwFlags,
                         ULONGLONG offset, DWORD_PTR dwContext);
// Ours: the length in bytes of a file in the current directory as the server stores it (SIZE,
// RFC 3659 4, asked in binary mode). ERROR_NOT_SUPPORTED when the server has no SIZE command;
// ERROR_INTERNET_EXTENDED_ERROR when it refuses (no such file).
BOOL FtpGetFileSizeA(HINTERNET hConnect, LPCSTR lpszFileName, ULONGLONG* lpSize);
// Ours: the modification time of a file in the current directory as the server gives it
// (MDTM, RFC 3659 3): "YYYYMMDDHHMMSS" in UTC, with a fraction of a second where the server
// keeps one, NUL-terminated in lpszStamp (24 bytes and a NUL at most); *lpdwStampLength is
// the length. ERROR_NOT_SUPPORTED when the server has no MDTM; ERROR_INTERNET_EXTENDED_ERROR
// when it refuses (no such file) or answers something else.
BOOL FtpGetFileTimeA(HINTERNET hConnect, LPCSTR lpszFileName, LPSTR lpszStamp,
                     LPDWORD lpdwStampLength);
BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead);
BOOL InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       LPDWORD lpdwNumberOfBytesWritten);
// Ours, beside the WinINet calls: ends the transfer of an FtpOpenFileA handle early. Closing
// a write handle with InternetCloseHandle means "the file is complete"; this says "it is not":
// the data connection is reset and the server told with ABOR, and every reply the abort brings
// is read, so the next command gets its own. The handle stays open until InternetCloseHandle,
// which then sends nothing more. FALSE when the server did not answer in time or the
// connection failed (GetLastError): the connection is then unusable and later calls on it
// fail with ERROR_FTP_DROPPED. Closing a read handle before the end of the data aborts the
// same way.
BOOL FtpAbortFile(HINTERNET hFile);
// The last reply text the server sent; lpdwError receives its reply code.
BOOL InternetGetLastResponseInfoA(LPDWORD lpdwError, LPSTR lpszBuffer, LPDWORD lpdwBufferLength);
// Ours: the same for one connection, whatever other connections of the process received since.
// Read it on the thread that made the failed call (or after that thread was joined).
BOOL FtpGetLastResponseInfoA(HINTERNET hConnect, LPDWORD lpdwError, LPSTR lpszBuffer,
                             LPDWORD lpdwBufferLength);

// Sets a time-out option (see INTERNET_OPTION_*); hInternet may be NULL.
BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength);
BOOL InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                          LPDWORD lpdwBufferLength);
