// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// Scans its targets in a process of its own and prints the events, one a line:
//   ScanTree PROGRAM_FOLDER TARGET...
// Started as root it first becomes the unprivileged user "nobody", so that files without read
// permission really are unreadable to the engine (root reads everything).

#include "engine/uClamDatabase.h"
#include "platform/NativePath.h"
#include "platform/ProgramPath.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <cstdio>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {
bool DropToNobody() {
    if (geteuid() != 0)
        return true;
    const passwd* Nobody = getpwnam("nobody");
    return Nobody != nullptr && setgroups(0, nullptr) == 0 && setgid(Nobody->pw_gid) == 0 &&
           setuid(Nobody->pw_uid) == 0;
}
} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2 || !DropToNobody()) {
        std::fprintf(stderr, "usage: ScanTree PROGRAM_FOLDER TARGET... (run as root or a user)\n");
        return 2;
    }
    QCoreApplication Application(argc, argv);
    testing::SetProgramFolder(PathFromNative(argv[1]));
    QStringList Targets;
    for (int I = 2; I < argc; ++I)
        Targets << PathFromNative(argv[I]);
    const support::TScanRecord Record = support::RunScan(Targets);
    for (const QString& Event : Record.Events)
        std::printf("%s\n", PathToNative(Event).constData());
    std::printf("%s\n", Record.Terminated ? "terminated" : "not terminated");
    TClamDatabase::ReleaseInstance();
    return Record.AllOnMainThread ? 0 : 1;
}
