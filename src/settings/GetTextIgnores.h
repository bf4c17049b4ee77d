// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The texts of a window that are never translated: names, style and font settings, categories
// and help keywords, whatever the object's class.

#include <QString>

bool IsIgnoredTextProperty(const char* PropertyName);

// An object carrying this dynamic property (true) is left out of the window's translation:
// the program sets its text itself.
inline constexpr const char* NoTranslateProperty = "harkavelNoTranslate";
