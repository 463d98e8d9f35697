#pragma once
#include "common/FileListRow.h"

#include <vector>

// The compare of both file lists, as the list view's compare event answers it: -1 puts
// `item1` first, +1 puts `item2` first, 0 leaves the answer unset (sort code 0 or a
// magnitude above 3). Folders (empty Size text) come first under every code; equal keys
// answer +1, turned round with the rest when the code is negative.
int RemoteFilesCompare(int sortCode, const FileListRow& item1, const FileListRow& item2);

// The strict weak order behind a sort by `sortCode`: true when `a` goes strictly before `b`.
// Rows whose keys are equal, and all rows of one kind under code 0, are equivalent, so a
// stable sort keeps them in listing order.
bool FileListRowBefore(int sortCode, const FileListRow& a, const FileListRow& b);

// Sorts rows by `sortCode` (stable). Returns the permutation: result[i] is the index in the
// old order of the row now at position i.
std::vector<int> SortFileListRows(std::vector<FileListRow>& rows, int sortCode);

// The sort code after a click on column `column` (0 Name, 1 Size, 2 Modified): the same
// column again turns the direction round, another column sorts it ascending.
int SortCodeAfterColumnClick(int sortCode, int column);
