// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The scan service: how a scanner thread uses the process-wide engine. It fixes the scan
// options and the folder the signatures come from; the engine itself stays with the holder.

#include "platform/FileSystem.h"
#include "platform/Interfaces.h"

#include <QString>
#include <cstdint>
#include <functional>

class IClamScan : public IInterface {
public:
    static constexpr TGUID IID{0x01928D58, 0xCB36, 0x4548, 0x87, 0x9D, 0xE7,
                               0x23,       0xED,   0x3D,   0xD3, 0x09};

    // Scans one file with the loaded engine: Status 0 clean, 1 infected (VirusName set), any
    // other value the engine's error. ScannedTotal is the caller's and grows by what was read.
    virtual HRESULT ScanFile(const QString& Path, QString& VirusName, uint32_t& ScannedTotal,
                             int32_t& Status) = 0;
    virtual HRESULT GetSignatureCount(uint32_t& Count) = 0;
    virtual HRESULT UnloadDatabase() = 0;
    virtual HRESULT GetErrorText(int32_t Status, QString& Text) = 0;
    // Loads the engine from the program's folder, once per process. Never on the main thread.
    virtual HRESULT LoadDatabase(int32_t& Status) = 0;
    // ScanFile that also gives the stamp of the very file the engine read (invalid when it
    // read none), so that a find can later be told from whatever takes its path.
    virtual HRESULT ScanStampedFile(const QString& Path, QString& VirusName, uint32_t& ScannedTotal,
                                    int32_t& Status, TFileStamp& File) = 0;
};

// The scan option word: archives, mail, OLE2, HTML, PE, algorithmic detection and PDF.
inline constexpr uint32_t DefaultScanOptions = 0x4237;
// Structured-data detection, cleared from the word before every scan.
inline constexpr uint32_t StructuredScanOptions = 0x38000;

class TClamScan : public TInterfacedObject, public IClamScan {
public:
    // The option word is the program's own; another is for tests of what every scan clears.
    explicit TClamScan(uint32_t ScanOptions = DefaultScanOptions) : FScanOptions(ScanOptions) {}

    HRESULT QueryInterface(const TGUID& IID, void** Obj) override;
    uint32_t _AddRef() override { return AddRefImpl(); }
    uint32_t _Release() override { return ReleaseImpl(); }

    HRESULT ScanFile(const QString& Path, QString& VirusName, uint32_t& ScannedTotal,
                     int32_t& Status) override;
    HRESULT GetSignatureCount(uint32_t& Count) override;
    HRESULT UnloadDatabase() override;
    HRESULT GetErrorText(int32_t Status, QString& Text) override;
    HRESULT LoadDatabase(int32_t& Status) override;
    HRESULT ScanStampedFile(const QString& Path, QString& VirusName, uint32_t& ScannedTotal,
                            int32_t& Status, TFileStamp& File) override;

    // The progress handler of the next LoadDatabase, on the loading thread.
    void SetLoadProgress(std::function<void(int Percent)> Handler) {
        FLoadProgress = std::move(Handler);
    }

private:
    const uint32_t FScanOptions;
    std::function<void(int Percent)> FLoadProgress;
};
