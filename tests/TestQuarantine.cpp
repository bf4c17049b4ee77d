// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The quarantine with real files and the real engine. The test runs in a mount namespace of its
// own (it needs root), where it mounts the tmpfs file systems that stand for another disk, a
// read-only quarantine and a full one.

#include "engine/uClamDatabase.h"
#include "engine/uClamScan.h"
#include "engine/uQuarantineCheck.h"
#include "platform/NativePath.h"
#include "platform/Quarantine.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

bool InOwnMountNamespace = false;

int64_t ModifiedNs(const QString& Path) {
    struct stat Info;
    stat(PathToNative(Path).constData(), &Info);
    return int64_t(Info.st_mtim.tv_sec) * 1000000000 + Info.st_mtim.tv_nsec;
}

uint32_t ModeOf(const QString& Path) {
    struct stat Info;
    stat(PathToNative(Path).constData(), &Info);
    return Info.st_mode & 07777;
}

bool MountTmpfs(const QString& Folder, const char* Options, unsigned long Flags = 0) {
    return InOwnMountNamespace && QDir().mkpath(Folder) &&
           mount("tmpfs", QFile::encodeName(Folder).constData(), "tmpfs", Flags, Options) == 0;
}

// Files by the file system's own bytes: QFile's names do not keep bytes that are no UTF-8.
bool WriteNative(const QByteArray& Path, const QByteArray& Bytes, mode_t Mode = 0644) {
    const int File = open(Path.constData(), O_WRONLY | O_CREAT | O_TRUNC, Mode);
    const bool Written =
        File >= 0 && write(File, Bytes.constData(), size_t(Bytes.size())) == Bytes.size();
    if (File >= 0)
        close(File);
    return Written && chmod(Path.constData(), Mode) == 0;
}

QByteArray ReadNative(const QByteArray& Path) {
    QFile File;
    const int Descriptor = open(Path.constData(), O_RDONLY);
    if (Descriptor < 0 || !File.open(Descriptor, QIODevice::ReadOnly, QFile::AutoCloseHandle))
        return {};
    return File.readAll();
}

QByteArray RandomBytes(qsizetype Size) {
    QByteArray Bytes(Size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(Bytes.data()), Size / 4);
    return Bytes;
}

} // namespace

class TestQuarantine : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { QDir(Quarantine()).removeRecursively(); } // each test on an empty one
    void cleanupTestCase();

    void MovesInAndRestores_data();
    void MovesInAndRestores();
    void RestoresNeverOverAFile();
    void LeavesTheOriginalWhenItCannotMove_data();
    void LeavesTheOriginalWhenItCannotMove();
    void NothingInTheQuarantineIsFoundAgain();
    void RechecksWhileTheUserRestoresAndDeletes();
    void SurvivesAKillDuringAMove_data();
    void SurvivesAKillDuringAMove();

private:
    QString Quarantine() const { return FHome.path() + "/Quarantine/"; }
    QTemporaryDir FHome, FOther; // FOther: another file system
    support::TTestProgramFolder FProgramFolder;
};

void TestQuarantine::initTestCase() {
    QVERIFY(MountTmpfs(FOther.path(), "size=256m"));
}

void TestQuarantine::cleanupTestCase() {
    support::ResetEngineHolder();
    umount2(QFile::encodeName(FOther.path()).constData(), MNT_DETACH);
}

void TestQuarantine::MovesInAndRestores_data() {
    QTest::addColumn<bool>("OtherFileSystem");
    QTest::addColumn<QByteArray>("Name"); // the file system's bytes
    QTest::newRow("same file system") << false << QByteArray("eicar.com");
    QTest::newRow("another file system") << true << QByteArray("eicar.com");
    QTest::newRow("a name that is no UTF-8") << false << QByteArray("caf\xE9 \xFF.exe");
}

// Two files of one name from two folders: two items, each restored byte for byte with its mode
// and modification time, and the stored form never holds the bytes as they were.
void TestQuarantine::MovesInAndRestores() {
    QFETCH(bool, OtherFileSystem);
    QFETCH(QByteArray, Name);
    const QString Base = (OtherFileSystem ? FOther.path() : FHome.path()) + "/files";
    const QByteArray Folders[] = {QFile::encodeName(Base + "/a/"), QFile::encodeName(Base + "/b/")};
    TQuarantine Store(Quarantine());
    QList<QByteArray> Contents;
    for (const QByteArray& Folder : Folders) {
        QVERIFY(QDir().mkpath(QFile::decodeName(Folder)));
        const QString Path = PathFromNative(Folder + Name);
        Contents << support::EicarBytes() + Folder;
        QVERIFY(WriteNative(Folder + Name, Contents.last(), 0740));
        const timespec Times[2] = {{0, UTIME_OMIT}, {1582977601, 500000000}};
        QCOMPARE(utimensat(AT_FDCWD, (Folder + Name).constData(), Times, 0), 0);
        const int64_t Modified = ModifiedNs(Path);
        QCOMPARE(Store.Add(Path, StampOfFile(Path), "Eicar-Signature", 268), TRemoval::Removed);
        QVERIFY(!QFileInfo::exists(Path));
        const TQuarantineItem Item = Store.Items().first();
        QCOMPARE(Item.OriginalPath, Folder + Name);
        QCOMPARE(Item.ModifiedNs, Modified);
        const QByteArray Stored = support::ReadFile(Store.ContentPath(Item.Id));
        QVERIFY(!Stored.contains(support::EicarBytes()));
        QCOMPARE(ModeOf(Store.ContentPath(Item.Id)), 0600u);
    }
    QCOMPARE(QFileInfo(Quarantine()).permissions() & 0x0077, QFile::Permissions());
    const QList<TQuarantineItem> Items = Store.Items();
    QCOMPARE(Items.size(), 2);
    QVERIFY(Items[0].Quarantined >= Items[1].Quarantined); // newest first
    for (const TQuarantineItem& Item : Items) {
        QCOMPARE(Store.Restore(Item), TQuarantine::TRestore::Restored);
        const QString Path = PathFromNative(Item.OriginalPath);
        QCOMPARE(ReadNative(Item.OriginalPath),
                 Contents[Item.OriginalPath.startsWith(Folders[0]) ? 0 : 1]);
        QCOMPARE(ModeOf(Path), 0740u);
        QCOMPARE(ModifiedNs(Path), Item.ModifiedNs);
    }
    QVERIFY(Store.Items().isEmpty());
    QCOMPARE(QProcess::execute("rm", {"-rf", Base}), 0); // QDir skips names that are no UTF-8
}

void TestQuarantine::RestoresNeverOverAFile() {
    const QString Path = FHome.path() + "/taken.exe";
    QVERIFY(support::WriteFile(Path, support::EicarBytes()));
    TQuarantine Store(Quarantine());
    QCOMPARE(Store.Add(Path, StampOfFile(Path), "Eicar", 268), TRemoval::Removed);
    QVERIFY(support::WriteFile(Path, "the user's new file"));
    const TQuarantineItem Item = Store.Items().first();
    QCOMPARE(Store.Restore(Item), TQuarantine::TRestore::Exists);
    QCOMPARE(support::ReadFile(Path), QByteArray("the user's new file"));
    QCOMPARE(Store.Items().size(), 1);
    QCOMPARE(Store.Restore(Item, Path + ".old"), TQuarantine::TRestore::Restored);
    QCOMPARE(support::ReadFile(Path + ".old"), support::EicarBytes());
    QVERIFY(Store.Items().isEmpty());

    // Kept 30 days, then gone for good.
    QVERIFY(QFile::remove(Path + ".old"));
    QCOMPARE(Store.Add(Path, StampOfFile(Path), "Eicar", 268), TRemoval::Removed);
    const QString Record = Quarantine() + Store.Items().first().Id + ".record";
    QByteArray Text = support::ReadFile(Record);
    Text.replace(Store.Items().first().Quarantined.toString(Qt::ISODateWithMs).toUtf8(),
                 QDateTime::currentDateTimeUtc().addDays(-31).toString(Qt::ISODateWithMs).toUtf8());
    QVERIFY(support::WriteFile(Record, Text));
    QCOMPARE(Store.RemoveOlderThan(30), 1);
    QCOMPARE(QDir(Quarantine()).entryList(QDir::Files), QStringList());
}

void TestQuarantine::LeavesTheOriginalWhenItCannotMove_data() {
    QTest::addColumn<QString>("Case");
    QTest::addColumn<int>("Expected");
    QTest::newRow("read-only quarantine") << "read-only" << int(TRemoval::Lasting);
    QTest::newRow("full quarantine") << "full" << int(TRemoval::Passing);
    QTest::newRow("replaced after the scan") << "replaced" << int(TRemoval::Changed);
    QTest::newRow("gone after the scan") << "gone" << int(TRemoval::Changed);
}

void TestQuarantine::LeavesTheOriginalWhenItCannotMove() {
    QFETCH(QString, Case);
    QFETCH(int, Expected);
    QTemporaryDir Place;
    const QString Folder = Place.path() + "/Quarantine";
    if (Case == "read-only")
        QVERIFY(MountTmpfs(Folder, "size=1m", MS_RDONLY));
    if (Case == "full")
        QVERIFY(MountTmpfs(Folder, "size=64k"));
    const QString Path = FHome.path() + "/kept.bin";
    const QByteArray Content = support::EicarBytes() + RandomBytes(1 << 20);
    QVERIFY(support::WriteFile(Path, Content));
    const TFileStamp Stamp = StampOfFile(Path);
    QByteArray Expect = Content;
    if (Case == "replaced")
        QVERIFY(QFile::remove(Path) && support::WriteFile(Path, Expect = "the user's own file"));
    if (Case == "gone")
        QVERIFY(QFile::remove(Path));
    TQuarantine Store(Folder);
    QCOMPARE(int(Store.Add(Path, Stamp, "Eicar", 268)), Expected);
    QCOMPARE(QFileInfo::exists(Path), Case != "gone");
    if (Case != "gone")
        QCOMPARE(support::ReadFile(Path), Expect);
    QVERIFY(Store.Items().isEmpty());
    QCOMPARE(QDir(Folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    umount2(QFile::encodeName(Folder).constData(), MNT_DETACH);
    QFile::remove(Path);
}

// The engine that found the files finds nothing in the quarantine folder; and after an
// "update" (another version), an item it never detected is marked no longer detected.
void TestQuarantine::NothingInTheQuarantineIsFoundAgain() {
    FProgramFolder.WriteSampleDatabase();
    support::ResetEngineHolder();
    TInterfacePtr<IClamScan> Scan(new TClamScan);
    int32_t Status = -1;
    std::thread([&] { Scan->LoadDatabase(Status); }).join(); // never on the main thread
    QCOMPARE(Status, 0);
    const QString Virus = FHome.path() + "/eicar.com", Clean = FHome.path() + "/clean.txt";
    QVERIFY(support::WriteFile(Virus, support::EicarBytes()));
    QVERIFY(support::WriteFile(Clean, "no virus here"));
    QString Name;
    uint32_t Scanned = 0;
    QCOMPARE(Scan->ScanFile(Virus, Name, Scanned, Status), S_OK);
    QVERIFY(!Name.isEmpty());
    TQuarantine Store(Quarantine());
    const cl_engine* Engine = TClamDatabase::Instance()->Engine();
    const int64_t Version = EngineDatabaseVersion(Engine);
    QCOMPARE(Store.Add(Virus, StampOfFile(Virus), Name, Version), TRemoval::Removed);
    QCOMPARE(Store.Add(Clean, StampOfFile(Clean), "A false positive", Version + 1),
             TRemoval::Removed);
    for (const QString& File : QDir(Quarantine()).entryList(QDir::Files)) {
        QString Found;
        QCOMPARE(Scan->ScanFile(Quarantine() + File, Found, Scanned, Status), S_OK);
        QVERIFY2(Found.isEmpty(), qPrintable(File + ": " + Found));
    }
    // Only the item found by another version is rechecked, through its harmless form.
    QCOMPARE(RecheckQuarantine(Store, Engine, [] { return false; }), 1);
    for (const TQuarantineItem& Item : Store.Items())
        QCOMPARE(Item.NoLongerDetected, Item.VirusName == "A false positive");
    QVERIFY(IsItemDetected(Store, Store.Items().last().Id, Engine));
    for (const TQuarantineItem& Item : Store.Items())
        Store.Remove(Item.Id);
}

// The scanner thread's second look and the main thread's Restore and Delete meet on the same
// items: whatever the order, a restored file is whole, and nothing is left behind at the next
// start.
void TestQuarantine::RechecksWhileTheUserRestoresAndDeletes() {
    FProgramFolder.WriteSampleDatabase();
    int32_t Status = -1;
    TInterfacePtr<IClamScan> Scan(new TClamScan);
    std::thread([&] { Scan->LoadDatabase(Status); }).join();
    QCOMPARE(Status, 0);
    const cl_engine* Engine = TClamDatabase::Instance()->Engine();
    const int Cycles = support::StressCycles(30);
    for (int Cycle = 0; Cycle < Cycles; ++Cycle) {
        TQuarantine Store(Quarantine());
        QStringList Paths;
        for (int File = 0; File < 8; ++File) {
            Paths << FHome.path() + QStringLiteral("/r%1.bin").arg(File);
            const QByteArray Content = File % 2 ? support::EicarBytes() : RandomBytes(4096);
            QVERIFY(support::WriteFile(Paths.last(), Content));
            QCOMPARE(Store.Add(Paths.last(), StampOfFile(Paths.last()), "Test", -1),
                     TRemoval::Removed);
        }
        std::atomic<bool> Stop{false};
        std::thread Recheck([&] {
            TQuarantine Own(Quarantine());
            RecheckQuarantine(Own, Engine, [&] { return Stop.load(); });
        });
        QThread::usleep(QRandomGenerator::global()->bounded(3000));
        const QList<TQuarantineItem> Items = Store.Items();
        for (qsizetype At = 0; At < Items.size(); ++At) {
            if (At % 2)
                QVERIFY(Store.Remove(Items[At].Id));
            else
                QCOMPARE(Store.Restore(Items[At]), TQuarantine::TRestore::Restored);
        }
        Stop = true;
        Recheck.join();
        Store.Recover();
        QCOMPARE(Store.Items().size(), 0);
        QCOMPARE(QDir(Quarantine()).entryList(QDir::Files | QDir::Hidden), QStringList());
        for (const QString& Path : Paths)
            QFile::remove(Path);
    }
}

void TestQuarantine::SurvivesAKillDuringAMove_data() {
    QTest::addColumn<bool>("OtherFileSystem");
    QTest::newRow("renamed in") << false;
    QTest::newRow("copied in") << true;
}

// A process killed at any moment of a move: after the next start's recovery the file is there
// exactly once, as it was or as an item of the same content.
void TestQuarantine::SurvivesAKillDuringAMove() {
    QFETCH(bool, OtherFileSystem);
    const QString Path = (OtherFileSystem ? FOther.path() : FHome.path()) + "/large.bin";
    const QByteArray Content = RandomBytes(24 << 20);
    const QByteArray Digest = QCryptographicHash::hash(Content, QCryptographicHash::Sha256).toHex();
    const QString Program = QCoreApplication::applicationDirPath() + "/QuarantineOnce";
    // Whole moves first (the quickest of three, a warm cache's), to kill the others anywhere
    // from their start to a little past their end.
    qint64 MoveUs = std::numeric_limits<qint64>::max();
    for (int Round = 0; Round < 3; ++Round) {
        QVERIFY(support::WriteFile(Path, Content));
        QElapsedTimer Whole;
        Whole.start();
        QCOMPARE(QProcess::execute(Program, {Quarantine(), Path}), 0);
        MoveUs = std::min(MoveUs, std::max<qint64>(Whole.nsecsElapsed() / 1000 * 6 / 5, 1000));
        TQuarantine Store(Quarantine());
        QVERIFY(Store.Remove(Store.Items().first().Id));
    }
    const int Cycles = support::StressCycles(20);
    int Moved = 0, Interrupted = 0;
    for (int Cycle = 0; Cycle < Cycles; ++Cycle) {
        QVERIFY(support::WriteFile(Path, Content));
        QProcess Mover;
        Mover.start(Program, {Quarantine(), Path});
        QVERIFY(Mover.waitForStarted());
        QThread::usleep(quint64(QRandomGenerator::global()->bounded(MoveUs)));
        kill(pid_t(Mover.processId()), SIGKILL);
        Mover.waitForFinished();
        TQuarantine Store(Quarantine());
        const QStringList Left = QDir(Quarantine()).entryList(QDir::Files | QDir::Hidden);
        Interrupted += !Left.filter(QRegularExpression("\\.(raw|part)$")).isEmpty() ||
                       (!Left.isEmpty() && !Left.filter(".item").size());
        Store.Recover();
        const QList<TQuarantineItem> Items = Store.Items();
        const bool Original = QFileInfo::exists(Path);
        QCOMPARE(int(Original) + Items.size(), 1);
        if (Original) {
            QCOMPARE(support::ReadFile(Path), Content);
        } else {
            ++Moved;
            QCOMPARE(Items.first().Sha256, Digest);
            QCOMPARE(
                TQuarantineContent(QFile::encodeName(Store.ContentPath(Items.first().Id))).Digest(),
                Digest);
            QVERIFY(Store.Remove(Items.first().Id));
        }
        QCOMPARE(QDir(Quarantine()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
    qInfo("%d of %d kills interrupted a move; %d files ended in the quarantine", Interrupted,
          Cycles, Moved);
}

int main(int argc, char* argv[]) {
    // Mounts made here stay in this process's own namespace and go with it.
    InOwnMountNamespace =
        unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    QCoreApplication Application(argc, argv);
    TestQuarantine Test;
    return QTest::qExec(&Test, argc, argv);
}

#include "TestQuarantine.moc"
