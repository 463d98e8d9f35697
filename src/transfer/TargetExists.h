#pragma once
#include "common/Prompter.h"
#include "transfer/FolderTransfer.h"
#include "windef.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <vector>

class BatchHost;
class LocalDirectory;
class LocalSource;
class PartialDownloadNames;
class RemoteFolderNames;
struct RemoteStamp;

// What a batch does with a file whose name its destination already holds. Before any byte
// moves, the user is asked: Overwrite, Overwrite if the source is newer, Resume (only when the
// file there is shorter), Rename or Skip, and may apply the answer to the rest of the batch.
// One object lives as long as one batch command, so "the rest" means the rest of that command.
class ExistingTargets
{
public:
    // What was decided for one file.
    struct Decision
    {
        ExistsAction action = ExistsAction::Overwrite; // never OverwriteIfNewer
        QString name; // Rename: the new name, which the destination does not hold
        // (a Rename for the rest that finds no free name skips the file, with a warning)
    };
    // The facts one question is about.
    struct Conflict
    {
        QString text;      // the question as the user reads it
        bool canResume;    // the file at the destination is shorter than the source
        bool sourceNewer;  // the source's time is later than the one at the destination
        QString name;      // the name that is taken
        QString namePlace; // where the new name goes, for the rename prompt
        std::function<bool(const QString&)> taken;      // true for a name the destination holds
        std::function<QString(const QString&)> refusal; // why a new name cannot be used
    };

    // Asks (or takes the answer given for the rest), then resolves "if newer" and Rename.
    // Cancel sets CancelRequested.
    Decision decide(BatchHost& host, const Conflict& conflict);

private:
    std::optional<QString> newName(BatchHost& host, const Conflict& conflict, bool ask);

    std::optional<ExistsAction> m_forRest;
};

// A name like `name` that `taken` says is free: "report (1).txt", "report (2).txt", ...;
// empty when none of the first thousand is.
QString ProposedFreeName(const QString& name, const std::function<bool(const QString&)>& taken);

// The entries of one remote folder with their sizes and times, read only once an upload
// meets a name that may exist there (see RemoteFolderNames), so an upload into a new or
// empty folder costs no listing of its own.
class RemoteFolderFiles
{
public:
    explicit RemoteFolderFiles(RemoteFolderNames& names) : m_names(names) {}

    RemoteFolderNames& names() { return m_names; }
    // The file of that name (ASCII case ignored, as the server may), nothing when the name is
    // free or a folder. A listing that failed (it was reported) knows no sizes: the name then
    // counts as a file of unknown size and time.
    std::optional<RemoteEntry> file(BatchHost& host, const QByteArray& name);
    // True for a name an entry of the folder is known to have.
    bool holds(BatchHost& host, const QByteArray& name);
    // Records a file that now exists (one just uploaded).
    void add(const RemoteEntry& entry);

private:
    void read(BatchHost& host);
    const RemoteEntry* find(const QByteArray& name) const;

    RemoteFolderNames& m_names;
    std::optional<std::vector<RemoteEntry>> m_entries;
    bool m_failedListing = false;
};

// A download of a listed file as DownloadListedFileAt does it, asking first when `localName`
// is already in `folder`. `presentAsked`: complete earlier downloads of the same file were
// already asked about (a folder download's "skip files that are already here").
bool DownloadListedFileAsked(BatchHost& host, const LocalDirectory& folder,
                             const RemoteStamp& listed, const QString& localName,
                             ExistingTargets& targets, const PartialDownloadNames* known = nullptr,
                             bool presentAsked = false);

// An upload as UploadFile does it, asking first when the current remote directory (whose
// entries `files` knows) holds a file of the upload's name.
bool UploadFileAsked(BatchHost& host, const LocalSource& localFile, TransferMode mode,
                     RemoteFolderFiles& files, ExistingTargets& targets);
