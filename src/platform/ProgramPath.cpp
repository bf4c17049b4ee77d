#include "ProgramPath.h"

#include "NativePath.h"

#include <QByteArray>
#include <mutex>
#include <unistd.h>

namespace {
std::mutex OverrideLock;
QString OverriddenFolder;
} // namespace

QString ProgramFilePath() {
    QByteArray Buffer(4096, Qt::Uninitialized);
    const ssize_t Length = readlink("/proc/self/exe", Buffer.data(), size_t(Buffer.size()));
    if (Length <= 0)
        return {};
    Buffer.truncate(Length);
    return PathFromNative(Buffer);
}

QString ProgramFolder() {
    {
        std::lock_guard Guard(OverrideLock);
        if (!OverriddenFolder.isEmpty())
            return OverriddenFolder;
    }
    return ExtractFilePath(ProgramFilePath());
}

void testing::SetProgramFolder(const QString& Folder) {
    std::lock_guard Guard(OverrideLock);
    OverriddenFolder = Folder.isEmpty() ? QString() : IncludeTrailingPathDelimiter(Folder);
}
