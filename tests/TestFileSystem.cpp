// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "platform/FileSystem.h"
#include "platform/NativePath.h"
#include "support/TestSupport.h"

#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace harkavel; // the file attribute bits

namespace {

QByteArray Native(const QTemporaryDir& Dir, const char* Name) {
    return QFile::encodeName(Dir.path()) + "/" + Name;
}

QMap<QString, TFileAttributes> ListFolder(const QString& Folder) {
    QMap<QString, TFileAttributes> Entries;
    TFindFile Listing;
    TSearchRec Rec;
    if (Listing.FindFirst(IncludeTrailingPathDelimiter(Folder), Rec)) {
        do
            Entries.insert(Rec.Name, Rec.Attributes);
        while (Listing.FindNext(Rec));
    }
    return Entries;
}

bool MakeSocket(const QByteArray& Path) {
    const int Socket = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    qstrncpy(Address.sun_path, Path.constData(), sizeof(Address.sun_path));
    const bool Bound = bind(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) == 0;
    close(Socket);
    return Bound;
}

} // namespace

class TestFileSystem : public QObject {
    Q_OBJECT
private slots:
    void ListsNamesThatAreNotUtf8();
    void MarksWhatMustNotBeReadOrWalked();
    void FollowsALinkGivenAsTarget();
    void TreatsPseudoFileSystemsAsDevices();
    void FailsToListWhatIsNotAFolder();
};

void TestFileSystem::ListsNamesThatAreNotUtf8() {
    QTemporaryDir Dir;
    const QByteArray OddName = Native(Dir, "caf\xE9\xFF.exe");
    {
        const int Fd = ::open(OddName.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(Fd >= 0);
        QCOMPARE(::write(Fd, "x", 1), ssize_t(1));
        ::close(Fd);
    }
    const auto Entries = ListFolder(Dir.path());
    QCOMPARE(Entries.size(), 3); // ".", ".." and the odd name
    QString Listed;
    for (auto It = Entries.begin(); It != Entries.end(); ++It)
        if (It.key() != "." && It.key() != "..")
            Listed = It.key();
    QCOMPARE(Entries.value(Listed), FILE_ATTRIBUTE_NORMAL);
    // The listed name leads back to the same file.
    const QString Path =
        IncludeTrailingPathDelimiter(PathFromNative(QFile::encodeName(Dir.path()))) + Listed;
    QCOMPARE(PathToNative(Path), OddName);
    QCOMPARE(GetFileAttributes(Path), FILE_ATTRIBUTE_NORMAL);
    QVERIFY(unlink(OddName.constData()) == 0); // QTemporaryDir cannot name it to remove it
}

void TestFileSystem::MarksWhatMustNotBeReadOrWalked() {
    QTemporaryDir Dir;
    QVERIFY(mkfifo(Native(Dir, "fifo"), 0644) == 0);
    QVERIFY(MakeSocket(Native(Dir, "socket")));
    QVERIFY(mkdir(Native(Dir, "folder"), 0755) == 0);
    QVERIFY(support::WriteFile(Dir.path() + "/file", "data"));
    QVERIFY(symlink("folder", Native(Dir, "link-to-folder")) == 0);
    QVERIFY(symlink(".", Native(Dir, "loop")) == 0);
    QVERIFY(symlink("file", Native(Dir, "link-to-file")) == 0);
    QVERIFY(symlink("fifo", Native(Dir, "link-to-fifo")) == 0);
    QVERIFY(symlink("missing", Native(Dir, "dangling")) == 0);
    QVERIFY(symlink("/dev/null", Native(Dir, "link-to-device")) == 0);

    const auto Entries = ListFolder(Dir.path());
    QCOMPARE(Entries.value("fifo"), FILE_ATTRIBUTE_DEVICE);
    QCOMPARE(Entries.value("socket"), FILE_ATTRIBUTE_DEVICE);
    QCOMPARE(Entries.value("folder"), FILE_ATTRIBUTE_DIRECTORY);
    QCOMPARE(Entries.value("file"), FILE_ATTRIBUTE_NORMAL);
    // Linked folders are folders (the walk visits each folder once); links never lead the
    // engine to special files.
    QCOMPARE(Entries.value("link-to-folder"),
             FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    QCOMPARE(Entries.value("loop"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    QCOMPARE(Entries.value("link-to-fifo"), FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT);
    QCOMPARE(Entries.value("link-to-device"), FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT);
    QCOMPARE(Entries.value("link-to-file"), FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_REPARSE_POINT);
    QCOMPARE(Entries.value("dangling"), FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_REPARSE_POINT);

    // Opened without blocking; only a regular file is given to the engine.
    for (const char* Special : {"fifo", "link-to-fifo", "link-to-device"})
        QVERIFY2(!TReadableFile(Native(Dir, Special)).IsRegular(), Special);
    QVERIFY(TReadableFile(Native(Dir, "link-to-file")).IsRegular());
    QVERIFY(TReadableFile(Native(Dir, "link-to-file")).Stamp() ==
            StampOfFile(Dir.path() + "/file"));
    QCOMPARE(TReadableFile(Native(Dir, "dangling")).Descriptor(), -1);
}

void TestFileSystem::FollowsALinkGivenAsTarget() {
    QTemporaryDir Dir;
    QVERIFY(mkdir(Native(Dir, "folder"), 0755) == 0);
    QVERIFY(symlink("folder", Native(Dir, "link")) == 0);
    QVERIFY(symlink("missing", Native(Dir, "dangling")) == 0);
    QCOMPARE(GetFileAttributes(Dir.path() + "/link"),
             FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    QCOMPARE(GetFileAttributes(Dir.path() + "/dangling"),
             FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_REPARSE_POINT);
    QCOMPARE(GetFileAttributes(Dir.path() + "/missing"), INVALID_FILE_ATTRIBUTES);
    QCOMPARE(GetFileAttributes(Dir.path()), FILE_ATTRIBUTE_DIRECTORY);
}

void TestFileSystem::TreatsPseudoFileSystemsAsDevices() {
    QCOMPARE(GetFileAttributes("/proc"), FILE_ATTRIBUTE_DEVICE);
    QCOMPARE(GetFileAttributes("/sys"), FILE_ATTRIBUTE_DEVICE);
    QCOMPARE(GetFileAttributes("/"), FILE_ATTRIBUTE_DIRECTORY);
    const auto Root = ListFolder("/");
    QCOMPARE(Root.value("proc"), FILE_ATTRIBUTE_DEVICE);
    QCOMPARE(Root.value("sys"), FILE_ATTRIBUTE_DEVICE);
    QCOMPARE(Root.value("usr") & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    if (GetFileAttributes("/dev/pts") != INVALID_FILE_ATTRIBUTES)
        QCOMPARE(GetFileAttributes("/dev/pts"), FILE_ATTRIBUTE_DEVICE);
}

void TestFileSystem::FailsToListWhatIsNotAFolder() {
    QTemporaryDir Dir;
    QVERIFY(support::WriteFile(Dir.path() + "/file", "data"));
    TFindFile Listing;
    TSearchRec Rec;
    QVERIFY(!Listing.FindFirst(Dir.path() + "/file/", Rec));
    QVERIFY(!Listing.FindFirst(Dir.path() + "/missing/", Rec));
    QVERIFY(!Listing.FindNext(Rec));
}

QTEST_GUILESS_MAIN(TestFileSystem)
#include "TestFileSystem.moc"
