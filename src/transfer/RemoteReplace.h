#pragma once
#include "transfer/LocalFile.h"
#include "wininet.h"

#include <QByteArray>
#include <QSet>
#include <QString>

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

// Uploads the local file (a path converts) into the current remote directory as
// `temporaryName`, then puts it in place of `targetName` in the given order. Remote names are
// the server's bytes (a row's serverName() for a file that was listed). True when the
// target now holds the whole file, or when the upload was cancelled (CancelRequested stays
// set, the target untouched, the partial copy removed). False after a reported failure.
// Local file errors are thrown (FileSystemError) after the partial copy was removed.
bool UploadReplacing(TransferHost& host, const LocalSource& localFile, const QByteArray& targetName,
                     const QByteArray& temporaryName, PutInPlace order, DWORD transferType);

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
    // every name may exist. Names are compared without regard to ASCII case, because on a
    // server with a case-blind file system "A.TXT" overwrites "a.txt".
    bool mayExist(const QByteArray& name);
    // Records a name that now exists (a file just uploaded).
    void add(const QByteArray& name);

private:
    enum class State { NotRead, Known, Unknown };
    void read();

    HINTERNET m_connection;
    State m_state;
    QSet<QByteArray> m_names; // the server's bytes, ASCII lower-cased
};
