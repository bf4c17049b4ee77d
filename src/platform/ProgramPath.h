// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// Where the program lies: its own file, and its folder, which holds the signature databases and
// the language catalogues.

#include <QString>

// The program's own file (the running executable).
QString ProgramFilePath();
// The folder of the program's own file, with its trailing delimiter.
QString ProgramFolder();

// The folder that holds the signature databases, with its trailing delimiter. The program's
// folder when this user may write there (a build folder, an unpacked portable folder), so that
// an update can replace them; otherwise, as for a program installed by root, the user's data
// folder $XDG_DATA_HOME/Harkavel/ (~/.local/share/Harkavel/ when the variable is unset or
// empty), created on first use. The engine loads from it, the updater writes into it. The
// catalogues stay beside the program.
QString DatabaseFolder();
// The user's data folder $XDG_DATA_HOME/Harkavel/, with its trailing delimiter; made on first use.
QString UserDataFolder();

namespace testing {
// Test seams: tests point the program's file or folder at a place of their own ("" undoes it).
// Nothing else calls them. With a folder, the program's file is "Harkavel" in it.
void SetProgramFilePath(const QString& Path);
void SetProgramFolder(const QString& Folder);
} // namespace testing
