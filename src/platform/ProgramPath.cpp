#include "ProgramPath.h"

#include "NativePath.h"

#include <QByteArray>
#include <mutex>
#include <unistd.h>

namespace {
std::mutex OverrideLock;
QString OverriddenFile;
} // namespace

QString ProgramFilePath() {
    {
        std::lock_guard Guard(OverrideLock);
        if (!OverriddenFile.isEmpty())
            return OverriddenFile;
    }
    QByteArray Buffer(4096, Qt::Uninitialized);
    const ssize_t Length = readlink("/proc/self/exe", Buffer.data(), size_t(Buffer.size()));
    if (Length <= 0)
        return {};
    Buffer.truncate(Length);
    return PathFromNative(Buffer);
}

QString ProgramFolder() {
    return ExtractFilePath(ProgramFilePath());
}

void testing::SetProgramFilePath(const QString& Path) {
    std::lock_guard Guard(OverrideLock);
    OverriddenFile = Path;
}

void testing::SetProgramFolder(const QString& Folder) {
    SetProgramFilePath(Folder.isEmpty() ? QString()
                                        : IncludeTrailingPathDelimiter(Folder) + "Harkavel");
}
