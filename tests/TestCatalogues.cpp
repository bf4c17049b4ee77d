// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "platform/ProgramPath.h"
#include "settings/GnuGetText.h"

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTest>

namespace {

// The msgids of the template, unescaped.
QStringList TemplateTexts() {
    QFile Template(QStringLiteral(HARKAVEL_SOURCE_DIR "/po/Harkavel.pot"));
    if (!Template.open(QIODevice::ReadOnly))
        return {};
    QStringList Texts;
    const QRegularExpression Msgid(QStringLiteral("^msgid \"(.*)\"$"));
    for (const QString& Line : QString::fromUtf8(Template.readAll()).split('\n')) {
        const auto Match = Msgid.match(Line);
        if (Match.hasMatch() && !Match.captured(1).isEmpty())
            Texts << Match.captured(1).replace("\\\"", "\"").replace("\\\\", "\\");
    }
    return Texts;
}

} // namespace

// The catalogues the build puts beside the program, read through the translation service.
class TestCatalogues : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        testing::SetProgramFilePath(QCoreApplication::applicationDirPath() + "/Harkavel");
    }
    void TranslatesIntoGerman();
    void TranslatesIntoSpanish();
    void TranslatesEveryTemplateText_data();
    void TranslatesEveryTemplateText();
    void GivesEveryAcceleratorItsOwnLetter_data();
    void GivesEveryAcceleratorItsOwnLetter();
};

void TestCatalogues::TranslatesIntoGerman() {
    TGnuGetText Service;
    Service.SetCurrentLanguage("de");
    QCOMPARE(Service.Translate("Scan finished"), QString("Suche beendet"));
    QCOMPARE(Service.Translate("&Start Scan"), QString("&Suchen"));
    QCOMPARE(Service.Translate("Request sent [%d bytes]"), QString("Anfrage gesendet [%d Bytes]"));
    QCOMPARE(Service.Translate("A text nobody translated"), QString("A text nobody translated"));
}

void TestCatalogues::TranslatesIntoSpanish() {
    TGnuGetText Service;
    Service.SetCurrentLanguage("ca_ES");
    QCOMPARE(Service.Translate("Scan finished"), QString("Análisis terminado"));
    QCOMPARE(Service.Translate("Update canceled"), QString("Actualización cancelada"));
}

void TestCatalogues::TranslatesEveryTemplateText_data() {
    QTest::addColumn<QString>("Language");
    QTest::newRow("German") << "de";
    QTest::newRow("Spanish") << "es";
}

void TestCatalogues::TranslatesEveryTemplateText() {
    QFETCH(QString, Language);
    const auto Catalogue = TMoFile::FromFile(TGnuGetText::CatalogueFile(Language));
    QVERIFY(Catalogue);
    const QStringList Texts = TemplateTexts();
    QVERIFY(Texts.size() > 50);
    for (const QString& Text : Texts) {
        const QByteArray Key = Text.toUtf8();
        const auto Found = Catalogue->Find(std::string_view(Key.constData(), size_t(Key.size())));
        QVERIFY2(Found && !Found->empty(), qPrintable(Language + ": " + Text));
    }
}

void TestCatalogues::GivesEveryAcceleratorItsOwnLetter_data() {
    TranslatesEveryTemplateText_data();
    QTest::newRow("English") << "en";
}

// Every text with an accelerator is on the one window, where two alike letters would clash.
void TestCatalogues::GivesEveryAcceleratorItsOwnLetter() {
    QFETCH(QString, Language);
    TGnuGetText Service;
    Service.SetCurrentLanguage(Language);
    const QRegularExpression Accelerator(QStringLiteral("&(\\w)"));
    QMap<QChar, QString> Owners;
    for (const QString& Text : TemplateTexts()) {
        if (!Accelerator.match(Text).hasMatch())
            continue;
        const QString Translated = Service.Translate(Text);
        const auto Match = Accelerator.match(Translated);
        QVERIFY2(Match.hasMatch(), qPrintable(Language + ": " + Translated));
        const QChar Letter = Match.captured(1).at(0).toLower();
        QVERIFY2(!Owners.contains(Letter),
                 qPrintable(Language + ": " + Owners[Letter] + " and " + Translated));
        Owners[Letter] = Translated;
    }
    QCOMPARE(Owners.size(), 9);
}

QTEST_GUILESS_MAIN(TestCatalogues)
#include "TestCatalogues.moc"
