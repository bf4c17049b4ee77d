// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The quarantine: where Delete Viruses puts the files it takes, so that a file the engine
// judged wrongly can be put back.
//
// One folder (mode 0700) holds two files for each item, named by the item's id, which is new
// for every item whatever the file's name: "ID.record", a small text record of where the file
// came from and what it was, and "ID.item", its content made harmless: a header of our own
// with a random key, then the bytes XOR-ed with that key. No scanner finds anything in an item,
// nothing in it can be run, and its mode is 0600.
//
// No moment of a move loses the file. The record comes first, marked "moving"; then the
// content goes in: on the same file system the file is renamed into the folder ("ID.raw") and
// made harmless there, elsewhere it is copied. The item is written as "ID.part", flushed, read
// back and compared by SHA-256, and only then renamed to "ID.item"; then the original goes and
// the record is marked "stored". Recover, at start, finishes a move that has its content in
// the folder and rolls back one that does not. Everything here runs on the calling thread.

#include "FileSystem.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <cstdint>

struct TQuarantineItem {
    QString Id;
    QByteArray OriginalPath; // the file system's bytes: a name need not be UTF-8
    QString VirusName;
    int64_t Size = 0;
    QByteArray Sha256; // hexadecimal, of the original content
    uint32_t Mode = 0; // permission bits
    uint32_t Owner = 0, Group = 0;
    int64_t ModifiedNs = 0;
    QDateTime Quarantined;       // UTC
    int64_t DatabaseVersion = 0; // of the engine that found it (the daily database's version)
    bool NoLongerDetected = false;

    QString OriginalName() const;   // for display
    QString OriginalFolder() const; // for display, with its trailing delimiter
};

inline constexpr int QuarantineKeySize = 32;

// An item's content, read back as it was: the engine reads an item through it, so the content
// never lies on the disk as it was. Closed with the object.
class TQuarantineContent {
public:
    explicit TQuarantineContent(const QByteArray& NativePath);
    ~TQuarantineContent();
    TQuarantineContent(const TQuarantineContent&) = delete;
    TQuarantineContent& operator=(const TQuarantineContent&) = delete;

    bool IsOpen() const { return FDescriptor >= 0; }
    int64_t Size() const { return FSize; }
    // Up to Count original bytes from Offset; the number read, 0 at the end, or -1.
    int64_t Read(void* Buffer, int64_t Count, int64_t Offset) const;
    // The SHA-256 of the whole content, hexadecimal; empty when it cannot be read whole.
    QByteArray Digest() const;

private:
    void Close();
    int FDescriptor = -1;
    uint8_t FKey[QuarantineKeySize] = {};
    int64_t FSize = 0;
};

class TQuarantine {
public:
    // The user's quarantine: $XDG_DATA_HOME/Harkavel/Quarantine/.
    static QString DefaultFolder();
    explicit TQuarantine(QString Folder = DefaultFolder());

    // Moves the file a scan found at Path, with that Stamp, into the quarantine; a found link
    // gives the file it leads to, and then goes itself. As RemoveFoundFile: Removed when the
    // file is in the quarantine now, Changed when the path no longer holds the file found (or
    // nothing at all), Passing or Lasting when it cannot be moved (the file stays where it was).
    TRemoval Add(const QString& Path, const TFileStamp& Stamp, const QString& VirusName,
                 int64_t DatabaseVersion);

    // Every stored item, newest first.
    QList<TQuarantineItem> Items() const;
    // The bytes all items take.
    int64_t SpaceUsed() const;

    enum class TRestore { Restored, Exists, Failed };
    // Puts the item back at Target (empty: its original path) with its mode and modification
    // time, never over an existing file; the item goes once the file is back.
    TRestore Restore(const TQuarantineItem& Item, const QString& Target = QString());
    // Removes an item for good.
    bool Remove(const QString& Id);
    // Removes for good the items quarantined more than Days ago; their number.
    int RemoveOlderThan(int Days);
    // Finishes or rolls back the moves a killed program left half done.
    void Recover();

    // The file that holds an item's content: read it through TQuarantineContent.
    QString ContentPath(const QString& Id) const;
    void SetNoLongerDetected(const QString& Id, bool Value, int64_t DatabaseVersion);

    QString Folder() const { return FFolder; }
    QString ErrorText() const { return FErrorText; }

private:
    bool EnsureFolder();
    QString PathOf(const QString& Id, const char* Suffix) const;
    bool WriteRecord(const TQuarantineItem& Item, const QByteArray& State,
                     const QByteArray& LinkPath = {});
    bool ReadRecord(const QString& Id, TQuarantineItem& Item, QByteArray& State,
                    QByteArray* LinkPath = nullptr) const;
    bool StoreContent(const QByteArray& Source, TQuarantineItem& Item);
    void Forget(const QString& Id);

    QString FFolder;
    QString FErrorText;
};
