#include "transfer/TargetExists.h"

#include "common/CancelFlag.h"
#include "common/FileListRows.h"
#include "transfer/BatchHost.h"
#include "transfer/LocalFile.h"
#include "transfer/RemoteReplace.h"
#include "transfer/ResumeData.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferNames.h"
#include "transfer/TransferPlan.h"
#include "transfer/UnfinishedUploads.h"
#include "transfer/UploadFile.h"
#include "transfer/UploadResume.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr qint64 kNanosecondsPerSecond = 1000000000;

// A time as listing rows keep it: the local date and time of day in minutes since the zero
// date-time. 0 stands for a time the listing did not give.
qint64 LocalMinutes(qint64 secondsSinceEpoch)
{
    return FileTimeToLocalSeconds(FileTimeFromUnix(secondsSinceEpoch),
                                  QDateTime::currentDateTime().offsetFromUtc()) /
           60;
}

// A listed time (UTC, 100-ns ticks since 1601) as LocalMinutes gives it; 0 when none was listed.
qint64 ListedMinutes(qint64 ticks)
{
    constexpr qint64 kTicksPerSecond = 10000000;
    constexpr qint64 kSecondsFrom1601To1970 = 11644473600;
    return ticks <= 0 ? 0 : LocalMinutes(ticks / kTicksPerSecond - kSecondsFrom1601To1970);
}

// "1234 bytes, 2026-12-10 11:07"; what is not known is left out.
QString SizeAndTime(qint64 size, qint64 minutes)
{
    QString text = size < 0 ? QStringLiteral("size unknown") : QStringLiteral("%1 bytes").arg(size);
    if (minutes != 0) {
        const QDateTime zero(QDate(1899, 12, 30), QTime(0, 0), QTimeZone::utc());
        text += QStringLiteral(", ") +
                zero.addSecs(minutes * 60).toString(QStringLiteral("yyyy-MM-dd hh:mm"));
    }
    return text;
}

QString QuestionText(const QString& where, const QString& existing, const QString& incoming)
{
    return QStringLiteral("%1\nExisting file: %2\nNew file: %3\nWhat should be done with it?")
        .arg(where, existing, incoming);
}

// Why a name the user typed cannot be used; empty when it can.
QString TypedNameRefusal(const QString& name, bool local)
{
    if (!IsPlainName(name) || name.contains(QLatin1Char('\r')) || name.contains(QLatin1Char('\n')))
        return QStringLiteral("\"%1\" is not a plain file name: it may not be empty, \".\" or "
                              "\"..\", nor hold \"/\" or a line break.")
            .arg(name);
    if (local && !FitsLocalNameLimit(name))
        return QStringLiteral("\"%1\" is longer than this computer's file system allows (255 "
                              "bytes).")
            .arg(name);
    return {};
}

bool LocalNameTaken(const LocalDirectory& folder, const QString& name)
{
    struct stat info
    {};
    // Anything but a clear "no such entry" counts as taken: a new name must never land on
    // something that is there.
    return ::fstatat(folder.fd(), QFile::encodeName(name).constData(), &info,
                     AT_SYMLINK_NOFOLLOW) == 0 ||
           errno != ENOENT;
}

// ASCII letters folded, as a server with a case-blind file system compares names.
bool SameServerName(const QByteArray& a, const QByteArray& b)
{
    return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
}

// True when an earlier download of the same listed file left partial data that the download
// offers to continue: that question stands for this one, as the earlier download was already
// meant to replace the file here.
bool EarlierDownloadAsks(const LocalDirectory& folder, const RemoteStamp& listed,
                         const QString& localName, const PartialDownloadNames* known)
{
    const std::optional<PartialDownload> earlier =
        FindPartialDownload(folder, localName, listed, known);
    return earlier && earlier->unchanged;
}

// The same for an upload whose earlier copy the upload offers to continue.
bool EarlierUploadAsks(BatchHost& host, RemoteFolderFiles& files, const LocalFileReader& source,
                       const QString& localPath, const QByteArray& remoteName)
{
    const UnfinishedUploads* store = host.unfinishedUploads();
    const QByteArray server = host.serverIdentity();
    if (!store || server.isEmpty() || source.size() < kResumableUploadMin)
        return false;
    const std::optional<QByteArray> folder = files.names().directory(host.session());
    if (!folder)
        return false;
    const std::optional<UnfinishedUpload> earlier = store->find(server, *folder, remoteName);
    return earlier && earlier->local == LocalStamp{QFile::encodeName(localPath), source.size(),
                                                   source.modifiedNs()};
}

} // namespace

QString ProposedFreeName(const QString& name, const std::function<bool(const QString&)>& taken)
{
    // The number goes before the extension, so the file still opens with the same program.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    // A folder that cannot be looked into makes every name look taken; give up in time.
    constexpr int kMostTries = 1000;
    for (int number = 1; number <= kMostTries; ++number) {
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem).arg(number).arg(extension);
        if (!taken(candidate))
            return candidate;
    }
    return {};
}

ExistingTargets::Decision ExistingTargets::decide(BatchHost& host, const Conflict& conflict)
{
    // A remembered Resume does not fit a file that is not shorter: that one is asked about.
    const bool remembered = m_forRest && (*m_forRest != ExistsAction::Resume || conflict.canResume);
    ExistsAction action = ExistsAction::Cancel;
    if (remembered) {
        action = *m_forRest;
    } else {
        const ExistsAnswer answer = host.askExists(conflict.text, conflict.canResume);
        action = answer.action;
        if (action == ExistsAction::Resume && !conflict.canResume)
            action = ExistsAction::Cancel; // not offered: no answer to act on
        if (answer.applyToRest && action != ExistsAction::Cancel)
            m_forRest = action;
    }
    if (action == ExistsAction::OverwriteIfNewer)
        action = conflict.sourceNewer ? ExistsAction::Overwrite : ExistsAction::Skip;
    Decision decision{action, {}};
    if (action == ExistsAction::Cancel)
        CancelRequested = true;
    if (action == ExistsAction::Rename) {
        // Asked for the file the question was about; later ones take the proposal.
        const std::optional<QString> name = newName(host, conflict, !remembered);
        if (name)
            decision.name = *name;
        else
            decision.action = ExistsAction::Skip;
    }
    return decision;
}

std::optional<QString> ExistingTargets::newName(BatchHost& host, const Conflict& conflict, bool ask)
{
    QString proposal = ProposedFreeName(conflict.name, conflict.taken);
    if (!ask && proposal.isEmpty()) {
        host.warn(QStringLiteral("No free name like \"%1\" was found in %2. The file was skipped.")
                      .arg(conflict.name, conflict.namePlace));
        return std::nullopt;
    }
    if (!ask)
        return proposal;
    const QString prompt =
        QStringLiteral("New name for \"%1\" in %2:").arg(conflict.name, conflict.namePlace);
    for (;;) {
        const std::optional<QString> typed = host.askNewName(prompt, proposal);
        if (!typed)
            return std::nullopt;
        if (const QString refusal = conflict.refusal(*typed); !refusal.isEmpty()) {
            host.warn(refusal);
        } else if (conflict.taken(*typed)) {
            host.warn(QStringLiteral("\"%1\" exists in %2 as well. Choose a name that is free.")
                          .arg(*typed, conflict.namePlace));
            proposal = ProposedFreeName(conflict.name, conflict.taken);
        } else {
            return typed;
        }
    }
}

void RemoteFolderFiles::read(BatchHost& host)
{
    if (m_entries)
        return;
    m_entries.emplace();
    if (!ListRemoteEntries(host, *m_entries,
                           QStringLiteral("The remote folder could not be listed to see which "
                                          "files it holds already."))) {
        m_entries->clear();
        m_failedListing = true;
    }
}

const RemoteEntry* RemoteFolderFiles::find(const QByteArray& name) const
{
    const RemoteEntry* folded = nullptr;
    for (const RemoteEntry& entry : *m_entries) {
        if (entry.serverName == name)
            return &entry;
        if (!folded && SameServerName(entry.serverName, name))
            folded = &entry;
    }
    return folded;
}

std::optional<RemoteEntry> RemoteFolderFiles::file(BatchHost& host, const QByteArray& name)
{
    if (!m_names.mayExist(name))
        return std::nullopt;
    read(host);
    if (const RemoteEntry* entry = find(name))
        return entry->isFolder ? std::nullopt : std::optional<RemoteEntry>(*entry);
    // Nothing is known of a folder whose listing failed: the name may well be a file there.
    if (!m_failedListing)
        return std::nullopt;
    return RemoteEntry{.name = QString::fromUtf8(name), .serverName = name, .size = -1};
}

bool RemoteFolderFiles::holds(BatchHost& host, const QByteArray& name)
{
    if (!m_names.mayExist(name))
        return false;
    read(host);
    return find(name) != nullptr;
}

void RemoteFolderFiles::add(const RemoteEntry& entry)
{
    m_names.add(entry.serverName);
    if (m_entries)
        m_entries->push_back(entry);
}

DownloadPlan PlanListedDownload(BatchHost& host, const LocalDirectory& folder,
                                const RemoteStamp& listed, const QString& localName,
                                ExistingTargets& targets, const PartialDownloadNames* known,
                                bool presentAsked)
{
    struct stat info
    {};
    // A name that cannot be used, a link and a folder in the way are the download's own to
    // refuse, with its own words; only an entry it would replace is asked about.
    if (!RefusedDownloadNameText(localName).isEmpty() ||
        ::fstatat(folder.fd(), QFile::encodeName(localName).constData(), &info,
                  AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISLNK(info.st_mode) || S_ISDIR(info.st_mode) ||
        (presentAsked && HoldsCompleteDownload(folder, localName, listed)) ||
        EarlierDownloadAsks(folder, listed, localName, known))
        return PlanDownload(host, folder, listed, localName, known);

    const qint64 localMinutes = LocalMinutes(info.st_mtim.tv_sec);
    ExistingTargets::Conflict conflict{
        QuestionText(
            QStringLiteral("The file \"%1\" already exists in %2.").arg(localName, folder.path()),
            SizeAndTime(info.st_size, localMinutes),
            SizeAndTime(listed.size, ListedMinutes(listed.modifiedTime))),
        S_ISREG(info.st_mode) && info.st_size > 0 && info.st_size < listed.size,
        ListedMinutes(listed.modifiedTime) != 0 &&
            ListedMinutes(listed.modifiedTime) > localMinutes,
        localName,
        folder.path(),
        [&folder](const QString& name) { return LocalNameTaken(folder, name); },
        [](const QString& name) { return TypedNameRefusal(name, true); }};
    const ExistingTargets::Decision decision = targets.decide(host, conflict);
    switch (decision.action) {
    case ExistsAction::Overwrite:
    case ExistsAction::OverwriteIfNewer:
        return PlanDownload(host, folder, listed, localName, known);
    case ExistsAction::Resume:
        // The local file itself is what gets continued, as partial data would be.
        return DownloadPlan{.action = PlannedAction::Resume,
                            .listed = listed,
                            .localName = localName,
                            .offset = info.st_size,
                            .earlier = PartialDownload{localName, info.st_size, true},
                            .ownFile = true};
    case ExistsAction::Rename:
        return PlanDownload(host, folder, listed, decision.name, known);
    case ExistsAction::Skip:
    case ExistsAction::Cancel:
        break;
    }
    return DownloadPlan{.action = PlannedAction::Skip,
                        .listed = listed,
                        .localName = localName,
                        .offset = 0,
                        .earlier = std::nullopt,
                        .ownFile = false};
}

namespace {

// Plans an upload over the file `existing` of the remote folder, asking first.
UploadPlan PlanUploadOver(BatchHost& host, LocalFileReader& source, const QString& localPath,
                          const RemoteEntry& existing, RemoteFolderFiles& files,
                          ExistingTargets& targets, bool& renamed)
{
    const QByteArray remoteName = RemoteNameFor(localPath, host.lowerCaseUpload()).toUtf8();
    if (EarlierUploadAsks(host, files, source, localPath, remoteName))
        return PlanUpload(host, files.names(), source, localPath, remoteName);
    const qint64 localMinutes = LocalMinutes(source.modifiedNs() / kNanosecondsPerSecond);
    const std::optional<QByteArray> directory = files.names().directory(host.session());
    const QString place =
        directory ? QStringLiteral("\"%1\" on the server").arg(QString::fromUtf8(*directory))
                  : QStringLiteral("the server's current folder");
    ExistingTargets::Conflict conflict{
        QuestionText(
            QStringLiteral("The file \"%1\" already exists in %2.").arg(existing.name, place),
            SizeAndTime(existing.size, ListedMinutes(existing.modifiedTime)),
            SizeAndTime(source.size(), localMinutes)),
        existing.size > 0 && existing.size < source.size(),
        ListedMinutes(existing.modifiedTime) != 0 &&
            localMinutes > ListedMinutes(existing.modifiedTime),
        QString::fromUtf8(remoteName),
        place,
        [&host, &files](const QString& name) { return files.holds(host, name.toUtf8()); },
        [](const QString& name) { return TypedNameRefusal(name, false); }};
    const ExistingTargets::Decision decision = targets.decide(host, conflict);
    UploadPlan plan;
    plan.local = LocalStamp{QFile::encodeName(localPath), source.size(), source.modifiedNs()};
    plan.shownName = FileNamePart(localPath);
    plan.targetName = remoteName;
    switch (decision.action) {
    case ExistsAction::Overwrite:
    case ExistsAction::OverwriteIfNewer:
        return PlanUpload(host, files.names(), source, localPath, remoteName);
    case ExistsAction::Resume:
        plan.action = PlannedAction::Resume;
        plan.targetName = plan.continued = existing.serverName;
        plan.offset = existing.size;
        plan.ownFile = true;
        return plan;
    case ExistsAction::Rename:
        // The name was free when listed; the copy still goes under a temporary name first,
        // so a name someone took meanwhile only ever receives a whole file.
        plan.targetName = decision.name.toUtf8();
        renamed = true;
        return plan;
    case ExistsAction::Skip:
    case ExistsAction::Cancel:
        break;
    }
    plan.action = PlannedAction::Skip;
    return plan;
}

} // namespace

UploadPlan PlanFileUpload(BatchHost& host, const LocalSource& localFile, RemoteFolderFiles& files,
                          ExistingTargets& targets, std::optional<LocalFileReader>& source)
{
    UploadPlan plan;
    if (CancelRequested) {
        plan.action = PlannedAction::Skip;
        return plan;
    }
    const QByteArray remoteName = RemoteNameFor(localFile.path(), host.lowerCaseUpload()).toUtf8();
    const std::optional<RemoteEntry> existing = files.file(host, remoteName);
    source.emplace(localFile);
    bool renamed = false;
    plan = existing
               ? PlanUploadOver(host, *source, localFile.path(), *existing, files, targets, renamed)
               : PlanUpload(host, files.names(), *source, localFile.path(), remoteName);
    // What the upload puts in the folder counts from the moment it is planned, so the plans
    // made after it see it there.
    if (!plan.ownFile &&
        (plan.action == PlannedAction::Write || plan.action == PlannedAction::Resume)) {
        if (renamed)
            files.add(RemoteEntry{.name = QString::fromUtf8(plan.targetName),
                                  .serverName = plan.targetName,
                                  .size = source->size()});
        else
            files.names().add(remoteName);
    }
    return plan;
}

bool DownloadListedFileAsked(BatchHost& host, const LocalDirectory& folder,
                             const RemoteStamp& listed, const QString& localName,
                             ExistingTargets& targets, const PartialDownloadNames* known,
                             bool presentAsked)
{
    return DownloadPlanned(
        host, folder,
        PlanListedDownload(host, folder, listed, localName, targets, known, presentAsked));
}

bool UploadFileAsked(BatchHost& host, const LocalSource& localFile, TransferMode mode,
                     RemoteFolderFiles& files, ExistingTargets& targets)
{
    std::optional<LocalFileReader> source;
    const UploadPlan plan = PlanFileUpload(host, localFile, files, targets, source);
    // Not even opened: Cancel was pressed before this file's turn.
    return !source || UploadPlanned(host, *source, plan, mode);
}
