// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// A process's memory, from /proc: resident size and its peak since the last reset. The process
// is this one unless a process id is given (a server the benchmark started, say).

#include <QFile>
#include <QString>
#include <cstring>

inline QString ProcFile(qint64 Pid, const char* Name) {
    return QStringLiteral("/proc/%1/%2")
        .arg(Pid > 0 ? QString::number(Pid) : QStringLiteral("self"), QLatin1String(Name));
}

// A "kB" field of /proc/PID/status ("VmRSS:", "VmHWM:"); 0 when it cannot be read.
inline long StatusKilobytes(const char* Field, qint64 Pid = 0) {
    QFile Status(ProcFile(Pid, "status"));
    if (!Status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& Line : Status.readAll().split('\n'))
        if (Line.startsWith(Field))
            return Line.mid(qsizetype(strlen(Field))).trimmed().split(' ').first().toLong();
    return 0;
}

// Resets VmHWM to the current resident size.
inline void ResetPeakMemory(qint64 Pid = 0) {
    QFile ClearRefs(ProcFile(Pid, "clear_refs"));
    if (ClearRefs.open(QIODevice::WriteOnly))
        ClearRefs.write("5");
}
