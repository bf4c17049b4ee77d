// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The worker thread of the program, after the toolkit's thread class it was designed on.
//
// A thread object is created suspended or running. Its body, Execute, runs on the worker
// thread and polls Terminated() for the owner's stop request. Synchronize hands a call to the
// main thread and waits until it has returned. After the body, the termination handler runs on
// the main thread with the thread as Sender; a thread set to free on terminate deletes itself
// after that.
//
// The main thread serves handed-over calls from its Qt event loop (nested loops of modal
// dialogs included) and inside WaitFor, so a main thread waiting for a worker that is itself
// waiting for the main thread never deadlocks.

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <thread>

struct TSyncRequest;

bool IsMainThread();

// The processors this process may run on.
int ProcessorCount();
// Lets the calling thread yield its processor to the rest of the program: a background worker
// calls it so that the window stays responsive while every core is busy.
void LowerCurrentThreadPriority();

// Runs every call handed over by Synchronize so far. Main thread only; the event loop calls it.
void CheckSynchronize();

class TThread {
public:
    using TNotifyEvent = std::function<void(TThread* Sender)>;

    explicit TThread(bool CreateSuspended);
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    // Stops and waits for a running body. Derived classes whose body uses their own fields call
    // TerminateAndWait() in their destructor, before those fields go.
    virtual ~TThread();

    // Lets a suspended thread run; once only.
    void Start();
    // Sets the stop request and returns at once.
    void Terminate() { FTerminated.store(true); }
    // Waits until the thread has ended, termination handler included. On the main thread it
    // serves the calls the thread hands over meanwhile.
    void WaitFor();
    void TerminateAndWait();

    bool Terminated() const { return FTerminated.load(); }
    bool Finished() const { return FEnd->Finished.load(); }

    void SetFreeOnTerminate(bool Value) { FFreeOnTerminate = Value; }
    TNotifyEvent OnTerminate; // runs on the main thread

protected:
    // The body, on the worker thread.
    virtual void Execute() = 0;
    // Called from the body: runs Method on the main thread while this thread waits. An error
    // escaping Method is raised again here.
    void Synchronize(const std::function<void()>& Method);
    // Called from the body: hands Method to the main thread and goes on without waiting. Queued
    // calls do not wake the main thread; it collects them every few milliseconds, and at once
    // with the next Synchronize, whose call runs after them (the order is kept). An error
    // escaping a queued call goes to the debug output. The thread does not end before its
    // queued calls have run.
    void Queue(std::function<void()> Method);
    // Waits until this thread's queued calls have run.
    void WaitForQueued();
    // The termination notification: runs OnTerminate on the main thread.
    virtual void DoTerminate();

private:
    void ThreadProc();
    void ReapQueued();

    // Whether the body and the termination handler are over. Shared with every waiter, because
    // a thread freed on terminate is gone by the time its waiters wake up.
    struct TEnd {
        std::atomic<bool> Finished{false}; // set with SyncLock held
    };

    std::thread FHandle;
    std::deque<std::unique_ptr<TSyncRequest>> FQueued; // worker thread only
    std::atomic<bool> FTerminated{false};
    const std::shared_ptr<TEnd> FEnd = std::make_shared<TEnd>();
    bool FStarted = false;
    bool FFreeOnTerminate = false;
};
