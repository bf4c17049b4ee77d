// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "FolderLock.h"

#include "Exceptions.h"
#include "NativePath.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TFolderLock::~TFolderLock() {
    Release();
}

bool TFolderLock::Acquire(const QString& Folder) {
    Release();
    // Close-on-exec: a child process must not inherit, and so outlive us holding, the lock.
    const int Descriptor =
        open(PathToNative(Folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Descriptor < 0) {
        FErrorText = SystemErrorText(errno);
        return false;
    }
    if (flock(Descriptor, LOCK_EX | LOCK_NB) != 0) {
        FErrorText = errno == EWOULDBLOCK ? QStringLiteral("another update holds the folder")
                                          : SystemErrorText(errno);
        close(Descriptor);
        return false;
    }
    FDescriptor = Descriptor;
    return true;
}

void TFolderLock::Release() {
    if (FDescriptor >= 0)
        close(FDescriptor);
    FDescriptor = -1;
}
