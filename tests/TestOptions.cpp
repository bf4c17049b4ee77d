// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "settings/Options.h"
#include "support/TestSupport.h"
#include "xml/SimpleXML.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

QString FileFor(const QString& Language) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<options>\r\n\t<language>" + Language +
           "</language>\r\n</options>";
}

QByteArray ReadAll(const QString& Path) {
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

// The language a program start reads from the given file bytes, and the bytes it leaves.
struct TRun {
    QString Language;
    QByteArray Written;
};

} // namespace

class TestOptions : public QObject {
    Q_OBJECT
private slots:
    void init();
    void WritesTheFirstRunsFileByteForByte();
    void ReadsWhatItWrote();
    void ReadsSettingsFiles_data();
    void ReadsSettingsFiles();
    void ReplacesABrokenFileWithAGoodOne();
    void KeepsTheOldFileWhenWritingFails();
    void FallsBackToDotConfig();
    void NeverHangsOrFloodsOnAStrangeFile();
    void ReadsADeeplyNestedFileInLinearTime();

private:
    TRun Run(const QByteArray& Existing, const QString& Pick = QString());
    QString File() const { return FHome->path() + "/Harkavel/Options.xml"; }
    std::unique_ptr<QTemporaryDir> FHome;
};

void TestOptions::init() {
    FHome = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FHome->path()));
}

TRun TestOptions::Run(const QByteArray& Existing, const QString& Pick) {
    if (!Existing.isNull())
        support::WriteFile(File(), Existing);
    TRun Result;
    {
        TOptions Options;
        Result.Language = Options.Language;
        if (!Pick.isNull())
            Options.Language = Pick;
    }
    Result.Written = ReadAll(File());
    return Result;
}

void TestOptions::WritesTheFirstRunsFileByteForByte() {
    const TRun First = Run(QByteArray());
    QCOMPARE(First.Language, QString("en"));
    QCOMPARE(First.Written.size(), 174);
    QCOMPARE(First.Written, support::Utf16Bytes(FileFor("en")));
    QVERIFY(First.Written.startsWith(QByteArray("\x3C\x00\x3F\x00\x78\x00\x6D\x00\x6C\x00", 10)));
}

void TestOptions::ReadsWhatItWrote() {
    Run(QByteArray(), "de");
    QCOMPARE(Run(QByteArray()).Language, QString("de"));
    QCOMPARE(SettingsFolder(), FHome->path() + "/Harkavel/");
}

void TestOptions::ReadsSettingsFiles_data() {
    QTest::addColumn<QByteArray>("Existing");
    QTest::addColumn<QString>("Language");
    QTest::newRow("other root name")
        << support::Utf16Bytes("<settings><language>es</language></settings>") << "es";
    QTest::newRow("no language element")
        << support::Utf16Bytes("<options><other>x</other></options>") << "";
    QTest::newRow("surrounding spaces")
        << support::Utf16Bytes("<options><language> de </language></options>") << " de ";
    QTest::newRow("two language elements")
        << support::Utf16Bytes("<options><language>de</language><language>es</language></options>")
        << "de";
    QTest::newRow("8-bit file") << QByteArray("<options><language>de</language></options>") << "en";
    QTest::newRow("cut off after language")
        << support::Utf16Bytes("<options>\r\n\t<language>de</language>\r\n") << "en";
}

void TestOptions::ReadsSettingsFiles() {
    QFETCH(QByteArray, Existing);
    QFETCH(QString, Language);
    const TRun Result = Run(Existing);
    QCOMPARE(Result.Language, Language);
    // Whatever was there, the program end leaves a file in the program's own form.
    QCOMPARE(Result.Written,
             support::Utf16Bytes(Language.isEmpty()
                                     ? QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                               "<options>\r\n\t<language/>\r\n</options>")
                                     : FileFor(Language)));
}

void TestOptions::ReplacesABrokenFileWithAGoodOne() {
    QByteArray Hostile = support::Utf16Bytes("<options><language>de");
    Hostile += QByteArray(1000, '\xFF');
    const TRun Result = Run(Hostile);
    QCOMPARE(Result.Language, QString("en"));
    QCOMPARE(Result.Written, support::Utf16Bytes(FileFor("en")));
}

void TestOptions::KeepsTheOldFileWhenWritingFails() {
    // A full disk, as the kernel reports it: no file may grow past 100 bytes (root ignores
    // permission bits, so a read-only folder would not fail here).
    const QByteArray Old = support::Utf16Bytes(FileFor("de"));
    QVERIFY(support::WriteFile(File(), Old));
    rlimit Saved;
    getrlimit(RLIMIT_FSIZE, &Saved);
    signal(SIGXFSZ, SIG_IGN);
    {
        TOptions Options;
        QCOMPARE(Options.Language, QString("de"));
        Options.Language = "es";
        rlimit Small = Saved;
        Small.rlim_cur = 100;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &Small), 0);
    }
    setrlimit(RLIMIT_FSIZE, &Saved);
    QCOMPARE(ReadAll(File()), Old);
}

void TestOptions::FallsBackToDotConfig() {
    qputenv("XDG_CONFIG_HOME", "");
    const QByteArray Home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(FHome->path()));
    const QString Folder = SettingsFolder();
    qputenv("HOME", Home);
    QCOMPARE(Folder, FHome->path() + "/.config/Harkavel/");
    QVERIFY(QFileInfo(Folder).isDir());
}

// A FIFO in the settings file's place would block the start for ever; /dev/zero or a huge
// file would exhaust memory. Each is read as no file: the language stays the default.
void TestOptions::NeverHangsOrFloodsOnAStrangeFile() {
    QDir().mkpath(FHome->path() + "/Harkavel");
    QCOMPARE(mkfifo(QFile::encodeName(File()).constData(), 0600), 0);
    QCOMPARE(Run(QByteArray()).Language, QString("en"));
    QFile::remove(File());
    // A twin of /dev/zero of the test's own: a save that wrote through the link would replace
    // this node, never the machine's /dev/zero.
    const QString Zero = FHome->path() + "/zero";
    if (mknod(QFile::encodeName(Zero).constData(), S_IFCHR | 0666, makedev(1, 5)) == 0) {
        QVERIFY(QFile::link(Zero, File()));
        QCOMPARE(Run(QByteArray()).Language, QString("en"));
        struct stat Info;
        QCOMPARE(stat(QFile::encodeName(Zero).constData(), &Info), 0);
        QVERIFY(S_ISCHR(Info.st_mode)); // the save replaced the link, not the device
        QVERIFY(!QFileInfo(File()).isSymLink());
    }
    QFile::remove(File());
    QString Huge = FileFor("de");
    Huge.insert(Huge.indexOf("<options>"), "<!--" + QString(600000, 'x') + "-->");
    QCOMPARE(Run(support::Utf16Bytes(Huge)).Language, QString("en")); // over 1 MiB
    Huge.replace(QString(600000, 'x'), QString(400000, 'x'));
    QCOMPARE(Run(support::Utf16Bytes(Huge)).Language, QString("de")); // under it
}

// The language's text inside as many nested elements as the reader takes: read once, not
// copied once per level.
void TestOptions::ReadsADeeplyNestedFileInLinearTime() {
    constexpr int Depth = MaxXmlDepth - 10;
    const QString Text(400000, 'z');
    QString Nested = "<?xml version=\"1.0\"?><options><language>";
    Nested += QString("<a>").repeated(Depth) + Text + QString("</a>").repeated(Depth);
    Nested += "</language></options>";
    QElapsedTimer Timer;
    Timer.start();
    QCOMPARE(Run(support::Utf16Bytes(Nested)).Language, Text);
    qInfo("read in %lld ms", Timer.elapsed());
}

QTEST_GUILESS_MAIN(TestOptions)
#include "TestOptions.moc"
