// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "Quarantine.h"

#include "DebugOutput.h"
#include "Exceptions.h"
#include "NativePath.h"
#include "ProgramPath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char Magic[] = "HARKAVEL QUARANTINE 1\n"; // 22 bytes and a zero
constexpr int MagicSize = 24;
constexpr int HeaderSize = MagicSize + QuarantineKeySize + 8; // and the content's size
constexpr int64_t BlockSize = 1 << 20;

TRemoval FailureOf(int Error) {
    return IsLastingRemovalError(Error) ? TRemoval::Lasting : TRemoval::Passing;
}

QByteArray FolderOf(const QByteArray& Path) {
    const qsizetype Slash = Path.lastIndexOf('/');
    return Slash <= 0 ? QByteArray("/") : Path.left(Slash);
}

// A rename or a new file is on the disk only once its folder is flushed too.
void SyncFolder(const QByteArray& Folder) {
    const int Descriptor = open(Folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Descriptor >= 0) {
        fsync(Descriptor);
        close(Descriptor);
    }
}

bool Exists(const QByteArray& Path) {
    struct stat Info;
    return lstat(Path.constData(), &Info) == 0;
}

// Puts From at To unless To exists; false with errno set otherwise.
bool RenameNoReplace(const QByteArray& From, const QByteArray& To) {
    if (renameat2(AT_FDCWD, From.constData(), AT_FDCWD, To.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link refuses an existing name as well.
    if (link(From.constData(), To.constData()) != 0)
        return false;
    unlink(From.constData());
    return true;
}

void Scramble(char* Data, int64_t Count, int64_t Offset, const uint8_t* Key) {
    for (int64_t At = 0; At < Count; ++At)
        Data[At] = char(uint8_t(Data[At]) ^ Key[(Offset + At) % QuarantineKeySize]);
}

bool WriteAll(int Descriptor, const char* Data, int64_t Count) {
    while (Count > 0) {
        const ssize_t Written = write(Descriptor, Data, size_t(Count));
        if (Written < 0 && errno == EINTR)
            continue;
        if (Written <= 0)
            return false;
        Data += Written;
        Count -= Written;
    }
    return true;
}

QString NewId() {
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz-")) +
           QString::number(QRandomGenerator::system()->generate64(), 16);
}

} // namespace

TQuarantineContent::TQuarantineContent(const QByteArray& Path) {
    FDescriptor = open(Path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    char Header[HeaderSize];
    if (FDescriptor < 0 || pread(FDescriptor, Header, HeaderSize, 0) != HeaderSize ||
        memcmp(Header, Magic, sizeof Magic) != 0) {
        Close();
        return;
    }
    memcpy(FKey, Header + MagicSize, QuarantineKeySize);
    memcpy(&FSize, Header + MagicSize + QuarantineKeySize, sizeof FSize);
}

TQuarantineContent::~TQuarantineContent() {
    Close();
}

void TQuarantineContent::Close() {
    if (FDescriptor >= 0)
        close(FDescriptor);
    FDescriptor = -1;
}

int64_t TQuarantineContent::Read(void* Buffer, int64_t Count, int64_t Offset) const {
    if (!IsOpen() || Offset < 0)
        return -1;
    const ssize_t Got = pread(FDescriptor, Buffer, size_t(Count), HeaderSize + Offset);
    if (Got > 0)
        Scramble(static_cast<char*>(Buffer), Got, Offset, FKey);
    return Got;
}

QByteArray TQuarantineContent::Digest() const {
    QCryptographicHash Hash(QCryptographicHash::Sha256);
    QByteArray Block(BlockSize, Qt::Uninitialized);
    int64_t Offset = 0;
    for (int64_t Got; (Got = Read(Block.data(), BlockSize, Offset)) > 0; Offset += Got)
        Hash.addData(QByteArrayView(Block.constData(), Got));
    return Offset == FSize ? Hash.result().toHex() : QByteArray();
}

QString TQuarantine::ContentPath(const QString& Id) const {
    return PathOf(Id, ".item");
}

QString TQuarantineItem::OriginalName() const {
    return PathFromNative(OriginalPath.mid(OriginalPath.lastIndexOf('/') + 1));
}

QString TQuarantineItem::OriginalFolder() const {
    return PathFromNative(OriginalPath.left(OriginalPath.lastIndexOf('/') + 1));
}

QString TQuarantine::DefaultFolder() {
    return UserDataFolder() + QStringLiteral("Quarantine/");
}

TQuarantine::TQuarantine(QString Folder) : FFolder(std::move(Folder)) {
    if (!FFolder.endsWith(u'/'))
        FFolder += u'/';
}

bool TQuarantine::EnsureFolder() {
    const QByteArray Native = PathToNative(FFolder);
    if (!QDir().mkpath(FFolder) || chmod(Native.constData(), 0700) != 0) {
        FErrorText = SystemErrorText(errno);
        return false;
    }
    return true;
}

QString TQuarantine::PathOf(const QString& Id, const char* Suffix) const {
    return FFolder + Id + QLatin1String(Suffix);
}

// --- Records ---------------------------------------------------------------------------------

bool TQuarantine::WriteRecord(const TQuarantineItem& Item, const QByteArray& State,
                              const QByteArray& LinkPath) {
    QByteArray Text;
    auto Line = [&Text](const char* Key, const QByteArray& Value) {
        Text += Key + ('=' + Value) + '\n';
    };
    Line("state", State);
    Line("path", Item.OriginalPath.toHex());
    Line("link", LinkPath.toHex());
    Line("virus", Item.VirusName.toUtf8().toHex());
    Line("size", QByteArray::number(Item.Size));
    Line("sha256", Item.Sha256);
    Line("mode", QByteArray::number(Item.Mode, 8));
    Line("owner", QByteArray::number(Item.Owner));
    Line("group", QByteArray::number(Item.Group));
    Line("modified", QByteArray::number(Item.ModifiedNs));
    Line("quarantined", Item.Quarantined.toString(Qt::ISODateWithMs).toUtf8());
    Line("database", QByteArray::number(Item.DatabaseVersion));
    Line("no-longer-detected", Item.NoLongerDetected ? "1" : "0");
    // Written whole beside the record, then put in its place: a record is never half there.
    const QByteArray Temporary = PathToNative(PathOf(Item.Id, ".record.tmp"));
    const int Descriptor =
        open(Temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool Written = Descriptor >= 0 && WriteAll(Descriptor, Text.constData(), Text.size()) &&
                         fsync(Descriptor) == 0;
    const int Error = errno;
    if (Descriptor >= 0)
        close(Descriptor);
    if (!Written || rename(Temporary.constData(), PathToNative(PathOf(Item.Id, ".record"))) != 0) {
        FErrorText = SystemErrorText(Written ? errno : Error);
        unlink(Temporary.constData());
        errno = Written ? errno : Error;
        return false;
    }
    SyncFolder(PathToNative(FFolder));
    return true;
}

bool TQuarantine::ReadRecord(const QString& Id, TQuarantineItem& Item, QByteArray& State,
                             QByteArray* LinkPath) const {
    QFile File(PathOf(Id, ".record"));
    if (!File.open(QIODevice::ReadOnly))
        return false;
    Item = TQuarantineItem{};
    Item.Id = Id;
    for (const QByteArray& Line : File.read(64 * 1024).split('\n')) {
        const qsizetype Equals = Line.indexOf('=');
        const QByteArray Key = Line.left(Equals), Value = Line.mid(Equals + 1);
        if (Key == "state")
            State = Value;
        else if (Key == "path")
            Item.OriginalPath = QByteArray::fromHex(Value);
        else if (Key == "link" && LinkPath)
            *LinkPath = QByteArray::fromHex(Value);
        else if (Key == "virus")
            Item.VirusName = QString::fromUtf8(QByteArray::fromHex(Value));
        else if (Key == "size")
            Item.Size = Value.toLongLong();
        else if (Key == "sha256")
            Item.Sha256 = Value;
        else if (Key == "mode")
            Item.Mode = Value.toUInt(nullptr, 8);
        else if (Key == "owner")
            Item.Owner = Value.toUInt();
        else if (Key == "group")
            Item.Group = Value.toUInt();
        else if (Key == "modified")
            Item.ModifiedNs = Value.toLongLong();
        else if (Key == "quarantined")
            Item.Quarantined = QDateTime::fromString(QString::fromUtf8(Value), Qt::ISODateWithMs);
        else if (Key == "database")
            Item.DatabaseVersion = Value.toLongLong();
        else if (Key == "no-longer-detected")
            Item.NoLongerDetected = Value == "1";
    }
    return !Item.OriginalPath.isEmpty();
}

void TQuarantine::Forget(const QString& Id) {
    for (const char* Suffix : {".part", ".item", ".record.tmp", ".record"})
        unlink(PathToNative(PathOf(Id, Suffix)).constData());
    SyncFolder(PathToNative(FFolder));
}

// --- Moving in -------------------------------------------------------------------------------

// Writes Source, made harmless, as ID.part; reads it back; only a copy whose content has the
// digest of what was read becomes ID.item. Sets Item.Sha256. False with errno set.
bool TQuarantine::StoreContent(const QByteArray& Source, TQuarantineItem& Item) {
    const QByteArray Part = PathToNative(PathOf(Item.Id, ".part"));
    const int In = open(Source.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    const int Out = open(Part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    uint8_t Key[QuarantineKeySize];
    QRandomGenerator::system()->fillRange(reinterpret_cast<uint32_t*>(Key), QuarantineKeySize / 4);
    char Header[HeaderSize] = {};
    memcpy(Header, Magic, sizeof Magic);
    memcpy(Header + MagicSize, Key, QuarantineKeySize);
    memcpy(Header + MagicSize + QuarantineKeySize, &Item.Size, sizeof Item.Size);
    QCryptographicHash Hash(QCryptographicHash::Sha256);
    bool Sound = In >= 0 && Out >= 0 && WriteAll(Out, Header, HeaderSize);
    QByteArray Block(BlockSize, Qt::Uninitialized);
    int64_t Offset = 0;
    while (Sound) {
        const ssize_t Got = read(In, Block.data(), size_t(BlockSize));
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got <= 0) {
            Sound = Got == 0;
            break;
        }
        Hash.addData(QByteArrayView(Block.constData(), Got));
        Scramble(Block.data(), Got, Offset, Key);
        Sound = WriteAll(Out, Block.constData(), Got);
        Offset += Got;
    }
    Sound = Sound && Offset == Item.Size && fsync(Out) == 0;
    int Error = errno;
    if (In >= 0)
        close(In);
    if (Out >= 0 && close(Out) != 0 && Sound) {
        Sound = false;
        Error = errno;
    }
    Item.Sha256 = Hash.result().toHex();
    if (Sound && TQuarantineContent(Part).Digest() != Item.Sha256) {
        Sound = false;
        Error = EIO;
    }
    if (Sound && rename(Part.constData(), PathToNative(PathOf(Item.Id, ".item"))) != 0) {
        Sound = false;
        Error = errno;
    }
    if (!Sound) {
        unlink(Part.constData());
        FErrorText = SystemErrorText(Error ? Error : EIO);
        errno = Error ? Error : EIO;
        return false;
    }
    SyncFolder(PathToNative(FFolder));
    return true;
}

TRemoval TQuarantine::Add(const QString& Path, const TFileStamp& Stamp, const QString& VirusName,
                          int64_t DatabaseVersion) {
    const QByteArray Native = PathToNative(Path);
    QByteArray Target;
    struct stat Now;
    // A file gone before it could be kept is no file kept: it counts as changed.
    if (const auto Outcome = FindFoundFile(Native, Stamp, TRemoval::Changed, Target, Now))
        return *Outcome;
    if (!EnsureFolder())
        return FailureOf(errno);

    TQuarantineItem Item;
    Item.Id = NewId();
    Item.OriginalPath = Target;
    Item.VirusName = VirusName;
    Item.Size = Now.st_size;
    Item.Mode = Now.st_mode & 07777;
    Item.Owner = Now.st_uid;
    Item.Group = Now.st_gid;
    Item.ModifiedNs = int64_t(Now.st_mtim.tv_sec) * 1000000000 + Now.st_mtim.tv_nsec;
    Item.Quarantined = QDateTime::currentDateTimeUtc();
    Item.DatabaseVersion = DatabaseVersion;
    if (!WriteRecord(Item, "moving", Target != Native ? Native : QByteArray()))
        return FailureOf(errno);

    struct stat Store;
    bool SameFileSystem =
        stat(PathToNative(FFolder).constData(), &Store) == 0 && Store.st_dev == Now.st_dev;
    const QByteArray Raw = PathToNative(PathOf(Item.Id, ".raw"));
    if (SameFileSystem && rename(Target.constData(), Raw.constData()) != 0) {
        // Two mounts of one file system (a bind mount) share a device but not renames.
        if (errno != EXDEV) {
            const int Error = errno;
            Forget(Item.Id);
            return FailureOf(Error);
        }
        SameFileSystem = false;
    }
    if (SameFileSystem) {
        if (StampOfFile(PathFromNative(Raw)) != Stamp) { // swapped in at the last moment
            if (RenameNoReplace(Raw, Target))
                Forget(Item.Id);
            return TRemoval::Changed;
        }
        SyncFolder(FolderOf(Target));
        SyncFolder(PathToNative(FFolder));
    }
    if (!StoreContent(SameFileSystem ? Raw : Target, Item)) {
        const int Error = errno;
        // A file that cannot go back stays as ID.raw; the next start makes it an item.
        if (!SameFileSystem || RenameNoReplace(Raw, Target))
            Forget(Item.Id);
        return FailureOf(Error);
    }
    // The original goes only now, and only while it is still the file found.
    if (SameFileSystem) {
        unlink(Raw.constData());
    } else if (StampOfFile(PathFromNative(Target)) != Stamp) {
        Forget(Item.Id);
        return TRemoval::Changed;
    } else if (unlink(Target.constData()) != 0 && errno != ENOENT) {
        const int Error = errno;
        Forget(Item.Id);
        return FailureOf(Error);
    }
    SyncFolder(FolderOf(Target));
    if (!WriteRecord(Item, "stored"))
        HARKAVEL_DEBUG_LINE(Item.Id + QStringLiteral(": the record stays \"moving\": ") +
                            FErrorText); // the next start marks it stored
    if (Target != Native)
        unlink(Native.constData()); // the find is gone; a link to nothing would stay
    return TRemoval::Removed;
}

// --- At start --------------------------------------------------------------------------------

void TQuarantine::Recover() {
    const QStringList Records = QDir(FFolder).entryList({QStringLiteral("*.record")}, QDir::Files);
    for (const QString& Name : Records) {
        const QString Id = Name.chopped(7);
        TQuarantineItem Item;
        QByteArray State, LinkPath;
        if (!ReadRecord(Id, Item, State, &LinkPath))
            continue;
        if (State != "moving") {
            // A record rewritten by a recheck while its item was restored or deleted.
            if (!QFile::exists(PathOf(Id, ".item")))
                Forget(Id);
            continue;
        }
        const QByteArray ItemPath = PathToNative(PathOf(Id, ".item"));
        const QByteArray Raw = PathToNative(PathOf(Id, ".raw"));
        unlink(PathToNative(PathOf(Id, ".part")).constData());
        if (!Exists(ItemPath) && Exists(Raw)) {
            // Renamed in, not yet made harmless: finish it, or else put the file back.
            if (!StoreContent(Raw, Item)) {
                if (RenameNoReplace(Raw, Item.OriginalPath))
                    Forget(Id);
                continue;
            }
        }
        if (!Exists(ItemPath)) {
            Forget(Id); // the file never left its place
            continue;
        }
        const TFileStamp Original = StampOfFile(PathFromNative(Item.OriginalPath));
        if (!Exists(Raw) && Original.Size == Item.Size && Original.ModifiedNs == Item.ModifiedNs) {
            Forget(Id); // copied from another file system, original not yet removed: keep it
            HARKAVEL_DEBUG_LINE(QStringLiteral("Quarantine: rolled back ") + Id);
            continue;
        }
        unlink(Raw.constData());
        Item.Sha256 = TQuarantineContent(ItemPath).Digest();
        WriteRecord(Item, "stored");
        if (!LinkPath.isEmpty())
            unlink(LinkPath.constData());
        HARKAVEL_DEBUG_LINE(QStringLiteral("Quarantine: finished moving in ") + Id);
    }
    for (const QString& Name :
         QDir(FFolder).entryList({QStringLiteral("*.record.tmp")}, QDir::Files | QDir::Hidden))
        QFile::remove(FFolder + Name);
}

// --- The items -------------------------------------------------------------------------------

QList<TQuarantineItem> TQuarantine::Items() const {
    QList<TQuarantineItem> Items;
    const QStringList Records = QDir(FFolder).entryList({QStringLiteral("*.record")}, QDir::Files);
    for (const QString& Name : Records) {
        TQuarantineItem Item;
        QByteArray State;
        if (ReadRecord(Name.chopped(7), Item, State) && State == "stored" &&
            Exists(PathToNative(PathOf(Item.Id, ".item"))))
            Items << Item;
    }
    std::sort(Items.begin(), Items.end(), [](const TQuarantineItem& A, const TQuarantineItem& B) {
        return A.Quarantined != B.Quarantined ? A.Quarantined > B.Quarantined : A.Id > B.Id;
    });
    return Items;
}

int64_t TQuarantine::SpaceUsed() const {
    int64_t Total = 0;
    for (const QFileInfo& Entry : QDir(FFolder).entryInfoList(QDir::Files | QDir::Hidden))
        Total += Entry.size();
    return Total;
}

TQuarantine::TRestore TQuarantine::Restore(const TQuarantineItem& Item, const QString& Target) {
    const QByteArray Destination = Target.isEmpty() ? Item.OriginalPath : PathToNative(Target);
    if (Exists(Destination))
        return TRestore::Exists;
    const QByteArray Folder = FolderOf(Destination);
    QDir().mkpath(PathFromNative(Folder)); // its folder may have gone meanwhile
    QByteArray Temporary = Folder + "/.harkavel-restore-XXXXXX";
    const int Out = mkostemp(Temporary.data(), O_CLOEXEC);
    const TQuarantineContent Content(PathToNative(PathOf(Item.Id, ".item")));
    QCryptographicHash Hash(QCryptographicHash::Sha256);
    bool Sound = Out >= 0 && Content.IsOpen() && Content.Size() == Item.Size;
    QByteArray Block(BlockSize, Qt::Uninitialized);
    int64_t Offset = 0;
    while (Sound) {
        const int64_t Got = Content.Read(Block.data(), BlockSize, Offset);
        if (Got <= 0) {
            Sound = Got == 0 && Offset == Item.Size;
            break;
        }
        Hash.addData(QByteArrayView(Block.constData(), Got));
        Sound = WriteAll(Out, Block.constData(), Got);
        Offset += Got;
    }
    Sound = Sound && Hash.result().toHex() == Item.Sha256;
    if (Sound) {
        fchmod(Out, Item.Mode);
        if (geteuid() == 0 && fchown(Out, Item.Owner, Item.Group) != 0)
            HARKAVEL_DEBUG_LINE(QStringLiteral("Restore: owner not set: ") +
                                SystemErrorText(errno));
        const timespec Times[2] = {
            {0, UTIME_OMIT},
            {time_t(Item.ModifiedNs / 1000000000), long(Item.ModifiedNs % 1000000000)}};
        Sound = futimens(Out, Times) == 0 && fsync(Out) == 0;
    }
    int Error = Sound ? 0 : (errno ? errno : EIO);
    if (Out >= 0)
        close(Out);
    if (Sound && !RenameNoReplace(Temporary, Destination)) {
        Error = errno;
        Sound = false;
    }
    if (!Sound) {
        if (Out >= 0)
            unlink(Temporary.constData());
        FErrorText = SystemErrorText(Out < 0 ? errno : Error);
        return Error == EEXIST ? TRestore::Exists : TRestore::Failed;
    }
    SyncFolder(Folder);
    Remove(Item.Id);
    return TRestore::Restored;
}

bool TQuarantine::Remove(const QString& Id) {
    const bool Removed = QFile::remove(PathOf(Id, ".item")) || !QFile::exists(PathOf(Id, ".item"));
    if (Removed)
        Forget(Id);
    return Removed;
}

int TQuarantine::RemoveOlderThan(int Days) {
    const QDateTime Limit = QDateTime::currentDateTimeUtc().addDays(-Days);
    int Removed = 0;
    for (const TQuarantineItem& Item : Items())
        if (Item.Quarantined < Limit && Remove(Item.Id))
            ++Removed;
    return Removed;
}

void TQuarantine::SetNoLongerDetected(const QString& Id, bool Value, int64_t DatabaseVersion) {
    TQuarantineItem Item;
    QByteArray State;
    if (!ReadRecord(Id, Item, State) || State != "stored")
        return;
    Item.NoLongerDetected = Value;
    Item.DatabaseVersion = DatabaseVersion;
    WriteRecord(Item, "stored");
}
