#include "remote/FtpServerSession.h"

#include "common/FileListRows.h"
#include "remote/FtpConnect.h"
#include "sites/ProfileStore.h"

#include <QDateTime>

#include <cstring>

namespace {

// Both halves of a find record's size at INVALID_FILE_SIZE: the server gave no usable size.
constexpr quint64 kUnknownListedSize = (quint64{INVALID_FILE_SIZE} << 32) | INVALID_FILE_SIZE;

// "/a/" and "/a" are the same folder; "/" stays "/".
QByteArray withoutTrailingSlash(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// Codes with which the engine says the connection itself is gone.
bool isConnectionLost(DWORD code)
{
    return code == ERROR_INTERNET_CONNECTION_ABORTED || code == ERROR_INTERNET_CONNECTION_RESET ||
           code == ERROR_FTP_DROPPED || code == ERROR_INTERNET_TIMEOUT;
}

bool isSecurity(DWORD code)
{
    return code == ERROR_INTERNET_SECURITY_CHANNEL_ERROR || code == ERROR_INTERNET_INVALID_CA ||
           code == ERROR_INTERNET_SEC_CERT_DATE_INVALID ||
           code == ERROR_INTERNET_SEC_INVALID_CERT || code == ERROR_INTERNET_SEC_CERT_CN_INVALID ||
           code == ERROR_INTERNET_SEC_CERT_REVOKED ||
           code == ERROR_INTERNET_INSECURE_FALLBACK_REQUIRED;
}

// The codes that stand for a reply just received; other failures may leave an older one.
bool isReply(DWORD code)
{
    return code == ERROR_INTERNET_EXTENDED_ERROR || code == ERROR_INTERNET_INCORRECT_USER_NAME ||
           code == ERROR_INTERNET_INCORRECT_PASSWORD || code == ERROR_INTERNET_LOGIN_FAILURE ||
           isSecurity(code);
}

// 100-ns ticks from 1601-01-01 (a list row's origin) to 1970-01-01.
constexpr qint64 kTicksTo1970 = 116444736000000000LL;

// An MDTM stamp, "YYYYMMDDHHMMSS" in UTC with up to nine digits of a fraction (RFC 3659
// section 2.3), as 100-ns ticks since 1601; 0 when it names no real moment.
qint64 stampTicks(const QByteArray& stamp)
{
    // Date and time apart: read as one they would be local time, which skips an hour a year.
    const QDate date = QDate::fromString(QString::fromLatin1(stamp.left(8)), u"yyyyMMdd");
    const QTime clock = QTime::fromString(QString::fromLatin1(stamp.mid(8, 6)), u"HHmmss");
    const QDateTime time(date, clock, Qt::UTC);
    if (!time.isValid())
        return 0;
    const QByteArray fraction = stamp.mid(15).leftJustified(7, '0').left(7);
    return time.toSecsSinceEpoch() * 10000000LL + kTicksTo1970 + fraction.toLongLong();
}

} // namespace

RemoteEntry FtpListedEntry(const WIN32_FIND_DATAA& data)
{
    RemoteEntry entry;
    // The name field need not be terminated when the server sent a 260-byte name.
    entry.serverName =
        QByteArray(data.cFileName, static_cast<qsizetype>(::strnlen(data.cFileName, MAX_PATH)));
    entry.name = ServerNameText(entry.serverName);
    entry.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const quint64 size = (quint64{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    constexpr auto kMax = static_cast<quint64>(std::numeric_limits<qint64>::max());
    if (size == kUnknownListedSize) {
        entry.size = kUnknownEntrySize;
    } else {
        entry.size = static_cast<qint64>(std::min(size, kMax));
        if (size > kMax)
            entry.sizeBeyondRange = size;
    }
    const FILETIME& time = data.ftLastWriteTime;
    entry.modifiedTime = static_cast<qint64>(
        ((quint64{time.dwHighDateTime} << 32) | time.dwLowDateTime) & ~(quint64{1} << 63));
    // An ls-style line of an older file names its day alone.
    if ((data.dwReserved1 & FIND_DATA_DATE_ONLY) != 0)
        entry.precision = TimePrecision::Day;
    return entry;
}

namespace {

// One transfer of a file over the engine's file handle.
class FtpStream final : public RemoteStream
{
public:
    FtpStream(const FtpServerSession& session, HINTERNET handle)
        : m_session(session), m_handle(handle)
    {}
    ~FtpStream() override { abort(); }
    FtpStream(const FtpStream&) = delete;
    FtpStream& operator=(const FtpStream&) = delete;

    RemoteResult read(char* buffer, qint64 size, qint64& got) override
    {
        DWORD count = 0;
        const auto want = static_cast<DWORD>(std::min<qint64>(size, 0x7FFFFFFF));
        const BOOL succeeded = InternetReadFile(m_handle, buffer, want, &count);
        got = count;
        return succeeded ? RemoteResult{} : m_session.failure();
    }
    RemoteResult write(const char* data, qint64 size) override
    {
        DWORD count = 0;
        const auto length = static_cast<DWORD>(size);
        if (InternetWriteFile(m_handle, data, length, &count) && count == length)
            return {};
        return m_session.failure();
    }
    RemoteResult complete() override
    {
        if (InternetCloseHandle(std::exchange(m_handle, nullptr)))
            return {};
        return m_session.failure();
    }
    void abort() override
    {
        if (!m_handle)
            return;
        const DWORD error = GetLastError();
        FtpAbortFile(m_handle);
        InternetCloseHandle(std::exchange(m_handle, nullptr));
        SetLastError(error);
    }

private:
    const FtpServerSession& m_session;
    HINTERNET m_handle;
};

} // namespace

HINTERNET FtpConnectionHandle(ServerSession& session)
{
    const auto* ftp = dynamic_cast<const FtpServerSession*>(&session);
    return ftp ? ftp->connectionHandle() : nullptr;
}

RemoteResult FtpResult(DWORD code, int replyCode, const QString& reply)
{
    RemoteResult result;
    result.code = code;
    if (isConnectionLost(code))
        result.failure = RemoteFailure::ConnectionLost;
    else if (code == ERROR_INTERNET_OPERATION_CANCELLED)
        result.failure = RemoteFailure::Cancelled;
    else if (code == ERROR_NOT_SUPPORTED)
        result.failure = RemoteFailure::Unsupported;
    else if (isSecurity(code))
        result.failure = RemoteFailure::Security;
    else if (isReply(code))
        result.failure = RemoteFailure::Refused;
    else
        result.failure = RemoteFailure::Other;
    if (isReply(code)) {
        result.replyCode = replyCode;
        result.reply = reply;
        result.noSuchName = replyCode == 550;
    }
    return result;
}

FtpServerSession::FtpServerSession(HINTERNET connection, HINTERNET internet, bool owned)
    : m_connection(connection), m_internet(internet), m_owned(owned)
{}

FtpServerSession::~FtpServerSession()
{
    if (!m_owned)
        return;
    const DWORD error = GetLastError();
    if (m_connection)
        InternetCloseHandle(m_connection);
    if (m_internet)
        InternetCloseHandle(m_internet);
    SetLastError(error);
}

std::pair<RemoteResult, RemoteResult> FtpServerSession::closeHandles()
{
    const auto closed = [](HINTERNET handle) {
        return InternetCloseHandle(handle) ? RemoteResult{} : FtpResult(GetLastError(), 0, {});
    };
    RemoteResult connection = closed(std::exchange(m_connection, nullptr));
    RemoteResult internet = closed(std::exchange(m_internet, nullptr));
    return {std::move(connection), std::move(internet)};
}

RemoteResult FtpServerSession::failure() const
{
    // Read first: the call below leaves an error of its own.
    const DWORD code = GetLastError();
    DWORD replyCode = 0;
    char reply[1024] = {};
    DWORD length = sizeof reply;
    QString text;
    if (isReply(code) && FtpGetLastResponseInfoA(m_connection, &replyCode, reply, &length))
        text = QString::fromUtf8(reply, static_cast<qsizetype>(qstrnlen(reply, sizeof reply)))
                   .trimmed();
    SetLastError(code);
    return FtpResult(code, static_cast<int>(replyCode), text);
}

QByteArray FtpServerSession::sent(const QByteArray& path) const
{
    if (withoutTrailingSlash(RemotePath::parent(path)) == withoutTrailingSlash(m_known))
        return RemotePath::name(path);
    // Further down (a name typed with a "/" in it) it goes relative too, as it was typed.
    if (!m_known.isEmpty()) {
        const QByteArray prefix = m_known.endsWith('/') ? m_known : m_known + '/';
        if (path.size() > prefix.size() && path.startsWith(prefix))
            return path.mid(prefix.size());
    }
    return path;
}

SessionTraits FtpServerSession::traits() const
{
    SessionTraits traits;
    DWORD features = 0;
    if (FtpGetServerFeatures(m_connection, &features)) {
        traits.resume = (features & FTP_FEATURE_RESTART) != 0;
        traits.machineListing = (features & FTP_FEATURE_MLSD) != 0;
    }
    // APPE is checked against the server's SIZE at each use.
    traits.append = traits.resume;
    if (traits.machineListing)
        traits.timePrecision = TimePrecision::Second;
    INTERNET_SECURITY_CONNECTION_INFO info{};
    info.dwSize = sizeof info;
    DWORD length = sizeof info;
    traits.secure = InternetQueryOptionA(m_connection, INTERNET_OPTION_SECURITY_CONNECTION_INFO,
                                         &info, &length) &&
                    info.fSecure;
    return traits;
}

RemoteResult FtpServerSession::currentFolder(QByteArray& path)
{
    const bool afterChange = std::exchange(m_justChanged, false);
    char buffer[4096] = {};
    DWORD length = sizeof buffer;
    if (!FtpGetCurrentDirectoryA(m_connection, buffer, &length)) {
        m_wholePathNext = m_wholePathNext || (afterChange && m_known.startsWith('/'));
        return failure();
    }
    path = QByteArray(buffer, static_cast<qsizetype>(::strnlen(buffer, sizeof buffer)));
    // Only paths of the "/"-form can be compared; a folder left unknown is told, not
    // contradicted.
    if (afterChange && m_known.startsWith('/') && path.startsWith('/') &&
        withoutTrailingSlash(path) != withoutTrailingSlash(m_known))
        m_wholePathNext = true;
    m_known = path;
    return {};
}

RemoteResult FtpServerSession::changeFolder(const QByteArray& path)
{
    // Up one level is "CWD ..", as a tree walk's way back always was.
    const bool up = !m_wholePathNext && !m_known.isEmpty() &&
                    withoutTrailingSlash(path) == RemotePath::parent(withoutTrailingSlash(m_known));
    const QByteArray argument = up ? QByteArray("..") : m_wholePathNext ? path : sent(path);
    if (!FtpSetCurrentDirectoryA(m_connection, argument.constData())) {
        // A way up the server refused is not tried again the same way.
        m_wholePathNext = m_wholePathNext || up;
        return failure();
    }
    m_known = path;
    m_justChanged = true;
    m_wholePathNext = false;
    return {};
}

RemoteResult FtpServerSession::list(const QByteArray& folder, RemoteListing& listing,
                                    ListPurpose purpose,
                                    const std::function<void(RemoteEntry&&)>& each)
{
    listing = {};
    m_justChanged = false;
    if (withoutTrailingSlash(folder) != withoutTrailingSlash(m_known)) {
        if (RemoteResult changed = changeFolder(folder); !changed)
            return changed;
        m_justChanged = false;
    }
    // Listed where the server says it is: names from here lead where the listing shows.
    m_wholePathNext = false;
    const DWORD flags =
        INTERNET_FLAG_RELOAD | (purpose == ListPurpose::Walk ? FTP_FIND_REAL_FOLDERS : 0);
    WIN32_FIND_DATAA data{};
    HINTERNET find = FtpFindFirstFileA(m_connection, nullptr, &data, flags, 0);
    if (find) {
        do {
            if (each)
                each(FtpListedEntry(data));
            else
                listing.entries.push_back(FtpListedEntry(data));
            data = WIN32_FIND_DATAA{};
        } while (InternetFindNextFileA(find, &data));
    }
    // The end of the entries is no failure: a listing without any is an empty folder.
    const RemoteResult result = GetLastError() == ERROR_NO_MORE_FILES ? RemoteResult{} : failure();
    if (find)
        InternetCloseHandle(find);
    DWORD lines = 0;
    listing.unknownLines = FtpGetListingUnknownLines(m_connection, &lines) ? lines : 1;
    // Left as the listing ended, for callers that still report through the last error.
    SetLastError(result ? ERROR_NO_MORE_FILES : result.code);
    return result;
}

RemoteResult FtpServerSession::stat(const QByteArray& path, RemoteEntry& entry)
{
    entry = {};
    const QByteArray name = sent(path);
    entry.serverName = RemotePath::name(path);
    ULONGLONG size = 0;
    if (!FtpGetFileSizeA(m_connection, name.constData(), &size))
        return failure();
    entry.size = static_cast<qint64>(std::min<ULONGLONG>(size, 0x7FFFFFFFFFFFFFFFull));
    return {};
}

RemoteResult FtpServerSession::statTime(const QByteArray& path, RemoteEntry& entry)
{
    entry = {};
    entry.serverName = RemotePath::name(path);
    entry.size = kUnknownEntrySize;
    char stamp[32] = {};
    DWORD length = sizeof stamp;
    if (!FtpGetFileTimeA(m_connection, sent(path).constData(), stamp, &length))
        return failure();
    entry.modifiedTime = stampTicks(QByteArray(stamp, static_cast<qsizetype>(length)));
    entry.precision = entry.modifiedTime != 0 ? TimePrecision::Second : TimePrecision::Unknown;
    return {};
}

RemoteResult FtpServerSession::makeFolder(const QByteArray& path)
{
    return done(FtpCreateDirectoryA(m_connection, sent(path).constData()));
}

RemoteResult FtpServerSession::removeFolder(const QByteArray& path)
{
    return done(FtpRemoveDirectoryA(m_connection, sent(path).constData()));
}

RemoteResult FtpServerSession::removeFile(const QByteArray& path)
{
    return done(FtpDeleteFileA(m_connection, sent(path).constData()));
}

RemoteResult FtpServerSession::rename(const QByteArray& from, const QByteArray& to)
{
    return done(FtpRenameFileA(m_connection, sent(from).constData(), sent(to).constData()));
}

std::unique_ptr<RemoteStream> FtpServerSession::openRead(const QByteArray& path, qint64 offset,
                                                         RemoteResult& result, TransferMode mode)
{
    const DWORD type =
        mode == TransferMode::Ascii ? FTP_TRANSFER_TYPE_ASCII : FTP_TRANSFER_TYPE_BINARY;
    HINTERNET file = FtpOpenFileAtA(m_connection, sent(path).constData(), GENERIC_READ, type,
                                    static_cast<ULONGLONG>(std::max<qint64>(offset, 0)), 0);
    result = done(file != nullptr);
    return file ? std::make_unique<FtpStream>(*this, file) : nullptr;
}

std::unique_ptr<RemoteStream> FtpServerSession::openWrite(const QByteArray& path, qint64 appendAt,
                                                          RemoteResult& result, TransferMode mode)
{
    const DWORD type =
        mode == TransferMode::Ascii ? FTP_TRANSFER_TYPE_ASCII : FTP_TRANSFER_TYPE_BINARY;
    HINTERNET file = FtpOpenFileAtA(m_connection, sent(path).constData(), GENERIC_WRITE, type,
                                    static_cast<ULONGLONG>(std::max<qint64>(appendAt, 0)), 0);
    result = done(file != nullptr);
    return file ? std::make_unique<FtpStream>(*this, file) : nullptr;
}

void FtpServerSession::cancel()
{
    FtpCancelPendingCall(m_connection);
}

QByteArray RemotePath::join(const QByteArray& folder, const QByteArray& name)
{
    if (folder.isEmpty())
        return name;
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray RemotePath::parent(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {};
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray RemotePath::name(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

DWORD FtpConnectFlags(const QString& encryption, bool plainFtpAllowed)
{
    if (encryption.isEmpty() || encryption == QLatin1String(kEncryptionNone))
        return 0;
    if (encryption == QLatin1String(kEncryptionIfAvailable))
        return INTERNET_FLAG_SECURE_IF_AVAILABLE |
               (plainFtpAllowed ? INTERNET_FLAG_INSECURE_FALLBACK : 0);
    return INTERNET_FLAG_SECURE;
}

SessionLogon LogonFor(const SiteProfile& site, quint16 port)
{
    SessionLogon logon;
    logon.host = site.host;
    logon.port = port;
    logon.user = site.userID.toUtf8();
    logon.password = site.password.toUtf8(); // empty text, never none
    logon.connectFlags = FtpConnectFlags(site.encryption, site.plainFtpAllowed);
    return logon;
}

std::unique_ptr<FtpServerSession> OpenServerSession(const SessionLogon& logon, RemoteResult& result)
{
    HINTERNET internet = InternetOpenA("ZULFTP", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!internet) {
        result = FtpResult(GetLastError(), 0, {});
        return nullptr;
    }
    QByteArray accepted = logon.acceptedCertificate.toLatin1();
    InternetSetOptionA(internet, INTERNET_OPTION_SECURITY_CERTIFICATE_STRUCT, accepted.data(),
                       static_cast<DWORD>(accepted.size()));
    const QByteArray server = logon.host.toUtf8();
    HINTERNET connection =
        InternetConnectA(internet, server.constData(), logon.port, logon.user.constData(),
                         logon.password.constData(), INTERNET_SERVICE_FTP, logon.connectFlags, 0);
    if (!connection) {
        // No connection of its own to ask: the reply of this thread's failed connect.
        result = LastEngineFailure();
        InternetCloseHandle(internet);
        SetLastError(result.code);
        return nullptr;
    }
    result = {};
    return std::make_unique<FtpServerSession>(connection, internet, true);
}
