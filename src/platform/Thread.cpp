// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "Thread.h"

#include "DebugOutput.h"
#include "Exceptions.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#ifdef __linux__
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

// A call handed to the main thread. Done and Error are guarded by SyncLock.
struct TSyncRequest {
    std::function<void()> Method;
    std::exception_ptr Error = nullptr;
    bool Done = false;   // guarded by SyncLock
    bool Waited = false; // guarded by SyncLock: somebody sleeps until Done
};

namespace {

// Static initialisation runs on the thread that loads the program: the main thread.
const std::thread::id MainThreadID = std::this_thread::get_id();

// How often the main thread collects queued calls while worker threads run. Queued calls do not
// wake the main thread themselves: waking an idle thread costs the waker about 80 µs here, as
// much as scanning a small file.
constexpr int QueuedCallInterval = 20; // ms
// A worker with this many queued calls not yet run waits for the main thread to catch up, until
// half of them have run: waiting for just one would wake the worker for every call.
constexpr size_t MaxQueuedCalls = 4096;

// One queue of handed-over calls for the whole process. The condition wakes both the workers
// waiting for their calls and a main thread waiting in WaitFor.
//
// The lock and the condition are never destroyed: a thread freed on terminate flags its end
// under them and is not joined, so the process may already be running its exit handlers while
// that thread leaves them.
std::mutex& SyncLock = *new std::mutex;
std::condition_variable& SyncChanged = *new std::condition_variable;
std::deque<TSyncRequest*> SyncQueue;
int RunningThreads = 0; // guarded by SyncLock

void WakeMainThread() {
    if (QCoreApplication* Application = QCoreApplication::instance())
        QMetaObject::invokeMethod(Application, &CheckSynchronize, Qt::QueuedConnection);
}

void HandOver(TSyncRequest& Request) {
    std::lock_guard Guard(SyncLock);
    SyncQueue.push_back(&Request);
    SyncChanged.notify_all();
}

void WaitUntilDone(TSyncRequest& Request) {
    std::unique_lock Guard(SyncLock);
    Request.Waited = true;
    SyncChanged.wait(Guard, [&] { return Request.Done; });
}

QTimer* QueuedCallTimer = nullptr; // main thread only

// Collects queued calls on the main thread while any worker thread runs.
void StartQueuedCallPump() {
    QCoreApplication* Application = QCoreApplication::instance();
    if (Application == nullptr)
        return; // no event loop: WaitFor serves the calls
    if (!IsMainThread()) {
        QMetaObject::invokeMethod(Application, &StartQueuedCallPump);
        return;
    }
    if (QueuedCallTimer == nullptr) {
        QueuedCallTimer = new QTimer(Application);
        QueuedCallTimer->setInterval(QueuedCallInterval);
        QObject::connect(QueuedCallTimer, &QTimer::timeout, [] {
            CheckSynchronize();
            std::lock_guard Guard(SyncLock);
            if (RunningThreads == 0)
                QueuedCallTimer->stop();
        });
        QObject::connect(QueuedCallTimer, &QObject::destroyed, [] { QueuedCallTimer = nullptr; });
    }
    QueuedCallTimer->start();
}

} // namespace

bool IsMainThread() {
    return std::this_thread::get_id() == MainThreadID;
}

int ProcessorCount() {
#ifdef __linux__
    cpu_set_t Allowed; // a process confined to some processors gets no more workers than those
    if (sched_getaffinity(0, sizeof(Allowed), &Allowed) == 0)
        return std::max(1, CPU_COUNT(&Allowed));
#endif
    return std::max(1U, std::thread::hardware_concurrency());
}

void LowerCurrentThreadPriority() {
#ifdef __linux__
    // Linux keeps a nice value per thread: this one lowers the caller only. A weight of nice 10
    // is a tenth of the main thread's, so the window wins a contended core at once.
    constexpr int BackgroundNice = 10;
    const auto Thread = id_t(syscall(SYS_gettid));
    errno = 0;
    const int Current = getpriority(PRIO_PROCESS, Thread);
    if (errno == 0 && Current < BackgroundNice)
        setpriority(PRIO_PROCESS, Thread, BackgroundNice);
#endif
}

void CheckSynchronize() {
    if (!IsMainThread())
        return;
    std::unique_lock Guard(SyncLock);
    while (!SyncQueue.empty()) {
        TSyncRequest* Request = SyncQueue.front();
        SyncQueue.pop_front();
        Guard.unlock();
        try {
            Request->Method();
        } catch (...) {
            Request->Error = std::current_exception();
        }
        Guard.lock();
        Request->Done = true;
        if (Request->Waited) // a wake-up for every queued call would cost its worker dearly
            SyncChanged.notify_all();
    }
}

TThread::TThread(bool CreateSuspended) {
    if (!CreateSuspended)
        Start();
}

TThread::~TThread() {
    if (FHandle.joinable() && FHandle.get_id() == std::this_thread::get_id()) {
        FHandle.detach(); // freed on terminate: the thread is leaving its own procedure
        return;
    }
    TerminateAndWait();
}

void TThread::Start() {
    if (FStarted)
        return;
    FStarted = true;
    {
        std::lock_guard Guard(SyncLock);
        ++RunningThreads;
    }
    StartQueuedCallPump();
    try {
        FHandle = std::thread(&TThread::ThreadProc, this);
    } catch (...) { // no thread to be had: the object stays an unstarted one
        FStarted = false;
        std::lock_guard Guard(SyncLock);
        --RunningThreads;
        throw;
    }
}

void TThread::WaitFor() {
    // A thread freed on terminate destroys itself on its own thread: nothing to wait for.
    if (!FStarted || (FHandle.joinable() && FHandle.get_id() == std::this_thread::get_id()))
        return;
    // A thread freed on terminate may be deleted on its own thread while this one waits:
    // from here on only the shared end record is read, never this object.
    const std::shared_ptr<TEnd> End = FEnd;
    const bool FreedOnTerminate = FFreeOnTerminate;
    std::unique_lock Guard(SyncLock);
    while (!End->Finished.load()) {
        if (!IsMainThread() || SyncQueue.empty()) {
            SyncChanged.wait(Guard);
            continue;
        }
        Guard.unlock();
        CheckSynchronize();
        Guard.lock();
    }
    Guard.unlock();
    if (!FreedOnTerminate && FHandle.joinable()) // a second wait finds it joined
        FHandle.join();
}

void TThread::TerminateAndWait() {
    Terminate();
    WaitFor();
}

void TThread::Synchronize(const std::function<void()>& Method) {
    if (IsMainThread()) {
        Method();
        return;
    }
    TSyncRequest Request{Method};
    HandOver(Request);
    WakeMainThread();
    WaitUntilDone(Request);
    ReapQueued(); // they ran before this call: the queue keeps the order
    if (Request.Error)
        std::rethrow_exception(Request.Error);
}

void TThread::Queue(std::function<void()> Method) {
    if (IsMainThread()) {
        Method();
        return;
    }
    ReapQueued();
    if (FQueued.size() >= MaxQueuedCalls) {
        WakeMainThread();
        WaitUntilDone(*FQueued[MaxQueuedCalls / 2]);
        ReapQueued();
    }
    FQueued.push_back(std::make_unique<TSyncRequest>(TSyncRequest{std::move(Method)}));
    HandOver(*FQueued.back());
}

void TThread::ReapQueued() {
    std::lock_guard Guard(SyncLock);
    while (!FQueued.empty() && FQueued.front()->Done) {
        if (FQueued.front()->Error)
            OutputDebugString(QStringLiteral("Queued call ended by an error: ") +
                              ExceptionMessage(FQueued.front()->Error));
        FQueued.pop_front();
    }
}

void TThread::WaitForQueued() {
    if (FQueued.empty())
        return;
    WakeMainThread();
    WaitUntilDone(*FQueued.back());
    ReapQueued();
}

void TThread::DoTerminate() {
    if (OnTerminate)
        Synchronize([this] { OnTerminate(this); });
}

void TThread::ThreadProc() {
    try {
        if (!Terminated())
            Execute();
    } catch (...) {
        OutputDebugString(QStringLiteral("Thread body ended by an error: ") +
                          ExceptionMessage(std::current_exception()));
    }
    WaitForQueued(); // they refer to this object
    try {
        DoTerminate();
    } catch (...) {
        OutputDebugString(QStringLiteral("Termination handler ended by an error: ") +
                          ExceptionMessage(std::current_exception()));
    }
    const bool FreeSelf = FFreeOnTerminate;
    const std::shared_ptr<TEnd> End = FEnd;
    if (FreeSelf)
        delete this; // before the waiters wake: they may rely on the object's clean-up
    std::lock_guard Guard(SyncLock);
    --RunningThreads;
    End->Finished.store(true);
    SyncChanged.notify_all();
}
