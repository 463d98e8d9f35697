#include "remote/FtpErrorCodes.h"

#include "fileapi.h"
#include "wininet.h"

namespace {

using Reply = FtpReplyKind;

struct ErrorMeaning
{
    DWORD code;
    Reply reply;
    const char* meaning;
};

constexpr ErrorMeaning kMeanings[] = {
    {ERROR_SUCCESS, Reply::None, "No reason was given for the failure."},
    {ERROR_FILE_NOT_FOUND, Reply::None, "The file or folder does not exist."},
    {ERROR_PATH_NOT_FOUND, Reply::None, "A folder on the way to the file does not exist."},
    {ERROR_TOO_MANY_OPEN_FILES, Reply::None, "The program has too many files open."},
    {ERROR_ACCESS_DENIED, Reply::None, "You do not have permission to do that here."},
    {ERROR_INVALID_HANDLE, Reply::None, "The connection or file had already been closed."},
    {ERROR_NOT_ENOUGH_MEMORY, Reply::None, "The computer ran out of memory."},
    {ERROR_INVALID_DATA, Reply::None,
     "The data could not be read: it is not in the expected form."},
    {ERROR_NO_MORE_FILES, Reply::None, "There are no more entries in the folder."},
    {ERROR_WRITE_FAULT, Reply::None, "The local file could not be written."},
    {ERROR_READ_FAULT, Reply::None, "The local file could not be read."},
    {ERROR_LOCK_VIOLATION, Reply::None, "Another program holds a lock on the file."},
    {ERROR_HANDLE_DISK_FULL, Reply::None, "The disk is full."},
    {ERROR_INVALID_PARAMETER, Reply::None,
     "A name or value was not accepted (it may be empty or hold a line break)."},
    {ERROR_INSUFFICIENT_BUFFER, Reply::None, "A reply was longer than the program can take."},
    {ERROR_INVALID_NAME, Reply::None, "The name is too long or not allowed."},
    {ERROR_ALREADY_EXISTS, Reply::None, "Something of that name already exists."},
    {ERROR_FILE_EXISTS, Reply::None, "Something of that name already exists."},
    {ERROR_FILENAME_EXCED_RANGE, Reply::None, "The path is too long."},
    {ERROR_MORE_DATA, Reply::None, "A reply was longer than the program can take."},
    {ERROR_CANTWRITE, Reply::None, "The local file could not be written."},
    {ERROR_INTERNET_OUT_OF_HANDLES, Reply::None, "The program has too many connections open."},
    {ERROR_INTERNET_TIMEOUT, Reply::None, "The server did not answer in time."},
    {ERROR_INTERNET_EXTENDED_ERROR, Reply::Server, "The server refused the request."},
    {ERROR_INTERNET_INTERNAL_ERROR, Reply::None, "The program's FTP engine failed inside."},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, Reply::None, "The host name could not be found."},
    {ERROR_INTERNET_INVALID_OPTION, Reply::None,
     "The FTP engine was given a setting it does not know."},
    {ERROR_INTERNET_BAD_OPTION_LENGTH, Reply::None,
     "The FTP engine was given a setting of a wrong size."},
    {ERROR_INTERNET_INCORRECT_USER_NAME, Reply::Server, "The server refused the user name."},
    {ERROR_INTERNET_INCORRECT_PASSWORD, Reply::Server, "The server refused the password."},
    {ERROR_INTERNET_LOGIN_FAILURE, Reply::Server, "The server refused the log-on."},
    {ERROR_INTERNET_INVALID_OPERATION, Reply::None,
     "The FTP engine cannot do that with this connection or setting."},
    {ERROR_INTERNET_INCORRECT_HANDLE_TYPE, Reply::None,
     "The FTP engine was asked to do something that does not fit the connection."},
    {ERROR_INTERNET_CANNOT_CONNECT, Reply::None,
     "Nothing is listening on that port, or the host cannot be reached."},
    {ERROR_INTERNET_CONNECTION_ABORTED, Reply::None, "The connection was broken off."},
    {ERROR_INTERNET_CONNECTION_RESET, Reply::None, "The server reset the connection."},
    {ERROR_FTP_TRANSFER_IN_PROGRESS, Reply::None,
     "Another transfer is still running on the connection."},
    {ERROR_FTP_DROPPED, Reply::None, "The connection to the server has been lost."},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, Reply::Explanation,
     "The encrypted connection could not be set up."},
    {ERROR_INTERNET_INVALID_CA, Reply::Explanation,
     "No certificate authority this computer trusts vouches for the server's certificate."},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID, Reply::Explanation,
     "The server's certificate has expired or is not valid yet."},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, Reply::Explanation,
     "The server's certificate was issued for another host name."},
    {ERROR_INTERNET_SEC_INVALID_CERT, Reply::Explanation, "The server's certificate is not valid."},
    {ERROR_INTERNET_SEC_CERT_REVOKED, Reply::Explanation,
     "The server's certificate has been revoked."},
    {ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED, Reply::Server,
     "The server offers no encryption, and plain FTP was not allowed: the user ID and password "
     "were not sent."},
};

const ErrorMeaning* find(DWORD code)
{
    for (const ErrorMeaning& entry : kMeanings)
        if (entry.code == code)
            return &entry;
    return nullptr;
}

} // namespace

QString FtpErrorMeaning(quint32 code)
{
    if (const ErrorMeaning* entry = find(code))
        return QString::fromLatin1(entry->meaning);
    return QStringLiteral("The system gave no further explanation for this code.");
}

FtpReplyKind FtpErrorReply(quint32 code)
{
    const ErrorMeaning* entry = find(code);
    return entry ? entry->reply : FtpReplyKind::None;
}

bool FtpErrorHasServerReply(quint32 code)
{
    return FtpErrorReply(code) == FtpReplyKind::Server;
}
