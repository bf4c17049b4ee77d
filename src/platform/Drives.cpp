#include "Drives.h"

#include <QSet>
#include <QStorageInfo>
#include <algorithm>

namespace {
// Backed by a device, yet no drive of the user's: compressed images, layers, memory.
const QSet<QByteArray> NoDriveTypes = {"tmpfs", "squashfs", "overlay", "ramfs", "devtmpfs"};
} // namespace

QStringList GetLogicalDrives() {
    QList<QStorageInfo> Volumes = QStorageInfo::mountedVolumes();
    // The shortest mount point of a device comes first, so bind mounts of it are dropped.
    std::sort(Volumes.begin(), Volumes.end(), [](const QStorageInfo& A, const QStorageInfo& B) {
        return A.rootPath().size() != B.rootPath().size()
                   ? A.rootPath().size() < B.rootPath().size()
                   : A.rootPath() < B.rootPath();
    });
    QStringList Drives{QStringLiteral("/")};
    QSet<QByteArray> Devices;
    for (const QStorageInfo& Volume : Volumes) {
        const QByteArray Device = Volume.device();
        if (Volume.rootPath() == u"/") {
            Devices.insert(Device);
            continue;
        }
        if (!Device.startsWith("/dev/") || NoDriveTypes.contains(Volume.fileSystemType()) ||
            Devices.contains(Device))
            continue;
        Devices.insert(Device);
        Drives << Volume.rootPath();
    }
    std::sort(Drives.begin(), Drives.end());
    return Drives;
}
