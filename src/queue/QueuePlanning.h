#pragma once
#include "common/FileListRow.h"
#include "common/Prompter.h"
#include "queue/QueueItem.h"

#include <QList>
#include <QString>

#include <functional>

class UnfinishedUploads;
#include <optional>

// A local file or folder an upload takes: the folder it is in and its name there.
struct LocalPick
{
    QString folder;
    QString name;
    bool isFolder = false;
    qint64 size = 0;
    qint64 modifiedMs = 0; // since the epoch, UTC
};

// What a destination already holds under a name, as the planning sees it: nothing, or a file
// or folder with its size and time.
struct HeldEntry
{
    bool isFolder = false;
    qint64 size = -1;
    qint64 modifiedMs = 0; // 0: unknown
};
using HeldLookup = std::function<std::optional<HeldEntry>(const QString& name)>;

// Plans a batch for the transfer queue on the window's thread, before any byte moves: every
// name its destination already holds is asked about (Overwrite, Overwrite if newer, Rename,
// Skip, Cancel), and an answer "for the rest" holds for the whole batch, folders included: the
// files found inside a folder later follow it, and without one they are never replaced.
class QueuePlanner
{
public:
    explicit QueuePlanner(Prompter& prompter) : m_prompter(prompter) {}

    // Where stopped uploads are remembered and the server's name there: an upload that would
    // continue the copy one left asks first whether to, as the window's own upload does.
    void setUnfinishedUploads(const UnfinishedUploads* uploads, QByteArray server)
    {
        m_uploads = uploads;
        m_server = std::move(server);
    }

    // Listed rows of the server's `remoteFolder` into `localFolder`; `held` looks names up
    // there. Nothing when the user cancelled (no item of the batch is queued then).
    std::optional<QList<QueueItem>> downloads(const QList<FileListRow>& rows,
                                              const QByteArray& remoteFolder,
                                              const QString& localFolder, const HeldLookup& held);
    // Local files and folders into the server's `remoteFolder`, whose listing `held` knows.
    // `lowerCase`: the option to lower-case the capitals A to Z of names on the server.
    std::optional<QList<QueueItem>> uploads(const QList<LocalPick>& picks,
                                            const QByteArray& remoteFolder, const HeldLookup& held,
                                            bool lowerCase = false);

private:
    enum class Outcome { Go, Skip, Cancel };
    // Decides about `name` that the destination holds; may change `item` (its policy, a new
    // name).
    Outcome decide(QueueItem& item, const QString& name, const HeldEntry& there, qint64 sourceSize,
                   qint64 sourceMs, const QString& place, const HeldLookup& held);

    // Decides about `item` going to `name` in `where`, asking only when the name is taken.
    Outcome place(QueueItem& item, const QString& name, qint64 sourceSize, qint64 sourceMs,
                  const QString& where, const HeldLookup& held);

    // Asks about the copy an earlier upload of the very same file to the same place left;
    // nothing when there is none worth continuing.
    std::optional<Outcome> earlierCopy(QueueItem& item, const LocalPick& pick);

    // What a name that is free now carries for the files a tree finds later.
    ExistingTarget forFree() const;

    Prompter& m_prompter;
    std::optional<ExistsAction> m_forRest;
    const UnfinishedUploads* m_uploads = nullptr;
    QByteArray m_server;
};

// The local time of a list row (100-ns ticks since 1601, UTC) in ms since the epoch; 0 for none.
qint64 RowTimeMs(qint64 ticks);
