// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// Small helpers of the updater: statuses, the lists that cross the service interface, and the
// facts about a local file that an update needs.

#include "platform/Interfaces.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

// A list of texts with its bounds, the form in which the database list crosses the updater's
// service interface: entries from LowerBound to LowerBound + size − 1.
struct TSafeArray {
    int32_t Dimensions = 1;
    int32_t LowerBound = 0;
    QStringList Elements;

    int32_t UpperBound() const { return LowerBound + int32_t(Elements.size()) - 1; }
};

// The failure status 0x80040000 + Code: failure bit, facility 4 (interface-specific).
HRESULT MakeErrorCode(uint16_t Code);

// A new one-dimensional list with lower bound 0 and the texts in order.
std::unique_ptr<TSafeArray> StringsToSafeArray(const QStringList& Texts);

// Empties Target, then appends the entries of a one-dimensional list in order. An absent or
// empty list leaves Target empty. A list of exactly one entry is honoured.
void SafeArrayToStrings(const TSafeArray* List, QStringList& Target);

// True when the file system reports attributes for the path; a folder counts.
bool PathExists(const QString& Path);

// The zero date-time: 30 December 1899, 00:00, UTC.
QDateTime ZeroDateTime();

// The file's last-write time in UTC, in the two-second steps of a packed DOS date and time
// (1980 to 2107); the zero date-time when it cannot be read or packed.
QDateTime FileWriteDate(const QString& Path);

// A byte count for display: at most three significant digits (cut, not rounded) with a unit,
// "bytes" below 1 KB, then "KB", "MB", "GB", "TB", "PB", "EB" in steps of 1024, each unit used
// below 1000 of it ("999 KB", then "0.97 MB").
QString FormatByteSize(int64_t Size);
