// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// An exclusive advisory lock (flock) on a folder, held while the object lives: one update of a
// database folder at a time, whichever running copy of the program and whichever way it
// updates. The folder's own descriptor carries the lock, so no lock file is left behind.

#include <QString>

class TFolderLock {
public:
    TFolderLock() = default;
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    // Takes the lock without waiting. False when another holds it or the folder cannot be
    // opened; ErrorText() says why.
    bool Acquire(const QString& Folder);
    void Release();
    bool Held() const { return FDescriptor >= 0; }
    QString ErrorText() const { return FErrorText; }

private:
    int FDescriptor = -1;
    QString FErrorText;
};
