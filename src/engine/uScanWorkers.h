// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The scanner thread's helpers: a few threads that scan files with the process's one engine
// while the scanner thread walks on. The scanner thread hands files over in the order of its
// walk and takes their outcomes back in that same order, so its events keep the walk's order
// whatever finishes first. At most a fixed window of files is in flight, so a huge tree costs
// no more memory than a small one.

#include "platform/FileSystem.h"
#include "platform/Interfaces.h"

#include <QString>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class IClamScan;

// What IClamScan::ScanStampedFile gave for one file.
struct TScanOutcome {
    HRESULT Result = S_OK;
    QString FailureMessage; // with a negative Result: the service's message
    int32_t Status = 0;
    QString VirusName;
    uint32_t Scanned = 0; // what this file added to the engine's count
    TFileStamp File;      // the file the engine read
};

// Scans one file on the calling thread. The service leaves a failure's message with the
// thread that called it, so the message travels on in the outcome.
TScanOutcome ScanForOutcome(IClamScan& Scan, const QString& Path);

struct TScanJob {
    enum TState { Waiting, Scanning, Scanned, Dropped };
    QString Path;
    TState State = Waiting;
    TScanOutcome Outcome; // set once Scanned
};

class TScanWorkers {
public:
    // StopRequested is asked by the workers before each file they start.
    TScanWorkers(IClamScan* Scan, int Workers, std::function<bool()> StopRequested);
    TScanWorkers(const TScanWorkers&) = delete;
    TScanWorkers& operator=(const TScanWorkers&) = delete;
    // Starts nothing new, lets the files being scanned finish and ends the workers.
    ~TScanWorkers();

    // The rest is for the scanner thread alone.
    bool Full() const;
    bool Empty() const;
    void Add(const QString& Path);
    // The oldest file in flight: it is reported next.
    QString FirstPath() const;
    // Takes the oldest file off once it is scanned or dropped; with Wait false, returns nothing
    // while it is still waiting or being scanned.
    std::optional<TScanJob> TakeFirst(bool Wait);
    // Files not yet started are dropped; files being scanned still finish.
    void DropWaiting();

private:
    void WorkerExecute(); // worker threads
    void DropWaitingLocked();
    void EndWorkers();

    IClamScan* const FScan;
    const std::function<bool()> FStopRequested;
    const size_t FWindow;

    mutable std::mutex FLock;           // guards everything below
    std::condition_variable FWorkAdded; // workers wait for files
    std::condition_variable FFirstDone; // the scanner thread waits for the oldest file
    std::deque<TScanJob> FJobs;         // in the walk's order; a worker holds a reference
    size_t FNextToStart = 0;            // index in FJobs of the first waiting file
    int FIdleWorkers = 0;
    bool FEnding = false;

    std::vector<std::thread> FThreads;
};
