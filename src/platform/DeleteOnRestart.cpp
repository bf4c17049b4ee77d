// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "DeleteOnRestart.h"

#include "NativePath.h"

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray ListSignature = QByteArrayLiteral("Harkavel pending deletes 2");

struct TEntry {
    QByteArray Identity; // "device inode size mtime-ns"
    QByteArray Path;
    bool operator==(const TEntry&) const = default;
};

// The identity of what is at Path now, links not followed; empty when nothing can be read.
QByteArray IdentityOf(const QByteArray& Path, struct stat* Info = nullptr) {
    struct stat Own;
    struct stat& Status = Info ? *Info : Own;
    if (lstat(Path.constData(), &Status) != 0)
        return QByteArray();
    return QByteArray::number(quint64(Status.st_dev)) + ' ' +
           QByteArray::number(quint64(Status.st_ino)) + ' ' +
           QByteArray::number(qint64(Status.st_size)) + ' ' +
           QByteArray::number(qint64(Status.st_mtim.tv_sec) * 1000000000 + Status.st_mtim.tv_nsec);
}

QList<TEntry> ReadList(const QString& ListFile) {
    QFile File(ListFile);
    if (!File.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> Fields = File.readAll().split('\0');
    if (Fields.isEmpty() || Fields.first() != ListSignature)
        return {}; // bare paths: nothing to check them against
    QList<TEntry> Entries;
    for (qsizetype I = 1; I + 1 < Fields.size(); I += 2)
        if (!Fields[I].isEmpty() && !Fields[I + 1].isEmpty())
            Entries << TEntry{Fields[I], Fields[I + 1]};
    return Entries;
}

bool WriteList(const QString& ListFile, const QList<TEntry>& Entries) {
    if (Entries.isEmpty())
        return !QFile::exists(ListFile) || QFile::remove(ListFile);
    QByteArray Bytes = ListSignature + '\0';
    for (const TEntry& Entry : Entries)
        Bytes += Entry.Identity + '\0' + Entry.Path + '\0';
    QSaveFile File(ListFile);
    // Unbuffered: Qt 6.4 loses the error of a failed buffered write (see SimpleXML).
    return File.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
           File.write(Bytes) == Bytes.size() && File.commit();
}

// Failures that the next start would meet again, and the one after, for ever.
bool IsLasting(int Error) {
    return Error == EACCES || Error == EPERM || Error == EROFS || Error == EISDIR ||
           Error == ENOTDIR || Error == ENAMETOOLONG || Error == ELOOP;
}

// True when the entry is done with: deleted, gone, another file by now, or never deletable.
bool DeleteEntry(const TEntry& Entry) {
    struct stat Info;
    const QByteArray Now = IdentityOf(Entry.Path, &Info);
    if (Now.isEmpty() || Now != Entry.Identity || S_ISDIR(Info.st_mode))
        return true;
    return unlink(Entry.Path.constData()) == 0 || errno == ENOENT || IsLasting(errno);
}

} // namespace

bool ScheduleDeleteOnRestart(const QString& ListFile, const QString& Path) {
    const QByteArray Native = PathToNative(Path);
    const TEntry Entry{IdentityOf(Native), Native};
    if (Entry.Identity.isEmpty())
        return false;
    QList<TEntry> Entries = ReadList(ListFile);
    if (!Entries.contains(Entry))
        Entries << Entry;
    return WriteList(ListFile, Entries);
}

int DeleteScheduledFiles(const QString& ListFile) {
    QList<TEntry> Left;
    for (const TEntry& Entry : ReadList(ListFile))
        if (!DeleteEntry(Entry))
            Left << Entry;
    WriteList(ListFile, Left);
    return int(Left.size());
}
