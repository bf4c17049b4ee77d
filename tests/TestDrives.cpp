#include "platform/DeleteOnRestart.h"
#include "platform/Drives.h"
#include "platform/NativePath.h"
#include "support/TestSupport.h"

#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

class TestDrives : public QObject {
    Q_OBJECT
private slots:
    void ListsRealVolumesOnceAndTheRootAlways();
    void DeletesScheduledFilesAtTheNextStart();
    void KeepsWhatCannotBeDeleted();
};

void TestDrives::ListsRealVolumesOnceAndTheRootAlways() {
    const QStringList Drives = GetLogicalDrives();
    QVERIFY(!Drives.isEmpty());
    QCOMPARE(Drives.first(), QString("/"));
    QStringList Sorted = Drives;
    Sorted.sort();
    QCOMPARE(Drives, Sorted);
    QCOMPARE(Sorted.removeDuplicates(), 0);
    for (const QString& Drive : Drives) {
        if (Drive == u"/")
            continue;
        const QStorageInfo Volume(Drive);
        QVERIFY2(Volume.device().startsWith("/dev/"), qPrintable(Drive));
        QVERIFY2(Volume.fileSystemType() != "tmpfs" && Volume.fileSystemType() != "proc",
                 qPrintable(Drive));
    }
    for (const char* Pseudo : {"/proc", "/sys", "/dev", "/dev/shm", "/run"})
        QVERIFY2(!Drives.contains(Pseudo), Pseudo);
}

void TestDrives::DeletesScheduledFilesAtTheNextStart() {
    QTemporaryDir Dir;
    const QString List = Dir.path() + "/PendingDeletes";
    const QString Plain = Dir.path() + "/virus.exe";
    QVERIFY(support::WriteFile(Plain, "x"));
    // A name with a line break and bytes that are not UTF-8 survives the list.
    const QByteArray OddNative = QFile::encodeName(Dir.path()) + "/odd\nname\xE9";
    const int Fd = open(OddNative.constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(Fd >= 0);
    close(Fd);
    QVERIFY(ScheduleDeleteOnRestart(List, Plain));
    QVERIFY(ScheduleDeleteOnRestart(List, PathFromNative(OddNative)));
    QVERIFY(ScheduleDeleteOnRestart(List, Plain)); // listed once
    QVERIFY(ScheduleDeleteOnRestart(List, Dir.path() + "/already-gone"));
    QCOMPARE(DeleteScheduledFiles(List), 0);
    QVERIFY(!QFile::exists(Plain));
    QVERIFY(access(OddNative.constData(), F_OK) != 0);
    QVERIFY(!QFile::exists(List)); // nothing left to do
    QCOMPARE(DeleteScheduledFiles(List), 0);
}

void TestDrives::KeepsWhatCannotBeDeleted() {
    QTemporaryDir Dir;
    const QString List = Dir.path() + "/PendingDeletes";
    // A folder that is not empty cannot be unlinked: it stands for a file still in use.
    QVERIFY(support::WriteFile(Dir.path() + "/busy/inside", "x"));
    QVERIFY(support::WriteFile(Dir.path() + "/gone.exe", "x"));
    QVERIFY(ScheduleDeleteOnRestart(List, Dir.path() + "/busy"));
    QVERIFY(ScheduleDeleteOnRestart(List, Dir.path() + "/gone.exe"));
    QCOMPARE(DeleteScheduledFiles(List), 1);
    QVERIFY(!QFile::exists(Dir.path() + "/gone.exe"));
    QCOMPARE(DeleteScheduledFiles(List), 1); // kept for the start after
}

QTEST_GUILESS_MAIN(TestDrives)
#include "TestDrives.moc"
