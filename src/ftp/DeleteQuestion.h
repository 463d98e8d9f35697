#pragma once
#include "common/FileListRow.h"

#include <QString>

#include <vector>

// The Delete question of either file list. Both lists can show a folder of the same name, so
// the question says which list it deletes from, how many folders (each with everything in
// it) and files, and the first names.
QString DeleteQuestionText(const QString& paneName, const std::vector<FileListRow>& rows);

// A folder among the rows takes a whole tree with it: the question then answers No to Enter.
bool DeleteTakesFolder(const std::vector<FileListRow>& rows);
