// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// Deleting a file at the next start, where the platform has no deletion at restart: the path
// is recorded in a list file together with the stamp of the file the scan found there (device,
// inode, size and modification time), and the next program start deletes a listed file only
// while it is still that very file. A different file created at the path since is never
// touched; a link at the path leads to the file, as when it was found.
//
// The list begins with a signature line; each entry is two fields ended by a NUL byte (a name
// may hold a line break, never a NUL): the stamp as text, then the path's file-system bytes.
// It is rewritten whole, beside the old one, so it is never cut short. A list without the
// signature (bare paths, from before stamps were recorded) cannot be checked and is dropped.

#include "FileSystem.h"

#include <QString>
#include <QStringList>
#include <functional>

// Records Path with the stamp of the file that was found there; false when the stamp names no
// file or the list could not be written.
bool ScheduleDeleteOnRestart(const QString& ListFile, const QString& Path, const TFileStamp& Stamp);

struct TScheduledDeletes {
    int Left = 0;        // kept for the next start: they may succeed then
    QStringList Refused; // could not be deleted and never will be (no permission, read-only)
};
// Deletes every listed file that is still the file recorded. Drops the entries that are done,
// that name another file or nothing by now, and the refused ones, which the caller tells the
// user about once.
// Remove takes each file away (by default, for good).
using TFoundFileRemover = std::function<TRemoval(const QString& Path, const TFileStamp& Stamp)>;
TScheduledDeletes DeleteScheduledFiles(const QString& ListFile,
                                       const TFoundFileRemover& Remove = RemoveFoundFile);
