// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// Scans one tree six ways in one run, with the same database and the same options:
//   (a) TVirusScanner with one worker, its events served by a Qt event loop on the main thread;
//   (b) a bare loop of cl_scanfile calls over the same files;
//   (c) clamscan -r with options that match the program's;
//   (d) TVirusScanner with all its workers (as many as the program picks for this machine);
//   (e) a clamd started here with the same database, options and limits, driven by
//       clamdscan --multiscan --fdpass;
//   (f) as many clamscan processes as (d) has workers, each scanning an equal share of the file
//       list (clamscan -f) at once, timed as a whole: what this machine gives at best.
// The clamscan ways load their database in every run; their times are also printed without
// that load ("net": the same processes timed on one empty file each, taken off), and the goals
// are judged against the net times. Prints the ratios, the peak memory of (a), (d) and clamd,
// and checks that all ways found the same infected files.
//
//   ScanBench [--copies N] [--rounds N] [--extra PATH]... [--database sample|heavy|both]
//             [--heavy-signatures N]
// Default tree: ClamAV's samples copied 50 times over, plus /usr/include. The heavy database
// adds N random body signatures and N random file hashes (default 250,000 each) to the sample
// one, so that matching dominates as with the public databases.

#include "Median.h"
#include "Memory.h"
#include "engine/LibClamAV.h"
#include "engine/uClamDatabase.h"
#include "engine/uClamScan.h"
#include "engine/uVirusScanner.h"
#include "platform/NativePath.h"
#include "platform/ProgramPath.h"
#include "platform/Thread.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <ftw.h>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

const QString Samples = QStringLiteral("/usr/share/clamav-testfiles");

struct TOutcome {
    double Seconds = 0;
    QSet<QString> Infected;
    long PeakKilobytes = 0; // of the process that scanned, where measured
};

struct TTree {
    QStringList Targets;
    QStringList Files; // regular files, as the bare loop reaches them
    qint64 Bytes = 0;
};

QByteArray SampleDatabase() {
    return "Bench.ClamExe:0:*:" + QByteArray("CLAMessageBoxA").toHex() + "\n";
}

// Random signatures that match nothing in the tree but make the engine work for every byte:
// body signatures of 12 to 27 bytes and MD5 hashes of sizes the tree has.
bool WriteHeavyDatabase(const QString& Folder, int Signatures) {
    QRandomGenerator Random(20261209);
    QByteArray Bodies, Hashes;
    for (int I = 0; I < Signatures; ++I) {
        QByteArray Pattern(12 + int(Random.bounded(16)), Qt::Uninitialized);
        for (char& Byte : Pattern)
            Byte = char(Random.bounded(256));
        Bodies += "Bench.Heavy." + QByteArray::number(I) + ":0:*:" + Pattern.toHex() + "\n";
        QByteArray Digest(16, Qt::Uninitialized);
        for (char& Byte : Digest)
            Byte = char(Random.bounded(256));
        Hashes += Digest.toHex() + ":" + QByteArray::number(1 + Random.bounded(100000)) +
                  ":Bench.Hash." + QByteArray::number(I) + "\n";
    }
    QFile Ndb(Folder + "/heavy.ndb"), Hdb(Folder + "/heavy.hdb");
    return Ndb.open(QIODevice::WriteOnly) && Ndb.write(Bodies) == Bodies.size() &&
           Hdb.open(QIODevice::WriteOnly) && Hdb.write(Hashes) == Hashes.size();
}

TTree* CollectingTree = nullptr;
int CollectFile(const char* Path, const struct stat* Info, int Type, FTW*) {
    if (Type == FTW_F && S_ISREG(Info->st_mode)) {
        CollectingTree->Files << PathFromNative(Path);
        CollectingTree->Bytes += Info->st_size;
    }
    return 0;
}

TTree BuildTree(const QString& Root, int Copies, const QStringList& Extra) {
    TTree Tree;
    const QStringList Names = QDir(Samples).entryList(QDir::Files);
    for (int Copy = 0; Copy < Copies; ++Copy) {
        const QString Folder = QString("%1/copy%2").arg(Root).arg(Copy);
        QDir().mkpath(Folder);
        for (const QString& Name : Names)
            QFile::copy(Samples + "/" + Name, Folder + "/" + Name);
    }
    Tree.Targets << Root << Extra;
    for (const QString& Target : Tree.Targets) {
        CollectingTree = &Tree;
        nftw(PathToNative(Target).constData(), &CollectFile, 64, FTW_PHYS);
    }
    return Tree;
}

TOutcome ScanWithScanner(const QStringList& Targets, int Workers) {
    qputenv("HARKAVEL_SCAN_THREADS", QByteArray::number(Workers));
    TOutcome Outcome;
    bool Ended = false;
    TVirusScanner Scanner(true, Targets);
    Scanner.OnVirusFound = [&](TVirusScanner*, const QString& Path, const QString&) {
        Outcome.Infected << Path;
    };
    Scanner.OnProgress = [](TVirusScanner*, const QString&) {};
    Scanner.OnError = [](TVirusScanner*, const QString& Path, const QString& Text) {
        std::fprintf(stderr, "error %s: %s\n", qPrintable(Path), qPrintable(Text));
    };
    Scanner.OnTerminate = [&](TThread*) { Ended = true; };
    ResetPeakMemory();
    QElapsedTimer Timer;
    Timer.start();
    Scanner.Start();
    while (!Ended)
        QEventLoop().processEvents(QEventLoop::WaitForMoreEvents);
    Outcome.Seconds = Timer.nsecsElapsed() / 1e9;
    Scanner.WaitFor();
    Outcome.PeakKilobytes = StatusKilobytes("VmHWM:");
    return Outcome;
}

struct TBareLoop {
    const cl_engine* Engine;
    cl_scan_options Options;
    unsigned long Scanned = 0;
    TOutcome* Outcome;
};
TBareLoop* RunningLoop = nullptr;

int ScanWalkedFile(const char* Path, const struct stat* Info, int Type, FTW*) {
    if (Type != FTW_F || !S_ISREG(Info->st_mode))
        return 0;
    const char* Name = nullptr;
    if (cl_scanfile(Path, &Name, &RunningLoop->Scanned, RunningLoop->Engine,
                    &RunningLoop->Options) == CL_VIRUS)
        RunningLoop->Outcome->Infected << PathFromNative(Path);
    return 0;
}

// The engine alone: the tree walked by nftw, every regular file handed to cl_scanfile, on a
// thread of its own with the main thread idle, as the scanner runs.
TOutcome ScanWithBareLoop(const TTree& Tree) {
    TOutcome Outcome;
    TBareLoop Loop{TClamDatabase::Instance()->Engine(),
                   ScanOptionsFromWord(DefaultScanOptions & ~StructuredScanOptions), 0, &Outcome};
    QElapsedTimer Timer;
    Timer.start();
    std::thread([&] {
        RunningLoop = &Loop;
        for (const QString& Target : Tree.Targets)
            nftw(PathToNative(Target).constData(), &ScanWalkedFile, 64, FTW_PHYS);
    }).join();
    Outcome.Seconds = Timer.nsecsElapsed() / 1e9;
    return Outcome;
}

// The program's options and limits in clamd's words, as ClamscanOptionsMatchingProgram gives
// them in clamscan's.
const char* ClamdOptions = "ScanArchive yes\nScanMail yes\nScanOLE2 yes\nScanHTML yes\n"
                           "ScanPE yes\nScanPDF yes\nHeuristicAlerts yes\nScanELF no\n"
                           "ScanSWF no\nScanXMLDOCS no\nScanHWP3 no\nScanOneNote no\n"
                           "ScanImage no\nScanImageFuzzyHash no\nStructuredDataDetection no\n"
                           "MaxScanSize 20M\nMaxFileSize 20M\nMaxRecursion 5\nMaxFiles 0\n"
                           "Bytecode no\nPhishingSignatures yes\nPhishingScanURLs yes\n"
                           "MaxDirectoryRecursion 255\nSelfCheck 0\nForeground yes\n"
                           "LogFile /dev/null\n";

QSet<QString> FoundLines(const QByteArray& Output) {
    QSet<QString> Infected;
    for (const QString& Line : QString::fromUtf8(Output).split('\n'))
        if (Line.endsWith(" FOUND"))
            Infected << Line.left(Line.lastIndexOf(": "));
    return Infected;
}

TOutcome ScanWithClamscan(const QString& DatabaseFolder, const QStringList& Targets) {
    TOutcome Outcome;
    QProcess Clamscan;
    QElapsedTimer Timer;
    Timer.start();
    Clamscan.start("clamscan",
                   QStringList{"--no-summary", "--infected", "-r", "--database=" + DatabaseFolder} +
                       support::ClamscanOptionsMatchingProgram() + Targets);
    Clamscan.waitForFinished(-1);
    Outcome.Seconds = Timer.nsecsElapsed() / 1e9;
    Outcome.Infected = FoundLines(Clamscan.readAllStandardOutput());
    return Outcome;
}

// (f): one clamscan per list, all at once.
TOutcome ScanWithClamscans(const QString& DatabaseFolder, const QStringList& Lists) {
    TOutcome Outcome;
    std::vector<std::unique_ptr<QProcess>> Clamscans;
    QElapsedTimer Timer;
    Timer.start();
    for (const QString& List : Lists) {
        Clamscans.push_back(std::make_unique<QProcess>());
        Clamscans.back()->start(
            "clamscan",
            QStringList{"--no-summary", "--infected", "--database=" + DatabaseFolder, "-f", List} +
                support::ClamscanOptionsMatchingProgram());
    }
    for (auto& Clamscan : Clamscans)
        Clamscan->waitForFinished(-1);
    Outcome.Seconds = Timer.nsecsElapsed() / 1e9;
    for (auto& Clamscan : Clamscans)
        Outcome.Infected += FoundLines(Clamscan->readAllStandardOutput());
    return Outcome;
}

// The file list in Shares lists of equal length, dealt out in turn so that each gets its part
// of every folder.
QStringList WriteFileLists(const QString& Folder, const QStringList& Files, int Shares,
                           const QString& Prefix) {
    QList<QByteArray> Texts(Shares);
    for (qsizetype I = 0; I < Files.size(); ++I)
        Texts[I % Shares] += PathToNative(Files[I]) + "\n";
    QStringList Lists;
    for (int Share = 0; Share < Shares; ++Share) {
        QFile List(QString("%1/%2%3.txt").arg(Folder, Prefix).arg(Share));
        if (List.open(QIODevice::WriteOnly))
            List.write(Texts[Share]);
        Lists << List.fileName();
    }
    return Lists;
}

bool CanConnect(const QByteArray& SocketPath) {
    const int Socket = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    qstrncpy(Address.sun_path, SocketPath.constData(), sizeof(Address.sun_path));
    const bool Connected =
        ::connect(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) == 0;
    close(Socket);
    return Connected;
}

// A clamd of the bench's own on a socket in a temporary folder; loads before it answers.
class TClamd {
public:
    TClamd(const QString& DatabaseFolder, int Threads) {
        FConfig = FFolder.path() + "/clamd.conf";
        const QByteArray Socket = QFile::encodeName(FFolder.path() + "/clamd.sock");
        QFile Config(FConfig);
        if (!Config.open(QIODevice::WriteOnly))
            return;
        Config.write("LocalSocket " + Socket + "\nDatabaseDirectory " +
                     QFile::encodeName(DatabaseFolder) + "\nMaxThreads " +
                     QByteArray::number(Threads) + "\nTemporaryDirectory " +
                     QFile::encodeName(QDir::tempPath()) + "\n" + ClamdOptions);
        Config.close();
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProcess.setStandardOutputFile(QProcess::nullDevice()); // its start-up report
        FProcess.start("clamd", {"--config-file=" + FConfig});
        FProcess.waitForStarted();
        while (FProcess.state() != QProcess::NotRunning && !CanConnect(Socket))
            QThread::msleep(50);
        FReady = FProcess.state() == QProcess::Running;
    }
    ~TClamd() {
        FProcess.terminate();
        FProcess.waitForFinished(10000);
    }
    bool Ready() const { return FReady; }

    TOutcome Scan(const QStringList& Targets) {
        TOutcome Outcome;
        ResetPeakMemory(FProcess.processId());
        QProcess Clamdscan;
        QElapsedTimer Timer;
        Timer.start();
        Clamdscan.start("clamdscan", QStringList{"--config-file=" + FConfig, "--multiscan",
                                                 "--fdpass", "--no-summary", "--infected"} +
                                         Targets);
        Clamdscan.waitForFinished(-1);
        Outcome.Seconds = Timer.nsecsElapsed() / 1e9;
        Outcome.Infected = FoundLines(Clamdscan.readAllStandardOutput());
        Outcome.PeakKilobytes = StatusKilobytes("VmHWM:", FProcess.processId());
        return Outcome;
    }

private:
    QTemporaryDir FFolder;
    QString FConfig;
    QProcess FProcess;
    bool FReady = false;
};

struct TOptions {
    int Copies = 50;
    int Rounds = 5;
    QStringList Extra;
    QStringList Databases = {"sample", "heavy"};
    int HeavySignatures = 250000;
    int Workers = TVirusScanner::WorkerCount(); // before the bench sets the variable itself
};

struct TRounds {
    QList<double> A, B, C, D, E, F, CNet, FNet;
    QList<double> AOverB, AOverC, DOverA, DOverE, DOverF;
    long PeakA = 0, PeakD = 0, PeakE = 0;
};

// One database: the six ways, round after round, each round back to back so that the ratios
// are taken within a round while the machine's speed drifts.
bool MeasureWithDatabase(const QString& Name, const QString& DatabaseFolder, const TTree& Tree,
                         const TOptions& Options) {
    testing::SetProgramFolder(DatabaseFolder);
    const int Workers = Options.Workers;
    std::printf("\n== %s database, %d processors, %d workers for (d) and clamscans for (f)\n",
                qPrintable(Name), ProcessorCount(), Workers);
    QTemporaryDir ListFolder;
    const QStringList Lists = WriteFileLists(ListFolder.path(), Tree.Files, Workers, "share");
    const QString EmptyFile = ListFolder.path() + "/empty";
    QFile(EmptyFile).open(QIODevice::WriteOnly);
    // One empty file each: what is left is the load.
    const QStringList EmptyLists =
        WriteFileLists(ListFolder.path(), QStringList(Workers, EmptyFile), Workers, "empty");

    QElapsedTimer Loading;
    Loading.start();
    const TOutcome Warm = ScanWithScanner(Tree.Targets, 1); // loads the engine, warms the cache
    std::printf("first scan, engine load included: %.3f s\n", Loading.nsecsElapsed() / 1e9);
    TClamd Clamd(DatabaseFolder, Workers + 1); // clamd's walking thread takes one
    if (!Clamd.Ready()) {
        std::printf("clamd did not start\n");
        return false;
    }

    TRounds R;
    bool Same = true;
    for (int Round = 0; Round < Options.Rounds; ++Round) {
        TOutcome A, B, D;
        if (Round % 2 == 0) {
            A = ScanWithScanner(Tree.Targets, 1), B = ScanWithBareLoop(Tree);
            D = ScanWithScanner(Tree.Targets, Workers);
        } else {
            D = ScanWithScanner(Tree.Targets, Workers);
            B = ScanWithBareLoop(Tree), A = ScanWithScanner(Tree.Targets, 1);
        }
        const TOutcome C = ScanWithClamscan(DatabaseFolder, Tree.Targets);
        const TOutcome E = Clamd.Scan(Tree.Targets);
        const TOutcome F = ScanWithClamscans(DatabaseFolder, Lists);
        const double CLoad = ScanWithClamscan(DatabaseFolder, {EmptyFile}).Seconds;
        const double FLoad = ScanWithClamscans(DatabaseFolder, EmptyLists).Seconds;
        R.A << A.Seconds, R.B << B.Seconds, R.C << C.Seconds, R.D << D.Seconds, R.E << E.Seconds,
            R.F << F.Seconds;
        R.CNet << std::max(1e-3, C.Seconds - CLoad), R.FNet << std::max(1e-3, F.Seconds - FLoad);
        R.AOverB << A.Seconds / B.Seconds, R.AOverC << A.Seconds / R.CNet.last();
        R.DOverA << D.Seconds / A.Seconds, R.DOverE << D.Seconds / E.Seconds;
        R.DOverF << D.Seconds / R.FNet.last();
        R.PeakA = std::max(R.PeakA, A.PeakKilobytes), R.PeakD = std::max(R.PeakD, D.PeakKilobytes);
        R.PeakE = std::max(R.PeakE, E.PeakKilobytes);
        for (const TOutcome* Way : std::initializer_list<const TOutcome*>{&B, &C, &D, &E, &F})
            Same &= Way->Infected == A.Infected;
        Same &= A.Infected == Warm.Infected;
        std::printf("round %d: (a) %.3f (b) %.3f (c) %.3f [net %.3f] (d) %.3f (e) %.3f "
                    "(f) %.3f [net %.3f] s\n",
                    Round + 1, A.Seconds, B.Seconds, C.Seconds, R.CNet.last(), D.Seconds, E.Seconds,
                    F.Seconds, R.FNet.last());
        if (Round == 0)
            std::printf("infected files: (a) %lld (b) %lld (c) %lld (d) %lld (e) %lld (f) %lld\n",
                        qint64(A.Infected.size()), qint64(B.Infected.size()),
                        qint64(C.Infected.size()), qint64(D.Infected.size()),
                        qint64(E.Infected.size()), qint64(F.Infected.size()));
    }
    std::printf("medians of %d rounds: (a) %.3f (b) %.3f (c) %.3f [net %.3f] (d) %.3f (e) %.3f "
                "(f) %.3f [net %.3f] s\n",
                Options.Rounds, Median(R.A), Median(R.B), Median(R.C), Median(R.CNet), Median(R.D),
                Median(R.E), Median(R.F), Median(R.FNet));
    std::printf("(a)/(b) = %.3f   (a)/(c net) = %.3f   (d)/(a) = %.3f\n", Median(R.AOverB),
                Median(R.AOverC), Median(R.DOverA));
    const double DOverF = Median(R.DOverF), DOverE = Median(R.DOverE);
    std::printf("(d)/(f net) = %.3f (goal <= 1.10: %s)   (d)/(e) = %.3f (goal < 1: %s)\n", DOverF,
                DOverF <= 1.10 ? "met" : "MISSED", DOverE, DOverE < 1 ? "met" : "MISSED");
    std::printf("peak memory: (a) %.1f MB, (d) %.1f MB (%+.2f MB a worker), clamd %.1f MB\n",
                R.PeakA / 1024.0, R.PeakD / 1024.0, (R.PeakD - R.PeakA) / 1024.0 / Workers,
                R.PeakE / 1024.0);
    std::printf("infected files: %s\n", Same ? "the same in every way" : "DIFFERENT");
    TClamDatabase::ReleaseInstance(); // the next database needs an engine of its own
    return Same;
}

TOptions ReadOptions(const QStringList& Arguments) {
    TOptions Options;
    for (int I = 1; I + 1 < Arguments.size(); I += 2) {
        if (Arguments[I] == "--copies")
            Options.Copies = Arguments[I + 1].toInt();
        else if (Arguments[I] == "--rounds")
            Options.Rounds = std::max(1, Arguments[I + 1].toInt());
        else if (Arguments[I] == "--extra")
            Options.Extra << Arguments[I + 1];
        else if (Arguments[I] == "--database" && Arguments[I + 1] != "both")
            Options.Databases = QStringList{Arguments[I + 1]};
        else if (Arguments[I] == "--heavy-signatures")
            Options.HeavySignatures = std::max(1, Arguments[I + 1].toInt());
    }
    if (Options.Extra.isEmpty())
        Options.Extra << "/usr/include";
    return Options;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication Application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // rounds show as they end, also into a file
    const TOptions Options = ReadOptions(Application.arguments());
    QTemporaryDir TreeFolder;
    const TTree Tree = BuildTree(TreeFolder.path(), Options.Copies, Options.Extra);
    std::printf("tree: %lld files, %lld bytes (%d sample copies + %s)\n", qint64(Tree.Files.size()),
                Tree.Bytes, Options.Copies, qPrintable(Options.Extra.join(", ")));
    bool Same = true;
    for (const QString& Name : Options.Databases) {
        QTemporaryDir DatabaseFolder;
        QFile Database(DatabaseFolder.path() + "/bench.ndb");
        if (!Database.open(QIODevice::WriteOnly) || Database.write(SampleDatabase()) < 0)
            return 1;
        Database.close();
        if (Name == "heavy" && !WriteHeavyDatabase(DatabaseFolder.path(), Options.HeavySignatures))
            return 1;
        Same &= MeasureWithDatabase(Name, DatabaseFolder.path(), Tree, Options);
    }
    return Same ? 0 : 1;
}
