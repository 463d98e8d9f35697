#pragma once
#include "remote/RemoteEntry.h"
#include "remote/RemoteResult.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <vector>

// What a server lets a session do, asked once after log-on.
struct SessionTraits
{
    bool resume = false;         // a download may start at an offset
    bool append = false;         // an upload may continue a file at its end
    bool renameOver = false;     // a rename may replace an existing file (unknown for FTP: false)
    bool machineListing = false; // listings come in a machine-readable form (MLSD)
    bool secure = false;         // the connection is encrypted
    TimePrecision timePrecision = TimePrecision::Minute; // what listings give at least
    // Several files can be in flight at once on the connection, so transferFiles() is worth
    // gathering small files for (false: it only runs them one after the other).
    bool filesInFlight = false;
};

// How a folder is listed. A tree walk needs every folder entry proven a real folder (a link the
// server shows as a folder comes marked as a link); the shown list takes what the server says.
enum class ListPurpose { Show, Walk };

// What one listing read.
struct RemoteListing
{
    std::vector<RemoteEntry> entries; // in the server's order, "." and ".." as listed
    // Lines neither an entry nor a header: whatever they named is missing from `entries`, so
    // no name may be taken as free in that folder while this is not 0.
    quint64 unknownLines = 0;
};

// How the bytes of a file travel.
enum class TransferMode { Binary, Ascii };

// A file on the server opened for reading or writing. Only complete() ends a transfer as
// whole; destroyed without it (an exception on the way out included), the transfer is aborted,
// so an upload that stopped early is never stored as the whole file, and the session is free
// for its next call. The failure that ended it stays in the caller's result.
class RemoteStream
{
public:
    virtual ~RemoteStream() = default;
    // Up to `size` bytes into `buffer`; `got` 0 at the end of the file.
    virtual RemoteResult read(char* buffer, qint64 size, qint64& got) = 0;
    virtual RemoteResult write(const char* data, qint64 size) = 0;
    // Ends the transfer as whole. For a write this is where the server's final answer comes, so
    // only success means the server stored the file.
    virtual RemoteResult complete() = 0;
    // Ends the transfer early; what the abort itself brings shows in the next call.
    virtual void abort() = 0;
};

// One whole small file of ServerSession::transferFiles().
struct RemoteBatchFile
{
    QByteArray path;          // download: the file read; upload: the target
    QByteArray temporaryPath; // upload: the data's name until the server confirmed it whole
    QByteArray data;          // upload: every byte of the file; download: what arrived
    qint64 expectedSize = 0;  // download: the listed size
    qint64 limit = 0;         // download: a file holding more is left alone (TooLarge)

    enum class Outcome {
        NotDone,    // the batch stopped first (cancel, lost connection): nothing was kept
        Done,       // the server confirmed it whole (an upload: under `path`)
        Failed,     // `result` says why; an upload's temporary copy was removed
        NotRenamed, // upload: whole under `temporaryPath`, but the rename failed (`result`)
        TooLarge,   // download: larger than `limit`; nothing of it is kept
    };
    Outcome outcome = Outcome::NotDone;
    bool opened = false; // the server opened the file: a failure came with its data
    RemoteResult result;
};

enum class BatchDirection { Upload, Download };

// One connection to one server. Paths are absolute, built with RemotePath from what
// currentFolder() and list() gave; a call runs on the thread that makes it, one at a time, and
// only cancel() may come from another thread.
class ServerSession
{
public:
    virtual ~ServerSession() = default;

    virtual SessionTraits traits() const = 0;
    // The folder the server says the session is in, asked anew.
    virtual RemoteResult currentFolder(QByteArray& path) = 0;
    // The session's folder as last known, without asking: empty when the server never said.
    virtual QByteArray knownFolder() const = 0;
    virtual RemoteResult changeFolder(const QByteArray& path) = 0;
    // The entries of `folder` in the server's order. `each`, when given, takes every entry in
    // turn in place of listing.entries, so a listing of a million entries is not held twice.
    virtual RemoteResult list(const QByteArray& folder, RemoteListing& listing,
                              ListPurpose purpose = ListPurpose::Show,
                              const std::function<void(RemoteEntry&&)>& each = {}) = 0;
    // The size of a file and, where the server tells it, its time.
    virtual RemoteResult stat(const QByteArray& path, RemoteEntry& entry) = 0;
    // The time of a file (UTC, at the server's precision), for a protocol that asks for it
    // apart from the size (FTP's MDTM); by default as stat() gives it. Unsupported where the
    // server has no way to say.
    virtual RemoteResult statTime(const QByteArray& path, RemoteEntry& entry)
    {
        return stat(path, entry);
    }
    virtual RemoteResult makeFolder(const QByteArray& path) = 0;
    virtual RemoteResult removeFolder(const QByteArray& path) = 0;
    virtual RemoteResult removeFile(const QByteArray& path) = 0;
    virtual RemoteResult rename(const QByteArray& from, const QByteArray& to) = 0;
    // The file from byte `offset` on (0: from its start).
    virtual std::unique_ptr<RemoteStream> openRead(const QByteArray& path, qint64 offset,
                                                   RemoteResult& result,
                                                   TransferMode mode = TransferMode::Binary) = 0;
    // A new file at `path` (`appendAt` 0), or the rest of one the server holds `appendAt`
    // bytes of (checked first: appending at the wrong point would corrupt it).
    virtual std::unique_ptr<RemoteStream> openWrite(const QByteArray& path, qint64 appendAt,
                                                    RemoteResult& result,
                                                    TransferMode mode = TransferMode::Binary) = 0;
    // Moves whole small files as a batch, each with its own outcome. An upload is written to
    // its temporary path (a name of its own), and only after the server confirmed it whole
    // renamed over its target. `progress` gets the bytes moved so far and
    // returns false to cancel. The result is the batch's own: not ok when it stopped (Cancelled,
    // ConnectionLost), the files not reached then NotDone. By default one file after the
    // other through openWrite/openRead; a session that can keep several in flight does so.
    virtual RemoteResult transferFiles(BatchDirection direction,
                                       std::vector<RemoteBatchFile>& files,
                                       const std::function<bool(qint64 bytes)>& progress);
    // Ends the listing in progress on another thread at once (it fails as Cancelled); does
    // nothing when none runs. Safe from any thread.
    virtual void cancel() = 0;
};

// Paths of a session: a folder's path and a name joined by "/". A server whose own folder
// names are of another form (VMS's "DISK:[DIR]") still gets its names right, since a session
// sends a name relative to the folder it is in.
namespace RemotePath {
// `folder` + "/" + `name`; "/" + `name` in the root; `name` alone while the folder is unknown.
QByteArray join(const QByteArray& folder, const QByteArray& name);
// The part before the last "/" ("/" for "/name", empty for a bare name).
QByteArray parent(const QByteArray& path);
// The part after the last "/".
QByteArray name(const QByteArray& path);
// `name` in the folder `session` is in, which the session sends as the name alone.
inline QByteArray here(const ServerSession& session, const QByteArray& name)
{
    return join(session.knownFolder(), name);
}
} // namespace RemotePath
