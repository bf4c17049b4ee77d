// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "uScanWorkers.h"

#include "platform/Thread.h"
#include "uClamScan.h"

#include <algorithm>

namespace {
// Files in flight per worker. A large file at the head of the walk holds back its reporting,
// not the scanning: the other workers go on with the files behind it until the window is full.
constexpr size_t FilesInFlightPerWorker = 32;
} // namespace

TScanOutcome ScanForOutcome(IClamScan& Scan, const QString& Path) {
    TScanOutcome Outcome;
    Outcome.Result = Scan.ScanStampedFile(Path, Outcome.VirusName, Outcome.Scanned, Outcome.Status,
                                          Outcome.File);
    if (Outcome.Result < 0)
        Outcome.FailureMessage = GetErrorInfo();
    return Outcome;
}

TScanWorkers::TScanWorkers(IClamScan* Scan, int Workers, std::function<bool()> StopRequested)
    : FScan(Scan), FStopRequested(std::move(StopRequested)),
      FWindow(FilesInFlightPerWorker * size_t(std::max(1, Workers))) {
    FThreads.reserve(size_t(Workers));
    try {
        for (int I = 0; I < Workers; ++I)
            FThreads.emplace_back([this] { WorkerExecute(); });
    } catch (...) {
        EndWorkers(); // the destructor does not run for a half-made object
        throw;
    }
}

TScanWorkers::~TScanWorkers() {
    EndWorkers();
}

void TScanWorkers::EndWorkers() {
    {
        std::lock_guard Guard(FLock);
        FEnding = true;
        DropWaitingLocked();
    }
    FWorkAdded.notify_all();
    for (std::thread& Thread : FThreads)
        Thread.join();
}

bool TScanWorkers::Full() const {
    std::lock_guard Guard(FLock);
    return FJobs.size() >= FWindow;
}

bool TScanWorkers::Empty() const {
    std::lock_guard Guard(FLock);
    return FJobs.empty();
}

void TScanWorkers::Add(const QString& Path) {
    bool WakeOne;
    {
        std::lock_guard Guard(FLock);
        FJobs.push_back(TScanJob{Path, TScanJob::Waiting, {}});
        WakeOne = FIdleWorkers > 0;
    }
    // Busy workers come back for the next file by themselves; only an idle one needs the
    // wake-up, which costs the caller a system call.
    if (WakeOne)
        FWorkAdded.notify_one();
}

QString TScanWorkers::FirstPath() const {
    std::lock_guard Guard(FLock);
    return FJobs.empty() ? QString() : FJobs.front().Path;
}

std::optional<TScanJob> TScanWorkers::TakeFirst(bool Wait) {
    std::unique_lock Guard(FLock);
    auto FirstEnded = [this] {
        return !FJobs.empty() && (FJobs.front().State == TScanJob::Scanned ||
                                  FJobs.front().State == TScanJob::Dropped);
    };
    if (Wait)
        FFirstDone.wait(Guard, FirstEnded);
    else if (!FirstEnded())
        return std::nullopt;
    std::optional<TScanJob> First(std::move(FJobs.front()));
    FJobs.pop_front();
    if (FNextToStart > 0)
        --FNextToStart;
    return First;
}

void TScanWorkers::DropWaiting() {
    {
        std::lock_guard Guard(FLock);
        DropWaitingLocked();
    }
    FFirstDone.notify_all();
}

void TScanWorkers::DropWaitingLocked() {
    for (; FNextToStart < FJobs.size(); ++FNextToStart)
        FJobs[FNextToStart].State = TScanJob::Dropped;
}

void TScanWorkers::WorkerExecute() {
    LowerCurrentThreadPriority();
    std::unique_lock Guard(FLock);
    for (;;) {
        ++FIdleWorkers;
        FWorkAdded.wait(Guard, [this] { return FEnding || FNextToStart < FJobs.size(); });
        --FIdleWorkers;
        if (FEnding)
            return;
        // Files start in the walk's order, so the started ones are always the oldest.
        TScanJob& Job = FJobs[FNextToStart];
        if (FStopRequested()) {
            DropWaitingLocked();
            FFirstDone.notify_all();
            continue;
        }
        ++FNextToStart;
        Job.State = TScanJob::Scanning;
        const QString Path = Job.Path;
        Guard.unlock();
        TScanOutcome Outcome = ScanForOutcome(*FScan, Path);
        Guard.lock();
        Job.Outcome = std::move(Outcome);
        Job.State = TScanJob::Scanned;
        // The scanner thread waits only for the oldest file; later ones wait their turn.
        if (&Job == &FJobs.front())
            FFirstDone.notify_one();
    }
}
