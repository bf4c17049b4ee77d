// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "platform/ProgramPath.h"
#include "settings/GnuGetText.h"
#include "support/MoWriter.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <sys/stat.h>
#include <thread>

using support::BuildMo;
using support::TMoEntries;

namespace {

const TMoEntries German = {{"Scan finished", "Suche beendet"},
                           {"Line one\nLine two", "Zeile eins\nZeile zwei"},
                           {"Update", "Aktualisierung"}};
const TMoEntries Spanish = {{"Scan finished", "Análisis terminado"}, {"Update", "Actualización"}};

std::optional<QByteArray> Find(const TMoFile& File, const QByteArray& Key) {
    const auto Found = File.Find(std::string_view(Key.constData(), size_t(Key.size())));
    if (!Found)
        return std::nullopt;
    return QByteArray(Found->data(), qsizetype(Found->size()));
}

} // namespace

class TestGnuGetText : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { testing::SetProgramFilePath(QString()); }
    void ReadsBothByteOrdersWithAndWithoutHashTable_data();
    void ReadsBothByteOrdersWithAndWithoutHashTable();
    void RefusesCorruptCatalogues();
    void ReadsOnlyRegularCataloguesOfSensibleSize();
    void NeverLoopsInAFullHashTable();
    void TranslatesInTheCurrentLanguage();
    void ReadsTheSpanishCatalogueForCatalanGalicianAndBasque();
    void TakesTheDefaultLanguageFromLang();
    void KeepsLineBreaksInWindowsForm();
    void SwitchesADomainOffForAnotherCharset();
    void TranslatesSafelyWhileTheLanguageChanges();
    void ReadsTheFuzzCorpusWithoutCrashing();

private:
    QTemporaryDir FFolder;
};

void TestGnuGetText::initTestCase() {
    testing::SetProgramFilePath(FFolder.path() + "/Harkavel.bin");
    QVERIFY(support::WriteFile(FFolder.path() + "/Harkavelde.mo", BuildMo(German, false, true)));
    QVERIFY(support::WriteFile(FFolder.path() + "/Harkaveles.mo", BuildMo(Spanish, true, false)));
    QVERIFY(support::WriteFile(FFolder.path() + "/Harkavelfr.mo",
                               BuildMo({{"Update", "Mise à jour"}}, false, true, "ISO-8859-1")));
}

void TestGnuGetText::ReadsBothByteOrdersWithAndWithoutHashTable_data() {
    QTest::addColumn<bool>("BigEndian");
    QTest::addColumn<bool>("WithHash");
    QTest::newRow("little endian, hash") << false << true;
    QTest::newRow("little endian, search") << false << false;
    QTest::newRow("big endian, hash") << true << true;
    QTest::newRow("big endian, search") << true << false;
}

void TestGnuGetText::ReadsBothByteOrdersWithAndWithoutHashTable() {
    QFETCH(bool, BigEndian);
    QFETCH(bool, WithHash);
    TMoEntries Many = German;
    for (int I = 0; I < 500; ++I)
        Many.append({"text " + QByteArray::number(I), "Text " + QByteArray::number(I)});
    const auto File = TMoFile::FromBytes(BuildMo(Many, BigEndian, WithHash));
    QVERIFY(File);
    QCOMPARE(File->Count(), uint32_t(Many.size() + 1));
    for (const auto& [Original, Translation] : Many)
        QCOMPARE(Find(*File, Original), std::optional<QByteArray>(Translation));
    QCOMPARE(Find(*File, "not there"), std::nullopt);
    QCOMPARE(Find(*File, "text 5000"), std::nullopt);
    QVERIFY(std::string(File->Header()).find("charset=UTF-8") != std::string::npos);
}

void TestGnuGetText::RefusesCorruptCatalogues() {
    const QByteArray Good = BuildMo(German, false, true);
    QVERIFY(TMoFile::FromBytes(Good));
    // Cut short anywhere, every string then points past the end or the tables do.
    for (int Length = 0; Length < Good.size(); ++Length)
        if (const auto Cut = TMoFile::FromBytes(Good.left(Length)))
            for (const auto& [Original, Translation] : German)
                Find(*Cut, Original);
    QVERIFY(!TMoFile::FromBytes(Good.left(27)));
    QByteArray BadMagic = Good;
    BadMagic[0] = 'X';
    QVERIFY(!TMoFile::FromBytes(BadMagic));
    QByteArray HugeCount = Good;
    HugeCount.replace(8, 4, QByteArray("\xFF\xFF\xFF\xFF", 4));
    QVERIFY(!TMoFile::FromBytes(HugeCount));
    QByteArray FarString = Good;
    FarString.replace(28 + 4, 4, QByteArray("\xF0\xFF\xFF\xFF", 4)); // first original's offset
    QVERIFY(!TMoFile::FromBytes(FarString));
    QByteArray LongString = Good;
    LongString.replace(28, 4, QByteArray("\xFF\xFF\xFF\x7F", 4)); // first original's length
    QVERIFY(!TMoFile::FromBytes(LongString));
    QByteArray FarHash = Good;
    FarHash.replace(24, 4, QByteArray("\xFF\xFF\xFF\xFF", 4)); // hash table past the end
    const auto WithoutHash = TMoFile::FromBytes(FarHash);
    QVERIFY(WithoutHash); // the table is not used; binary search still finds everything
    QCOMPARE(Find(*WithoutHash, "Update"), std::optional<QByteArray>("Aktualisierung"));
    QVERIFY(!TMoFile::FromFile(FFolder.path() + "/missing.mo"));
}

// A FIFO in a catalogue's place would block the start for ever, /dev/zero or a huge file would
// exhaust memory: each is read as a broken catalogue.
void TestGnuGetText::ReadsOnlyRegularCataloguesOfSensibleSize() {
    QTemporaryDir Folder;
    const QString Fifo = Folder.filePath("Harkavelfr.mo");
    QCOMPARE(mkfifo(QFile::encodeName(Fifo).constData(), 0600), 0);
    QVERIFY(!TMoFile::FromFile(Fifo));
    QVERIFY(!TMoFile::FromFile("/dev/zero"));
    QVERIFY(!TMoFile::FromFile(Folder.path()));
    const QString Huge = Folder.filePath("Harkavelit.mo");
    QFile File(Huge);
    QVERIFY(File.open(QIODevice::WriteOnly) && File.resize(MaxCatalogueSize + 1));
    File.close();
    QVERIFY(!TMoFile::FromFile(Huge));
}

void TestGnuGetText::NeverLoopsInAFullHashTable() {
    QByteArray Full = BuildMo(German, false, true);
    const uint32_t HashSize = uchar(Full[20]), HashAt = uchar(Full[24]);
    for (uint32_t Slot = 0; Slot < HashSize; ++Slot)
        Full.replace(HashAt + 4 * Slot, 4, QByteArray("\x01\0\0\0", 4)); // all the header
    const auto File = TMoFile::FromBytes(Full);
    QVERIFY(File);
    QCOMPARE(Find(*File, "no such text"), std::nullopt);
}

void TestGnuGetText::TranslatesInTheCurrentLanguage() {
    TGnuGetText Service;
    Service.SetCurrentLanguage("de_AT");
    QCOMPARE(Service.CurrentLanguage(), QString("de_AT"));
    QCOMPARE(Service.Translate("Scan finished"), QString("Suche beendet"));
    QCOMPARE(Service.Translate("No such text"), QString("No such text"));
    QCOMPARE(Service.Translate(QString()), QString());
    QCOMPARE(Service.TranslateIn("languages", "Update"), QString("Aktualisierung"));
    Service.SetCurrentLanguage("es");
    QCOMPARE(Service.Translate("Scan finished"), QString("Análisis terminado"));
    Service.SetCurrentLanguage("en"); // no catalogue: everything stays English
    QCOMPARE(Service.Translate("Scan finished"), QString("Scan finished"));
    QCOMPARE(TGnuGetText::CatalogueFile("de_AT"), FFolder.path() + "/Harkavelde.mo");
}

void TestGnuGetText::ReadsTheSpanishCatalogueForCatalanGalicianAndBasque() {
    TGnuGetText Service;
    for (const char* Code : {"ca_ES", "gl", "eu_ES"}) {
        Service.SetCurrentLanguage(Code);
        QCOMPARE(Service.Translate("Update"), QString("Actualización"));
    }
}

void TestGnuGetText::TakesTheDefaultLanguageFromLang() {
    const QByteArray Saved = qgetenv("LANG");
    qputenv("LANG", "de_DE.UTF-8");
    TGnuGetText Service;
    QCOMPARE(Service.CurrentLanguage(), QString("de_DE"));
    QCOMPARE(Service.Translate("Update"), QString("Aktualisierung"));
    Service.SetCurrentLanguage("es");
    Service.SetCurrentLanguage(QString());
    QCOMPARE(Service.CurrentLanguage(), QString("de_DE"));
    qunsetenv("LANG");
    // Without LANG the platform's locale names the language; "C" names none: English.
    const QString Default = TGnuGetText::UserDefaultLanguage();
    QVERIFY2(Default == "en" || Default.contains('_'), qPrintable(Default));
    qputenv("LANG", Saved);
}

void TestGnuGetText::KeepsLineBreaksInWindowsForm() {
    TGnuGetText Service;
    Service.SetCurrentLanguage("de");
    QCOMPARE(Service.Translate("Line one\r\nLine two"), QString("Zeile eins\r\nZeile zwei"));
    QCOMPARE(Service.Translate("Untranslated\nline"), QString("Untranslated\r\nline"));
}

void TestGnuGetText::SwitchesADomainOffForAnotherCharset() {
    TGnuGetText Service;
    QStringList Shown;
    Service.SetMessageHandler(
        [&](const QString& Caption, const QString& Text) { Shown << Caption + ": " + Text; });
    Service.SetCurrentLanguage("fr");
    QCOMPARE(Service.Translate("Update"), QString("Update"));
    QCOMPARE(Service.Translate("Update"), QString("Update"));
    QCOMPARE(Shown, QStringList({"Localization problem: The translation for the language code fr "
                                 "(in " +
                                 FFolder.path() +
                                 "/Harkavelfr.mo) does not have charset=utf-8 in its "
                                 "Content-Type. Translations are turned off."}));
    Service.SetCurrentLanguage("de"); // the domain stays off for the rest of the run
    QCOMPARE(Service.Translate("Update"), QString("Update"));
    QCOMPARE(Shown.size(), 1);
    // The other domain is still on.
    QCOMPARE(Service.TranslateIn("languages", "Update"), QString("Aktualisierung"));
}

void TestGnuGetText::TranslatesSafelyWhileTheLanguageChanges() {
    // The update thread translates status texts while the main thread applies languages. Each
    // answer is whole and in one of the languages; each language comes up while they change;
    // and once the main thread has settled on one, the other thread's next lookups are in it.
    TGnuGetText Service;
    Service.SetCurrentLanguage("de");
    const QStringList Allowed = {"Suche beendet", "Análisis terminado", "Scan finished"};
    std::atomic<bool> Stop{false}, Settled{false};
    std::atomic<int> Lookups{0}, Wrong{0}, StaleAfterSettling{0};
    std::atomic<bool> Seen[3] = {false, false, false};
    std::thread Updater([&] {
        while (!Stop.load()) {
            const bool After = Settled.load(); // read before the lookup
            const qsizetype Answer = Allowed.indexOf(Service.Translate("Scan finished"));
            if (Answer < 0)
                ++Wrong;
            else
                Seen[Answer] = true;
            if (After && Answer != 1)
                ++StaleAfterSettling;
            ++Lookups;
        }
    });
    const auto AllSeen = [&] { return Seen[0] && Seen[1] && Seen[2]; };
    for (int I = 0; I < 3000 || (!AllSeen() && I < 3000000); ++I)
        Service.SetCurrentLanguage(I % 3 == 0 ? "de" : I % 3 == 1 ? "es" : "en");
    Service.SetCurrentLanguage("es");
    Settled = true;
    const int Before = Lookups.load();
    while (Lookups.load() < Before + 1000)
        std::this_thread::yield();
    Stop = true;
    Updater.join();
    QCOMPARE(Wrong.load(), 0);
    QCOMPARE(StaleAfterSettling.load(), 0);
    QVERIFY2(AllSeen(), "a language never reached the other thread");
}

void TestGnuGetText::ReadsTheFuzzCorpusWithoutCrashing() {
    const QDir Corpus(QStringLiteral(HARKAVEL_SOURCE_DIR "/tests/fuzz/corpus/mo"));
    int Opened = 0;
    for (const QString& Name : Corpus.entryList(QDir::Files))
        if (const auto File = TMoFile::FromFile(Corpus.filePath(Name))) {
            ++Opened;
            File->Find("a");
        }
    QVERIFY(Opened >= 4); // the cut-off one does not open
    const auto BigEndian = TMoFile::FromFile(Corpus.filePath("small-big-endian.mo"));
    QVERIFY(BigEndian);
    QCOMPARE(Find(*BigEndian, "a"), std::optional<QByteArray>("b"));
}

QTEST_GUILESS_MAIN(TestGnuGetText)
#include "TestGnuGetText.moc"
