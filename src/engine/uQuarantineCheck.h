// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// A second look at the quarantine with newer signatures: an item that the loaded engine no
// longer detects is marked "no longer detected", so that a false positive can be found and
// restored. Items already judged by this engine's database version are skipped.

#include "platform/Quarantine.h"

#include <clamav.h>
#include <cstdint>
#include <functional>

// The daily database version of a loaded engine; 0 when unknown.
int64_t EngineDatabaseVersion(const cl_engine* Engine);

// Scans each item found by another database version than the engine's, through its harmless
// form (never written out as it was). Stop is asked before each item. The number of items
// rechecked. Any thread but the main thread; the engine must stay loaded meanwhile.
int RecheckQuarantine(TQuarantine& Store, const cl_engine* Engine,
                      const std::function<bool()>& Stop);

// Scans one item's original content; true when the engine finds it infected.
bool IsItemDetected(const TQuarantine& Store, const QString& Id, const cl_engine* Engine);
