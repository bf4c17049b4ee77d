// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The languages the program can show: one for each catalogue beside the program, named in the
// user's default language, and English.

#include <QStringList>

class TGTLanguageList {
public:
    QStringList Names;
    QStringList Codes;
    // Lists the program's folder for <program name>*.mo, in the listing's order.
    void Refresh();
};

// Built on first use, which the program start makes before the window exists.
const TGTLanguageList& LanguageList();
