#include "ftp/FtpErrorText.h"

#include "wininet.h"

namespace {

struct ErrorMeaning
{
    DWORD code;
    bool serverReply; // the code stands for an answer the server just gave
    const char* meaning;
};

constexpr ErrorMeaning kMeanings[] = {
    {ERROR_SUCCESS, false, "No reason was given for the failure."},
    {ERROR_FILE_NOT_FOUND, false, "The file or folder does not exist."},
    {ERROR_PATH_NOT_FOUND, false, "A folder on the way to the file does not exist."},
    {ERROR_TOO_MANY_OPEN_FILES, false, "The program has too many files open."},
    {ERROR_ACCESS_DENIED, false, "You do not have permission to do that here."},
    {ERROR_INVALID_HANDLE, false, "The connection or file had already been closed."},
    {ERROR_NOT_ENOUGH_MEMORY, false, "The computer ran out of memory."},
    {ERROR_INVALID_DATA, false, "The data could not be read: it is not in the expected form."},
    {ERROR_NO_MORE_FILES, false, "There are no more entries in the folder."},
    {ERROR_WRITE_FAULT, false, "The local file could not be written."},
    {ERROR_READ_FAULT, false, "The local file could not be read."},
    {ERROR_LOCK_VIOLATION, false, "Another program holds a lock on the file."},
    {ERROR_HANDLE_DISK_FULL, false, "The disk is full."},
    {ERROR_INVALID_PARAMETER, false,
     "A name or value was not accepted (it may be empty or hold a line break)."},
    {ERROR_INSUFFICIENT_BUFFER, false, "A reply was longer than the program can take."},
    {ERROR_INVALID_NAME, false, "The name is too long or not allowed."},
    {ERROR_ALREADY_EXISTS, false, "Something of that name already exists."},
    {ERROR_MORE_DATA, false, "A reply was longer than the program can take."},
    {ERROR_CANTWRITE, false, "The local file could not be written."},
    {ERROR_INTERNET_OUT_OF_HANDLES, false, "The program has too many connections open."},
    {ERROR_INTERNET_TIMEOUT, false, "The server did not answer in time."},
    {ERROR_INTERNET_EXTENDED_ERROR, true, "The server refused the request."},
    {ERROR_INTERNET_INTERNAL_ERROR, false, "The program's FTP engine failed inside."},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, false, "The host name could not be found."},
    {ERROR_INTERNET_INVALID_OPTION, false, "The FTP engine was given a setting it does not know."},
    {ERROR_INTERNET_BAD_OPTION_LENGTH, false,
     "The FTP engine was given a setting of a wrong size."},
    {ERROR_INTERNET_INCORRECT_USER_NAME, true, "The server refused the user name."},
    {ERROR_INTERNET_INCORRECT_PASSWORD, true, "The server refused the password."},
    {ERROR_INTERNET_LOGIN_FAILURE, true, "The server refused the log-on."},
    {ERROR_INTERNET_INCORRECT_HANDLE_TYPE, false,
     "The FTP engine was asked to do something that does not fit the connection."},
    {ERROR_INTERNET_CANNOT_CONNECT, false,
     "Nothing is listening on that port, or the host cannot be reached."},
    {ERROR_INTERNET_CONNECTION_ABORTED, false, "The connection was broken off."},
    {ERROR_INTERNET_CONNECTION_RESET, false, "The server reset the connection."},
    {ERROR_FTP_TRANSFER_IN_PROGRESS, false, "Another transfer is still running on the connection."},
    {ERROR_FTP_DROPPED, false, "The connection to the server has been lost."},
};

const ErrorMeaning* find(DWORD code)
{
    for (const ErrorMeaning& entry : kMeanings)
        if (entry.code == code)
            return &entry;
    return nullptr;
}

} // namespace

QString FtpErrorMeaning(DWORD code)
{
    if (const ErrorMeaning* entry = find(code))
        return QString::fromLatin1(entry->meaning);
    return QStringLiteral("The system gave no further explanation for this code.");
}

bool FtpErrorHasServerReply(DWORD code)
{
    const ErrorMeaning* entry = find(code);
    return entry && entry->serverReply;
}

QString FtpErrorDetail(DWORD code, const QString& lastReply)
{
    QString detail = FtpErrorMeaning(code);
    const QString reply = lastReply.trimmed();
    if (FtpErrorHasServerReply(code) && !reply.isEmpty())
        detail += QStringLiteral("\nThe server's reply: ") + reply;
    return detail;
}
