#include "queue/QueueTransfers.h"

#include "common/FileSystemError.h"
#include "local/PosixDir.h"
#include "queue/QueuedUploadCopy.h"
#include "remote/ServerSession.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferNames.h"
#include "transfer/UploadResume.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

#include <memory>
#include <optional>

namespace {

// Large blocks: a worker has no dialog to keep smooth, and fewer calls move more per second.
constexpr qint64 kBlockBytes = 64 * 1024;

QString shown(const QByteArray& remotePath)
{
    return QString::fromUtf8(remotePath);
}

// The folder `steps` below `root`, every step opened without following a link and made when
// `create` is set. Nothing and `why` when a step is no plain name or a link stands there.
std::optional<LocalDirectory> openBelow(const QString& root, const QStringList& steps, bool create,
                                        QString& why)
{
    std::optional<LocalDirectory> folder;
    folder.emplace(root);
    for (const QString& step : steps) {
        if (!IsPlainName(step)) {
            why = NotPlainNameText(step);
            return std::nullopt;
        }
        auto next = folder->subfolder(step, create);
        if (!next) {
            why = LinkInTheWayText(JoinLocalPath(folder->path(), step));
            return std::nullopt;
        }
        folder.reset();
        folder.emplace(std::move(*next));
    }
    return folder;
}

} // namespace

// The folder a file `relative` ("a/b/name") is in: "a/b" below `root`.
std::optional<LocalDirectory> QueuedFileFolder(const QString& root, const QString& relative,
                                               bool create, QString& why)
{
    QStringList steps = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!steps.isEmpty())
        steps.removeLast();
    return openBelow(root, steps, create, why);
}

bool LocalNameTaken(const LocalDirectory& folder, const QString& name)
{
    struct stat info = {};
    return ::fstatat(folder.fd(), QFile::encodeName(name).constData(), &info,
                     AT_SYMLINK_NOFOLLOW) == 0;
}

QString LeftAsItIsText(const QString& target)
{
    return QObject::tr("%1 already exists; it was left as it is, as nobody could be asked "
                       "whether to replace it. Transfer it again on its own to decide.")
        .arg(target);
}

namespace {

// The bytes of `stream` into `writer`; a failure, a cancel, or nothing (whole) at the end.
std::optional<QueueStep> receive(RemoteStream& stream, LocalFileWriter& writer,
                                 const QueueProgress& progress, const QString& what, qint64& done)
{
    auto buffer = std::make_unique_for_overwrite<char[]>(kBlockBytes);
    done = 0;
    for (;;) {
        if (!progress(done)) {
            stream.abort();
            return QueueStep{QueueState::Cancelled, {}, false};
        }
        qint64 got = 0;
        const RemoteResult result = stream.read(buffer.get(), kBlockBytes, got);
        if (!result)
            return QueueFailedOn(result, what);
        if (got == 0)
            break;
        writer.write(buffer.get(), static_cast<qsizetype>(got));
        done += got;
    }
    const RemoteResult result = stream.complete();
    if (!result)
        return QueueFailedOn(result, what);
    return std::nullopt;
}

// The bytes of `source` to `stream`, completed; nothing when the server confirmed them all.
std::optional<QueueStep> send(LocalFileReader& source, RemoteStream& stream,
                              const QueueProgress& progress, const QString& what, qint64 done = 0)
{
    for (;;) {
        if (!progress(done)) {
            stream.abort();
            return QueueStep{QueueState::Cancelled, {}, false};
        }
        const std::span<const char> block = source.next(kBlockBytes);
        if (block.empty())
            break;
        const RemoteResult result = stream.write(block.data(), static_cast<qint64>(block.size()));
        if (!result)
            return QueueFailedOn(result, what);
        done += static_cast<qint64>(block.size());
    }
    const RemoteResult result = stream.complete();
    if (!result)
        return QueueFailedOn(result, what);
    return std::nullopt;
}

} // namespace

QueueStep OpenQueuedSource(const QueueItem& item, std::optional<LocalDirectory>& folder,
                           std::optional<LocalFileReader>& reader)
{
    QString why;
    if (item.parent == 0) {
        reader.emplace(LocalSource(JoinLocalPath(item.localFolder, item.localName)));
        return {};
    }
    auto found = QueuedFileFolder(item.localFolder, item.localName, false, why);
    if (!found)
        return QueueFailed(why);
    folder.emplace(std::move(*found));
    reader.emplace(LocalSource(*folder, FileNamePart(item.localName)));
    return {};
}

namespace {

// What an upload reports to: the worker's progress, and the start of its failure texts.
struct Sending
{
    const QueueProgress& progress;
    const QString& what;
};

// For a server that refuses renames: the target written straight from the local file, as the
// window's uploads do. The whole copy goes only once the server confirmed that write, so one of
// the two always holds the whole file. Nothing (a Finished step) when it is done.
std::optional<QueueStep> writeDirectly(ServerSession& session, const QueueItem& item,
                                       LocalFileReader& reader, const QByteArray& copyPath,
                                       const Sending& how)
{
    const QByteArray name = RemotePath::name(item.remotePath);
    const QByteArray copyName = RemotePath::name(copyPath);
    reader.skipTo(0);
    RemoteResult result;
    auto stream = session.openWrite(item.remotePath, 0, result);
    if (!stream)
        return QueueFailed(how.what + QStringLiteral(": ") + RemoteFailureText(result) +
                               QStringLiteral("\n") + NotReplacedText(name, copyName),
                           result.failure == RemoteFailure::ConnectionLost);
    if (auto stopped = send(reader, *stream, how.progress, how.what)) {
        stream.reset();
        return QueueFailed(how.what + QStringLiteral("\n") + DirectWriteBrokeText(name, copyName),
                           stopped->sessionLost);
    }
    session.removeFile(copyPath);
    return std::nullopt;
}

// The whole copy takes the target's name. A target that appeared since the name was found
// free (the copy may have waited days for its rest) is replaced only where the user said so;
// otherwise the copy stays, remembered, and the item fails saying where it is.
QueueStep putInPlace(ServerSession& session, const QueueItem& item,
                     const QueuedUploadRecord& record, const LocalStamp& local, bool targetThere,
                     const QByteArray& copyPath, LocalFileReader& reader, const Sending& how)
{
    const QString& what = how.what;
    const QByteArray name = RemotePath::name(item.remotePath);
    const auto keep = [&](const RemoteResult& why, const QString& text) {
        const bool lost = why.failure == RemoteFailure::ConnectionLost;
        RememberUploadCopy(session, record, item, local, copyPath, !lost);
        return QueueFailed(what + QStringLiteral(": ") + text + QStringLiteral("\n") +
                               NotReplacedText(name, RemotePath::name(copyPath)),
                           lost);
    };
    if (!targetThere && !item.targetFree && item.existing != ExistingTarget::Overwrite) {
        RemoteEntry entry;
        const RemoteResult asked = session.stat(item.remotePath, entry);
        if (asked.failure == RemoteFailure::Cancelled)
            return {QueueState::Cancelled, {}, false};
        if (!asked.noSuchName)
            return keep(
                asked,
                asked ? QObject::tr("%1 appeared meanwhile").arg(QString::fromUtf8(item.remotePath))
                      : RemoteFailureText(asked));
    }
    const RemoteResult renamed = session.rename(copyPath, item.remotePath);
    if (renamed.failure == RemoteFailure::Refused) {
        if (auto failed = writeDirectly(session, item, reader, copyPath, how)) {
            RememberUploadCopy(session, record, item, local, copyPath, !failed->sessionLost);
            return *failed;
        }
    } else if (!renamed) {
        return keep(renamed, RemoteFailureText(renamed));
    }
    ForgetUploadCopy(record, item);
    return {};
}

// An upload through a copy kept in the record of stopped uploads: continued from what an
// earlier try left, remembered before its first byte in an unknown state (a crash leaves it
// findable, its end compared on the next try) and again, with its state, when it stops; put
// in place and forgotten once whole.
QueueStep sendRemembered(ServerSession& session, const QueueItem& item, LocalFileReader& reader,
                         const QueuedUploadRecord& record, bool targetThere, const Sending& how)
{
    const LocalStamp local{QFile::encodeName(JoinLocalPath(item.localFolder, item.localName)),
                           reader.size(), reader.modifiedNs()};
    UploadCopy copy;
    if (auto stopped = FindUploadCopy(session, record, item, reader, local, copy))
        return *stopped;
    RemoteResult result;
    auto stream = session.openWrite(copy.path, copy.offset, result);
    if (!stream && copy.offset > 0 && result.failure == RemoteFailure::Unsupported) {
        // The server will not append after all: the copy is of no use, the upload starts over.
        session.removeFile(copy.path);
        ForgetUploadCopy(record, item);
        copy = {RemotePath::join(RemotePath::parent(item.remotePath),
                                 TemporaryRemoteName(RemotePath::name(item.remotePath))),
                0};
        stream = session.openWrite(copy.path, 0, result);
    }
    if (!stream)
        return QueueFailedOn(result, how.what);
    // From here the copy grows: what was known of its length and time no longer holds.
    RememberUploadCopy(session, record, item, local, copy.path, false);
    reader.skipTo(copy.offset);
    if (auto stopped = send(reader, *stream, how.progress, how.what, copy.offset)) {
        stream.reset();
        // Kept for the next try, unless nothing could find it again.
        if (!RememberUploadCopy(session, record, item, local, copy.path, !stopped->sessionLost) &&
            !stopped->sessionLost)
            session.removeFile(copy.path);
        return *stopped;
    }
    return putInPlace(session, item, record, local, targetThere, copy.path, reader, how);
}

} // namespace

QueueStep QueueFailed(QString text, bool sessionLost)
{
    return {QueueState::Failed, std::move(text), sessionLost};
}

QueueStep QueueFailedOn(const RemoteResult& result, const QString& what)
{
    if (result.failure == RemoteFailure::Cancelled)
        return {QueueState::Cancelled, {}, false};
    return QueueFailed(what + QStringLiteral(": ") + RemoteFailureText(result),
                       result.failure == RemoteFailure::ConnectionLost);
}

QString RemoteFailureText(const RemoteResult& result)
{
    if (!result.reply.isEmpty())
        return result.reply;
    switch (result.failure) {
    case RemoteFailure::None:
        return {};
    case RemoteFailure::Cancelled:
        return QObject::tr("cancelled");
    case RemoteFailure::ConnectionLost:
        return QObject::tr("the connection was lost (error %1)").arg(result.code);
    case RemoteFailure::Security:
        return QObject::tr("the secure connection failed (error %1)").arg(result.code);
    case RemoteFailure::Unsupported:
        return QObject::tr("the server cannot do that (error %1)").arg(result.code);
    case RemoteFailure::Refused:
    case RemoteFailure::Other:
        break;
    }
    return QObject::tr("error %1").arg(result.code);
}

QueueStep DownloadQueued(ServerSession& session, const QueueItem& item,
                         const QueueProgress& progress)
{
    const QString name = FileNamePart(item.localName);
    const QString refused = RefusedDownloadNameText(name);
    if (!refused.isEmpty())
        return QueueFailed(refused);
    QString why;
    const auto folder = QueuedFileFolder(item.localFolder, item.localName, true, why);
    if (!folder)
        return QueueFailed(why);
    const QString target = JoinLocalPath(folder->path(), name);
    if (folder->isLink(name))
        return QueueFailed(LinkInTheWayText(target));
    if (LocalNameTaken(*folder, name)) {
        if (item.existing == ExistingTarget::Skip)
            return {QueueState::Finished, QObject::tr("Skipped: %1 already exists.").arg(target)};
        if (item.existing != ExistingTarget::Overwrite)
            return QueueFailed(LeftAsItIsText(target));
    }
    const QString what = QObject::tr("Download of %1 failed").arg(shown(item.remotePath));
    // Partial data an earlier try left of exactly this file (same name, size and time as
    // listed) is continued, where the server can start midway.
    const RemoteStamp stamp{RemotePath::name(item.remotePath), item.size, item.listedTime};
    qint64 offset = 0;
    QString continued; // the partial data continued, empty for a new download
    if (item.size > 0 && session.traits().resume) {
        if (const auto found = FindPartialDownload(*folder, name, stamp);
            found && found->unchanged && found->size > 0 && found->size < item.size) {
            offset = found->size;
            continued = found->name;
        }
    }
    RemoteResult result;
    auto stream = session.openRead(item.remotePath, offset, result);
    if (!stream)
        return QueueFailedOn(result, what);
    // Under a name of its own until whole: what was at the target stays until then, and what
    // arrived before a cancel stays as partial data beside it.
    std::optional<LocalFileWriter> made;
    if (!continued.isEmpty())
        made.emplace(*folder, continued, LocalFileWriter::Append{});
    else
        made.emplace(*folder, PartialDownloadName(name));
    LocalFileWriter& writer = *made;
    if (continued.isEmpty())
        RememberRemoteStamp(writer.fd(), stamp);
    qint64 received = 0;
    if (auto stopped = receive(*stream, writer, progress, what, received)) {
        writer.close();
        return *stopped;
    }
    // A server that ended the data early (or sent more) with a success reply must not have
    // its short copy taken for the file.
    received += offset;
    if (item.size >= 0 && received != item.size) {
        writer.close();
        return QueueFailed(QObject::tr("%1: the server sent %2 bytes of the %3 its listing shows. "
                                       "What arrived stays in %4.")
                               .arg(what)
                               .arg(received)
                               .arg(item.size)
                               .arg(JoinLocalPath(folder->path(), writer.name())));
    }
    // Replaced only where the user said so: a file that appeared since the check stays.
    if (item.existing == ExistingTarget::Overwrite)
        writer.commitAs(name);
    else
        writer.commitAsNew(name);
    RemoveOtherPartialDownloads(*folder, name, stamp.serverName, {});
    return {};
}

QueueStep UploadQueued(ServerSession& session, const QueueItem& item, const QueueProgress& progress,
                       const QueuedUploadRecord& record)
{
    std::optional<LocalDirectory> folder;
    std::optional<LocalFileReader> reader;
    const QueueStep opened = OpenQueuedSource(item, folder, reader);
    if (opened.state != QueueState::Finished)
        return opened;
    const QString what =
        QObject::tr("Upload of %1 to %2 failed")
            .arg(JoinLocalPath(item.localFolder, item.localName), shown(item.remotePath));
    bool targetThere = false;
    if (!item.targetFree) {
        RemoteEntry entry;
        const RemoteResult asked = session.stat(item.remotePath, entry);
        if (asked.failure == RemoteFailure::ConnectionLost ||
            asked.failure == RemoteFailure::Cancelled)
            return QueueFailedOn(asked, what);
        // Only a plain "no such file" proves the name free; a server that cannot tell sizes
        // may hold a file there all the same.
        targetThere = !asked.noSuchName;
    }
    if (targetThere) {
        if (item.existing == ExistingTarget::Skip)
            return {QueueState::Finished,
                    QObject::tr("Skipped: %1 already exists.").arg(shown(item.remotePath))};
        if (item.existing != ExistingTarget::Overwrite)
            return QueueFailed(LeftAsItIsText(shown(item.remotePath)));
    }
    if (record.store && !record.server.isEmpty() && reader->size() >= kResumableUploadMin)
        return sendRemembered(session, item, *reader, record, targetThere, {progress, what});
    const QByteArray name = RemotePath::name(item.remotePath);
    const QByteArray sentTo = targetThere ? RemotePath::join(RemotePath::parent(item.remotePath),
                                                             TemporaryRemoteName(name))
                                          : item.remotePath;
    RemoteResult result;
    auto stream = session.openWrite(sentTo, 0, result);
    if (!stream)
        return QueueFailedOn(result, what);
    if (auto stopped = send(*reader, *stream, progress, what)) {
        stream.reset();
        // What this upload left is its own, not the user's: a partial copy under our name, or
        // the start of a file that was not there before.
        if (!stopped->sessionLost)
            session.removeFile(sentTo);
        return *stopped;
    }
    if (sentTo != item.remotePath) {
        const RemoteResult renamed = session.rename(sentTo, item.remotePath);
        if (renamed.failure == RemoteFailure::Refused) {
            if (auto failed = writeDirectly(session, item, *reader, sentTo, {progress, what}))
                return *failed;
        } else if (!renamed)
            return QueueFailed(what + QStringLiteral(": ") + RemoteFailureText(renamed) +
                               QStringLiteral("\n") +
                               NotReplacedText(name, RemotePath::name(sentTo)));
    }
    return {};
}

namespace {

QueueItem childOf(const QueueItem& tree, const QString& name, const QByteArray& serverName)
{
    QueueItem child;
    child.direction = tree.direction;
    child.localFolder = tree.localFolder;
    child.localName = tree.localName + QLatin1Char('/') + name;
    child.remotePath = RemotePath::join(tree.remotePath, serverName);
    child.existing = tree.existing;
    child.lowerCase = tree.lowerCase;
    return child;
}

QueueStep listServerFolder(ServerSession& session, const QueueItem& item,
                           QList<QueueItem>& children)
{
    QString why;
    const auto local = openBelow(
        item.localFolder, item.localName.split(QLatin1Char('/'), Qt::SkipEmptyParts), true, why);
    if (!local)
        return QueueFailed(why);
    RemoteListing listing;
    int links = 0;
    const RemoteResult result =
        session.list(item.remotePath, listing, ListPurpose::Walk, [&](RemoteEntry&& entry) {
            if (entry.serverName == "." || entry.serverName == "..")
                return;
            // A link may lead anywhere on the server, a loop included: never entered.
            if (entry.isLink) {
                ++links;
                return;
            }
            QueueItem child = childOf(item, entry.name, entry.serverName);
            child.folder = entry.isFolder;
            child.size = entry.isFolder ? -1 : entry.size;
            child.listedTime = entry.modifiedTime;
            const QString refused = RefusedDownloadNameText(entry.name);
            if (!refused.isEmpty()) {
                child.state = QueueState::Failed;
                child.error = refused;
            }
            children << std::move(child);
        });
    if (!result)
        return QueueFailedOn(result, QObject::tr("Listing %1 failed").arg(shown(item.remotePath)));
    // Whatever those lines named is missing from the items: the tree would arrive incomplete
    // while looking whole.
    if (listing.unknownLines > 0)
        return QueueFailed(QObject::tr("%1 line(s) of the listing of %2 were not understood; what "
                                       "they named was not downloaded.")
                               .arg(listing.unknownLines)
                               .arg(shown(item.remotePath)));
    if (links > 0)
        return {QueueState::Finished, QObject::tr("%1 link(s) in %2 were not followed.")
                                          .arg(links)
                                          .arg(shown(item.remotePath))};
    return {};
}

QueueStep listLocalFolder(ServerSession& session, const QueueItem& item, QList<QueueItem>& children)
{
    QString why;
    const auto local = openBelow(
        item.localFolder, item.localName.split(QLatin1Char('/'), Qt::SkipEmptyParts), false, why);
    if (!local)
        return QueueFailed(why);
    // A folder the server just made holds nothing the upload could replace.
    const RemoteResult made = session.makeFolder(item.remotePath);
    if (made.failure == RemoteFailure::ConnectionLost || made.failure == RemoteFailure::Cancelled)
        return QueueFailedOn(made, QObject::tr("Making %1 failed").arg(shown(item.remotePath)));
    PosixDir dir = PosixDir::fromFd(::openat(local->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        throw FileSystemError(errno);
    int links = 0;
    while (const dirent* entry = dir.next()) {
        if (isDotOrDotDot(entry->d_name))
            continue;
        struct stat info = {};
        if (::fstatat(local->fd(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (S_ISLNK(info.st_mode)) {
            ++links;
            continue;
        }
        if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode))
            continue;
        QueueItem child = childOf(item, name, RemoteNameFor(name, item.lowerCase).toUtf8());
        child.folder = S_ISDIR(info.st_mode);
        child.size = child.folder ? -1 : static_cast<qint64>(info.st_size);
        child.targetFree = made.ok();
        children << std::move(child);
    }
    if (links > 0)
        return {QueueState::Finished,
                QObject::tr("%1 link(s) in %2 were not followed.").arg(links).arg(local->path())};
    return {};
}

} // namespace

QueueStep ListQueuedFolder(ServerSession& session, const QueueItem& item,
                           QList<QueueItem>& children)
{
    return item.direction == QueueDirection::Download ? listServerFolder(session, item, children)
                                                      : listLocalFolder(session, item, children);
}
