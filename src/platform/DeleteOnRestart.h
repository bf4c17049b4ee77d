// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// Deleting a file at the next start, where the platform has no deletion at restart: the path
// is recorded in a list file together with the file's identity (device, inode, size and
// modification time), and the next program start deletes a listed path only while it still
// names that very file. A different file created at the path since is never touched.
//
// The list begins with a signature line; each entry is two fields ended by a NUL byte (a name
// may hold a line break, never a NUL): the identity as text, then the path's file-system
// bytes. It is rewritten whole, beside the old one, so it is never cut short. A list without
// the signature (bare paths, from before identities were recorded) cannot be checked and is
// dropped.

#include <QString>

// Records Path with the identity of the file there now; false when the file cannot be
// examined or the list could not be written.
bool ScheduleDeleteOnRestart(const QString& ListFile, const QString& Path);
// Deletes every listed file that is still the file recorded; drops the entries that are done,
// that name another file or nothing by now, and those that can never succeed (no permission, a
// read-only file system, a folder). Keeps the rest for the next start and returns how many.
int DeleteScheduledFiles(const QString& ListFile);
