#include "remote/SftpServerSession.h"

#include "common/FileListRows.h"
#include "remote/SftpStreams.h"

#include <limits>

namespace {

// Seconds from 1601, where a list row's time starts, to 1970, where the server's starts.
constexpr qint64 kSecondsTo1970 = 11644473600LL;
constexpr qint64 kTicksPerSecond = 10000000LL;

std::string bytesOf(const QByteArray& path)
{
    return path.toStdString();
}

QString textOf(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

RemoteResult failedWith(RemoteFailure failure, const QString& why)
{
    RemoteResult result;
    result.failure = failure;
    result.reply = why;
    return result;
}

} // namespace

RemoteResult SftpResult(const sftp::Error& error)
{
    using sftp::ErrorKind;
    RemoteResult result;
    switch (error.kind) {
    case ErrorKind::None:
        return result;
    case ErrorKind::Cancelled:
        result.failure = RemoteFailure::Cancelled;
        break;
    case ErrorKind::Timeout:
    case ErrorKind::Protocol:
    case ErrorKind::ConnectionLost:
        result.failure = RemoteFailure::ConnectionLost;
        break;
    case ErrorKind::HostKeyChanged:
    case ErrorKind::HostKeyRefused:
        result.failure = RemoteFailure::Security;
        break;
    case ErrorKind::LogOnFailed:
        result.failure = RemoteFailure::Refused;
        break;
    case ErrorKind::Server:
        result.failure = error.statusCode == sftp::kStatusOpUnsupported ? RemoteFailure::Unsupported
                                                                        : RemoteFailure::Refused;
        // The status code is the server's reply code; the text is its own where it sent one.
        result.code = error.statusCode;
        result.replyCode = static_cast<int>(error.statusCode);
        result.reply = textOf(error.serverMessage.empty() ? sftp::describeStatus(error.statusCode)
                                                          : error.serverMessage)
                           .trimmed();
        result.noSuchName = error.statusCode == sftp::kStatusNoSuchFile;
        return result;
    case ErrorKind::ConnectFailed:
    case ErrorKind::Local:
        result.failure = RemoteFailure::Other;
        break;
    }
    return result;
}

RemoteEntry SftpEntry(const std::string& name, const sftp::Attributes& attributes)
{
    RemoteEntry entry;
    entry.serverName = QByteArray::fromStdString(name);
    entry.name = ServerNameText(entry.serverName);
    entry.isFolder = attributes.isFolder();
    entry.isLink = attributes.isLink();
    if (!attributes.size) {
        entry.size = kUnknownEntrySize;
    } else {
        constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<qint64>::max());
        entry.size = static_cast<qint64>(std::min(*attributes.size, kMax));
        if (*attributes.size > kMax)
            entry.sizeBeyondRange = *attributes.size;
    }
    if (attributes.modifyTime) {
        entry.modifiedTime = (qint64{*attributes.modifyTime} + kSecondsTo1970) * kTicksPerSecond;
        entry.precision = TimePrecision::Second;
    }
    return entry;
}

SftpServerSession::SftpServerSession(std::unique_ptr<sftp::SftpClient> client, QString host)
    : m_client(std::move(client)), m_host(std::move(host))
{}

SftpServerSession::~SftpServerSession() = default;

sftp::SftpClient& SftpServerSession::begin()
{
    m_client->clearCancel();
    return *m_client;
}

RemoteResult SftpServerSession::done(bool succeeded) const
{
    return succeeded ? RemoteResult{} : SftpResult(m_client->lastError());
}

QString SftpServerSession::failureText() const
{
    return textOf(m_client->lastError().text);
}

SessionTraits SftpServerSession::traits() const
{
    SessionTraits traits;
    traits.resume = true;
    traits.append = true;
    traits.renameOver = m_client->hasExtension("posix-rename@openssh.com");
    traits.machineListing = true;
    traits.secure = true;
    traits.timePrecision = TimePrecision::Second;
    traits.filesInFlight = true;
    return traits;
}

RemoteResult SftpServerSession::currentFolder(QByteArray& path)
{
    std::string resolved;
    if (!begin().realPath(m_known.isEmpty() ? "." : bytesOf(m_known), resolved))
        return done(false);
    path = QByteArray::fromStdString(resolved);
    m_known = path;
    return {};
}

RemoteResult SftpServerSession::changeFolder(const QByteArray& path)
{
    std::string resolved;
    sftp::Attributes attributes;
    if (!begin().realPath(bytesOf(path), resolved) || !m_client->stat(resolved, attributes))
        return done(false);
    if (!attributes.isFolder())
        return failedWith(
            RemoteFailure::Refused,
            QStringLiteral("%1 on %2 is not a folder.").arg(ServerNameText(path), m_host));
    m_known = QByteArray::fromStdString(resolved);
    return {};
}

RemoteResult SftpServerSession::list(const QByteArray& folder, RemoteListing& listing,
                                     ListPurpose purpose,
                                     const std::function<void(RemoteEntry&&)>& each)
{
    std::vector<sftp::NameEntry> names;
    std::size_t refused = 0;
    const std::string path = bytesOf(folder);
    if (!begin().list(path, names, refused))
        return done(false);
    listing.unknownLines += refused;
    for (sftp::NameEntry& listed : names) {
        RemoteEntry entry = SftpEntry(listed.name, listed.attributes);
        // A link shown in the list is entered as its target is; a tree walk never follows one,
        // so a link to "/" cannot take a delete or a download outside the chosen folder.
        if (entry.isLink && purpose == ListPurpose::Show) {
            sftp::Attributes target;
            if (m_client->stat(bytesOf(RemotePath::join(folder, entry.serverName)), target)) {
                entry.isFolder = target.isFolder();
                if (target.size && !entry.isFolder)
                    entry.size = SftpEntry(listed.name, target).size;
            } else if (m_client->lastError().kind != sftp::ErrorKind::Server) {
                return done(false); // a dangling link is listed; a lost connection is not
            }
        }
        if (each)
            each(std::move(entry));
        else
            listing.entries.push_back(std::move(entry));
    }
    return {};
}

RemoteResult SftpServerSession::stat(const QByteArray& path, RemoteEntry& entry)
{
    sftp::Attributes attributes;
    if (!begin().stat(bytesOf(path), attributes))
        return done(false);
    entry = SftpEntry(bytesOf(RemotePath::name(path)), attributes);
    return {};
}

RemoteResult SftpServerSession::makeFolder(const QByteArray& path)
{
    return done(begin().makeFolder(bytesOf(path)));
}

RemoteResult SftpServerSession::removeFolder(const QByteArray& path)
{
    return done(begin().removeFolder(bytesOf(path)));
}

RemoteResult SftpServerSession::removeFile(const QByteArray& path)
{
    return done(begin().removeFile(bytesOf(path)));
}

RemoteResult SftpServerSession::rename(const QByteArray& from, const QByteArray& to)
{
    return done(begin().rename(bytesOf(from), bytesOf(to)));
}

// The protocol moves bytes as they are: both modes read and write the file unchanged.
std::unique_ptr<RemoteStream> SftpServerSession::openRead(const QByteArray& path, qint64 offset,
                                                          RemoteResult& result, TransferMode)
{
    return OpenSftpReadStream(begin(), bytesOf(path), static_cast<std::uint64_t>(offset), result);
}

std::unique_ptr<RemoteStream> SftpServerSession::openWrite(const QByteArray& path, qint64 appendAt,
                                                           RemoteResult& result, TransferMode)
{
    if (appendAt == 0)
        return OpenSftpWriteStream(begin(), bytesOf(path), sftp::UploadMode::Replace, 0, result);
    // Writing on at any other point than the server's end would leave a hole or overwrite
    // bytes the server holds.
    sftp::Attributes attributes;
    if (!begin().stat(bytesOf(path), attributes)) {
        result = done(false);
        return nullptr;
    }
    if (!attributes.size || *attributes.size != static_cast<std::uint64_t>(appendAt)) {
        result = failedWith(
            RemoteFailure::Refused,
            QStringLiteral("%1 on %2 holds %3 bytes, not the %4 the upload would continue.")
                .arg(ServerNameText(path), m_host,
                     attributes.size ? QString::number(*attributes.size) : QStringLiteral("?"))
                .arg(appendAt));
        return nullptr;
    }
    return OpenSftpWriteStream(*m_client, bytesOf(path), sftp::UploadMode::Resume,
                               static_cast<std::uint64_t>(appendAt), result);
}

RemoteResult SftpServerSession::transferFiles(BatchDirection direction,
                                              std::vector<RemoteBatchFile>& files,
                                              const std::function<bool(qint64 bytes)>& progress)
{
    const bool upload = direction == BatchDirection::Upload;
    std::vector<sftp::BatchFile> batch(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        batch[i].path = bytesOf(files[i].path);
        if (upload) {
            batch[i].temporary = bytesOf(files[i].temporaryPath);
            batch[i].data.assign(files[i].data.constData(), std::size_t(files[i].data.size()));
        }
        batch[i].expectedSize = std::uint64_t(std::max<qint64>(0, files[i].expectedSize));
        batch[i].limit = std::uint64_t(std::max<qint64>(0, files[i].limit));
    }
    sftp::SftpClient& client = begin();
    const auto moved = [&](std::uint64_t bytes) {
        return !progress || progress(static_cast<qint64>(bytes));
    };
    const bool whole =
        upload ? client.uploadBatch(batch, moved) : client.downloadBatch(batch, moved);
    using Outcome = RemoteBatchFile::Outcome;
    for (std::size_t i = 0; i < files.size(); ++i) {
        sftp::BatchFile& item = batch[i];
        RemoteBatchFile& file = files[i];
        switch (item.outcome) {
        case sftp::BatchFile::Outcome::NotDone:
            file.outcome = Outcome::NotDone;
            break;
        case sftp::BatchFile::Outcome::Done:
            file.outcome = Outcome::Done;
            break;
        case sftp::BatchFile::Outcome::Failed:
            file.outcome = Outcome::Failed;
            break;
        case sftp::BatchFile::Outcome::Renaming:
            file.outcome = Outcome::NotRenamed;
            break;
        case sftp::BatchFile::Outcome::TooLarge:
            file.outcome = Outcome::TooLarge;
            break;
        }
        file.result =
            item.error.kind == sftp::ErrorKind::None ? RemoteResult{} : SftpResult(item.error);
        if (!upload)
            file.data = file.outcome == Outcome::Done
                            ? QByteArray(item.data.data(), qsizetype(item.data.size()))
                            : QByteArray();
    }
    return done(whole);
}

std::unique_ptr<SftpServerSession> OpenSftpSession(const sftp::ConnectOptions& options,
                                                   const sftp::PromptHandler& prompts,
                                                   RemoteResult& result, QString& why)
{
    auto client = std::make_unique<sftp::SftpClient>();
    if (!client->connect(options, prompts)) {
        result = SftpResult(client->lastError());
        why = textOf(client->lastError().text);
        return nullptr;
    }
    result = {};
    return std::make_unique<SftpServerSession>(std::move(client),
                                               QString::fromStdString(options.host));
}
