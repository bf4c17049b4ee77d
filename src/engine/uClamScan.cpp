// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "uClamScan.h"

#include "LibClamAV.h"
#include "platform/FileSystem.h"
#include "platform/NativePath.h"
#include "platform/ProgramPath.h"
#include "platform/Thread.h"
#include "uClamDatabase.h"

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
    TFileStamp File;
    return ScanStampedFile(Path, VirusName, ScannedTotal, Status, File);
}

// The file is opened once, without blocking, and the engine reads that descriptor: checking a
// path and then letting the engine open it again by name let a FIFO swapped in between block
// the scan for good, and let the find name a file the engine never read. What is not a regular
// file (FIFO, device, socket) is never handed to the engine. A file that cannot be opened gets
// the status cl_scanfile gives for it.
HRESULT TClamScan::ScanStampedFile(const QString& Path, QString& VirusName, uint32_t& ScannedTotal,
                                   int32_t& Status, TFileStamp& File) {
    VirusName.clear();
    Status = CL_CLEAN;
    File = {};
    return SafeCallBoundary([&] {
        cl_engine* Engine = TClamDatabase::Instance()->Engine();
        if (Engine == nullptr)
            return;
        const QByteArray NativePath = PathToNative(Path);
        const TReadableFile Opened(NativePath);
        if (Opened.Descriptor() < 0) {
            Status = Opened.AccessDenied() ? CL_EACCES : CL_EOPEN;
            return;
        }
        if (!Opened.IsRegular())
            return;
        cl_scan_options Options = ScanOptionsFromWord(FScanOptions & ~StructuredScanOptions);
        const char* Name = nullptr;
        unsigned long Scanned = ScannedTotal;
        Status = cl_scandesc(Opened.Descriptor(), NativePath.constData(), &Name, &Scanned, Engine,
                             &Options);
        ScannedTotal = uint32_t(Scanned);
        File = Opened.Stamp();
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
        Status = TClamDatabase::Instance()->Load(PathToNative(DatabaseFolder()), FLoadProgress);
    });
}
