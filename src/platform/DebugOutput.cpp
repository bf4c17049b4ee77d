#include "DebugOutput.h"

#include <QLoggingCategory>
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

void SetDebugOutputSink(TDebugOutputSink NewSink) {
    std::lock_guard Guard(SinkLock);
    Sink = std::move(NewSink);
}
