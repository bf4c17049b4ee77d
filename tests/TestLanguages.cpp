// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "platform/ProgramPath.h"
#include "settings/GTLanguageList.h"
#include "settings/GTLanguagesEx.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

class TestLanguages : public QObject {
    Q_OBJECT
private slots:
    void MapsCodesToLocales();
    void ListsTheCataloguesBesideTheProgram();
    void ListsOnlyEnglishWithoutCatalogues();
};

void TestLanguages::MapsCodesToLocales() {
    const TLanguagesEx& Locales = LanguagesEx();
    QVERIFY(Locales.Count() > 600);
    QCOMPARE(Locales.LanguageName(Locales.LocaleIdFromCode("de")), QString("German"));
    QCOMPARE(Locales.LanguageName(Locales.LocaleIdFromCode("ES")), QString("Spanish"));
    QCOMPARE(Locales.LanguageName(Locales.LocaleIdFromCode("pt_br")), QString("Portuguese"));
    QCOMPARE(Locales.LocaleIdFromCode("xx"), 0);
    QCOMPARE(Locales.LanguageName(0), QString("<unknown>"));
}

void TestLanguages::ListsTheCataloguesBesideTheProgram() {
    QTemporaryDir Dir;
    testing::SetProgramFilePath(Dir.path() + "/Harkavel.bin");
    for (const char* Name :
         {"HarkavelDE.mo", "Harkavelpt_br.mo", "Harkavel.mo", "Other.mo", "Harkavelde.mo"})
        QVERIFY(support::WriteFile(Dir.path() + "/" + Name, "not read"));
    TGTLanguageList List;
    List.Refresh();
    testing::SetProgramFilePath(QString());
    QStringList Codes = List.Codes;
    QCOMPARE(Codes.takeLast(), QString("en")); // appended after the listing
    Codes.sort();
    QCOMPARE(Codes, QStringList({"", "de", "pt_br"})); // "DE" and "de" are one language
    QCOMPARE(List.Names[List.Codes.indexOf("")], QString("<unknown>"));
    QCOMPARE(List.Names[List.Codes.indexOf("pt_br")], QString("Portuguese"));
}

void TestLanguages::ListsOnlyEnglishWithoutCatalogues() {
    QTemporaryDir Dir;
    testing::SetProgramFilePath(Dir.path() + "/Harkavel");
    TGTLanguageList List;
    List.Refresh();
    testing::SetProgramFilePath(QString());
    QCOMPARE(List.Codes, QStringList({"en"}));
    QCOMPARE(List.Names, QStringList({"English"}));
}

QTEST_GUILESS_MAIN(TestLanguages)
#include "TestLanguages.moc"
