// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The drives of a Linux machine, as a desktop user would name them: the mounted volumes backed
// by a block device (no pseudo, network or temporary file systems, one row per device), and
// always the root "/", in path order.
//
// They come from the mount table alone. No volume is asked anything (its size, its type), so
// a hung network mount can never freeze the window that lists the drives.

#include <QByteArray>
#include <QStringList>

// In the program's namespace: windows.h declares a GetLogicalDrives of its own.
namespace harkavel {
QStringList GetLogicalDrives();
} // namespace harkavel

// The drives named by a mount table in the form of /proc/self/mountinfo.
QStringList DrivesFromMountTable(const QByteArray& MountInfo);

namespace testing {
// Test seam: GetLogicalDrives reads this table instead of the system's (a null one undoes it).
void SetMountTable(const QByteArray& MountInfo);
} // namespace testing
