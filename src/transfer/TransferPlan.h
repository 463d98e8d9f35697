#pragma once
// A transfer in two steps: planning, which asks every question a file may raise (continue an
// earlier download or upload, skip files already here, the file-exists question), and doing,
// which moves the bytes as planned. Planning takes a BatchHost, the only host that can ask, and
// runs on the window's thread; doing takes a TransferHost, which cannot ask, so it reports only
// through its result, the progress sink and the host's reports, and can run where nobody may be
// asked. A batch plans each file right before it moves, so its questions, boxes and server
// commands come in the order they always did.
#include "transfer/LocalFile.h"
#include "transfer/ResumeData.h"
#include "transfer/UnfinishedUploads.h"
#include "windef.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

class BatchHost;
enum class TransferMode;
class ExistingTargets;
class LocalDirectory;
class PartialDownloadNames;
class RemoteFolderFiles;
class RemoteFolderNames;
class TransferHost;

// What was decided for one file.
enum class PlannedAction {
    Write,  // the whole file, under a name of its own until it is whole (new, or replacing)
    Resume, // only the rest, appended to the `offset` bytes that are there already
    Skip,   // nothing: the user leaves the target as it is, or cancelled (CancelRequested set)
    Fail,   // nothing: planning failed, and the user was told
};

// One download as planned.
struct DownloadPlan
{
    PlannedAction action = PlannedAction::Write;
    RemoteStamp listed; // the source, as its row listed it
    QString localName;  // the target in the local folder: the user's new name after a Rename
    qint64 offset = 0;  // Resume: the bytes `earlier` holds
    // Partial data an earlier download of the same file left: continued on Resume, of no more
    // use once the file arrived whole otherwise.
    std::optional<PartialDownload> earlier;
    // Resume continues the target itself, on the user's word, not partial data: where the
    // server cannot continue, the file stays as it is instead of the download starting over.
    bool ownFile = false;
};

// One upload as planned.
struct UploadPlan
{
    PlannedAction action = PlannedAction::Write;
    LocalStamp local;      // the source: its path, size and time when it was planned
    QString shownName;     // the source's file name, as messages name it
    QByteArray targetName; // the server's name for it: the user's new name after a Rename
    qint64 offset = 0;     // Resume: the bytes `continued` holds
    // Resume: the copy an earlier upload left under a temporary name, or the target itself.
    QByteArray continued;
    bool ownFile = false; // as DownloadPlan's
    // Where a copy that stops early is remembered (UnfinishedUploads); an empty server: it is
    // not, and its copy is removed.
    QByteArray server;
    QByteArray folder;
};

// Planning. Asks about partial data an earlier download of `listed` left in `folder` for
// `localName` (`known`: the folder's partial data as a folder download read it). Cancel at the
// question plans a Skip and sets CancelRequested.
DownloadPlan PlanDownload(BatchHost& host, const LocalDirectory& folder, const RemoteStamp& listed,
                          const QString& localName, const PartialDownloadNames* known = nullptr);
// Plans the upload of the open local file `source` (at `localPath`) into the current remote
// directory as `targetName`, asking about what an earlier upload of it left there
// (SendRemembered). A Fail was reported.
UploadPlan PlanUpload(BatchHost& host, RemoteFolderNames& names, LocalFileReader& source,
                      const QString& localPath, const QByteArray& targetName);

// The whole planning of one file of a batch (TargetExists.cpp). A download of a listed file
// asks first when `localName` is already in `folder`, and about partial data an earlier
// download left; `presentAsked`: complete earlier downloads of the same file were already asked
// about (a folder download's "skip files that are already here").
DownloadPlan PlanListedDownload(BatchHost& host, const LocalDirectory& folder,
                                const RemoteStamp& listed, const QString& localName,
                                ExistingTargets& targets,
                                const PartialDownloadNames* known = nullptr,
                                bool presentAsked = false);
// An upload into the current remote directory (whose entries `files` knows, and which counts
// the planned name as taken from now on) asks first when a file of its name is there, and
// about what an earlier upload of it left. `source` is opened on the local file once the remote
// folder's entries are known, for the upload to read; it stays empty when Cancel was pressed
// before (a Skip).
UploadPlan PlanFileUpload(BatchHost& host, const LocalSource& localFile, RemoteFolderFiles& files,
                          ExistingTargets& targets, std::optional<LocalFileReader>& source);

// Doing. Carries out a plan and asks nothing. True as the engine's single-file calls are: the
// file arrived or was stored whole, it was skipped, or Cancel stopped it; false after a failure
// the host reported.
bool DownloadPlanned(TransferHost& host, const LocalDirectory& folder, const DownloadPlan& plan);
// `source`: the local file the plan was made for, still open.
bool UploadPlanned(TransferHost& host, LocalFileReader& source, const UploadPlan& plan,
                   TransferMode mode);
