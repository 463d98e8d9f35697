#pragma once
#include <QString>

// Deletes one file (not a folder) for good; 0, or the errno of the failure for the caller to
// report: a file that silently stays looks as if the delete had not been asked for.
// A read-only file goes too: on Linux only the folder's permissions guard its entries.
int deleteLocalFile(const QString& path);

// Deletes the folder `path` with everything in it, depth first, and throws FileSystemError
// when the folder itself can't be removed. Entries that can't be deleted are skipped, which
// leaves their folder non-empty, so the error surfaces at the selected folder.
// A symbolic link is removed as a link: the tree it points to is never entered. Nor is a
// file system mounted inside the tree: removing its mount point fails instead.
// Read-only folders of the tree that the user owns are made writable first, the way the
// read-only attribute is cleared from every file.
void DeleteLocalFolder(const QString& path);
