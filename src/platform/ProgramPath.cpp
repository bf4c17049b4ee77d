// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "ProgramPath.h"

#include "NativePath.h"

#include <QByteArray>
#include <QDir>
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

QString DatabaseFolder() {
    const QString Program = ProgramFolder();
    if (access(PathToNative(Program).constData(), W_OK) == 0)
        return Program;
    return UserDataFolder();
}

QString UserDataFolder() {
    QString Data = qEnvironmentVariable("XDG_DATA_HOME");
    if (Data.isEmpty())
        Data = qEnvironmentVariable("HOME") + QStringLiteral("/.local/share");
    const QString Folder = IncludeTrailingPathDelimiter(Data) + QStringLiteral("Harkavel/");
    QDir().mkpath(Folder);
    return Folder;
}

void testing::SetProgramFilePath(const QString& Path) {
    std::lock_guard Guard(OverrideLock);
    OverriddenFile = Path;
}

void testing::SetProgramFolder(const QString& Folder) {
    SetProgramFilePath(Folder.isEmpty() ? QString()
                                        : IncludeTrailingPathDelimiter(Folder) + "Harkavel");
}
