#pragma once
#include <QString>

// Hands a local file to the desktop's default application for its type. The file goes as a
// file URL, never into a command line, so no name can smuggle in shell syntax. A relative
// name is taken from `directory`, or from the current folder when that is empty. The
// parameters have no place in a URL and are not passed. False when the desktop's opener
// could not be started.
bool ShellOpenFile(const QString& file, const QString& parameters, const QString& directory);
