#pragma once
// File attributes and folder listings, with the meaning the scanner relies on.
//
// Attributes are a bit word. Besides the directory bit this layer sets the device bit for
// everything the engine must never read and the walk must never enter: FIFOs (a read blocks
// forever), devices, sockets, folders reached through a symbolic link (a link loop would never
// end) and folders of pseudo file systems such as /proc and /sys.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>

using TFileAttributes = uint32_t;

inline constexpr TFileAttributes FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr TFileAttributes FILE_ATTRIBUTE_DEVICE = 0x40;
inline constexpr TFileAttributes FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr TFileAttributes FILE_ATTRIBUTE_REPARSE_POINT = 0x400; // a symbolic link
inline constexpr TFileAttributes INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// The attributes of a target path. A link given as the target is followed (a dangling one is a
// plain file, which the engine then fails to open); a path that cannot be read gives
// INVALID_FILE_ATTRIBUTES.
TFileAttributes GetFileAttributes(const QString& Path);

// True for a path that exists and is not a regular file (links followed). Only regular files may
// reach the engine; a path that cannot be read at all goes there to have its error reported.
bool IsSpecialFile(const QByteArray& NativePath);

// The last-write time of a file, in UTC; an invalid date-time when it cannot be read.
QDateTime GetFileLastWriteTime(const QString& Path);

// Deletes a file (not a folder). True when it is gone afterwards: deleted now, or gone before
// (a file listed twice is deleted once).
bool RemoveFile(const QString& Path);

// Reads a whole regular file of at most Limit bytes. False, with Bytes empty, for anything
// else: a FIFO (which would block), a device (which may never end), a folder, a larger file,
// or one that cannot be read. Never blocks on opening.
bool ReadRegularFile(const QString& Path, qint64 Limit, QByteArray& Bytes);

struct TSearchRec {
    QString Name;
    TFileAttributes Attributes = 0;
};

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
