#pragma once
#include "remote/ServerSession.h"
#include "transfer/TransferPlan.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

class LocalDirectory;
class LocalFileReader;
class TransferHost;

// The small files of one folder of a folder transfer, gathered after their planning (every
// question asked, in the order the files come) and moved together through the session's batch
// call, where the session keeps several files in flight at once. Each file keeps the rules of
// its transfer alone: an upload goes under a temporary name and takes its target's name only
// once the server confirmed it whole; a download is written to a new local file beside its
// target and put in place only when whole. Every failure is reported for its own file.
class SmallFileBatch
{
public:
    // Files up to this size are gathered; a larger one goes on its own, as it always did.
    static constexpr qint64 kLargestFile = 256 * 1024;

    // For the files of `folder`, reported through `host`; gathers nothing where the session
    // carries one file at a time.
    SmallFileBatch(TransferHost& host, const LocalDirectory& folder);
    SmallFileBatch(const SmallFileBatch&) = delete;
    SmallFileBatch& operator=(const SmallFileBatch&) = delete;

    bool enabled() const { return m_enabled; }
    // Takes the planned upload of `name` (read whole now from `source`) when it fits a batch;
    // false when it does not, and the caller sends it alone.
    bool addUpload(const QString& name, LocalFileReader& source, const UploadPlan& plan);
    // The same for a planned download.
    bool addDownload(const DownloadPlan& plan);
    bool full() const;
    // Moves what was gathered. False when a file failed (each was reported; `failed` is called
    // after each). Nothing is moved after a Cancel (CancelRequested stays set).
    bool flush(const std::function<void()>& failed = {});
    // The user's Cancel came at a question about a later file: the files planned before it go
    // all the same, as one at a time they would have gone before the question. CancelRequested
    // stays set.
    void flushBeforeCancel(const std::function<void()>& failed);

private:
    struct Item
    {
        QString localName;
        QByteArray remoteName; // the target's (upload) or source's (download) name
        QByteArray temporaryName;
        DownloadPlan download;
    };
    // Each file's outcome to its end: a download stored, a copy the server would not rename
    // put in place, a failure reported.
    bool finishEach(std::vector<RemoteBatchFile>& files, const std::function<void()>& failed);
    bool store(const Item& item, const RemoteBatchFile& file);

    TransferHost& m_host;
    const LocalDirectory& m_folder;
    bool m_enabled = false;
    bool m_upload = true;
    std::vector<Item> m_items;
    std::vector<RemoteBatchFile> m_files;
    qint64 m_bytes = 0;
};
