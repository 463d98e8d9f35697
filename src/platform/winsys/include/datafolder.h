#pragma once
// Where the program keeps what it remembers between runs (the registry file and the site
// profiles), and the executable's own folder.
#include "windef.h"

#include <string>
#include <string_view>

// The folder of the running executable, ending in '/'.
std::string GetExecutableFolder();

// True when the executable runs from an installed layout: <prefix>/bin/ with the program's
// own files in <prefix>/share/zulftp/ (a package, or `cmake --install`). A build tree or a
// portable copy keeps everything in one folder instead.
bool IsInstalledCopy();

// The folder of the program's read-only files (the help file), ending in '/':
// <prefix>/share/zulftp/ for an installed copy, else the executable's folder.
std::string GetProgramFilesFolder();

// The data folder, ending in '/': $ZULFTP_HOME when set; otherwise, for a build tree or a
// portable copy the user may write to, the executable's folder (the copy keeps its data
// beside itself); otherwise $XDG_CONFIG_HOME/zulftp (default ~/.config/zulftp). An installed
// copy always takes the last: its folder is shared by every user, and for root it would be
// writable. The chosen folder is created when it is missing. Worked out afresh at each call,
// so tests may point ZULFTP_HOME elsewhere.
std::string GetDataFolder();

// Replaces the file at `path` by `contents` so that a crash, a kill or a full disk at any
// moment leaves either the old file or the new one, never a torn or empty file: the data
// goes to a temporary file in the same folder, is flushed to disk, renamed over the old file,
// and the folder entry is flushed too. The file is readable and writable by its owner only
// after every write, whatever mode it had: both stores may hold passwords. A symbolic link is
// followed, so the link stays a link. Returns FALSE with the last error set on failure; the
// old file is then untouched.
BOOL ReplaceFileContents(const std::string& path, std::string_view contents);

// How long a writer waits for another process to let go of the folder lock before it gives up
// with ERROR_LOCK_VIOLATION: long enough for any other copy of the program to finish a write,
// short enough that a stuck process never hangs ours.
inline constexpr DWORD kDefaultFolderLockWaitMs = 5000;
DWORD folderLockWaitMs();
// Changes the wait for the whole process (tests shorten it).
void setFolderLockWaitMs(DWORD milliseconds);

// Holds an exclusive lock on the folder of a file for a read-modify-write of that file, so two
// running copies of the program never lose each other's updates. The lock is on the folder,
// not the file, because every write renames a new file over the old one.
class FolderWriteLock
{
public:
    explicit FolderWriteLock(const std::string& filePath);
    ~FolderWriteLock();
    FolderWriteLock(const FolderWriteLock&) = delete;
    FolderWriteLock& operator=(const FolderWriteLock&) = delete;

    // FALSE when the folder could not be opened, or stayed locked by another process for
    // folderLockWaitMs() (last error ERROR_LOCK_VIOLATION).
    BOOL locked() const { return m_fd >= 0 ? TRUE : FALSE; }

private:
    int m_fd = -1;
};

// Reads a whole file. FALSE with the last error set when it cannot be read
// (ERROR_FILE_NOT_FOUND when it does not exist).
BOOL ReadWholeFile(const std::string& path, std::string& contents);
