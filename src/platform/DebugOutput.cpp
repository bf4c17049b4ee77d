// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "DebugOutput.h"

#include <QLoggingCategory>
#include <cstring>
#include <mutex>

Q_LOGGING_CATEGORY(HarkavelDebug, "harkavel.debug", QtWarningMsg)

namespace {
std::mutex SinkLock;
TDebugOutputSink Sink;
} // namespace

void OutputDebugString(const QString& Text) {
    qCDebug(HarkavelDebug).noquote() << Text;
    std::lock_guard Guard(SinkLock);
    if (Sink)
        Sink(Text);
}

void OutputDebugLocation(const char* File, unsigned Line, const char* Routine,
                         const QString& Text) {
    const char* Slash = strrchr(File, '/');
    OutputDebugString(QString::asprintf("%s:%u (%s) ", Slash ? Slash + 1 : File, Line, Routine) +
                      Text);
}

void SetDebugOutputSink(TDebugOutputSink NewSink) {
    std::lock_guard Guard(SinkLock);
    Sink = std::move(NewSink);
}
