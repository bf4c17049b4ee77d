// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "GTLanguageList.h"

#include "GTLanguagesEx.h"
#include "GnuGetText.h"
#include "platform/FileSystem.h"
#include "platform/NativePath.h"
#include "platform/ProgramPath.h"

using namespace harkavel; // the file attribute bits

void TGTLanguageList::Refresh() {
    Names.clear();
    Codes.clear();
    const QString Program = ProgramFilePath();
    const QString Folder = ExtractFilePath(Program);
    QString Base = Program.mid(Folder.size());
    if (const qsizetype Dot = Base.lastIndexOf(u'.'); Dot > 0)
        Base.truncate(Dot);
    TFindFile Listing;
    TSearchRec Entry;
    if (Listing.FindFirst(Folder, Entry)) {
        do {
            if ((Entry.Attributes & FILE_ATTRIBUTE_DIRECTORY) || !Entry.Name.startsWith(Base) ||
                !Entry.Name.endsWith(QLatin1String(".mo")))
                continue;
            const QString Code =
                Entry.Name.mid(Base.size(), Entry.Name.size() - Base.size() - 3).toLower();
            if (!Codes.contains(Code))
                Codes << Code;
        } while (Listing.FindNext(Entry));
    }
    if (!Codes.contains(QStringLiteral("en")))
        Codes << QStringLiteral("en");
    const TLanguagesEx& Locales = LanguagesEx();
    for (const QString& Code : Codes)
        Names << TranslateIn(QStringLiteral("languages"),
                             Locales.LanguageName(Locales.LocaleIdFromCode(Code)));
}

// The languages' names as the platform gives them, for the catalogues' template: each
// catalogue names the languages that the program comes with.
[[maybe_unused]] constexpr const char* CatalogueLanguageNames[] = {N_("English"), N_("German"),
                                                                   N_("Spanish")};

const TGTLanguageList& LanguageList() {
    static const TGTLanguageList List = [] {
        TGTLanguageList Built;
        Built.Refresh();
        return Built;
    }();
    return List;
}
