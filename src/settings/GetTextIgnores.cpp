// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "GetTextIgnores.h"

#include <QSet>

bool IsIgnoredTextProperty(const char* PropertyName) {
    static const QSet<QByteArray> Ignored = {
        "objectName",      "styleSheet",     "windowFilePath",
        "windowIconText",  "iconText",       "font",
        "fontFamily",      "accessibleName", "accessibleDescription",
        "whatsThis",       "category",       "helpKeyword",
        "plainText",       "html",           "documentTitle",
        "placeholderText", "inputMask",      "format",
        "displayFormat",   "currentText",    "locale"};
    return Ignored.contains(PropertyName);
}
