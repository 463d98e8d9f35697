#pragma once
#include "common/FileListRow.h"

#include <QString>

#include <functional>
#include <sys/stat.h>
#include <vector>

// Calls `visit` with the name and status of every entry of `folder` except "." and "..",
// in the order the system returns them, hidden entries included. A link is described by
// what it points to, so a link to a folder lists as a folder; a dangling link lists as the
// link itself. `pump` runs now and then (after at most ~16 ms of work) so the window can
// repaint during a long listing. A folder that can't be read visits nothing and reports
// nothing, as an empty folder would.
void enumerateLocalFolder(const QString& folder,
                          const std::function<void(const char* name, const struct stat&)>& visit,
                          const std::function<void()>& pump = {});

// The rows of `folder` in enumeration order (unsorted): a folder with the empty Size and
// the folder image, anything else with its full 64-bit size.
std::vector<FileListRow> listLocalFolder(const QString& folder,
                                         const std::function<void()>& pump = {});
