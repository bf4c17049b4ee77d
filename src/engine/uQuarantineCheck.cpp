// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "uQuarantineCheck.h"

#include "LibClamAV.h"
#include "platform/DebugOutput.h"
#include "platform/NativePath.h"
#include "uClamScan.h"

namespace {

off_t ReadItem(void* Handle, void* Buffer, size_t Count, off_t Offset) {
    return off_t(static_cast<const TQuarantineContent*>(Handle)->Read(Buffer, int64_t(Count),
                                                                      int64_t(Offset)));
}

} // namespace

int64_t EngineDatabaseVersion(const cl_engine* Engine) {
    int Error = CL_SUCCESS;
    const long long Version = cl_engine_get_num(Engine, CL_ENGINE_DB_VERSION, &Error);
    return Error == CL_SUCCESS ? Version : 0;
}

bool IsItemDetected(const TQuarantine& Store, const QString& Id, const cl_engine* Engine) {
    const TQuarantineContent Content(PathToNative(Store.ContentPath(Id)));
    if (!Content.IsOpen())
        return true; // unreadable: nothing to clear it of
    cl_fmap_t* Map = cl_fmap_open_handle(const_cast<TQuarantineContent*>(&Content), 0,
                                         size_t(Content.Size()), &ReadItem, 1);
    if (Map == nullptr)
        return true;
    cl_scan_options Options = ScanOptionsFromWord(DefaultScanOptions & ~StructuredScanOptions);
    const char* Name = nullptr;
    unsigned long Scanned = 0;
    const cl_error_t Status =
        cl_scanmap_callback(Map, nullptr, &Name, &Scanned, Engine, &Options, nullptr);
    cl_fmap_close(Map);
    return Status != CL_CLEAN; // an error is no proof of innocence
}

int RecheckQuarantine(TQuarantine& Store, const cl_engine* Engine,
                      const std::function<bool()>& Stop) {
    const int64_t Version = EngineDatabaseVersion(Engine);
    int Rechecked = 0;
    for (const TQuarantineItem& Item : Store.Items()) {
        if (Stop())
            break;
        if (Item.DatabaseVersion == Version)
            continue;
        const bool Detected = IsItemDetected(Store, Item.Id, Engine);
        Store.SetNoLongerDetected(Item.Id, !Detected, Version);
        HARKAVEL_DEBUG_LINE(QStringLiteral("Quarantine: %1 rechecked with version %2: %3")
                                .arg(Item.Id)
                                .arg(Version)
                                .arg(Detected ? "detected" : "no longer detected"));
        ++Rechecked;
    }
    return Rechecked;
}
