// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "uClamScan.h"

#include "LibClamAV.h"
#include "platform/FileSystem.h"
#include "platform/NativePath.h"
#include "platform/ProgramPath.h"
#include "platform/Thread.h"
#include "uClamDatabase.h"

namespace {

// A path longer than the system takes in one call, deep in a tree: cl_scanfile cannot open it,
// so the file is opened piece by piece and handed over by its descriptor, with the same
// results cl_scanfile gives for a file it cannot open.
int ScanLongPath(const QByteArray& NativePath, const char** Name, unsigned long* Scanned,
                 cl_engine* Engine, cl_scan_options* Options) {
    const TReadableFile File(NativePath);
    if (File.Descriptor() < 0)
        return File.AccessDenied() ? CL_EACCES : CL_EOPEN;
    if (!File.IsRegular())
        return CL_CLEAN;
    return cl_scandesc(File.Descriptor(), NativePath.constData(), Name, Scanned, Engine, Options);
}

} // namespace

HRESULT TClamScan::QueryInterface(const TGUID& IID, void** Obj) {
    if (IID == IClamScan::IID || IID == IInterface::IID) {
        *Obj = static_cast<IClamScan*>(this);
        _AddRef();
        return S_OK;
    }
    *Obj = nullptr;
    return E_NOINTERFACE;
}

HRESULT TClamScan::ScanFile(const QString& Path, QString& VirusName, uint32_t& ScannedTotal,
                            int32_t& Status) {
    VirusName.clear();
    Status = CL_CLEAN;
    return SafeCallBoundary([&] {
        cl_engine* Engine = TClamDatabase::Instance()->Engine();
        if (Engine == nullptr)
            return;
        // A FIFO would block the engine forever and a device would feed it without end; only
        // regular files are read, whatever the caller passes.
        const QByteArray NativePath = PathToNative(Path);
        if (NativePath.size() <= MaxPathLength && IsSpecialFile(NativePath))
            return;
        cl_scan_options Options = ScanOptionsFromWord(FScanOptions & ~StructuredScanOptions);
        const char* Name = nullptr;
        unsigned long Scanned = ScannedTotal;
        if (NativePath.size() <= MaxPathLength)
            Status = cl_scanfile(NativePath.constData(), &Name, &Scanned, Engine, &Options);
        else
            Status = ScanLongPath(NativePath, &Name, &Scanned, Engine, &Options);
        ScannedTotal = uint32_t(Scanned);
        if (Status == CL_VIRUS && Name != nullptr)
            VirusName = QString::fromUtf8(Name);
    });
}

HRESULT TClamScan::GetSignatureCount(uint32_t& Count) {
    return SafeCallBoundary([&] { Count = TClamDatabase::Instance()->SignatureCount(); });
}

HRESULT TClamScan::UnloadDatabase() {
    return SafeCallBoundary([] { TClamDatabase::Instance()->Unload(); });
}

HRESULT TClamScan::GetErrorText(int32_t Status, QString& Text) {
    Text.clear();
    return SafeCallBoundary([&] { Text = EngineErrorText(Status); });
}

HRESULT TClamScan::LoadDatabase(int32_t& Status) {
    return SafeCallBoundary([&] {
        HARKAVEL_ASSERT(!IsMainThread(), "uClamScan");
        Status = TClamDatabase::Instance()->Load(PathToNative(DatabaseFolder()));
    });
}
