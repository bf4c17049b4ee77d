// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "GTLanguagesEx.h"

#include "GnuGetText.h"

#include <QLocale>

TLanguagesEx::TLanguagesEx() {
    const QList<QLocale> Locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    for (const QLocale& Locale : Locales) {
        if (Locale.language() == QLocale::C)
            continue; // no language of its own
        FNames << QLocale::languageToString(Locale.language());
        const int Id = int(FNames.size());
        const QString Language = QLocale::languageToCode(Locale.language()).toLower();
        const QString Country = QLocale::territoryToCode(Locale.territory()).toLower();
        for (const QString& Key : {Language, Language + u'_' + Country})
            if (!Language.isEmpty() && !FCodes.contains(Key))
                FCodes.insert(Key, Id);
    }
}

int TLanguagesEx::LocaleIdFromCode(const QString& Code) const {
    return FCodes.value(Code.toLower(), 0);
}

QString TLanguagesEx::LanguageName(int LocaleId) const {
    if (LocaleId < 1 || LocaleId > FNames.size() || FNames[LocaleId - 1].isEmpty())
        return N_("<unknown>");
    return FNames[LocaleId - 1];
}

const TLanguagesEx& LanguagesEx() {
    static const TLanguagesEx Instance;
    return Instance;
}
