// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "FileSystem.h"

#include "NativePath.h"

#include <QFile>
#include <QSet>
#include <QStringList>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace harkavel; // the file attribute bits

namespace {

// Kernel file systems whose "files" are not files: reading them hangs, never ends or means
// nothing to a virus scanner.
const QSet<QString> PseudoFileSystemTypes = {
    "proc",      "sysfs",          "devtmpfs", "devpts",    "cgroup",   "cgroup2",    "securityfs",
    "debugfs",   "tracefs",        "pstore",   "bpf",       "configfs", "fusectl",    "mqueue",
    "hugetlbfs", "binfmt_misc",    "efivarfs", "selinuxfs", "nsfs",     "rpc_pipefs", "autofs",
    "ramfs",     "fuse.gvfsd-fuse"};

// The devices of the mounted file systems, from /proc/self/mountinfo, read again when a
// folder lies on a device it has not seen (something was mounted since).
class TMountedDevices {
public:
    bool IsPseudo(dev_t Device) {
        std::lock_guard Guard(FLock);
        if (!FPseudo.contains(Device) && !FOrdinary.contains(Device)) {
            ReadMountInfo();
            if (!FPseudo.contains(Device))
                FOrdinary.insert(Device);
        }
        return FPseudo.contains(Device);
    }

private:
    void ReadMountInfo() {
        QFile Info(QStringLiteral("/proc/self/mountinfo"));
        if (!Info.open(QIODevice::ReadOnly))
            return;
        // Fields: id parent major:minor root mount-point options [optional...] - type source ...
        for (const QByteArray& Line : Info.readAll().split('\n')) {
            const QList<QByteArray> Fields = Line.split(' ');
            const qsizetype Separator = Fields.indexOf("-");
            if (Fields.size() < 5 || Separator < 0 || Separator + 1 >= Fields.size())
                continue;
            const QList<QByteArray> Numbers = Fields[2].split(':');
            if (Numbers.size() != 2)
                continue;
            const dev_t Device = makedev(Numbers[0].toUInt(), Numbers[1].toUInt());
            const QString Type = QString::fromLatin1(Fields[Separator + 1]);
            if (PseudoFileSystemTypes.contains(Type))
                FPseudo.insert(Device);
            else
                FOrdinary.insert(Device);
        }
    }

    std::mutex FLock;
    QSet<dev_t> FPseudo;
    QSet<dev_t> FOrdinary;
};

TMountedDevices& MountedDevices() {
    static TMountedDevices Devices;
    return Devices;
}

TFileAttributes AttributesOfFollowed(const struct stat& Info) {
    if (S_ISDIR(Info.st_mode))
        return MountedDevices().IsPseudo(Info.st_dev) ? FILE_ATTRIBUTE_DEVICE
                                                      : FILE_ATTRIBUTE_DIRECTORY;
    return S_ISREG(Info.st_mode) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_DEVICE;
}

// A link found in a listing leads where its target leads: a linked folder is walked like any
// other (the walk visits each folder once, so a loop costs one visit), a link to a special
// file is never read, a link to a regular file or a dangling one is a file for the engine.
TFileAttributes AttributesOfListedLink(int Folder, const char* Name) {
    struct stat Target;
    if (fstatat(Folder, Name, &Target, 0) != 0)
        return FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_REPARSE_POINT;
    return AttributesOfFollowed(Target) | FILE_ATTRIBUTE_REPARSE_POINT;
}

TFileAttributes AttributesOfEntry(int Folder, const dirent* Entry) {
    switch (Entry->d_type) {
    case DT_REG:
        return FILE_ATTRIBUTE_NORMAL;
    case DT_LNK:
        return AttributesOfListedLink(Folder, Entry->d_name);
    case DT_FIFO:
    case DT_CHR:
    case DT_BLK:
    case DT_SOCK:
        return FILE_ATTRIBUTE_DEVICE;
    default: // DT_DIR needs the device for the pseudo file system check; DT_UNKNOWN everything
        break;
    }
    struct stat Info;
    if (fstatat(Folder, Entry->d_name, &Info, AT_SYMLINK_NOFOLLOW) != 0)
        return FILE_ATTRIBUTE_NORMAL; // vanished or unreadable: the engine reports it
    if (S_ISLNK(Info.st_mode))
        return AttributesOfListedLink(Folder, Entry->d_name);
    return AttributesOfFollowed(Info);
}

TFileStamp StampOf(const struct stat& Info) {
    return {uint64_t(Info.st_dev), uint64_t(Info.st_ino), int64_t(Info.st_size),
            int64_t(Info.st_mtim.tv_sec) * 1000000000 + Info.st_mtim.tv_nsec};
}

TRemoval RemovalFailure(int Error) {
    return IsLastingRemovalError(Error) ? TRemoval::Lasting : TRemoval::Passing;
}

bool ReadEntry(void* Handle, TSearchRec& Rec) {
    DIR* Listing = static_cast<DIR*>(Handle);
    const dirent* Entry = readdir(Listing);
    if (Entry == nullptr)
        return false;
    Rec.Name = PathFromNative(QByteArray(Entry->d_name));
    Rec.Attributes = AttributesOfEntry(dirfd(Listing), Entry);
    return true;
}

} // namespace

TFileAttributes GetFileAttributes(const QString& Path) {
    const QByteArray Native = PathToNative(Path);
    struct stat Info;
    if (lstat(Native.constData(), &Info) != 0)
        return INVALID_FILE_ATTRIBUTES;
    if (!S_ISLNK(Info.st_mode))
        return AttributesOfFollowed(Info);
    if (stat(Native.constData(), &Info) != 0)
        return FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_REPARSE_POINT;
    return AttributesOfFollowed(Info) | FILE_ATTRIBUTE_REPARSE_POINT;
}

bool ReadRegularFile(const QString& Path, qint64 Limit, QByteArray& Bytes) {
    Bytes.clear();
    const int File = open(PathToNative(Path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (File < 0)
        return false;
    struct stat Info;
    bool Read = fstat(File, &Info) == 0 && S_ISREG(Info.st_mode) && Info.st_size <= Limit;
    if (Read) {
        // One byte more than fstat said: a file that grew meanwhile is not taken half-read.
        Bytes.resize(qsizetype(Info.st_size) + 1);
        qsizetype Got = 0;
        while (Read && Got < Bytes.size()) {
            const ssize_t Now = read(File, Bytes.data() + Got, size_t(Bytes.size() - Got));
            if (Now == 0)
                break;
            if (Now > 0)
                Got += Now;
            else
                Read = errno == EINTR;
        }
        Read = Read && Got == Info.st_size;
        Bytes.truncate(Got);
    }
    close(File);
    if (!Read)
        Bytes.clear();
    return Read;
}

bool IsFolder(const QString& Path) {
    struct stat Info;
    return stat(PathToNative(Path).constData(), &Info) == 0 && S_ISDIR(Info.st_mode);
}

TFileStamp StampOfFile(const QString& Path) {
    struct stat Info;
    if (stat(PathToNative(Path).constData(), &Info) != 0 || !S_ISREG(Info.st_mode))
        return {};
    return StampOf(Info);
}

QDateTime GetFileLastWriteTime(const QString& Path) {
    struct stat Info;
    if (stat(PathToNative(Path).constData(), &Info) != 0)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(
        qint64(Info.st_mtim.tv_sec) * 1000 + Info.st_mtim.tv_nsec / 1000000, Qt::UTC);
}

int OpenLongPath(const QByteArray& NativePath, int Flags) {
    if (NativePath.size() <= MaxPathLength)
        return open(NativePath.constData(), Flags);
    int Folder = AT_FDCWD;
    qsizetype Start = 0;
    while (NativePath.size() - Start > MaxPathLength) {
        // The longest piece that ends at a delimiter and fits in one call.
        const qsizetype Cut = NativePath.lastIndexOf('/', Start + MaxPathLength - 1);
        if (Cut <= Start) { // a single name longer than any path may be
            if (Folder != AT_FDCWD)
                close(Folder);
            errno = ENAMETOOLONG;
            return -1;
        }
        const QByteArray Piece = NativePath.mid(Start, Cut - Start);
        const int Next = openat(Folder, Piece.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (Folder != AT_FDCWD)
            close(Folder);
        if (Next < 0)
            return -1;
        Folder = Next;
        Start = Cut + 1;
    }
    const int Result = openat(Folder, NativePath.constData() + Start, Flags);
    const int Error = errno;
    if (Folder != AT_FDCWD)
        close(Folder);
    errno = Error;
    return Result;
}

TReadableFile::TReadableFile(const QByteArray& NativePath) {
    FDescriptor = OpenLongPath(NativePath, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (FDescriptor < 0) {
        FAccessDenied = errno == EACCES || errno == EPERM;
        return;
    }
    struct stat Info;
    FRegular = fstat(FDescriptor, &Info) == 0 && S_ISREG(Info.st_mode);
    if (FRegular)
        FStamp = StampOf(Info);
}

bool IsLastingRemovalError(int Error) {
    return Error == EACCES || Error == EPERM || Error == EROFS || Error == EISDIR ||
           Error == ENOTDIR || Error == ENAMETOOLONG || Error == ELOOP;
}

std::optional<TRemoval> FindFoundFile(const QByteArray& Native, const TFileStamp& Stamp,
                                      TRemoval IfGone, QByteArray& Target, struct stat& Now) {
    struct stat Own;
    if (lstat(Native.constData(), &Own) != 0)
        return errno == ENOENT ? IfGone : RemovalFailure(errno);
    Target = Native;
    if (S_ISLNK(Own.st_mode)) {
        // The engine read the file the link leads to: that file is the find.
        char* Resolved = realpath(Native.constData(), nullptr);
        if (Resolved == nullptr)
            return errno == ENOENT ? TRemoval::Changed : RemovalFailure(errno);
        Target = Resolved;
        free(Resolved);
    }
    if (lstat(Target.constData(), &Now) != 0 || !S_ISREG(Now.st_mode) || StampOf(Now) != Stamp)
        return TRemoval::Changed;
    return std::nullopt;
}

TRemoval RemoveFoundFile(const QString& Path, const TFileStamp& Stamp) {
    const QByteArray Native = PathToNative(Path);
    QByteArray Target;
    struct stat Now;
    if (const auto Outcome = FindFoundFile(Native, Stamp, TRemoval::Removed, Target, Now))
        return *Outcome;
    if (unlink(Target.constData()) != 0 && errno != ENOENT)
        return RemovalFailure(errno);
    if (Target != Native && unlink(Native.constData()) != 0 && errno != ENOENT)
        return RemovalFailure(errno); // the find is gone; a link to nothing stays
    return TRemoval::Removed;
}

TReadableFile::~TReadableFile() {
    if (FDescriptor >= 0)
        close(FDescriptor);
}

bool ListFolder(const QString& Folder, QList<TSearchRec>& Entries, TFileIdentity& Identity) {
    Entries.clear();
    const int Descriptor =
        OpenLongPath(PathToNative(Folder), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (Descriptor < 0)
        return false;
    struct stat Info;
    DIR* Listing = fstat(Descriptor, &Info) == 0 ? fdopendir(Descriptor) : nullptr;
    if (Listing == nullptr) {
        close(Descriptor);
        return false;
    }
    Identity = {uint64_t(Info.st_dev), uint64_t(Info.st_ino)};
    TSearchRec Entry;
    while (ReadEntry(Listing, Entry))
        if (Entry.Name != u"." && Entry.Name != u"..")
            Entries << Entry;
    closedir(Listing);
    return true;
}

bool TFindFile::FindFirst(const QString& Folder, TSearchRec& Rec) {
    FindClose();
    const int Descriptor =
        OpenLongPath(PathToNative(Folder), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    FHandle = Descriptor >= 0 ? fdopendir(Descriptor) : nullptr;
    if (FHandle == nullptr) {
        if (Descriptor >= 0)
            close(Descriptor);
        return false;
    }
    if (ReadEntry(FHandle, Rec))
        return true;
    FindClose();
    return false;
}

bool TFindFile::FindNext(TSearchRec& Rec) {
    return FHandle != nullptr && ReadEntry(FHandle, Rec);
}

void TFindFile::FindClose() {
    if (FHandle != nullptr)
        closedir(static_cast<DIR*>(FHandle));
    FHandle = nullptr;
}
