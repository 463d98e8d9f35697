#pragma once
#include "transfer/LocalFile.h"
#include "wininet.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <optional>

class TransferHost;

// Replacing a file on the server without risking it: the new data goes to a temporary name
// beside the target, and only a copy the server confirmed whole takes the target's place. A
// cancelled or failed upload removes its own partial copy and leaves the target untouched.
// Used by uploads over an existing name (UploadFile) and by the editor's Save Remote.

// How the confirmed copy takes the target's place.
enum class PutInPlace {
    // Rename over the target. A server that refuses to rename over an existing file gets the
    // target deleted, then the rename once more; if that fails too, the copy stays under its
    // temporary name ("FTP Rename Failed." is reported), so the two are never both gone.
    RenameOver,
    // Delete the target ("FTP Delete Failed." reported, the rename tried all the same), then
    // rename the copy to the target's name ("FTP Rename Failed." reported): the editor's order.
    DeleteThenRename,
};

// A name beside `targetName` for the copy in transit: the target's name, a random part and
// the fixed ending ".zulftp-upload" (so a leftover is recognisable), within 255 bytes.
QByteArray TemporaryRemoteName(const QByteArray& targetName);
// True when `name` is one TemporaryRemoteName could have made for `targetName`.
bool IsTemporaryRemoteNameOf(const QByteArray& name, const QByteArray& targetName);

// Uploads the local file (a path converts) into the current remote directory as
// `temporaryName`, then puts it in place of `targetName` in the given order. Remote names are
// the server's bytes (a row's serverName() for a file that was listed). True when the
// target now holds the whole file, or when the upload was cancelled (CancelRequested stays
// set, the target untouched, the partial copy removed). False after a reported failure.
// Local file errors are thrown (FileSystemError) after the partial copy was removed.
bool UploadReplacing(TransferHost& host, const LocalSource& localFile, const QByteArray& targetName,
                     const QByteArray& temporaryName, PutInPlace order, DWORD transferType);
// The same from a local file already open.
bool UploadReplacing(TransferHost& host, LocalFileReader& source, const QByteArray& targetName,
                     const QByteArray& temporaryName, PutInPlace order, DWORD transferType);

// Puts the whole copy `temporaryName` in place of `targetName` in the given order; false
// after a reported failure.
bool PutCopyInPlace(TransferHost& host, const QByteArray& temporaryName,
                    const QByteArray& targetName, PutInPlace order);
// Removes what a stopped upload left under `temporaryName`, keeping the last error: the
// upload's own failure was reported, or the user cancelled, and a connection that is gone
// is reported by the next command.
void RemovePartialCopy(TransferHost& host, const QByteArray& temporaryName);

// What an upload knows of the names in one remote folder, so that it takes the detour
// through a temporary name only where a file could be overwritten.
class RemoteFolderNames
{
public:
    // The current remote directory of `connection`, listed when first asked.
    explicit RemoteFolderNames(HINTERNET connection);
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
    std::optional<QByteArray> directory(HINTERNET connection);

private:
    enum class State { NotRead, Known, Unknown };
    void read();

    HINTERNET m_connection;
    State m_state;
    QSet<QByteArray> m_names;                             // the server's bytes, ASCII lower-cased
    std::optional<std::optional<QByteArray>> m_directory; // outer: asked yet
};
