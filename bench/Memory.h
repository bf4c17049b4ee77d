#pragma once
// The process's own memory, from /proc/self: resident size and its peak since the last reset.

#include <QFile>
#include <cstring>

// A "kB" field of /proc/self/status ("VmRSS:", "VmHWM:"); 0 when it cannot be read.
inline long StatusKilobytes(const char* Field) {
    QFile Status("/proc/self/status");
    if (!Status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& Line : Status.readAll().split('\n'))
        if (Line.startsWith(Field))
            return Line.mid(qsizetype(strlen(Field))).trimmed().split(' ').first().toLong();
    return 0;
}

// Resets VmHWM to the current resident size.
inline void ResetPeakMemory() {
    QFile ClearRefs("/proc/self/clear_refs");
    if (ClearRefs.open(QIODevice::WriteOnly))
        ClearRefs.write("5");
}
