// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "platform/DeleteOnRestart.h"
#include "platform/Drives.h"
#include "platform/NativePath.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestDrives : public QObject {
    Q_OBJECT
private slots:
    void ListsBlockDeviceVolumesFromTheMountTableAlone();
    void DeletesScheduledFilesAtTheNextStart();
    void NeverDeletesAnotherFileAtTheSamePath();
    void KeepsWhatMaySucceedLater();
};

// A mount table with every kind of line the drive list must tell apart.
const QByteArray MountTable = "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                              "22 21 0:5 / /proc rw - proc proc rw\n"
                              "23 21 0:20 / /dev/shm rw - tmpfs tmpfs rw\n"
                              "24 21 8:2 / /home rw shared:2 - ext4 /dev/sda2 rw\n"
                              "25 21 0:40 / /mnt/archive rw - nfs4 fileserver:/export rw\n"
                              "26 21 0:41 / /mnt/remote rw - fuse.sshfs user@host: rw\n"
                              "27 21 8:17 / /media/usb\\040stick rw - vfat /dev/sdb1 rw\n"
                              "28 24 8:2 /shared /srv/shared rw - ext4 /dev/sda2 rw\n"
                              "29 21 7:0 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
                              "30 21 0:42 / /var/lib/docker/overlay rw - overlay overlay rw\n"
                              "a line that is no mount\n";

void TestDrives::ListsBlockDeviceVolumesFromTheMountTableAlone() {
    // Network and FUSE mounts are left out by their line alone: nothing asks them anything, so
    // a hung one cannot block (this list is all the function reads).
    QCOMPARE(DrivesFromMountTable(MountTable), QStringList({"/", "/home", "/media/usb stick"}));
    QCOMPARE(DrivesFromMountTable(QByteArray()), QStringList{"/"}); // the root always
    testing::SetMountTable(MountTable);
    QCOMPARE(harkavel::GetLogicalDrives(), QStringList({"/", "/home", "/media/usb stick"}));
    testing::SetMountTable(QByteArray());
    QVERIFY(harkavel::GetLogicalDrives().contains("/")); // the machine's own table again
}

namespace {

// Notes the file at Path as a scan found it now.
bool Note(const QString& List, const QString& Path) {
    return ScheduleDeleteOnRestart(List, Path, StampOfFile(Path));
}

bool Mount(const QStringList& Arguments) {
    return QProcess::execute("mount", Arguments) == 0;
}

} // namespace

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
    // A link that was found: the file it leads to is the find, and goes with the link.
    const QString Target = Dir.path() + "/outside/payload.bin";
    QVERIFY(support::WriteFile(Target, "payload"));
    QVERIFY(QFile::link(Target, Dir.path() + "/setup.exe"));
    QVERIFY(Note(List, Plain));
    QVERIFY(Note(List, PathFromNative(OddNative)));
    QVERIFY(Note(List, Plain)); // listed once
    QVERIFY(Note(List, Gone));
    QVERIFY(Note(List, Dir.path() + "/setup.exe"));
    QVERIFY(QFile::remove(Gone));
    QVERIFY(!Note(List, Dir.path() + "/never-there")); // nothing to note
    QCOMPARE(DeleteScheduledFiles(List).Left, 0);
    QVERIFY(!QFile::exists(Plain));
    QVERIFY(access(OddNative.constData(), F_OK) != 0);
    QVERIFY(!QFile::exists(Target));
    QVERIFY(!QFileInfo(Dir.path() + "/setup.exe").isSymLink());
    QVERIFY(!QFile::exists(List)); // nothing left to do
    QCOMPARE(DeleteScheduledFiles(List).Left, 0);
}

// Only the file that was noted is deleted: what took its place since, the same file written
// to since, and every file of a list that names no stamps stay.
void TestDrives::NeverDeletesAnotherFileAtTheSamePath() {
    QTemporaryDir Dir;
    const QString List = Dir.path() + "/PendingDeletes";
    const QString Path = Dir.path() + "/report.doc";
    const QString Rewritten = Dir.path() + "/cleaned.doc";
    QVERIFY(support::WriteFile(Path, "infected"));
    QVERIFY(support::WriteFile(Rewritten, "infected"));
    QVERIFY(Note(List, Path));
    QVERIFY(Note(List, Rewritten));
    QVERIFY(QFile::remove(Path));
    QVERIFY(support::WriteFile(Path, "the user's new report"));
    QVERIFY(support::WriteFile(Rewritten, "cleaned by hand"));
    QCOMPARE(DeleteScheduledFiles(List).Left, 0);
    QCOMPARE(support::ReadFile(Path), QByteArray("the user's new report"));
    QCOMPARE(support::ReadFile(Rewritten), QByteArray("cleaned by hand"));
    QVERIFY(!QFile::exists(List));

    QVERIFY(support::WriteFile(List, PathToNative(Path) + '\0')); // bare paths
    QCOMPARE(DeleteScheduledFiles(List).Left, 0);
    QVERIFY(QFile::exists(Path));
    // A list that is not a file is never read: a FIFO would block the start for good.
    QVERIFY(mkfifo(QFile::encodeName(List).constData(), 0600) == 0);
    QCOMPARE(DeleteScheduledFiles(List).Left, 0);
}

// A deletion that fails now may succeed later and is kept; one that this user can never do is
// reported once and dropped.
void TestDrives::KeepsWhatMaySucceedLater() {
    QTemporaryDir Dir;
    const QString List = Dir.path() + "/PendingDeletes";
    // A file mounted onto itself is the same file, and cannot be unlinked while mounted.
    const QString Busy = Dir.path() + "/busy.exe";
    QVERIFY(support::WriteFile(Busy, "x"));
    QVERIFY(Note(List, Busy));
    if (!Mount({"--bind", Busy, Busy}))
        QSKIP("no bind mount to be had here");
    const int Left = DeleteScheduledFiles(List).Left;
    const int LeftAgain = DeleteScheduledFiles(List).Left;
    QProcess::execute("umount", {Busy});
    QCOMPARE(Left, 1);
    QCOMPARE(LeftAgain, 1); // kept for the start after
    QVERIFY(QFile::remove(List));

    // A folder that is read-only now: refused, told once, dropped.
    const QString Locked = Dir.path() + "/locked/virus.exe";
    QVERIFY(support::WriteFile(Locked, "x"));
    QVERIFY(Note(List, Locked));
    const QString Folder = Dir.path() + "/locked";
    QVERIFY(Mount({"--bind", Folder, Folder}));
    const bool ReadOnly = Mount({"-o", "remount,bind,ro", Folder});
    const TScheduledDeletes First = DeleteScheduledFiles(List);
    const TScheduledDeletes Second = DeleteScheduledFiles(List);
    QProcess::execute("umount", {Folder});
    QVERIFY(ReadOnly);
    QCOMPARE(First.Refused, QStringList{Locked});
    QCOMPARE(First.Left, 0);
    QVERIFY(Second.Refused.isEmpty());
    QVERIFY(QFile::exists(Locked));
}

QTEST_GUILESS_MAIN(TestDrives)
#include "TestDrives.moc"
