#pragma once
// Where the program lies: its own file, and its folder, which holds the signature databases and
// the language catalogues.

#include <QString>

// The program's own file (the running executable).
QString ProgramFilePath();
// The folder of the program's own file, with its trailing delimiter.
QString ProgramFolder();

namespace testing {
// Test seams: tests point the program's file or folder at a place of their own ("" undoes it).
// Nothing else calls them. With a folder, the program's file is "Harkavel" in it.
void SetProgramFilePath(const QString& Path);
void SetProgramFolder(const QString& Folder);
} // namespace testing
