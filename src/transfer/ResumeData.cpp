#include "transfer/ResumeData.h"

#include "transfer/LocalFile.h"
#include "transfer/TransferNames.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <limits>

namespace {

// In the "user" name space, which any owner of a file may set on the common file systems.
constexpr char kStampAttribute[] = "user.zulftp.source";
constexpr char kStampHeader[] = "zulftp-source 2";
// The first version kept the listed time in local minutes.
constexpr char kMinuteStampHeader[] = "zulftp-source 1";

// Calls `visit(name)` for each entry of `folder` for which `wanted(name)` holds.
template <typename Wanted, typename Visit>
void forEachEntry(const LocalDirectory& folder, Wanted wanted, Visit visit)
{
    // A descriptor of its own: closedir() closes the one it was given.
    const int fd = ::openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        // Most entries are told apart by their bytes alone, without building a text.
        if (std::strstr(entry->d_name, kPartialSuffix) == nullptr)
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (wanted(name))
            visit(name);
    }
    ::closedir(dir);
}

// Calls `visit(name)` for each entry of `folder` (or of `known`, read from it earlier) whose
// name is that of partial data of a download of `localName`.
template <typename Visit>
void forEachPartialName(const LocalDirectory& folder, const QString& localName,
                        const PartialDownloadNames* known, Visit visit)
{
    const auto wanted = [&](const QString& name) { return IsPartialDownloadOf(name, localName); };
    if (!known) {
        forEachEntry(folder, wanted, visit);
        return;
    }
    for (const QString& name : known->names()) {
        if (wanted(name))
            visit(name);
    }
}

// The stamp and size of the partial file `name`: nothing for a link, a non-regular file or
// a file without a readable stamp.
std::optional<std::pair<RemoteStamp, qint64>> readStamped(const LocalDirectory& folder,
                                                          const QString& name)
{
    // O_NONBLOCK: a fifo under such a name must not hold the download.
    const int fd = ::openat(folder.fd(), QFile::encodeName(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::pair<RemoteStamp, qint64>> found;
    struct stat info
    {};
    std::array<char, 4096> buffer;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const ssize_t got = ::fgetxattr(fd, kStampAttribute, buffer.data(), buffer.size());
        if (got > 0) {
            if (auto stamp = DecodeRemoteStamp(QByteArrayView(buffer.data(), got)))
                found.emplace(std::move(*stamp), qint64(info.st_size));
        }
    }
    ::close(fd);
    return found;
}

} // namespace

QByteArray EncodeRemoteStamp(const RemoteStamp& stamp)
{
    // The name last: it is the one part that may hold any byte but NUL.
    return QByteArray(kStampHeader) + '\n' + QByteArray::number(stamp.size) + '\n' +
           QByteArray::number(stamp.modifiedTime) + '\n' + stamp.serverName;
}

std::optional<RemoteStamp> DecodeRemoteStamp(QByteArrayView bytes)
{
    const bool minutes = bytes.startsWith(QByteArrayView(kMinuteStampHeader));
    const QByteArrayView header(minutes ? kMinuteStampHeader : kStampHeader);
    if (!bytes.startsWith(header) || bytes.size() <= header.size() ||
        bytes.at(header.size()) != '\n')
        return std::nullopt;
    bytes = bytes.sliced(header.size() + 1);
    const qsizetype sizeEnd = bytes.indexOf('\n');
    if (sizeEnd < 0)
        return std::nullopt;
    const qsizetype timeEnd = bytes.indexOf('\n', sizeEnd + 1);
    if (timeEnd < 0)
        return std::nullopt;
    const auto size = ParseDecimal(bytes.first(sizeEnd));
    const auto time = ParseDecimal(bytes.sliced(sizeEnd + 1, timeEnd - sizeEnd - 1));
    const QByteArrayView name = bytes.sliced(timeEnd + 1);
    if (!size || !time || name.isEmpty())
        return std::nullopt;
    return RemoteStamp{name.toByteArray(), *size, minutes ? kUnknownRemoteTime : *time};
}

bool RememberRemoteStamp(int fd, const RemoteStamp& stamp)
{
    const QByteArray value = EncodeRemoteStamp(stamp);
    // Not kept (no extended attributes here): the data is still good, only not resumable.
    return ::fsetxattr(fd, kStampAttribute, value.constData(), size_t(value.size()), 0) == 0;
}

PartialDownloadNames::PartialDownloadNames(const LocalDirectory& folder)
{
    forEachEntry(
        folder, [](const QString&) { return true; },
        [this](const QString& name) { m_names.append(name); });
}

std::optional<PartialDownload> FindPartialDownload(const LocalDirectory& folder,
                                                   const QString& localName,
                                                   const RemoteStamp& listed,
                                                   const PartialDownloadNames* known)
{
    std::optional<PartialDownload> best;
    forEachPartialName(folder, localName, known, [&](const QString& name) {
        const auto partial = readStamped(folder, name);
        if (!partial || partial->first.serverName != listed.serverName)
            return;
        const qint64 size = partial->second;
        // More data than the remote file has cannot be the start of it.
        const bool unchanged = partial->first == listed && size <= listed.size;
        // Data that can be resumed first, then the most of it.
        if (best &&
            (best->unchanged > unchanged || (best->unchanged == unchanged && best->size >= size)))
            return;
        best = PartialDownload{name, size, unchanged};
    });
    return best;
}

void RemoveOtherPartialDownloads(const LocalDirectory& folder, const QString& localName,
                                 const QByteArray& serverName, const QString& keep)
{
    forEachPartialName(folder, localName, nullptr, [&](const QString& name) {
        if (name == keep)
            return;
        // Only files that carry our stamp of this very remote file: nothing else is ours.
        const auto partial = readStamped(folder, name);
        if (partial && partial->first.serverName == serverName)
            ::unlinkat(folder.fd(), QFile::encodeName(name).constData(), 0);
    });
}

bool HoldsCompleteDownload(const LocalDirectory& folder, const QString& localName,
                           const RemoteStamp& listed)
{
    const auto file = readStamped(folder, localName);
    return file && file->first == listed && file->second == listed.size;
}

std::optional<qint64> ParseDecimal(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 19)
        return std::nullopt;
    quint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + quint64(c - '0');
    }
    if (value > quint64(std::numeric_limits<qint64>::max()))
        return std::nullopt;
    return qint64(value);
}

namespace {
// `transfer` is "download" or "upload".
QString resumeQuestion(const char* transfer, const QString& name, qint64 have, qint64 total)
{
    return QStringLiteral("Resume the earlier %1 of %2 (%3 KB of %4 KB)?")
        .arg(QLatin1String(transfer), name)
        .arg(have / 1024)
        .arg(total / 1024);
}

QString noResume(const char* transfer, const QString& name)
{
    return QStringLiteral("The server cannot resume the %1 of %2. It is %1ed again from the "
                          "beginning.")
        .arg(QLatin1String(transfer), name);
}
} // namespace

QString ResumeQuestionText(const QString& name, qint64 have, qint64 total)
{
    return resumeQuestion("download", name, have, total);
}

QString NoResumeText(const QString& name)
{
    return noResume("download", name);
}

QString UploadResumeQuestionText(const QString& name, qint64 have, qint64 total)
{
    return resumeQuestion("upload", name, have, total);
}

QString NoUploadResumeText(const QString& name)
{
    return noResume("upload", name);
}

QString SizeMismatchText(const QString& path, qint64 got, qint64 listed, const QString& kept)
{
    const QString text = QStringLiteral("\"%1\" was not saved: the server sent %2 bytes, but "
                                        "the file is listed with %3 bytes.")
                             .arg(path)
                             .arg(got)
                             .arg(listed);
    if (kept.isEmpty())
        return text + QStringLiteral(" The data that arrived was removed.");
    return text + QStringLiteral(" The data that arrived is in \"%1\".").arg(kept);
}

QString LocalWriteFailedText(const QString& path, const QString& reason, const QString& kept)
{
    const QString text = QStringLiteral("\"%1\" could not be written: %2.").arg(path, reason);
    if (kept.isEmpty())
        return text + QStringLiteral(" Nothing of it was kept.");
    return text + QStringLiteral(" The data that arrived is kept in \"%1\"; download the "
                                 "file again to continue from there.")
                      .arg(kept);
}

QString OtherLinksKeptText(const QString& path)
{
    return QStringLiteral("\"%1\" was replaced by the downloaded file. It had other names "
                          "(hard links) too; they still hold its earlier contents.")
        .arg(path);
}

QString NoResumeKeptText(const QString& name, bool upload)
{
    return upload ? QStringLiteral("The server cannot resume the upload of %1. The file on the "
                                   "server was left as it is.")
                        .arg(name)
                  : QStringLiteral("The server cannot resume the download of %1. The file here "
                                   "was left as it is.")
                        .arg(name);
}
