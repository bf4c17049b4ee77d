#pragma once
// Where the program lies: its own file, and its folder, which holds the signature databases and
// the language catalogues.

#include <QString>

// The program's own file (the running executable).
QString ProgramFilePath();
// The folder of the program's own file, with its trailing delimiter.
QString ProgramFolder();

namespace testing {
// Test seam: tests point the program's folder at a folder of their own. Nothing else calls it.
void SetProgramFolder(const QString& Folder);
} // namespace testing
