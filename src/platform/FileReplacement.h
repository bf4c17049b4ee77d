// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// A new content for a file, written beside it and put in its place in one step.
//
// Readers of the file (the engine, another copy of the program) see either the old content or
// the whole new one, never a mix, a short file or an empty one: the new content goes into a
// temporary file in the same folder, and only Install renames it over the file. While the
// replacement is open, the file itself is held under an exclusive advisory lock (flock), so two
// programs never replace one file at the same time. The temporary file's name begins with a dot
// and ends in ".tmp-" and six random characters, which no database loader takes for a
// database.

#include <QFile>
#include <QString>

class TFileReplacement {
public:
    explicit TFileReplacement(QString TargetPath);
    ~TFileReplacement(); // discards what was not installed and releases the lock
    TFileReplacement(const TFileReplacement&) = delete;
    TFileReplacement& operator=(const TFileReplacement&) = delete;

    // Takes the lock on the target without waiting (when the target exists) and creates the
    // temporary file. False when another process holds the lock or the file cannot be created
    // (a folder not writable, a full disk); ErrorText() then says why.
    bool Open();
    // The temporary file, open for writing, unbuffered.
    QIODevice* Stream() { return &FStream; }
    QString TemporaryPath() const { return FTemporaryPath; }
    // Cuts the temporary file at its current position and moves back to its start.
    bool CutAtPosition();
    // Flushes the temporary file to the disk and renames it over the target. The lock goes
    // with the old file. False (ErrorText() says why) leaves the target as it was.
    bool Install();
    // Removes the temporary file; the target stays as it was.
    void Discard();
    QString ErrorText() const { return FErrorText; }

private:
    bool Fail(int Error);
    // Removes the temporary files of earlier replacements that nobody holds any more: a program
    // killed during a download leaves one.
    static void RemoveAbandoned(const QString& TargetPath);

    const QString FTargetPath;
    QString FTemporaryPath;
    QString FErrorText;
    QFile FStream;
    int FTargetLock = -1; // descriptor of the target, flocked
    int FTemporary = -1;  // descriptor of the temporary file, flocked while it is in use
};
