// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "uClamDatabase.h"

#include "LibClamAV.h"
#include "platform/Exceptions.h"

#include <algorithm>

namespace {
// Read and written only by AccessInstance.
std::atomic<TClamDatabase*> StoredInstance{nullptr};

using TLoadProgress = std::function<void(int Percent)>;

// Reading the signatures takes most of a load; compiling them the rest.
constexpr int ReadingShare = 80;

int PercentOf(size_t Total, size_t Done, int From, int Share) {
    return Total == 0 ? From : From + int(std::min(Done, Total) * size_t(Share) / Total);
}

cl_error_t ReadingProgress(size_t Total, size_t Done, void* Context) {
    (*static_cast<const TLoadProgress*>(Context))(PercentOf(Total, Done, 0, ReadingShare));
    return CL_SUCCESS;
}

cl_error_t CompilingProgress(size_t Total, size_t Done, void* Context) {
    (*static_cast<const TLoadProgress*>(Context))(
        PercentOf(Total, Done, ReadingShare, 100 - ReadingShare));
    return CL_SUCCESS;
}
} // namespace

TClamDatabase::~TClamDatabase() {
    if (AccessInstance(0) == this)
        AccessInstance(2);
    // The engine of the process is freed with its holder at program end.
    if (cl_engine* Engine = FEngine.exchange(nullptr))
        cl_engine_free(Engine);
}

TClamDatabase* TClamDatabase::AccessInstance(int32_t Request) {
    switch (Request) {
    case 0:
        return StoredInstance.load();
    case 1: {
        TClamDatabase* Current = StoredInstance.load();
        if (Current != nullptr)
            return Current;
        auto* Created = new TClamDatabase;
        if (StoredInstance.compare_exchange_strong(Current, Created))
            return Created;
        delete Created; // another thread stored one first
        return Current;
    }
    case 2:
        StoredInstance.store(nullptr);
        return nullptr;
    default:
        throw Exception(QStringLiteral("Illegal request %1 in AccessInstance").arg(Request));
    }
}

void TClamDatabase::ReleaseInstance() {
    delete AccessInstance(0);
}

int TClamDatabase::Load(QByteArray Folder, const TLoadProgress& Progress) {
    if (IsLoaded())
        return CL_SUCCESS;
    std::lock_guard Guard(FLock);
    if (IsLoaded()) // loaded by another thread while this one waited for the lock
        return CL_SUCCESS;
    if (Folder.endsWith('/'))
        Folder.chop(1);

    if (const int Status = InitEngineLibrary())
        return Status;
    cl_engine* Engine = cl_engine_new();
    if (Engine == nullptr)
        return CL_EMEM;
    FEngine.store(Engine);

    if (Progress) {
        // The context is Progress itself, which outlives the load and the compile below.
        void* Context = const_cast<TLoadProgress*>(&Progress);
        cl_engine_set_clcb_sigload_progress(Engine, &ReadingProgress, Context);
        cl_engine_set_clcb_engine_compile_progress(Engine, &CompilingProgress, Context);
    }
    unsigned int Count = FSignatureCount.load();
    int Status = SetScanLimits(Engine);
    if (Status == CL_SUCCESS)
        Status = cl_load(Folder.constData(), Engine, &Count, DatabaseOptions);
    FSignatureCount.store(Count);
    if (Status == CL_SUCCESS)
        Status = cl_engine_compile(Engine);
    if (Status != CL_SUCCESS) {
        // No engine, so no signatures: the next load must not add to what this one counted.
        FSignatureCount.store(0);
        cl_engine_free(FEngine.exchange(nullptr));
        return Status;
    }
    cl_engine_set_clcb_sigload_progress(Engine, nullptr, nullptr);
    cl_engine_set_clcb_engine_compile_progress(Engine, nullptr, nullptr);
    FLoaded.store(true, std::memory_order_release);
    return CL_SUCCESS;
}

void TClamDatabase::Unload() {
    std::lock_guard Guard(FLock);
    if (!IsLoaded())
        return;
    HARKAVEL_ASSERT(FEngine.load() != nullptr, "uClamDatabase");
    FSignatureCount.store(0);
    FLoaded.store(false, std::memory_order_release);
    cl_engine_free(FEngine.exchange(nullptr));
}

cl_engine* TClamDatabase::Engine() const {
    return IsLoaded() ? FEngine.load() : nullptr;
}
