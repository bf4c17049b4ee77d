// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "engine/LibClamAV.h"
#include "platform/DebugOutput.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct TOptionSets {
    uint32_t General, Parse, Heuristic, Mail, Dev;
};

TOptionSets SetsOf(uint32_t Word) {
    const cl_scan_options O = ScanOptionsFromWord(Word);
    return {O.general, O.parse, O.heuristic, O.mail, O.dev};
}

// Captures what the process writes on stderr while it lives.
class TStderrCapture {
public:
    TStderrCapture() {
        FFile.open();
        fflush(stderr);
        FSaved = dup(STDERR_FILENO);
        dup2(FFile.handle(), STDERR_FILENO);
    }
    QByteArray Finish() {
        fflush(stderr);
        dup2(FSaved, STDERR_FILENO);
        close(FSaved);
        FFile.seek(0);
        return FFile.readAll();
    }

private:
    QTemporaryFile FFile;
    int FSaved = -1;
};

} // namespace

class TestLibClamAV : public QObject {
    Q_OBJECT
private slots:
    void MapsEachOptionBit_data();
    void MapsEachOptionBit();
    void LeavesUnlistedBitsOff();
    void DefaultWordTurnsOnExactlyTheDesignedFeatures();
    void SetsTheScanLimitsOnTheEngine();
    void RoutesLibraryWarningsToTheDebugOutput();
};

void TestLibClamAV::MapsEachOptionBit_data() {
    QTest::addColumn<uint32_t>("Bit");
    QTest::addColumn<uint32_t>("General");
    QTest::addColumn<uint32_t>("Parse");
    QTest::addColumn<uint32_t>("Heuristic");
    QTest::newRow("archive") << 0x1u << 0u << uint32_t(CL_SCAN_PARSE_ARCHIVE) << 0u;
    QTest::newRow("mail") << 0x2u << 0u << uint32_t(CL_SCAN_PARSE_MAIL) << 0u;
    QTest::newRow("ole2") << 0x4u << 0u << uint32_t(CL_SCAN_PARSE_OLE2) << 0u;
    QTest::newRow("html") << 0x10u << 0u << uint32_t(CL_SCAN_PARSE_HTML) << 0u;
    QTest::newRow("pe") << 0x20u << 0u << uint32_t(CL_SCAN_PARSE_PE) << 0u;
    QTest::newRow("algorithmic") << 0x200u << uint32_t(CL_SCAN_GENERAL_HEURISTICS) << 0u << 0u;
    QTest::newRow("pdf") << 0x4000u << 0u << uint32_t(CL_SCAN_PARSE_PDF) << 0u;
    QTest::newRow("structured") << 0x8000u << 0u << 0u << uint32_t(CL_SCAN_HEURISTIC_STRUCTURED);
    QTest::newRow("ssn normal") << 0x10000u << 0u << 0u
                                << uint32_t(CL_SCAN_HEURISTIC_STRUCTURED_SSN_NORMAL);
    QTest::newRow("ssn stripped") << 0x20000u << 0u << 0u
                                  << uint32_t(CL_SCAN_HEURISTIC_STRUCTURED_SSN_STRIPPED);
}

void TestLibClamAV::MapsEachOptionBit() {
    QFETCH(uint32_t, Bit);
    QFETCH(uint32_t, General);
    QFETCH(uint32_t, Parse);
    QFETCH(uint32_t, Heuristic);
    const TOptionSets Sets = SetsOf(Bit);
    QCOMPARE(Sets.General, General);
    QCOMPARE(Sets.Parse, Parse);
    QCOMPARE(Sets.Heuristic, Heuristic);
    QCOMPARE(Sets.Mail, 0u);
    QCOMPARE(Sets.Dev, 0u);
}

void TestLibClamAV::LeavesUnlistedBitsOff() {
    const uint32_t Listed = 0x1 | 0x2 | 0x4 | 0x10 | 0x20 | 0x200 | 0x4000 | 0x38000;
    for (int Bit = 0; Bit < 32; ++Bit) {
        const uint32_t Word = 1u << Bit;
        if (Word & Listed)
            continue;
        const TOptionSets Sets = SetsOf(Word);
        QVERIFY2(Sets.General == 0 && Sets.Parse == 0 && Sets.Heuristic == 0 && Sets.Mail == 0 &&
                     Sets.Dev == 0,
                 qPrintable(QString("bit 0x%1").arg(Word, 0, 16)));
    }
}

void TestLibClamAV::DefaultWordTurnsOnExactlyTheDesignedFeatures() {
    const TOptionSets Sets = SetsOf(0x4237 & ~0x38000u);
    QCOMPARE(Sets.Parse, uint32_t(CL_SCAN_PARSE_ARCHIVE | CL_SCAN_PARSE_MAIL | CL_SCAN_PARSE_OLE2 |
                                  CL_SCAN_PARSE_HTML | CL_SCAN_PARSE_PE | CL_SCAN_PARSE_PDF));
    QCOMPARE(Sets.General, uint32_t(CL_SCAN_GENERAL_HEURISTICS));
    QCOMPARE(Sets.Heuristic, 0u);
    // ELF, SWF, XML documents, HWP3, OneNote and images stay off.
    QCOMPARE(Sets.Parse & uint32_t(CL_SCAN_PARSE_ELF | CL_SCAN_PARSE_SWF | CL_SCAN_PARSE_XMLDOCS |
                                   CL_SCAN_PARSE_HWP3 | CL_SCAN_PARSE_ONENOTE |
                                   CL_SCAN_PARSE_IMAGE | CL_SCAN_PARSE_IMAGE_FUZZY_HASH),
             0u);
}

void TestLibClamAV::SetsTheScanLimitsOnTheEngine() {
    QCOMPARE(cl_init(CL_INIT_DEFAULT), CL_SUCCESS);
    cl_engine* Engine = cl_engine_new();
    const long long DefaultScanTime = cl_engine_get_num(Engine, CL_ENGINE_MAX_SCANTIME, nullptr);
    QCOMPARE(SetScanLimits(Engine), CL_SUCCESS);
    QCOMPARE(cl_engine_get_num(Engine, CL_ENGINE_MAX_SCANSIZE, nullptr), 20971520LL);
    QCOMPARE(cl_engine_get_num(Engine, CL_ENGINE_MAX_FILESIZE, nullptr), 20971520LL);
    QCOMPARE(cl_engine_get_num(Engine, CL_ENGINE_MAX_RECURSION, nullptr), 5LL);
    QCOMPARE(cl_engine_get_num(Engine, CL_ENGINE_MAX_FILES, nullptr), 0LL);
    QCOMPARE(cl_engine_get_num(Engine, CL_ENGINE_MIN_CC_COUNT, nullptr), 100LL);
    QCOMPARE(cl_engine_get_num(Engine, CL_ENGINE_MIN_SSN_COUNT, nullptr), 100LL);
    // Limits the program does not name keep the library's defaults.
    QCOMPARE(cl_engine_get_num(Engine, CL_ENGINE_MAX_SCANTIME, nullptr), DefaultScanTime);
    cl_engine_free(Engine);
}

void TestLibClamAV::RoutesLibraryWarningsToTheDebugOutput() {
    QTemporaryDir Folder;
    QVERIFY(support::WriteFile(Folder.path() + "/broken.hdb", "this is no signature\n"));
    QStringList Lines;
    SetDebugOutputSink([&Lines](const QString& Text) { Lines << Text; });
    RouteEngineMessages();

    TStderrCapture Stderr;
    QCOMPARE(cl_init(CL_INIT_DEFAULT), CL_SUCCESS);
    cl_engine* Engine = cl_engine_new();
    unsigned int Count = 0;
    const int Status =
        cl_load(QFile::encodeName(Folder.path()).constData(), Engine, &Count, DatabaseOptions);
    cl_engine_free(Engine);
    const QByteArray Printed = Stderr.Finish();
    SetDebugOutputSink(nullptr);

    QCOMPARE(Status, int(CL_EMALFDB));
    QVERIFY2(!Lines.filter("LibClamAV").isEmpty(), qPrintable(Lines.join('\n')));
    QVERIFY2(!Printed.contains("LibClamAV"), Printed.constData());
    QCOMPARE(EngineErrorText(CL_EMALFDB), QString("Malformed database"));
}

QTEST_GUILESS_MAIN(TestLibClamAV)
#include "TestLibClamAV.moc"
