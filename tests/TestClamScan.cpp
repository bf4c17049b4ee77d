// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "engine/LibClamAV.h"
#include "engine/uClamDatabase.h"
#include "engine/uClamScan.h"
#include "platform/FileSystem.h"
#include "platform/NativePath.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

struct TScanResult {
    HRESULT Result;
    QString VirusName;
    uint32_t Total;
    int32_t Status;
};

TScanResult Scan(IClamScan* Service, const QString& Path, uint32_t Total = 0) {
    TScanResult R{S_OK, "stale", Total, -7};
    R.Result = Service->ScanFile(Path, R.VirusName, R.Total, R.Status);
    return R;
}

// LoadDatabase refuses the main thread, so tests load from a thread of their own.
HRESULT LoadOnWorker(IClamScan* Service, int32_t& Status) {
    HRESULT Result = S_OK;
    std::thread([&] { Result = Service->LoadDatabase(Status); }).join();
    return Result;
}

} // namespace

class TestClamScan : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { support::ResetEngineHolder(); } // the program releases it too
    void ScansNothingBeforeTheEngineIsLoaded();
    void RefusesToLoadOnTheMainThread();
    void LoadsOnceFromTheProgramFolder();
    void ReportsVirusesCleanFilesAndEngineErrors();
    void ClearsStructuredDataDetectionFromEveryScan();
    void NeverHandsASpecialFileToTheEngine();
    void NeverBlocksOnAFifoSwappedIn();
    void GivesTheEngineTextForEveryStatus();
    void AnswersQueriesForItsInterfaces();

private:
    support::TTestProgramFolder FProgramFolder;
    QTemporaryDir FFiles;
    TInterfacePtr<IClamScan> FService{new TClamScan};
};

void TestClamScan::initTestCase() {
    FProgramFolder.WriteSampleDatabase();
    QVERIFY(support::WriteFile(FFiles.path() + "/eicar.com", support::EicarBytes()));
    QVERIFY(support::WriteFile(FFiles.path() + "/clean.txt", "nothing to see\n"));
}

void TestClamScan::ScansNothingBeforeTheEngineIsLoaded() {
    const TScanResult R = Scan(FService.Get(), FFiles.path() + "/eicar.com", 41);
    QCOMPARE(R.Result, S_OK);
    QCOMPARE(R.Status, 0);
    QCOMPARE(R.VirusName, QString());
    QCOMPARE(R.Total, 41u);
}

void TestClamScan::RefusesToLoadOnTheMainThread() {
    int32_t Status = 12345;
    SetErrorInfo(QString());
    QCOMPARE(FService->LoadDatabase(Status), E_UNEXPECTED);
    QCOMPARE(Status, 12345);
    QVERIFY(!TClamDatabase::Instance()->IsLoaded());
    const QString Message = GetErrorInfo();
    QVERIFY2(Message.startsWith("Assertion failure (uClamScan, line "), qPrintable(Message));
    try {
        CheckServiceStatus(E_UNEXPECTED);
        QFAIL("no error raised");
    } catch (const EServiceError& E) {
        QCOMPARE(E.Message(), Message);
        QCOMPARE(E.Status(), E_UNEXPECTED);
    }
}

void TestClamScan::LoadsOnceFromTheProgramFolder() {
    int32_t Status = -1;
    QCOMPARE(LoadOnWorker(FService.Get(), Status), S_OK);
    QCOMPARE(Status, 0);
    uint32_t Count = 0;
    QCOMPARE(FService->GetSignatureCount(Count), S_OK);
    QCOMPARE(Count, 2u);

    // Changed databases take effect only in a new process.
    QVERIFY(support::WriteFile(FProgramFolder.Path() + "more.ndb", "More:0:*:41424344454647\n"));
    Status = -1;
    QCOMPARE(LoadOnWorker(FService.Get(), Status), S_OK);
    QCOMPARE(Status, 0);
    QCOMPARE(FService->GetSignatureCount(Count), S_OK);
    QCOMPARE(Count, 2u);
}

void TestClamScan::ReportsVirusesCleanFilesAndEngineErrors() {
    TScanResult R = Scan(FService.Get(), support::ClamTestFiles + "/clam.exe");
    QCOMPARE(R.Status, int(CL_VIRUS));
    QCOMPARE(R.VirusName, support::ClamExeVirusName);

    R = Scan(FService.Get(), FFiles.path() + "/eicar.com");
    QCOMPARE(R.Status, int(CL_VIRUS));
    QCOMPARE(R.VirusName, support::EicarVirusName);

    R = Scan(FService.Get(), FFiles.path() + "/clean.txt");
    QCOMPARE(R.Result, S_OK);
    QCOMPARE(R.Status, int(CL_CLEAN));
    QCOMPARE(R.VirusName, QString());

    // The count grows by the file's share whatever it starts at: the scan workers count each
    // file from zero and the scanner adds the shares up.
    // Two files of the same size: the engine remembers a clean file and does not read it again.
    const QString Large = FFiles.path() + "/large", Other = FFiles.path() + "/other";
    QVERIFY(support::WriteFile(Large, QByteArray(256 * 1024, 'x')));
    QVERIFY(support::WriteFile(Other, QByteArray(256 * 1024, 'y')));
    const uint32_t Share = Scan(FService.Get(), Large).Total;
    QVERIFY(Share > 0);
    QCOMPARE(Scan(FService.Get(), Other, 1000).Total, 1000 + Share);

    QVERIFY(symlink("missing", QFile::encodeName(FFiles.path() + "/dangling")) == 0);
    R = Scan(FService.Get(), FFiles.path() + "/dangling");
    QCOMPARE(R.Status, int(CL_EOPEN));
    QCOMPARE(R.VirusName, QString());
}

// An option word that asks for structured-data detection (0x38000) still scans without it.
// The control scan shows that the engine would report the file with those bits set.
void TestClamScan::ClearsStructuredDataDetectionFromEveryScan() {
    QByteArray Cards;
    for (int I = 0; I < 300; ++I)
        Cards += "4111 1111 1111 1111\n";
    const QString Path = FFiles.path() + "/cards.txt";
    QVERIFY(support::WriteFile(Path, Cards));
    const uint32_t Asking = DefaultScanOptions | StructuredScanOptions;

    cl_scan_options Unmasked = ScanOptionsFromWord(Asking);
    const char* Name = nullptr;
    unsigned long Scanned = 0;
    QCOMPARE(cl_scanfile(QFile::encodeName(Path).constData(), &Name, &Scanned,
                         TClamDatabase::Instance()->Engine(), &Unmasked),
             CL_VIRUS);
    QVERIFY2(QByteArray(Name).startsWith("Heuristics.Structured"), Name);

    TInterfacePtr<IClamScan> Service(new TClamScan(Asking));
    const TScanResult R = Scan(Service.Get(), Path);
    QCOMPARE(R.Status, int(CL_CLEAN));
    QCOMPARE(R.VirusName, QString());
}

void TestClamScan::NeverHandsASpecialFileToTheEngine() {
    const QString Fifo = FFiles.path() + "/fifo";
    QVERIFY(mkfifo(QFile::encodeName(Fifo), 0644) == 0);
    auto Pending = std::async(std::launch::async, [&] { return Scan(FService.Get(), Fifo); });
    if (Pending.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // The engine is blocked reading the FIFO: give it a writer so the test can end.
        const int Writer = open(QFile::encodeName(Fifo), O_WRONLY);
        close(Writer);
        Pending.wait();
        QFAIL("a FIFO reached the engine");
    }
    QCOMPARE(Pending.get().Status, int(CL_CLEAN));
    QCOMPARE(Scan(FService.Get(), "/dev/zero").Status, int(CL_CLEAN));
}

// A file exchanged for a FIFO while it is being scanned, again and again: a check of the path
// followed by the engine's own open by name blocked for good after some thousand files. The
// file is opened once and read by its descriptor, so every scan ends, and a find is always
// the file.
void TestClamScan::NeverBlocksOnAFifoSwappedIn() {
    int32_t Loaded = -1;
    QCOMPARE(LoadOnWorker(FService.Get(), Loaded), S_OK);
    QCOMPARE(Loaded, int(CL_SUCCESS));
    QTemporaryDir Dir;
    const QByteArray File = QFile::encodeName(Dir.path() + "/file");
    const QByteArray Fifo = QFile::encodeName(Dir.path() + "/fifo");
    QVERIFY(support::WriteFile(Dir.path() + "/file", support::EicarBytes()));
    const TFileStamp Infected = StampOfFile(Dir.path() + "/file");
    QVERIFY(mkfifo(Fifo, 0644) == 0);
    if (renameat2(AT_FDCWD, File, AT_FDCWD, Fifo, RENAME_EXCHANGE) != 0)
        QSKIP("this file system cannot exchange two names");
    std::atomic<bool> Stop{false}, Finished{false}, WrongFind{false};
    std::atomic<int> Finds{0};
    std::thread Swapper([&] {
        while (!Stop)
            renameat2(AT_FDCWD, File, AT_FDCWD, Fifo, RENAME_EXCHANGE);
    });
    std::thread Scanner([&] {
        for (int I = 0; I < 20000 && !Stop; ++I) {
            QString Name;
            uint32_t Total = 0;
            int32_t Status = 0;
            TFileStamp Found;
            FService->ScanStampedFile(Dir.path() + "/file", Name, Total, Status, Found);
            if (Status == CL_VIRUS) {
                ++Finds;
                WrongFind = WrongFind || !(Found == Infected);
            }
        }
        Finished = true;
    });
    QDeadlineTimer Watchdog(60000);
    while (!Finished && !Watchdog.hasExpired())
        QThread::msleep(20);
    const bool Blocked = !Finished;
    Stop = true;
    Swapper.join();
    // A scan blocked in the FIFO's open or read ends once a writer comes and goes.
    for (const QByteArray& Name : {File, Fifo}) {
        const int Writer = open(Name, O_WRONLY | O_NONBLOCK);
        if (Writer >= 0)
            close(Writer);
    }
    Scanner.join();
    QVERIFY2(!Blocked, "a scan blocked on the FIFO");
    QVERIFY(Finds > 0);
    QVERIFY(!WrongFind);
}

void TestClamScan::GivesTheEngineTextForEveryStatus() {
    for (int32_t Status : {0, 1, int(CL_EOPEN), int(CL_EACCES), int(CL_EMALFDB)}) {
        QString Text = "stale";
        QCOMPARE(FService->GetErrorText(Status, Text), S_OK);
        QCOMPARE(Text, QString::fromUtf8(cl_strerror(cl_error_t(Status))));
    }
    QString Text;
    FService->GetErrorText(CL_EOPEN, Text);
    QCOMPARE(Text, QString("Can't open file or directory"));
}

void TestClamScan::AnswersQueriesForItsInterfaces() {
    const uint32_t Before = static_cast<TClamScan*>(FService.Get())->RefCount();
    void* Obj = nullptr;
    QCOMPARE(FService->QueryInterface(IClamScan::IID, &Obj), S_OK);
    QCOMPARE(Obj, static_cast<void*>(FService.Get()));
    QCOMPARE(FService->QueryInterface(IInterface::IID, &Obj), S_OK);
    QCOMPARE(static_cast<TClamScan*>(FService.Get())->RefCount(), Before + 2);
    FService->_Release();
    FService->_Release();
    QCOMPARE(FService->QueryInterface(QUuid::createUuid(), &Obj), E_NOINTERFACE);
    QCOMPARE(Obj, nullptr);
}

QTEST_GUILESS_MAIN(TestClamScan)
#include "TestClamScan.moc"
