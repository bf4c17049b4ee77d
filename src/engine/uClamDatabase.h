// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The one signature engine of the process: created, filled from a folder of databases and
// compiled by the first scan, then shared by every scan until the program ends.
//
// The states keep the library's traps shut: an engine is compiled exactly once (a second
// compile crashes libclamav), and Engine() hands out only a compiled engine (a never-compiled
// one would report every file clean).

#include <QByteArray>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

struct cl_engine;

class TClamDatabase {
public:
    TClamDatabase() = default;
    TClamDatabase(const TClamDatabase&) = delete;
    TClamDatabase& operator=(const TClamDatabase&) = delete;
    ~TClamDatabase();

    // 0: the stored holder (null if none); 1: create it if there is none, and return it;
    // 2: forget it without freeing it, return null. Any other code raises an error.
    static TClamDatabase* AccessInstance(int32_t Request);
    static TClamDatabase* Instance() { return AccessInstance(1); }
    // Frees the stored holder; once, at program end.
    static void ReleaseInstance();

    // Folder in the file system's bytes. Returns the engine status, 0 when ready. Scanner
    // thread only (the scan service refuses the main thread).
    // Progress, if given, hears the load's progress, 0 to 100, on the loading thread.
    int Load(QByteArray Folder, const std::function<void(int Percent)>& Progress = {});
    void Unload();

    uint32_t SignatureCount() const { return FSignatureCount.load(); }
    bool IsLoaded() const { return FLoaded.load(std::memory_order_acquire); }
    cl_engine* Engine() const;

private:
    std::atomic<cl_engine*> FEngine{nullptr};
    std::atomic<uint32_t> FSignatureCount{0};
    std::mutex FLock; // serialises Load and Unload
    std::atomic<bool> FLoaded{false};
};
