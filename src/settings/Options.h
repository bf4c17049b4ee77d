// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The one setting the program remembers: the interface language, in Options.xml in the folder
// "Harkavel" of the user's settings folder. Read when the object is created at program start,
// written when it is destroyed at program end. Main thread only.

#include <QString>

// A settings file larger than this is treated as a broken one.
inline constexpr qint64 MaxSettingsFileSize = 1 << 20;

class TOptions {
public:
    TOptions();  // sets the defaults, then reads the settings file
    ~TOptions(); // writes the settings file
    TOptions(const TOptions&) = delete;
    TOptions& operator=(const TOptions&) = delete;

    QString Language = QStringLiteral("en");

private:
    void ReadFile();
    void WriteFile() const;
};

// The process's settings object; the first call creates it.
TOptions& GetOptions();
// Destroys it, which writes the file; once, at program end.
void FreeOptions();

// The settings folder, with its trailing delimiter, created when missing: on Linux
// $XDG_CONFIG_HOME/Harkavel/, or ~/.config/Harkavel/ when XDG_CONFIG_HOME is unset or empty.
QString SettingsFolder();
// Where files that cannot be deleted now wait for the next program start.
QString PendingDeletesFile();
