// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "DeleteOnRestart.h"

#include "NativePath.h"

#include <QFile>
#include <QSaveFile>

namespace {

const QByteArray ListSignature = QByteArrayLiteral("Harkavel pending deletes 2");
// The list is a few lines per noted file; anything larger is not ours.
constexpr qint64 ListLimit = 16 * 1024 * 1024;

struct TEntry {
    TFileStamp Stamp;
    QByteArray Path;
    bool operator==(const TEntry&) const = default;
};

QByteArray StampText(const TFileStamp& Stamp) {
    return QByteArray::number(Stamp.Device) + ' ' + QByteArray::number(Stamp.Inode) + ' ' +
           QByteArray::number(Stamp.Size) + ' ' + QByteArray::number(Stamp.ModifiedNs);
}

TFileStamp StampFromText(const QByteArray& Text) {
    const QList<QByteArray> Fields = Text.split(' ');
    if (Fields.size() != 4)
        return {};
    return {Fields[0].toULongLong(), Fields[1].toULongLong(), Fields[2].toLongLong(),
            Fields[3].toLongLong()};
}

QList<TEntry> ReadList(const QString& ListFile) {
    // Bounded and never blocking: a FIFO or a device in the list's place must not hang the
    // start or fill the memory.
    QByteArray Bytes;
    if (!ReadRegularFile(ListFile, ListLimit, Bytes))
        return {};
    const QList<QByteArray> Fields = Bytes.split('\0');
    if (Fields.isEmpty() || Fields.first() != ListSignature)
        return {}; // bare paths: nothing to check them against
    QList<TEntry> Entries;
    for (qsizetype I = 1; I + 1 < Fields.size(); I += 2) {
        const TEntry Entry{StampFromText(Fields[I]), Fields[I + 1]};
        if (Entry.Stamp.IsValid() && !Entry.Path.isEmpty())
            Entries << Entry;
    }
    return Entries;
}

bool WriteList(const QString& ListFile, const QList<TEntry>& Entries) {
    if (Entries.isEmpty())
        return !QFile::exists(ListFile) || QFile::remove(ListFile);
    QByteArray Bytes = ListSignature + '\0';
    for (const TEntry& Entry : Entries)
        Bytes += StampText(Entry.Stamp) + '\0' + Entry.Path + '\0';
    QSaveFile File(ListFile);
    // Unbuffered: Qt 6.4 loses the error of a failed buffered write (see SimpleXML).
    return File.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
           File.write(Bytes) == Bytes.size() && File.commit();
}

} // namespace

bool ScheduleDeleteOnRestart(const QString& ListFile, const QString& Path,
                             const TFileStamp& Stamp) {
    if (!Stamp.IsValid())
        return false;
    const TEntry Entry{Stamp, PathToNative(Path)};
    QList<TEntry> Entries = ReadList(ListFile);
    if (!Entries.contains(Entry))
        Entries << Entry;
    return WriteList(ListFile, Entries);
}

TScheduledDeletes DeleteScheduledFiles(const QString& ListFile, const TFoundFileRemover& Remove) {
    TScheduledDeletes Result;
    QList<TEntry> Left;
    for (const TEntry& Entry : ReadList(ListFile)) {
        const QString Path = PathFromNative(Entry.Path);
        switch (Remove(Path, Entry.Stamp)) {
        case TRemoval::Removed:
        case TRemoval::Changed:
            break;
        case TRemoval::Passing:
            Left << Entry;
            break;
        case TRemoval::Lasting:
            Result.Refused << Path;
            break;
        }
    }
    WriteList(ListFile, Left);
    Result.Left = int(Left.size());
    return Result;
}
