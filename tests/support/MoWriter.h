// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// Writes GNU MO catalogues for tests: either byte order, with or without a hash table.

#include <QByteArray>
#include <QList>
#include <utility>

namespace support {
using TMoEntries = QList<std::pair<QByteArray, QByteArray>>; // original, translation

// A header entry (the empty original) declaring UTF-8 is added unless Charset is empty.
QByteArray BuildMo(TMoEntries Entries, bool BigEndian, bool WithHashTable,
                   const QByteArray& Charset = "UTF-8");
} // namespace support
