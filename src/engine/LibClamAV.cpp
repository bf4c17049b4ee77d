// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "LibClamAV.h"

#include "platform/DebugOutput.h"

#include <mutex>

cl_scan_options ScanOptionsFromWord(uint32_t Word) {
    cl_scan_options Options{};
    for (const TScanOptionMapping& Mapping : ScanOptionTable)
        if (Word & Mapping.WordBit)
            Options.*Mapping.Set |= Mapping.Flag;
    return Options;
}

cl_error_t SetScanLimits(cl_engine* Engine) {
    for (const TScanLimit& Limit : ScanLimitTable)
        if (const cl_error_t Status = cl_engine_set_num(Engine, Limit.Field, Limit.Value))
            return Status;
    return CL_SUCCESS;
}

namespace {
void ForwardEngineMessage(enum cl_msg, const char* FullMessage, const char*, void*) {
    OutputDebugString(QString::fromUtf8(FullMessage).trimmed());
}
} // namespace

void RouteEngineMessages() {
    cl_set_clcb_msg(&ForwardEngineMessage);
}

int InitEngineLibrary() {
    static std::once_flag Once;
    static int Status = CL_SUCCESS;
    std::call_once(Once, [] {
        RouteEngineMessages();
        Status = cl_init(CL_INIT_DEFAULT);
    });
    return Status;
}

QString EngineVersion() {
    return QString::fromUtf8(cl_retver());
}

QString EngineErrorText(int Status) {
    return QString::fromUtf8(cl_strerror(static_cast<cl_error_t>(Status)));
}
