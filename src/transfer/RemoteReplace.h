#pragma once
#include "transfer/LocalFile.h"
#include "windef.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <optional>

class ServerSession;
class TransferHost;
enum class TransferMode;

// Putting a file on the server without risking what stands under its name: the new data goes
// to a temporary name beside the target, and only a copy the server confirmed whole takes the
// target's place. A cancelled or failed upload removes its own partial copy and leaves the
// target untouched. Used by every upload (UploadFile) and by the editor's Save Remote.

// A name beside `targetName` for the copy in transit: the target's name, a random part and
// the fixed ending ".zulftp-upload" (so a leftover is recognisable), within 255 bytes.
QByteArray TemporaryRemoteName(const QByteArray& targetName);
// True when `name` is one TemporaryRemoteName could have made for `targetName`.
bool IsTemporaryRemoteNameOf(const QByteArray& name, const QByteArray& targetName);

// Uploads the local file (a path converts) into the current remote directory as
// `temporaryName`, then puts it in place of `targetName` (PutCopyInPlace). Remote names are
// the server's bytes (a row's serverName() for a file that was listed). True when the target
// now holds the whole file, or when the upload was cancelled (CancelRequested stays set, the
// target untouched, the partial copy removed). False after a reported failure. Local file
// errors are thrown (FileSystemError) after the partial copy was removed.
bool UploadReplacing(TransferHost& host, const LocalSource& localFile, const QByteArray& targetName,
                     const QByteArray& temporaryName, TransferMode mode);
// The same from a local file already open.
bool UploadReplacing(TransferHost& host, LocalFileReader& source, const QByteArray& targetName,
                     const QByteArray& temporaryName, TransferMode mode);

// Puts the whole copy `temporaryName` in place of `targetName`: renamed over it. A server that
// will not rename (no permission, or not over an existing file) never gets the target deleted
// first: the target is written directly from `source` (from its start), and the copy is
// removed only after the server confirmed that write. Where that fails too, the user is told
// where the whole copy is, and it stays. True when the target holds the whole file, and when
// the user cancelled the direct write (told what it left); false after a reported failure.
bool PutCopyInPlace(TransferHost& host, LocalFileReader& source, const QByteArray& temporaryName,
                    const QByteArray& targetName, TransferMode mode);
// What is where after a replacement that did not happen: the target as it was (or cut short
// by a direct write that broke off) and the whole new copy under `temporaryName`.
QString NotReplacedText(const QByteArray& targetName, const QByteArray& temporaryName);
QString DirectWriteBrokeText(const QByteArray& targetName, const QByteArray& temporaryName);

// Removes what a stopped upload left under `temporaryName`, keeping the last error: the
// upload's own failure was reported, or the user cancelled, and a connection that is gone
// is reported by the next command.
void RemovePartialCopy(TransferHost& host, const QByteArray& temporaryName);

// What an upload knows of one remote folder: the names that may stand there already, and the
// folder's path as the server names it.
class RemoteFolderNames
{
public:
    // The current remote directory of `session`, listed when first asked.
    explicit RemoteFolderNames(ServerSession* session);
    // A folder that was just created: nothing in it can be lost.
    static RemoteFolderNames emptyFolder();

    // False only for a name known to be free. A listing that failed knows nothing, so then
    // every name may exist; so does one with a line that was not understood. Names are compared
    // without regard to ASCII case, because on a server with a case-blind file system "A.TXT"
    // overwrites "a.txt".
    bool mayExist(const QByteArray& name);
    // Records a name that now exists (a file just uploaded).
    void add(const QByteArray& name);
    // The remote directory's path as the server names it (PWD), asked once; nothing when
    // the server would not say.
    std::optional<QByteArray> directory(ServerSession& session);

private:
    enum class State { NotRead, Known, Unknown };
    void read();

    ServerSession* m_session;
    State m_state;
    QSet<QByteArray> m_names;                             // the server's bytes, ASCII lower-cased
    std::optional<std::optional<QByteArray>> m_directory; // outer: asked yet
};
