// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "ChildProcess.h"

#include "Exceptions.h"
#include "NativePath.h"

#include <QStandardPaths>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

void CloseDescriptor(int& Descriptor) {
    if (Descriptor >= 0)
        close(Descriptor);
    Descriptor = -1;
}

int DecodeStatus(int Status) {
    if (WIFEXITED(Status))
        return WEXITSTATUS(Status);
    return WIFSIGNALED(Status) ? 128 + WTERMSIG(Status) : -1;
}

} // namespace

TChildProcess::TChildProcess() {
    int Wake[2];
    if (pipe2(Wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        FWakeRead = Wake[0];
        FWakeWrite = Wake[1];
    }
}

TChildProcess::~TChildProcess() {
    if (Running())
        Stop(SIGKILL, 0);
    ClosePipe();
    CloseDescriptor(FWakeRead);
    CloseDescriptor(FWakeWrite);
}

void TChildProcess::ClosePipe() {
    CloseDescriptor(FOutput);
}

bool TChildProcess::Start(const QString& Program, const QStringList& Arguments) {
    int Output[2];
    // Close-on-exec: only the ends dup'ed onto 1 and 2 reach the child.
    if (FWakeRead < 0 || pipe2(Output, O_CLOEXEC) != 0) {
        FErrorText = SystemErrorText(errno);
        return false;
    }
    std::vector<QByteArray> Words{PathToNative(Program)};
    for (const QString& Argument : Arguments)
        Words.push_back(Argument.toLocal8Bit());
    std::vector<char*> Argv;
    for (QByteArray& Word : Words)
        Argv.push_back(Word.data());
    Argv.push_back(nullptr);

    posix_spawn_file_actions_t Actions;
    posix_spawnattr_t Attributes;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&Actions, Output[1], 1);
    posix_spawn_file_actions_adddup2(&Actions, Output[1], 2);
    posix_spawnattr_init(&Attributes);
    // Its own session: a signal to its group reaches what it forks, and a terminal's Ctrl+C
    // reaches only us.
    posix_spawnattr_setflags(&Attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t Signals;
    sigemptyset(&Signals);
    posix_spawnattr_setsigmask(&Attributes, &Signals);
    sigaddset(&Signals, SIGINT);
    sigaddset(&Signals, SIGTERM);
    sigaddset(&Signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&Attributes, &Signals);
    const int Error = posix_spawn(&FPid, Argv[0], &Actions, &Attributes, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    posix_spawnattr_destroy(&Attributes);
    close(Output[1]);
    if (Error != 0) {
        FPid = -1;
        close(Output[0]);
        FErrorText = SystemErrorText(Error);
        return false;
    }
    FOutput = Output[0];
    FExitCode = -1;
    return true;
}

TChildProcess::TRead TChildProcess::Read(QByteArray& Output, int TimeoutMs) {
    if (FOutput < 0)
        return TRead::Closed;
    pollfd Waits[2] = {{FOutput, POLLIN, 0}, {FWakeRead, POLLIN, 0}};
    const int Ready = poll(Waits, 2, TimeoutMs);
    if (Ready < 0)
        return errno == EINTR ? TRead::Timeout : TRead::Closed;
    if (Ready == 0)
        return TRead::Timeout;
    if (Waits[1].revents != 0) {
        char Drain[64];
        while (read(FWakeRead, Drain, sizeof Drain) > 0) {
        }
        return TRead::Woken;
    }
    char Buffer[4096];
    const ssize_t Count = read(FOutput, Buffer, sizeof Buffer);
    if (Count > 0) {
        Output.append(Buffer, Count);
        return TRead::Data;
    }
    if (Count < 0 && errno == EINTR)
        return TRead::Timeout;
    ClosePipe();
    return TRead::Closed;
}

void TChildProcess::Wake() {
    const char Byte = 1;
    if (FWakeWrite >= 0) [[maybe_unused]]
        const ssize_t Written = write(FWakeWrite, &Byte, 1);
}

bool TChildProcess::WaitForExit(int TimeoutMs) {
    using namespace std::chrono;
    const auto Deadline = steady_clock::now() + milliseconds(TimeoutMs);
    while (Running()) {
        int Status = 0;
        const pid_t Reaped = waitpid(FPid, &Status, WNOHANG);
        if (Reaped == FPid || (Reaped < 0 && errno == ECHILD)) {
            FExitCode = Reaped == FPid ? DecodeStatus(Status) : -1;
            FPid = -1;
            return true;
        }
        if (steady_clock::now() >= Deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

void TChildProcess::Stop(int Signal, int GraceMs) {
    if (!Running())
        return;
    const pid_t Group = FPid;
    using namespace std::chrono;
    const auto Deadline = steady_clock::now() + milliseconds(GraceMs);
    kill(-Group, Signal);
    // The child may have forked helpers that outlive it for a moment: the group must be empty
    // before we go, or one of them would go on writing into the folder.
    while (!WaitForExit(1) || kill(-Group, 0) == 0) {
        if (steady_clock::now() >= Deadline) {
            kill(-Group, SIGKILL);
            break;
        }
    }
    if (Running()) {
        int Status = 0;
        waitpid(FPid, &Status, 0); // SIGKILL cannot be refused
        FExitCode = DecodeStatus(Status);
        FPid = -1;
    }
    // What is left of the group has been killed: its members are gone as soon as the kernel
    // has torn them down, which a short wait covers.
    for (int Round = 0; Round < 1000 && kill(-Group, 0) == 0; ++Round)
        std::this_thread::sleep_for(milliseconds(1));
}

QString FindProgramOnPath(const QString& Program) {
    return QStandardPaths::findExecutable(Program);
}
