// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "Drives.h"

#include "NativePath.h"

#include <QFile>
#include <QSet>
#include <algorithm>
#include <mutex>

namespace {

// Backed by a device, yet no drive of the user's: compressed images, layers, memory.
const QSet<QByteArray> NoDriveTypes = {"tmpfs", "squashfs", "overlay", "ramfs", "devtmpfs"};

std::mutex TableLock;
QByteArray StubbedTable; // guarded by TableLock

struct TMount {
    QByteArray Device;
    QString MountPoint;
    QByteArray Type;
};

// The table writes a space, a tab, a line break and a backslash in a field as \040, \011,
// \012 and \134.
QByteArray Unescape(const QByteArray& Field) {
    QByteArray Out;
    for (qsizetype I = 0; I < Field.size(); ++I) {
        if (Field[I] == '\\' && I + 3 < Field.size()) {
            bool Octal = false;
            const int Code = Field.mid(I + 1, 3).toInt(&Octal, 8);
            if (Octal) {
                Out += char(Code);
                I += 3;
                continue;
            }
        }
        Out += Field[I];
    }
    return Out;
}

// Fields: id parent major:minor root mount-point options [optional...] - type source ...
QList<TMount> ParseMountTable(const QByteArray& MountInfo) {
    QList<TMount> Mounts;
    for (const QByteArray& Line : MountInfo.split('\n')) {
        const QList<QByteArray> Fields = Line.split(' ');
        const qsizetype Separator = Fields.indexOf("-");
        if (Fields.size() < 5 || Separator < 5 || Separator + 2 >= Fields.size())
            continue;
        Mounts << TMount{Unescape(Fields[Separator + 2]), PathFromNative(Unescape(Fields[4])),
                         Fields[Separator + 1]};
    }
    return Mounts;
}

} // namespace

QStringList DrivesFromMountTable(const QByteArray& MountInfo) {
    QList<TMount> Mounts = ParseMountTable(MountInfo);
    // The shortest mount point of a device comes first, so bind mounts of it are dropped.
    std::sort(Mounts.begin(), Mounts.end(), [](const TMount& A, const TMount& B) {
        return A.MountPoint.size() != B.MountPoint.size()
                   ? A.MountPoint.size() < B.MountPoint.size()
                   : A.MountPoint < B.MountPoint;
    });
    QStringList Drives{QStringLiteral("/")};
    QSet<QByteArray> Devices;
    for (const TMount& Mount : Mounts) {
        if (Mount.MountPoint == u"/") {
            Devices.insert(Mount.Device);
            continue;
        }
        if (!Mount.Device.startsWith("/dev/") || NoDriveTypes.contains(Mount.Type) ||
            Devices.contains(Mount.Device))
            continue;
        Devices.insert(Mount.Device);
        Drives << Mount.MountPoint;
    }
    std::sort(Drives.begin(), Drives.end());
    return Drives;
}

QStringList harkavel::GetLogicalDrives() {
    {
        std::lock_guard Guard(TableLock);
        if (!StubbedTable.isNull())
            return DrivesFromMountTable(StubbedTable);
    }
    QFile Table(QStringLiteral("/proc/self/mountinfo"));
    if (!Table.open(QIODevice::ReadOnly))
        return {QStringLiteral("/")};
    return DrivesFromMountTable(Table.readAll());
}

void testing::SetMountTable(const QByteArray& MountInfo) {
    std::lock_guard Guard(TableLock);
    StubbedTable = MountInfo;
}
