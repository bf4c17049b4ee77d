// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "platform/DeleteOnRestart.h"
#include "platform/Drives.h"
#include "platform/NativePath.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
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
