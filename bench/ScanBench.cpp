// Scans one tree three ways in one run, with the same database and the same options:
//   (a) TVirusScanner, its events served by a Qt event loop on the main thread;
//   (b) a bare loop of cl_scanfile calls over the same files;
//   (c) clamscan -r with options that match the program's.
// Prints files, bytes, seconds and the ratios (a)/(b) and (a)/(c), and checks that all three
// found the same infected files.
//
//   ScanBench [--copies N] [--rounds N] [--extra PATH]...
// Default tree: ClamAV's samples copied 50 times over, plus /usr/include.

#include "Median.h"
#include "engine/LibClamAV.h"
#include "engine/uClamDatabase.h"
#include "engine/uClamScan.h"
#include "engine/uVirusScanner.h"
#include "platform/NativePath.h"
#include "platform/ProgramPath.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ftw.h>
#include <thread>

namespace {

const QString Samples = QStringLiteral("/usr/share/clamav-testfiles");

struct TOutcome {
    double Seconds = 0;
    QSet<QString> Infected;
};

struct TTree {
    QStringList Targets;
    QStringList Files; // regular files, as the bare loop reaches them
    qint64 Bytes = 0;
};

QByteArray SampleDatabase() {
    return "Bench.ClamExe:0:*:" + QByteArray("CLAMessageBoxA").toHex() + "\n";
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

TOutcome ScanWithScanner(const QStringList& Targets) {
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
    QElapsedTimer Timer;
    Timer.start();
    Scanner.Start();
    while (!Ended)
        QEventLoop().processEvents(QEventLoop::WaitForMoreEvents);
    Outcome.Seconds = Timer.nsecsElapsed() / 1e9;
    Scanner.WaitFor();
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

TOutcome ScanWithClamscan(const QString& DatabaseFolder, const QStringList& Targets) {
    TOutcome Outcome;
    QStringList Arguments = {"--no-summary",
                             "--infected",
                             "-r",
                             "--database=" + DatabaseFolder,
                             "--scan-archive=yes",
                             "--scan-mail=yes",
                             "--scan-ole2=yes",
                             "--scan-html=yes",
                             "--scan-pe=yes",
                             "--scan-pdf=yes",
                             "--heuristic-alerts=yes",
                             "--scan-elf=no",
                             "--scan-swf=no",
                             "--scan-xmldocs=no",
                             "--scan-hwp3=no",
                             "--scan-onenote=no",
                             "--scan-image=no",
                             "--scan-image-fuzzy-hash=no",
                             "--detect-structured=no",
                             "--max-scansize=20M",
                             "--max-filesize=20M",
                             "--max-recursion=5",
                             "--max-files=0",
                             "--bytecode=no"};
    Arguments << Targets;
    QProcess Clamscan;
    QElapsedTimer Timer;
    Timer.start();
    Clamscan.start("clamscan", Arguments);
    Clamscan.waitForFinished(-1);
    Outcome.Seconds = Timer.nsecsElapsed() / 1e9;
    for (const QString& Line : QString::fromUtf8(Clamscan.readAllStandardOutput()).split('\n'))
        if (Line.endsWith(" FOUND"))
            Outcome.Infected << Line.left(Line.lastIndexOf(": "));
    return Outcome;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication Application(argc, argv);
    int Copies = 50, Rounds = 5;
    QStringList Extra;
    const QStringList Arguments = Application.arguments();
    for (int I = 1; I + 1 < Arguments.size(); I += 2) {
        if (Arguments[I] == "--copies")
            Copies = Arguments[I + 1].toInt();
        else if (Arguments[I] == "--rounds")
            Rounds = std::max(1, Arguments[I + 1].toInt());
        else if (Arguments[I] == "--extra")
            Extra << Arguments[I + 1];
    }
    if (Extra.isEmpty())
        Extra << "/usr/include";

    QTemporaryDir ProgramFolder, TreeFolder;
    QFile Database(ProgramFolder.path() + "/bench.ndb");
    if (!Database.open(QIODevice::WriteOnly) || Database.write(SampleDatabase()) < 0)
        return 1;
    Database.close();
    testing::SetProgramFolder(ProgramFolder.path());

    const TTree Tree = BuildTree(TreeFolder.path(), Copies, Extra);
    std::printf("tree: %lld files, %lld bytes (%d sample copies + %s)\n", qint64(Tree.Files.size()),
                Tree.Bytes, Copies, qPrintable(Extra.join(", ")));

    // The first scan loads the engine and warms the file cache; it is not timed.
    const TOutcome Warm = ScanWithScanner(Tree.Targets);
    // The machine's speed drifts: each round measures the three ways back to back, alternating
    // which of (a) and (b) goes first, and the ratios are taken within a round.
    QList<double> A, B, C, AOverB, AOverC;
    TOutcome LastA, LastB, LastC;
    for (int Round = 0; Round < Rounds; ++Round) {
        if (Round % 2 == 0) {
            LastA = ScanWithScanner(Tree.Targets);
            LastB = ScanWithBareLoop(Tree);
        } else {
            LastB = ScanWithBareLoop(Tree);
            LastA = ScanWithScanner(Tree.Targets);
        }
        LastC = ScanWithClamscan(ProgramFolder.path(), Tree.Targets);
        A << LastA.Seconds, B << LastB.Seconds, C << LastC.Seconds;
        AOverB << LastA.Seconds / LastB.Seconds, AOverC << LastA.Seconds / LastC.Seconds;
        std::printf("round %d: (a) %.3f s  (b) %.3f s  (c) %.3f s  (a)/(b) %.3f  (a)/(c) %.3f\n",
                    Round + 1, LastA.Seconds, LastB.Seconds, LastC.Seconds, AOverB.last(),
                    AOverC.last());
    }
    std::printf("median of %d rounds: (a) scanner %.3f s, (b) bare cl_scanfile %.3f s, "
                "(c) clamscan %.3f s\n",
                Rounds, Median(A), Median(B), Median(C));
    std::printf("(a)/(b) = %.3f   (a)/(c) = %.3f   (medians of the rounds' ratios)\n",
                Median(AOverB), Median(AOverC));
    const bool Same = LastA.Infected == LastB.Infected && LastA.Infected == LastC.Infected &&
                      LastA.Infected == Warm.Infected;
    std::printf("infected files: (a) %lld (b) %lld (c) %lld: %s\n", qint64(LastA.Infected.size()),
                qint64(LastB.Infected.size()), qint64(LastC.Infected.size()),
                Same ? "the same" : "DIFFERENT");
    TClamDatabase::ReleaseInstance();
    return Same ? 0 : 1;
}
