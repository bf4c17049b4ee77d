#include "platform/DeleteOnRestart.h"
#include "platform/Drives.h"
#include "platform/NativePath.h"
#include "support/TestSupport.h"

#include <QProcess>
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
    void NeverDeletesAnotherFileAtTheSamePath();
    void KeepsWhatMaySucceedLater();
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
    const QString Gone = Dir.path() + "/gone.exe";
    QVERIFY(support::WriteFile(Gone, "x"));
    QVERIFY(ScheduleDeleteOnRestart(List, Plain));
    QVERIFY(ScheduleDeleteOnRestart(List, PathFromNative(OddNative)));
    QVERIFY(ScheduleDeleteOnRestart(List, Plain)); // listed once
    QVERIFY(ScheduleDeleteOnRestart(List, Gone));
    QVERIFY(QFile::remove(Gone));
    QVERIFY(!ScheduleDeleteOnRestart(List, Dir.path() + "/never-there")); // nothing to note
    QCOMPARE(DeleteScheduledFiles(List), 0);
    QVERIFY(!QFile::exists(Plain));
    QVERIFY(access(OddNative.constData(), F_OK) != 0);
    QVERIFY(!QFile::exists(List)); // nothing left to do
    QCOMPARE(DeleteScheduledFiles(List), 0);
}

// Only the file that was noted is deleted: what took its place since stays, and so does every
// file of a list that names no identities.
void TestDrives::NeverDeletesAnotherFileAtTheSamePath() {
    QTemporaryDir Dir;
    const QString List = Dir.path() + "/PendingDeletes";
    const QString Path = Dir.path() + "/report.doc";
    QVERIFY(support::WriteFile(Path, "infected"));
    QVERIFY(ScheduleDeleteOnRestart(List, Path));
    QVERIFY(QFile::remove(Path));
    QVERIFY(support::WriteFile(Path, "the user's new report"));
    QCOMPARE(DeleteScheduledFiles(List), 0);
    QCOMPARE(support::ReadFile(Path), QByteArray("the user's new report"));
    QVERIFY(!QFile::exists(List));

    QVERIFY(support::WriteFile(List, PathToNative(Path) + '\0')); // bare paths
    QCOMPARE(DeleteScheduledFiles(List), 0);
    QVERIFY(QFile::exists(Path));
}

void TestDrives::KeepsWhatMaySucceedLater() {
    QTemporaryDir Dir;
    const QString List = Dir.path() + "/PendingDeletes";
    // A folder (the file's name taken by a folder since): it can never be deleted as a file.
    QVERIFY(support::WriteFile(Dir.path() + "/folder/inside", "x"));
    QVERIFY(ScheduleDeleteOnRestart(List, Dir.path() + "/folder"));
    QCOMPARE(DeleteScheduledFiles(List), 0);
    QVERIFY(QFile::exists(Dir.path() + "/folder/inside"));

    // A file that is a mount point cannot be unlinked while mounted (EBUSY): kept.
    const QString Busy = Dir.path() + "/busy.exe";
    QVERIFY(support::WriteFile(Busy, "x"));
    QVERIFY(support::WriteFile(Dir.path() + "/other", "y"));
    if (QProcess::execute("mount", {"--bind", Dir.path() + "/other", Busy}) != 0)
        QSKIP("no bind mount to be had here");
    const bool Noted = ScheduleDeleteOnRestart(List, Busy);
    const int Left = DeleteScheduledFiles(List);
    const int LeftAgain = DeleteScheduledFiles(List);
    QProcess::execute("umount", {Busy});
    QVERIFY(Noted);
    QCOMPARE(Left, 1);
    QCOMPARE(LeftAgain, 1); // kept for the start after
}

QTEST_GUILESS_MAIN(TestDrives)
#include "TestDrives.moc"
