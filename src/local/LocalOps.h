#pragma once
#include <QString>

enum class LocalRenameResult { Renamed, Failed, RefusedPath };

// Renames the entry `oldName` of the current folder to `newName` in the same folder.
// A new name holding '/' is refused: it would move the entry into another folder, and a
// typing slip must not do that. An existing entry of the new name is never replaced, which
// the plain rename call would do without a word. On Failed, `error` (when given) receives
// the file system's errno, so the user can be told why.
LocalRenameResult renameLocalEntry(const QString& oldName, const QString& newName,
                                   int* error = nullptr);

// Creates `folder`/`name` with the name exactly as typed (blanks around it included).
// False when the folder could not be created; `error` (when given) receives the errno.
bool createLocalFolder(const QString& folder, const QString& name, int* error = nullptr);
