#pragma once
#include <QString>

// The version text of the program's own executable file ("1.0.0.124"), from its version
// block; empty when the file carries none.
QString ReadFileVersion();
// The same for the executable at `executablePath`.
QString ReadFileVersion(const QString& executablePath);
