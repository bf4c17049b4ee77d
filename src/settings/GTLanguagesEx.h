// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The platform's locales, as the language list needs them: an identifier, the ISO 639 language
// code, the ISO 3166 country code and the language's display name, in a stable order (Qt's
// locale table, with "C" left out).

#include <QMap>
#include <QString>
#include <QStringList>

class TLanguagesEx {
public:
    TLanguagesEx();
    // Case-insensitive: the language code alone, or language "_" country; 0 when none.
    int LocaleIdFromCode(const QString& Code) const;
    // The display name of the locale's language, "<unknown>" when there is none.
    QString LanguageName(int LocaleId) const;
    int Count() const { return int(FNames.size()); }

private:
    QStringList FNames;        // by identifier - 1
    QMap<QString, int> FCodes; // lower-case code → the first locale that has it
};

const TLanguagesEx& LanguagesEx();
