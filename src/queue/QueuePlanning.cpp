#include "queue/QueuePlanning.h"

#include "common/Prompter.h"
#include "remote/ServerSession.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferNames.h"
#include "transfer/UnfinishedUploads.h"
#include "transfer/UploadResume.h"

#include <QDateTime>
#include <QFile>
#include <QObject>

#include <sys/stat.h>

namespace {

constexpr qint64 kTicksTo1970 = 116444736000000000LL;
constexpr int kRenameTries = 5;

QString describe(qint64 size, qint64 ms)
{
    const QString when =
        ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
               : QObject::tr("time unknown");
    return size >= 0 ? QObject::tr("%1 bytes, %2").arg(size).arg(when) : when;
}

} // namespace

qint64 RowTimeMs(qint64 ticks)
{
    return ticks > kTicksTo1970 ? (ticks - kTicksTo1970) / 10000 : 0;
}

QueuePlanner::Outcome QueuePlanner::decide(QueueItem& item, const QString& name,
                                           const HeldEntry& there, qint64 sourceSize,
                                           qint64 sourceMs, const QString& place,
                                           const HeldLookup& held)
{
    ExistsAction action = ExistsAction::Cancel;
    if (m_forRest) {
        action = *m_forRest;
    } else {
        const QString text =
            there.isFolder
                ? QObject::tr(
                      "The folder \"%1\" already exists in %2.\n\nFiles in it with the names "
                      "of the files that come are replaced with Overwrite, left as they "
                      "are with Skip.")
                      .arg(name, place)
                : QObject::tr("The file \"%1\" already exists in %2.\n\nThere: %3\nNew: %4")
                      .arg(name, place, describe(there.size, there.modifiedMs),
                           describe(sourceSize, sourceMs));
        const ExistsAnswer answer = m_prompter.askExists(QObject::tr("Target exists"), text, false);
        action = answer.action;
        if (answer.applyToRest && action != ExistsAction::Cancel)
            m_forRest = action;
    }
    switch (action) {
    case ExistsAction::Overwrite:
        item.existing = ExistingTarget::Overwrite;
        return Outcome::Go;
    case ExistsAction::OverwriteIfNewer:
        if (there.isFolder ||
            (sourceMs > 0 && there.modifiedMs > 0 && sourceMs > there.modifiedMs)) {
            item.existing = there.isFolder ? ExistingTarget::Ask : ExistingTarget::Overwrite;
            return Outcome::Go;
        }
        return Outcome::Skip;
    case ExistsAction::Skip:
        if (there.isFolder) {
            // The folder is merged: what it holds already stays, what it lacks arrives.
            item.existing = ExistingTarget::Skip;
            return Outcome::Go;
        }
        return Outcome::Skip;
    case ExistsAction::Rename:
        for (int attempt = 0; attempt < kRenameTries; ++attempt) {
            const std::optional<QString> newName =
                m_prompter.inputBox(QObject::tr("Rename"),
                                    QObject::tr("New name for %1 in %2:").arg(name, place), name);
            if (!newName)
                return Outcome::Skip;
            if (IsPlainName(*newName) && !held(*newName)) {
                const qsizetype slash = item.localName.lastIndexOf(QLatin1Char('/'));
                if (item.direction == QueueDirection::Download)
                    item.localName = item.localName.left(slash + 1) + *newName;
                else
                    item.remotePath =
                        RemotePath::join(RemotePath::parent(item.remotePath), newName->toUtf8());
                return Outcome::Go;
            }
        }
        return Outcome::Skip;
    case ExistsAction::Resume:
    case ExistsAction::Cancel:
        break;
    }
    return Outcome::Cancel;
}

ExistingTarget QueuePlanner::forFree() const
{
    if (m_forRest == ExistsAction::Overwrite)
        return ExistingTarget::Overwrite;
    if (m_forRest == ExistsAction::Skip)
        return ExistingTarget::Skip;
    return ExistingTarget::Ask;
}

QueuePlanner::Outcome QueuePlanner::place(QueueItem& item, const QString& name, qint64 sourceSize,
                                          qint64 sourceMs, const QString& where,
                                          const HeldLookup& held)
{
    const std::optional<HeldEntry> there = held(name);
    if (!there) {
        item.existing = forFree();
        return Outcome::Go;
    }
    return decide(item, name, *there, sourceSize, sourceMs, where, held);
}

std::optional<QueuePlanner::Outcome> QueuePlanner::earlierCopy(QueueItem& item,
                                                               const LocalPick& pick)
{
    if (!m_uploads || m_server.isEmpty() || pick.isFolder)
        return std::nullopt;
    const QByteArray path = QFile::encodeName(JoinLocalPath(pick.folder, pick.name));
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0 || info.st_size < kResumableUploadMin)
        return std::nullopt;
    const LocalStamp local{path, static_cast<qint64>(info.st_size),
                           static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 +
                               info.st_mtim.tv_nsec};
    const QByteArray target = RemotePath::name(item.remotePath);
    const std::optional<UnfinishedUpload> earlier =
        m_uploads->find(m_server, RemotePath::parent(item.remotePath), target);
    // Only a copy the upload would continue is worth a question; any other starts over.
    if (!earlier || earlier->local != local || earlier->copySize <= 0 ||
        earlier->copySize > local.size || earlier->copyTime.isEmpty() ||
        !IsTemporaryRemoteNameOf(earlier->temporaryName, target))
        return std::nullopt;
    switch (m_prompter.askChoice(QObject::tr("Confirm"),
                                 UploadResumeQuestionText(pick.name, earlier->copySize, local.size),
                                 QObject::tr("Resume"), QObject::tr("Start Over"))) {
    case PromptAnswer::Yes:
        break;
    case PromptAnswer::No:
        item.abandonedCopy = earlier->temporaryName;
        break;
    case PromptAnswer::Cancel:
        return Outcome::Cancel;
    }
    // The copy was on its way to this target when the user sent it, an existing file there
    // included; either answer keeps to that.
    item.existing = ExistingTarget::Overwrite;
    return Outcome::Go;
}

std::optional<QList<QueueItem>> QueuePlanner::downloads(const QList<FileListRow>& rows,
                                                        const QByteArray& remoteFolder,
                                                        const QString& localFolder,
                                                        const HeldLookup& held)
{
    QList<QueueItem> items;
    for (const FileListRow& row : rows) {
        QueueItem item;
        item.direction = QueueDirection::Download;
        item.folder = row.isFolder();
        item.localFolder = localFolder;
        item.localName = row.name;
        item.remotePath = RemotePath::join(remoteFolder, row.serverName());
        item.size = row.isFolder() ? -1 : row.size;
        item.listedTime = row.modifiedTime;
        const QString refused = RefusedDownloadNameText(row.name);
        Outcome outcome = Outcome::Go;
        if (!refused.isEmpty()) {
            item.state = QueueState::Failed;
            item.error = refused;
        } else {
            outcome =
                place(item, row.name, row.size, RowTimeMs(row.modifiedTime), localFolder, held);
        }
        if (outcome == Outcome::Cancel)
            return std::nullopt;
        if (outcome == Outcome::Go)
            items << item;
    }
    return items;
}

std::optional<QList<QueueItem>> QueuePlanner::uploads(const QList<LocalPick>& picks,
                                                      const QByteArray& remoteFolder,
                                                      const HeldLookup& held, bool lowerCase)
{
    QList<QueueItem> items;
    for (const LocalPick& pick : picks) {
        QueueItem item;
        item.direction = QueueDirection::Upload;
        item.folder = pick.isFolder;
        item.localFolder = pick.folder;
        item.localName = pick.name;
        item.lowerCase = lowerCase;
        const QString remoteName = RemoteNameFor(pick.name, lowerCase);
        item.remotePath = RemotePath::join(remoteFolder, remoteName.toUtf8());
        item.size = pick.isFolder ? -1 : pick.size;
        std::optional<Outcome> outcome = earlierCopy(item, pick);
        if (!outcome)
            outcome = place(item, remoteName, pick.size, pick.modifiedMs,
                            QString::fromUtf8(remoteFolder), held);
        if (*outcome == Outcome::Cancel)
            return std::nullopt;
        if (*outcome == Outcome::Go)
            items << item;
    }
    return items;
}
