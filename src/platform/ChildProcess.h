// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// A program run as a child process in a session of its own, its output read through one pipe.
//
// The child leads its own process group, so that a signal reaches the processes it forks as
// well. Its standard output and error go into one pipe; its standard input is /dev/null. One
// thread starts, reads and waits; Wake may be called from any other thread to break a Read
// off early (a cancel request).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

class TChildProcess {
public:
    TChildProcess();
    ~TChildProcess(); // a child still running is killed with its group and reaped
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Starts Program (a full path) with Arguments. False, with ErrorText() set, when it cannot.
    bool Start(const QString& Program, const QStringList& Arguments);

    enum class TRead { Data, Woken, Timeout, Closed };
    // Waits at most TimeoutMs for output, a Wake or the end of the output, and appends what
    // arrived to Output.
    TRead Read(QByteArray& Output, int TimeoutMs);
    // Any thread: makes the Read in progress, or the next one, return Woken.
    void Wake();

    // Reaps the child when it has ended within TimeoutMs; ExitCode() then tells how.
    bool WaitForExit(int TimeoutMs);
    // Stops the child: Signal to the group, SIGKILL after GraceMs, then reaps it.
    void Stop(int Signal, int GraceMs);

    bool Running() const { return FPid > 0; }
    // The exit status, or 128 + the signal that ended the child.
    int ExitCode() const { return FExitCode; }
    QString ErrorText() const { return FErrorText; }

private:
    void ClosePipe();

    pid_t FPid = -1;
    int FOutput = -1;   // read end of the child's output
    int FWakeRead = -1; // self-pipe that Wake writes to
    int FWakeWrite = -1;
    int FExitCode = -1;
    QString FErrorText;
};

// The full path of Program on PATH, or empty.
QString FindProgramOnPath(const QString& Program);
