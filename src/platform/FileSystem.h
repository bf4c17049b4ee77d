// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// File attributes and folder listings, with the meaning the scanner relies on.
//
// Attributes are a bit word. Besides the directory bit this layer sets the device bit for
// everything the engine must never read and the walk must never enter: FIFOs (a read blocks
// forever), devices, sockets and folders of pseudo file systems such as /proc and /sys. Links
// are followed, and carry the reparse-point bit besides what they lead to.

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

struct stat;

using TFileAttributes = uint32_t;

// The attribute bits, with windows.h's names and values: in the program's namespace, and each
// only where windows.h has not defined it already. Users say "using namespace harkavel;".
namespace harkavel {
#ifndef FILE_ATTRIBUTE_DIRECTORY
inline constexpr TFileAttributes FILE_ATTRIBUTE_DIRECTORY = 0x10;
#endif
#ifndef FILE_ATTRIBUTE_DEVICE
inline constexpr TFileAttributes FILE_ATTRIBUTE_DEVICE = 0x40;
#endif
#ifndef FILE_ATTRIBUTE_NORMAL
inline constexpr TFileAttributes FILE_ATTRIBUTE_NORMAL = 0x80;
#endif
#ifndef FILE_ATTRIBUTE_REPARSE_POINT
inline constexpr TFileAttributes FILE_ATTRIBUTE_REPARSE_POINT = 0x400; // a symbolic link
#endif
#ifndef INVALID_FILE_ATTRIBUTES
inline constexpr TFileAttributes INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
#endif
} // namespace harkavel

// The attributes of a target path. A link given as the target is followed (a dangling one is a
// plain file, which the engine then fails to open); a path that cannot be read gives
// INVALID_FILE_ATTRIBUTES.
TFileAttributes GetFileAttributes(const QString& Path);

// True for a folder, links followed (whether or not the walk may enter it).
bool IsFolder(const QString& Path);

// The last-write time of a file, in UTC; an invalid date-time when it cannot be read.
QDateTime GetFileLastWriteTime(const QString& Path);

// Reads a whole regular file of at most Limit bytes. False, with Bytes empty, for anything
// else: a FIFO (which would block), a device (which may never end), a folder, a larger file,
// or one that cannot be read. Never blocks on opening.
bool ReadRegularFile(const QString& Path, qint64 Limit, QByteArray& Bytes);

// open() for a path of any length: one longer than the system takes in one call (PATH_MAX)
// is opened piece by piece, each piece relative to the folder before it. A descriptor or -1.
int OpenLongPath(const QByteArray& NativePath, int Flags);
inline constexpr qsizetype MaxPathLength = 4095; // bytes a path may have for a single call

// A file as it was when it was looked at: another file that takes its path later, or the same
// file written to since, has another stamp. Device 0 and inode 0 stand for no file.
struct TFileStamp {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedNs = 0; // since the epoch
    bool IsValid() const { return Device != 0 || Inode != 0; }
    bool operator==(const TFileStamp&) const = default;
};

// A file opened for reading by a path of any length, without blocking on a FIFO, links
// followed; closed with the object. The engine reads it by its descriptor, so what it judges
// is the very file stamped here, whatever takes the path meanwhile.
class TReadableFile {
public:
    explicit TReadableFile(const QByteArray& NativePath);
    ~TReadableFile();
    TReadableFile(const TReadableFile&) = delete;
    TReadableFile& operator=(const TReadableFile&) = delete;

    int Descriptor() const { return FDescriptor; } // -1 when it could not be opened
    bool IsRegular() const { return FRegular; }
    bool AccessDenied() const { return FAccessDenied; } // why it could not be opened
    const TFileStamp& Stamp() const { return FStamp; }

private:
    int FDescriptor = -1;
    bool FRegular = false;
    bool FAccessDenied = false;
    TFileStamp FStamp;
};

// The stamp of the regular file at Path, links followed; an invalid stamp for anything else.
TFileStamp StampOfFile(const QString& Path);

// Removing a file that a scan found, by the path it was found at.
enum class TRemoval {
    Removed, // gone now: removed, or gone before
    Changed, // the path holds another file, or the file was written to: left alone
    Passing, // could not be removed now; a later try may succeed
    Lasting  // may never be removed by this user (no permission, read-only, ...)
};
// Removes the file with that Stamp at Path. When Path is a symbolic link, the file it leads to
// is what was scanned: that file goes, then the link.
TRemoval RemoveFoundFile(const QString& Path, const TFileStamp& Stamp);
// The file a find at Native stands for, while it is still the file with that Stamp: Native
// itself, or the file a link there leads to (Target, Now its status). Otherwise the outcome to
// report: IfGone when nothing is at Native any more, Changed for another file, or the failure.
std::optional<TRemoval> FindFoundFile(const QByteArray& Native, const TFileStamp& Stamp,
                                      TRemoval IfGone, QByteArray& Target, struct stat& Now);
// Whether a failed removal (an errno value) would fail again at every later try.
bool IsLastingRemovalError(int Error);

// What a file or folder is, whatever the path that reaches it.
struct TFileIdentity {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    bool operator==(const TFileIdentity&) const = default;
};
inline size_t qHash(const TFileIdentity& Identity, size_t Seed = 0) {
    return qHashMulti(Seed, Identity.Device, Identity.Inode);
}

struct TSearchRec {
    QString Name;
    TFileAttributes Attributes = 0;
};

// Every entry of a folder (neither "." nor "..") in the file system's order, with the folder's
// identity, read at once so that no listing stays open while the caller walks on: a deep tree
// never runs out of descriptors. The folder's path may be of any length. False when it cannot
// be listed.
bool ListFolder(const QString& Folder, QList<TSearchRec>& Entries, TFileIdentity& Identity);

// A listing of one folder's entries ("." and ".." included) in the file system's order; links
// inside it are not followed into folders. Closed by FindClose or at destruction.
class TFindFile {
public:
    TFindFile() = default;
    TFindFile(const TFindFile&) = delete;
    TFindFile& operator=(const TFindFile&) = delete;
    ~TFindFile() { FindClose(); }

    // Folder with its trailing delimiter. False when it cannot be listed.
    bool FindFirst(const QString& Folder, TSearchRec& Rec);
    bool FindNext(TSearchRec& Rec);
    void FindClose();

private:
    void* FHandle = nullptr; // DIR*
};
