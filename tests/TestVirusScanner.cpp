// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "engine/LibClamAV.h"
#include "engine/uClamDatabase.h"
#include "engine/uVirusScanner.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/NativePath.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

const QString NoDatabases =
    "There are no signature databases yet: Start Update on the Update page fetches them";

using namespace harkavel; // the file attribute bits

using support::RunScan;
using support::TScanRecord;

namespace {

QString ProgressOf(const QString& Path) {
    return "progress " + Path;
}

// The files of a folder in the order the listing gives them.
QStringList ListedFiles(const QString& Folder) {
    QStringList Files;
    TFindFile Listing;
    TSearchRec Rec;
    if (Listing.FindFirst(IncludeTrailingPathDelimiter(Folder), Rec))
        do
            if (!(Rec.Attributes & FILE_ATTRIBUTE_DIRECTORY))
                Files << IncludeTrailingPathDelimiter(Folder) + Rec.Name;
        while (Listing.FindNext(Rec));
    return Files;
}

QString MakeWorldReadableDir(const QTemporaryDir& Dir) {
    chmod(QFile::encodeName(Dir.path()), 0755);
    return Dir.path();
}

// "path: Name FOUND" lines of clamscan, with the same database and matching options.
QSet<QString> ClamscanFindings(const QString& DatabaseFolder, const QString& Tree) {
    QProcess Clamscan;
    QStringList Arguments = support::ClamscanOptionsMatchingProgram();
    Arguments << "--no-summary"
              << "--infected"
              << "-r"
              << "--database=" + DatabaseFolder << Tree;
    Clamscan.start("clamscan", Arguments);
    Clamscan.waitForFinished(120000);
    QSet<QString> Findings;
    for (const QString& Line : QString::fromUtf8(Clamscan.readAllStandardOutput()).split('\n'))
        if (Line.endsWith(" FOUND"))
            Findings << Line.chopped(6).replace(": ", " ");
    return Findings;
}

// Sets how many threads the scans of a test use, and restores the setting of the run after.
class TScanThreads {
public:
    explicit TScanThreads(int Count) : FBefore(qgetenv("HARKAVEL_SCAN_THREADS")) {
        qputenv("HARKAVEL_SCAN_THREADS", QByteArray::number(Count));
    }
    ~TScanThreads() {
        if (FBefore.isNull())
            qunsetenv("HARKAVEL_SCAN_THREADS");
        else
            qputenv("HARKAVEL_SCAN_THREADS", FBefore);
    }

private:
    const QByteArray FBefore;
};

// Files that take very different times to scan, so that several workers end them out of the
// walk's order: ClamAV's samples (archives of every kind), large files, small infected and
// clean ones, and a link to nothing, which the engine cannot open.
void BuildMixedTree(const QString& Root, int Copies, int SampleStep = 1) {
    QStringList Samples;
    const QStringList AllSamples = QDir(support::ClamTestFiles).entryList(QDir::Files);
    for (qsizetype I = 0; I < AllSamples.size(); I += SampleStep)
        Samples << AllSamples[I];
    for (int Copy = 0; Copy < Copies; ++Copy) {
        const QString Folder = QString("%1/copy%2").arg(Root).arg(Copy);
        QDir().mkpath(Folder + "/deeper");
        for (const QString& Name : Samples)
            QFile::copy(support::ClamTestFiles + "/" + Name, Folder + "/" + Name);
        // The engine remembers clean files by their content: each large file is its own.
        support::WriteFile(Folder + "/large.bin", QByteArray(3 << 20, char('a' + Copy)));
        support::WriteFile(Folder + "/deeper/eicar.com", support::EicarBytes());
        for (int I = 0; I < 20; ++I)
            support::WriteFile(Folder + QString("/deeper/clean%1.txt").arg(I), "clean\n");
        QFile::link(Folder + "/missing", Folder + "/deeper/dangling");
    }
}

QStringList WithoutProgress(const QStringList& Events) {
    QStringList Outcomes;
    for (const QString& Event : Events)
        if (!Event.startsWith("progress "))
            Outcomes << Event;
    return Outcomes;
}

// The nice values of the process's threads, from /proc.
QList<int> ThreadNiceValues() {
    QList<int> Values;
    for (const QString& Task :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray Stat = support::ReadFile("/proc/self/task/" + Task + "/stat");
        // The fields after the command name, which is in parentheses and may hold spaces.
        const QList<QByteArray> Fields = Stat.mid(Stat.lastIndexOf(')') + 2).split(' ');
        if (Fields.size() > 16)
            Values << Fields[16].toInt(); // field 19 of the whole line
    }
    return Values;
}

} // namespace

class TestVirusScanner : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase() { support::ResetEngineHolder(); } // the program frees it too
    void EmptyTargetListStillLoadsTheEngine();
    void AnnouncesEveryThirdFile();
    void AnnouncesAnInfectedFirstFileBeforeItsVirus();
    void ReportsAnUnopenableTargetAndGoesOn();
    void RaisesNothingForMissingTargetsAndEmptyFolders();
    void FindsWhatClamscanFinds();
    void ScansAHostileTreeToTheEnd();
    void ReportsAnUnreadableFile();
    void StopsADeepWalkAtTheNextEntry();
    void ASecondScanReusesTheLoadedEngine();
    void ReportsMissingDatabasesWithTheProgramFolder();
    void WalksAFolderMountedInsideItselfOnce();
    void ScansEveryFileOfAVeryDeepTree();
    void UsesTheUsersDataFolderBesideAnInstalledProgram();
    void GivesTheSameEventsWithOneAndWithFourWorkers();
    void StopsCleanlyAtRandomMomentsWithFourWorkers();
    void RunsItsWorkersBelowTheMainThreadsPriority();
    void KeepsAWorkersFailureMessage();
    void WalksLinkedFoldersOnce();

private:
    support::TTestProgramFolder FProgramFolder;
};

void TestVirusScanner::initTestCase() {
    FProgramFolder.WriteSampleDatabase();
}

void TestVirusScanner::init() {
    if (QFile::exists(FProgramFolder.Path() + "harkavel-test.ndb"))
        return;
    FProgramFolder.WriteSampleDatabase(); // a test took it away: the next scan loads it again
    support::ResetEngineHolder();
}

void TestVirusScanner::EmptyTargetListStillLoadsTheEngine() {
    const TScanRecord R = RunScan({});
    QVERIFY(R.Terminated);
    QCOMPARE(R.Events, QStringList());
    QVERIFY(TClamDatabase::Instance()->IsLoaded());
}

void TestVirusScanner::AnnouncesEveryThirdFile() {
    QTemporaryDir Dir;
    for (int I = 1; I <= 7; ++I)
        QVERIFY(support::WriteFile(Dir.path() + QString("/clean%1.txt").arg(I), "clean\n"));
    const QStringList Files = ListedFiles(Dir.path());
    const TScanRecord R = RunScan({Dir.path()});
    QVERIFY(R.AllOnMainThread);
    QCOMPARE(R.Events,
             QStringList({ProgressOf(Files[0]), ProgressOf(Files[3]), ProgressOf(Files[6])}));
}

void TestVirusScanner::AnnouncesAnInfectedFirstFileBeforeItsVirus() {
    QTemporaryDir Dir;
    const QString Eicar = Dir.path() + "/eicar.com";
    QVERIFY(support::WriteFile(Eicar, support::EicarBytes()));
    const TScanRecord R = RunScan({Eicar});
    QCOMPARE(R.Events,
             QStringList({ProgressOf(Eicar), "virus " + Eicar + " " + support::EicarVirusName}));
}

void TestVirusScanner::ReportsAnUnopenableTargetAndGoesOn() {
    QTemporaryDir Dir;
    const QString Clean = Dir.path() + "/clean.txt", Dangling = Dir.path() + "/dangling",
                  Eicar = Dir.path() + "/eicar.com";
    QVERIFY(support::WriteFile(Clean, "clean\n"));
    QVERIFY(support::WriteFile(Eicar, support::EicarBytes()));
    QVERIFY(symlink("missing", QFile::encodeName(Dangling)) == 0);
    const TScanRecord R = RunScan({Clean, Dangling, Eicar});
    QCOMPARE(R.Events,
             QStringList({ProgressOf(Clean), "error " + Dangling + " Can't open file or directory",
                          "virus " + Eicar + " " + support::EicarVirusName}));
}

void TestVirusScanner::RaisesNothingForMissingTargetsAndEmptyFolders() {
    QTemporaryDir Dir;
    QVERIFY(QDir(Dir.path()).mkpath("a/b/c"));
    QVERIFY(QDir(Dir.path()).mkpath("d"));
    const TScanRecord R = RunScan({Dir.path() + "/missing", Dir.path(), Dir.path() + "/missing/"});
    QVERIFY(R.Terminated);
    QCOMPARE(R.Events, QStringList());
}

void TestVirusScanner::FindsWhatClamscanFinds() {
    const TScanRecord R = RunScan({support::ClamTestFiles});
    QVERIFY(R.AllOnMainThread);
    QSet<QString> Found;
    for (const QString& Event : R.Events)
        if (Event.startsWith("virus "))
            Found << Event.mid(6);
    const QSet<QString> Expected = ClamscanFindings(FProgramFolder.Path(), support::ClamTestFiles);
    // 43 of the 44 samples: clam_cache_emax.tgz nests past the limits of both scans.
    QCOMPARE(Expected.size(), 43);
    QCOMPARE(Found, Expected);
    // Each file is announced before its virus: progress for files 1, 4, 7, ... of the scan.
    const QStringList Files = ListedFiles(support::ClamTestFiles);
    QStringList Designed;
    for (int I = 0; I < Files.size(); ++I) {
        if (I % 3 == 0)
            Designed << ProgressOf(Files[I]);
        const QString Finding = Files[I] + " " + support::ClamExeVirusName;
        if (Expected.contains(Finding))
            Designed << "virus " + Finding;
    }
    QCOMPARE(R.Events, Designed);
}

void TestVirusScanner::ScansAHostileTreeToTheEnd() {
    QTemporaryDir Dir;
    const QByteArray Root = QFile::encodeName(Dir.path());
    QVERIFY(mkfifo(Root + "/fifo", 0644) == 0);
    QVERIFY(symlink(".", Root + "/loop") == 0);
    QVERIFY(mkdir(Root + "/sub", 0755) == 0);
    QVERIFY(symlink("..", Root + "/sub/up") == 0);
    QVERIFY(symlink("/dev/zero", Root + "/zero") == 0);
    QVERIFY(symlink("/proc", Root + "/proc") == 0);
    const int Socket = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    qstrncpy(Address.sun_path, Root + "/socket", sizeof(Address.sun_path));
    QVERIFY(bind(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) == 0);
    // A name that is not UTF-8 must not let a file escape the scan.
    const QByteArray OddName = Root + "/sub/caf\xE9\xFF.com";
    const int Fd = open(OddName.constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(Fd >= 0);
    const QByteArray Eicar = support::EicarBytes();
    QCOMPARE(write(Fd, Eicar.constData(), size_t(Eicar.size())), ssize_t(Eicar.size()));
    close(Fd);

    const TScanRecord R = RunScan({Dir.path()}, 60000);
    close(Socket);
    QVERIFY(R.Terminated);
    QCOMPARE(R.Viruses.size(), 1);
    // The reported path reaches the same file again, byte for byte.
    QCOMPARE(PathToNative(R.Viruses[0]), OddName);
    // QTemporaryDir cannot name this file to remove it (Qt's names do not round-trip it).
    QVERIFY(unlink(OddName.constData()) == 0);
    QCOMPARE(R.Events.filter("error ").size(), 0);
    QCOMPARE(R.Events.filter("fifo").size(), 0);
    QCOMPARE(R.Events.filter("socket").size(), 0);
}

void TestVirusScanner::ReportsAnUnreadableFile() {
    // Root reads every file, so the scan runs in a child process as "nobody".
    QTemporaryDir Dir;
    const QString Tree = MakeWorldReadableDir(Dir);
    QVERIFY(support::WriteFile(Tree + "/eicar.com", support::EicarBytes()));
    QVERIFY(support::WriteFile(Tree + "/secret.bin", "private\n"));
    QVERIFY(QFile::setPermissions(Tree + "/secret.bin", {}));
    QVERIFY(QFile::setPermissions(Tree + "/eicar.com", QFile::ReadOwner | QFile::ReadOther |
                                                           QFile::ReadGroup | QFile::WriteOwner));

    // The child may write the program's folder, so it keeps its databases there.
    QFile::setPermissions(FProgramFolder.Path(), QFileDevice::Permissions(0x7777));
    QProcess Child;
    Child.start(QCoreApplication::applicationDirPath() + "/ScanTree",
                {FProgramFolder.Path(), Tree + "/eicar.com", Tree + "/secret.bin"});
    QVERIFY(Child.waitForFinished(60000));
    QFile::setPermissions(FProgramFolder.Path(), QFileDevice::Permissions(0x7755));
    const QStringList Lines =
        QString::fromUtf8(Child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(Child.exitCode(), 0);
    QCOMPARE(Lines, QStringList({ProgressOf(Tree + "/eicar.com"),
                                 "virus " + Tree + "/eicar.com " + support::EicarVirusName,
                                 "error " + Tree + "/secret.bin " +
                                     QString::fromUtf8(cl_strerror(CL_EACCES)),
                                 "terminated"}));
}

// Every file of the tree is infected, so a walk that went on after the stop would show it in
// its finds (finds, unlike progress, are reported up to the end).
void TestVirusScanner::StopsADeepWalkAtTheNextEntry() {
    constexpr int Levels = 20, FilesPerLevel = 200;
    QTemporaryDir Dir;
    QString Folder = Dir.path();
    for (int Depth = 0; Depth < Levels; ++Depth) {
        Folder += "/level";
        for (int I = 0; I < FilesPerLevel; ++I)
            QVERIFY(
                support::WriteFile(Folder + QString("/file%1.com").arg(I), support::EicarBytes()));
    }
    TScanRecord R;
    TVirusScanner Scanner(true, {Dir.path()});
    support::Record(Scanner, R);
    auto Recorded = Scanner.OnProgress;
    Scanner.OnProgress = [&](TVirusScanner* Sender, const QString& Path) {
        Recorded(Sender, Path);
        Sender->Stop();
    };
    Scanner.Start();
    QVERIFY(support::WaitForTermination(R, 60000));
    QCOMPARE(R.Events.filter(QRegularExpression("^progress ")).size(), 1);
    // What can come after the stop: the finds queued before the main thread handled the first
    // announcement, and the files the workers had in flight.
    const qsizetype InFlight = 32 * TVirusScanner::WorkerCount() + 200;
    QVERIFY2(R.Viruses.size() < InFlight,
             qPrintable(QString::number(R.Viruses.size()) + " files scanned after the stop"));
}

void TestVirusScanner::ASecondScanReusesTheLoadedEngine() {
    QVERIFY(TClamDatabase::Instance()->IsLoaded());
    QVERIFY(QFile::remove(FProgramFolder.Path() + "harkavel-test.ndb"));
    QTemporaryDir Dir;
    QVERIFY(support::WriteFile(Dir.path() + "/eicar.com", support::EicarBytes()));
    const TScanRecord R = RunScan({Dir.path()});
    QCOMPARE(R.Viruses, QStringList({Dir.path() + "/eicar.com"}));
    FProgramFolder.WriteSampleDatabase();
}

void TestVirusScanner::ReportsMissingDatabasesWithTheProgramFolder() {
    support::ResetEngineHolder();
    QVERIFY(QFile::remove(FProgramFolder.Path() + "harkavel-test.ndb"));
    QTemporaryDir Dir;
    QVERIFY(support::WriteFile(Dir.path() + "/eicar.com", support::EicarBytes()));
    const TScanRecord R = RunScan({Dir.path()});
    QCOMPARE(R.Events, QStringList({"error " + FProgramFolder.Path() + " " + NoDatabases}));
    QVERIFY(!TClamDatabase::Instance()->IsLoaded());
    support::ResetEngineHolder();
    FProgramFolder.WriteSampleDatabase();
    // A load that succeeds tells how far it has come, rising to 100.
    const TScanRecord Loaded = RunScan({Dir.path()});
    QVERIFY(!Loaded.LoadPercents.isEmpty());
    QVERIFY(std::is_sorted(Loaded.LoadPercents.begin(), Loaded.LoadPercents.end()));
    QCOMPARE(Loaded.LoadPercents.last(), 100);
    QVERIFY(Loaded.AllOnMainThread);
    QVERIFY(QFile::remove(FProgramFolder.Path() + "harkavel-test.ndb"));
}

// A bind mount of a folder inside itself: the walk would go round for ever (until the paths
// grow too long) and report the same file again at every turn.
void TestVirusScanner::WalksAFolderMountedInsideItselfOnce() {
    QTemporaryDir Dir;
    const QString Tree = Dir.path() + "/tree";
    QVERIFY(support::WriteFile(Tree + "/eicar.com", support::EicarBytes()));
    QVERIFY(QDir().mkpath(Tree + "/loop"));
    if (QProcess::execute("mount", {"--bind", Tree, Tree + "/loop"}) != 0)
        QSKIP("no bind mount to be had here");
    const TScanRecord R = RunScan({Tree});
    QProcess::execute("umount", {Tree + "/loop"});
    QVERIFY(R.Terminated);
    QCOMPARE(R.Viruses, QStringList{Tree + "/eicar.com"});
}

// 5,000 nested folders: paths far beyond what the system takes in one call, and more levels
// than the process may hold descriptors. Every file is scanned all the same.
void TestVirusScanner::ScansEveryFileOfAVeryDeepTree() {
    constexpr int Depth = 5000;
    QTemporaryDir Dir;
    QStringList Expected;
    QString Path = Dir.path();
    int Folder = open(QFile::encodeName(Path).constData(), O_RDONLY | O_DIRECTORY);
    for (int Level = 1; Level <= Depth && Folder >= 0; ++Level) {
        Path += "/d";
        const int Next = mkdirat(Folder, "d", 0755) == 0 ? openat(Folder, "d", O_RDONLY) : -1;
        close(Folder);
        Folder = Next;
        if (Level == 1 || Level == 2500 || Level == Depth) {
            const int File = openat(Folder, "eicar.com", O_CREAT | O_WRONLY, 0644);
            const QByteArray Eicar = support::EicarBytes();
            QCOMPARE(write(File, Eicar.constData(), size_t(Eicar.size())), ssize_t(Eicar.size()));
            close(File);
            Expected << Path + "/eicar.com";
        }
    }
    QVERIFY(Folder >= 0);
    close(Folder);
    rlimit Old{};
    getrlimit(RLIMIT_NOFILE, &Old);
    rlimit Few = Old;
    Few.rlim_cur = 256; // far fewer descriptors than levels
    setrlimit(RLIMIT_NOFILE, &Few);
    const TScanRecord R = RunScan({Dir.path()});
    setrlimit(RLIMIT_NOFILE, &Old);
    QProcess::execute("rm", {"-rf", Dir.path() + "/d"}); // too deep for QDir
    QVERIFY(R.Terminated);
    QCOMPARE(R.Viruses, Expected);
    QVERIFY(R.Events.filter(QRegularExpression("^error ")).isEmpty());
}

// An installed program: its folder belongs to root, and the user (here "nobody", in a child)
// may not write there. The databases are then looked for in the user's data folder, which the
// error row names when they are missing.
void TestVirusScanner::UsesTheUsersDataFolderBesideAnInstalledProgram() {
    const passwd* Nobody = getpwnam("nobody");
    if (geteuid() != 0 || Nobody == nullptr)
        QSKIP("needs root to start a child as nobody");
    QTemporaryDir Program, Data, Tree;
    for (const QTemporaryDir* Dir : {&Program, &Tree})
        MakeWorldReadableDir(*Dir);
    QCOMPARE(chown(QFile::encodeName(Data.path()).constData(), Nobody->pw_uid, Nobody->pw_gid), 0);
    QVERIFY(support::WriteFile(Tree.path() + "/eicar.com", support::EicarBytes()));
    QFile::setPermissions(Tree.path() + "/eicar.com",
                          QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    const auto Scan = [&] {
        QProcess Child;
        QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert("XDG_DATA_HOME", Data.path());
        Child.setProcessEnvironment(Environment);
        Child.start(QCoreApplication::applicationDirPath() + "/ScanTree",
                    {Program.path(), Tree.path() + "/eicar.com"});
        Child.waitForFinished(60000);
        return QString::fromUtf8(Child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    };
    const QString Databases = Data.path() + "/Harkavel/";
    QCOMPARE(Scan(), QStringList({"error " + Databases + " " + NoDatabases, "terminated"}));
    QVERIFY(QFileInfo(Databases).isDir()); // made on first use
    QVERIFY(support::WriteFile(Databases + "harkavel-test.ndb", support::SampleDatabase()));
    QCOMPARE(Scan(), QStringList({ProgressOf(Tree.path() + "/eicar.com"),
                                  "virus " + Tree.path() + "/eicar.com " + support::EicarVirusName,
                                  "terminated"}));
    QVERIFY(!QFileInfo::exists(Program.path() + "/harkavel-test.ndb"));
}

void TestVirusScanner::GivesTheSameEventsWithOneAndWithFourWorkers() {
    QTemporaryDir Dir;
    BuildMixedTree(Dir.path(), 3);
    // Links to nothing, also as targets: the engine's errors come between the folders' finds.
    const QStringList Targets = {Dir.path() + "/copy0",
                                 Dir.path() + "/copy0/deeper/dangling",
                                 support::ClamTestFiles + "/clam.exe",
                                 Dir.path() + "/copy1",
                                 Dir.path() + "/copy1/deeper/dangling",
                                 Dir.path()};
    TScanRecord One, Four;
    {
        const TScanThreads Threads(1);
        One = RunScan(Targets);
    }
    {
        const TScanThreads Threads(4);
        Four = RunScan(Targets);
    }
    QVERIFY(One.Terminated && Four.Terminated && Four.AllOnMainThread);
    QVERIFY(One.Viruses.size() > 100);
    // One per link to nothing, as a target and walked; copy1, walked as a target, is not walked
    // again inside the last one.
    QCOMPARE(One.Events.filter("error ").size(), 5);
    QCOMPARE(Four.Events, One.Events);
}

// Stops a scan with four workers at a random moment of its run, in three ways: from the main
// thread after a while, from inside one of its events, and by destroying the running scanner.
// Each time the termination handler runs once, no event comes after it, and the finds are the
// first ones of the whole run, in its order.
void TestVirusScanner::StopsCleanlyAtRandomMomentsWithFourWorkers() {
    QTemporaryDir Dir;
    BuildMixedTree(Dir.path(), 1, 4); // a quarter of the samples: a run takes a blink
    const TScanThreads Threads(4);
    QElapsedTimer Whole;
    Whole.start();
    const QStringList AllOutcomes = WithoutProgress(RunScan({Dir.path()}).Events);
    const int WholeRun = int(Whole.elapsed()) + 1;
    QVERIFY(AllOutcomes.size() > 10);

    const quint32 Seed = QRandomGenerator::global()->generate();
    std::mt19937 Random(Seed);
    const int Cycles = support::StressCycles(200);
    for (int Cycle = 0; Cycle < Cycles; ++Cycle) {
        const QString Where = QString("cycle %1, seed %2").arg(Cycle).arg(Seed);
        TScanRecord R;
        auto Scanner = std::make_unique<TVirusScanner>(true, QStringList{Dir.path()});
        support::Record(*Scanner, R);
        const int Way = int(Random() % 3);
        // A number of finds, or of milliseconds: anywhere in the run.
        const int Moment = int(Random() % quint32(Way == 1 ? AllOutcomes.size() : WholeRun));
        if (Way == 1) {
            auto Recorded = Scanner->OnVirusFound;
            Scanner->OnVirusFound = [&, Recorded, Left = Moment](TVirusScanner* Sender,
                                                                 const QString& Path,
                                                                 const QString& Name) mutable {
                Recorded(Sender, Path, Name);
                if (Left-- == 0)
                    Sender->Stop();
            };
        }
        Scanner->Start();
        if (Way != 1) {
            QElapsedTimer Waited;
            Waited.start();
            while (!R.Terminated && Waited.elapsed() < Moment)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            if (Way == 0)
                Scanner->Stop();
            else
                Scanner.reset(); // stops and waits, serving the events meanwhile
        }
        QVERIFY2(support::WaitForTermination(R, 60000), qPrintable(Where));
        Scanner.reset();
        QCoreApplication::processEvents(); // anything still queued would arrive now
        QVERIFY2(R.Terminations == 1 && !R.EventAfterTermination, qPrintable(Where));
        const QStringList Outcomes = WithoutProgress(R.Events);
        QVERIFY2(Outcomes == AllOutcomes.mid(0, Outcomes.size()), qPrintable(Where));
    }
}

// The first find is reported while a long walk behind it keeps the workers busy.
void TestVirusScanner::RunsItsWorkersBelowTheMainThreadsPriority() {
    QTemporaryDir Dir;
    QVERIFY(support::WriteFile(Dir.path() + "/eicar.com", support::EicarBytes()));
    const TScanThreads Threads(4);
    TScanRecord R;
    TVirusScanner Scanner(true, {Dir.path() + "/eicar.com", "/usr/include", "/usr/share"});
    support::Record(Scanner, R);
    QList<int> NiceValues;
    auto Recorded = Scanner.OnVirusFound;
    Scanner.OnVirusFound = [&](TVirusScanner* Sender, const QString& Path, const QString& Name) {
        Recorded(Sender, Path, Name);
        if (NiceValues.isEmpty()) {
            NiceValues = ThreadNiceValues();
            Sender->Stop();
        }
    };
    Scanner.Start();
    QVERIFY(support::WaitForTermination(R, 60000));
    // Relative to the main thread's own: the suite may be started under nice.
    const int Main = getpriority(PRIO_PROCESS, 0);
    if (Main >= 10)
        QSKIP("started at nice 10 or below: the workers cannot run below the main thread");
    QCOMPARE(std::count_if(NiceValues.begin(), NiceValues.end(), [&](int V) { return V > Main; }),
             4);
}

// Linked folders are walked like any other; a folder reached by several links, or by a link
// back up the tree, is walked once. Targets the walk refuses say so.
void TestVirusScanner::WalksLinkedFoldersOnce() {
    QTemporaryDir Dir;
    const QString Tree = Dir.path() + "/tree";
    QVERIFY(support::WriteFile(Dir.path() + "/outside/eicar.com", support::EicarBytes()));
    QVERIFY(QDir().mkpath(Tree));
    for (const char* Link : {"/Downloads", "/again"})
        QVERIFY(QFile::link("../outside", Tree + Link));
    QVERIFY(QFile::link("..", Tree + "/up"));
    const TScanRecord R = RunScan({Tree, "/proc"});
    QCOMPARE(R.Viruses.size(), 1);
    QVERIFY2(QRegularExpression("/tree/(Downloads|again|up/outside)/eicar.com$")
                 .match(R.Viruses.first())
                 .hasMatch(),
             qPrintable(R.Viruses.first()));
    QCOMPARE(R.Events.filter("error ").join('|'),
             QString("error /proc Not scanned: a system file system, not files"));
}

namespace {
// The real engine cannot be made to fail on demand: this service fails every scan the way an
// error inside it does, on whichever thread calls it.
class TFailingScan : public TClamScan {
public:
    HRESULT ScanStampedFile(const QString&, QString&, uint32_t&, int32_t&, TFileStamp&) override {
        return SafeCallBoundary([] { throw Exception("The disk went away"); });
    }
};
} // namespace

// The service leaves its message with the thread that called it: a worker's failure reaches
// the scanner thread with its own text, not as "Service failure 8000ffff".
void TestVirusScanner::KeepsAWorkersFailureMessage() {
    TFailingScan Scan;
    TScanWorkers Workers(&Scan, 2, [] { return false; });
    Workers.Add("/some/file");
    const std::optional<TScanJob> Job = Workers.TakeFirst(true);
    QVERIFY(Job && Job->State == TScanJob::Scanned);
    try {
        CheckServiceStatus(Job->Outcome.Result, Job->Outcome.FailureMessage);
        QFAIL("the failure was not raised");
    } catch (const EServiceError& Error) {
        QCOMPARE(Error.Message(), QString("The disk went away"));
    }
}

QTEST_GUILESS_MAIN(TestVirusScanner)
#include "TestVirusScanner.moc"
