// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "FileReplacement.h"

#include "Exceptions.h"
#include "NativePath.h"

#include <QDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t NewFileMode = 0644;

QString TemporaryPrefix(const QString& TargetPath) {
    const qsizetype Slash = TargetPath.lastIndexOf(PathDelimiter);
    return TargetPath.left(Slash + 1) + u'.' + TargetPath.mid(Slash + 1) + QStringLiteral(".tmp-");
}

void SyncFolder(const QString& Path) {
    const int Folder =
        open(PathToNative(ExtractFilePath(Path)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Folder < 0)
        return;
    fsync(Folder); // the rename itself must survive a power cut, not only the data
    close(Folder);
}

} // namespace

TFileReplacement::TFileReplacement(QString TargetPath) : FTargetPath(std::move(TargetPath)) {}

TFileReplacement::~TFileReplacement() {
    Discard();
    if (FTargetLock >= 0)
        close(FTargetLock); // releases the flock
}

bool TFileReplacement::Fail(int Error) {
    FErrorText = SystemErrorText(Error);
    return false;
}

bool TFileReplacement::Open() {
    const QByteArray Target = PathToNative(FTargetPath);
    FTargetLock = open(Target.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (FTargetLock < 0 && errno == ELOOP) // a link in the database's place: lock what it names
        FTargetLock = open(Target.constData(), O_RDONLY | O_CLOEXEC);
    if (FTargetLock < 0 && errno != ENOENT)
        return Fail(errno);
    if (FTargetLock >= 0 && flock(FTargetLock, LOCK_EX | LOCK_NB) != 0)
        return Fail(errno);
    RemoveAbandoned(FTargetPath);

    QByteArray Template = PathToNative(TemporaryPrefix(FTargetPath)) + "XXXXXX";
    FTemporary = mkostemp(Template.data(), O_CLOEXEC);
    if (FTemporary < 0)
        return Fail(errno);
    FTemporaryPath = PathFromNative(Template);
    flock(FTemporary, LOCK_EX | LOCK_NB); // tells RemoveAbandoned that this one is in use
    if (!FStream.open(FTemporary, QIODevice::WriteOnly | QIODevice::Unbuffered,
                      QFileDevice::DontCloseHandle)) {
        Discard();
        return Fail(EIO);
    }
    return true;
}

bool TFileReplacement::CutAtPosition() {
    if (FTemporary < 0 || ftruncate(FTemporary, off_t(FStream.pos())) != 0)
        return Fail(FTemporary < 0 ? EBADF : errno);
    return FStream.seek(0);
}

bool TFileReplacement::Install() {
    if (FTemporary < 0)
        return Fail(EBADF);
    struct stat Old;
    const mode_t Mode =
        FTargetLock >= 0 && fstat(FTargetLock, &Old) == 0 ? Old.st_mode & 07777 : NewFileMode;
    if (fchmod(FTemporary, Mode) != 0 || fsync(FTemporary) != 0)
        return Fail(errno);
    if (rename(PathToNative(FTemporaryPath).constData(), PathToNative(FTargetPath).constData()) !=
        0)
        return Fail(errno);
    FStream.close();
    close(FTemporary);
    FTemporary = -1;
    FTemporaryPath.clear();
    SyncFolder(FTargetPath);
    return true;
}

void TFileReplacement::Discard() {
    FStream.close();
    if (FTemporary < 0)
        return;
    unlink(PathToNative(FTemporaryPath).constData());
    close(FTemporary);
    FTemporary = -1;
    FTemporaryPath.clear();
}

void TFileReplacement::RemoveAbandoned(const QString& TargetPath) {
    const QString Prefix = TemporaryPrefix(TargetPath);
    const QString Folder = ExtractFilePath(Prefix);
    const QString NamePrefix = Prefix.mid(Folder.size());
    QDir Listing(Folder.isEmpty() ? QStringLiteral(".") : Folder);
    for (const QString& Name : Listing.entryList({NamePrefix + u'*'}, QDir::Files | QDir::Hidden)) {
        const QByteArray Path = PathToNative(Folder + Name);
        const int Candidate = open(Path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (Candidate < 0)
            continue;
        if (flock(Candidate, LOCK_EX | LOCK_NB) == 0) // nobody writes it any more
            unlink(Path.constData());
        close(Candidate);
    }
}
