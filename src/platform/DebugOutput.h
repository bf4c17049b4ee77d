// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The platform's debug output: diagnostics for a developer, never shown to the user unasked.
// On Linux it is the Qt logging category "harkavel.debug", off unless enabled, for instance
// with QT_LOGGING_RULES="harkavel.debug=true".

#include <QString>
#include <functional>

void OutputDebugString(const QString& Text);

// A diagnostic line headed by where it was written: "file:line (routine) " and the text.
void OutputDebugLocation(const char* File, unsigned Line, const char* Routine, const QString& Text);
#define HARKAVEL_DEBUG_LINE(text) OutputDebugLocation(__FILE__, __LINE__, __func__, (text))

using TDebugOutputSink = std::function<void(const QString& Text)>;
// Test seam: while set, every debug line also reaches the sink (from any thread).
void SetDebugOutputSink(TDebugOutputSink Sink);
