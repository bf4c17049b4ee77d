// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "platform/Exceptions.h"
#include "platform/Thread.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>

namespace {

// A worker whose body hands a number of calls to the main thread.
class THandingThread : public TThread {
public:
    explicit THandingThread(int Calls) : TThread(true), FCalls(Calls) {}
    ~THandingThread() override {
        TerminateAndWait();
        if (Destroyed)
            *Destroyed = true;
    }

    int Served = 0;        // main thread only
    bool AllOnMain = true; // main thread only
    bool BodyRan = false;
    QString RaisedInBody;
    std::atomic<bool>* Destroyed = nullptr;
    std::function<void()> Method; // optional: what each call runs

protected:
    void Execute() override {
        BodyRan = true;
        try {
            for (int I = 0; I < FCalls && !Terminated(); ++I)
                Synchronize([this] {
                    AllOnMain &= IsMainThread();
                    ++Served;
                    if (Method)
                        Method();
                });
        } catch (const Exception& E) {
            RaisedInBody = E.Message();
        }
    }

private:
    int FCalls;
};

bool WaitUntil(const std::function<bool()>& Condition, int TimeoutMs = 10000) {
    QDeadlineTimer Deadline(TimeoutMs);
    while (!Condition() && !Deadline.hasExpired())
        QEventLoop().processEvents(QEventLoop::WaitForMoreEvents, 20);
    return Condition();
}

} // namespace

class TestThread : public QObject {
    Q_OBJECT
private slots:
    void HandsCallsToTheEventLoop();
    void WaitForOnTheMainThreadServesHandedCalls();
    void ServesCallsInsideANestedModalLoop();
    void RunsTheTerminationHandlerOnTheMainThread();
    void StopBeforeStartSkipsTheBody();
    void FreesItselfOnTerminate();
    void RaisesTheHandedCallsErrorInTheWorker();
    void KeepsTheOrderOfQueuedAndSynchronizedCalls();
    void WaitsAtTheLimitOfQueuedCallsAndGoesOn();
};

void TestThread::HandsCallsToTheEventLoop() {
    THandingThread Thread(50);
    Thread.Start();
    QVERIFY(WaitUntil([&] { return Thread.Served == 50; }));
    Thread.WaitFor();
    QVERIFY(Thread.AllOnMain);
}

void TestThread::WaitForOnTheMainThreadServesHandedCalls() {
    // The worker is blocked in Synchronize while the main thread blocks in WaitFor: a plain
    // join would never return here.
    THandingThread Thread(1000);
    Thread.Start();
    Thread.WaitFor();
    QCOMPARE(Thread.Served, 1000);
    QVERIFY(Thread.Finished());
}

void TestThread::ServesCallsInsideANestedModalLoop() {
    THandingThread Thread(200);
    QEventLoop Modal; // what a modal dialog runs
    Thread.OnTerminate = [&Modal](TThread*) { Modal.quit(); };
    QTimer::singleShot(0, [&] { Thread.Start(); });
    QTimer::singleShot(20000, &Modal, &QEventLoop::quit); // a bound, not a wait
    Modal.exec();
    QCOMPARE(Thread.Served, 200);
    Thread.WaitFor();
}

void TestThread::RunsTheTerminationHandlerOnTheMainThread() {
    THandingThread Thread(3);
    TThread* Sender = nullptr;
    bool OnMain = false;
    bool BodyEnded = false;
    Thread.OnTerminate = [&](TThread* From) {
        Sender = From;
        OnMain = IsMainThread();
        BodyEnded = Thread.Served == 3;
    };
    Thread.Start();
    Thread.WaitFor();
    QCOMPARE(Sender, static_cast<TThread*>(&Thread));
    QVERIFY(OnMain);
    QVERIFY(BodyEnded);
}

void TestThread::StopBeforeStartSkipsTheBody() {
    THandingThread Thread(3);
    bool HandlerRan = false;
    Thread.OnTerminate = [&](TThread*) { HandlerRan = true; };
    Thread.Terminate();
    Thread.Start();
    Thread.WaitFor();
    QVERIFY(!Thread.BodyRan);
    QCOMPARE(Thread.Served, 0);
    QVERIFY(HandlerRan);
}

void TestThread::FreesItselfOnTerminate() {
    std::atomic<bool> Destroyed{false};
    auto* Thread = new THandingThread(2);
    Thread->Destroyed = &Destroyed;
    Thread->SetFreeOnTerminate(true);
    Thread->Start();
    QVERIFY(WaitUntil([&] { return Destroyed.load(); }));
}

void TestThread::RaisesTheHandedCallsErrorInTheWorker() {
    THandingThread Thread(5);
    Thread.Method = [] { throw Exception("refused on the main thread"); };
    Thread.Start();
    Thread.WaitFor();
    QCOMPARE(Thread.Served, 1);
    QCOMPARE(Thread.RaisedInBody, QString("refused on the main thread"));
}

namespace {
// Queues numbered calls and synchronizes every SyncEvery-th (none if 0), then ends without
// waiting.
class TQueueingThread : public TThread {
public:
    explicit TQueueingThread(int Calls = 10000, int SyncEvery = 10)
        : TThread(true), FCalls(Calls), FSyncEvery(SyncEvery) {}
    ~TQueueingThread() override { TerminateAndWait(); }
    QList<int> Order; // main thread only
    bool AllOnMain = true;

protected:
    void Execute() override {
        for (int I = 0; I < FCalls; ++I) {
            auto Call = [this, I] {
                AllOnMain &= IsMainThread();
                if (I == 0)
                    QThread::msleep(300); // a busy main thread: the worker runs into the limit
                Order << I;
            };
            if (FSyncEvery > 0 && I % FSyncEvery == FSyncEvery - 1)
                Synchronize(Call);
            else
                Queue(Call);
        }
    }

private:
    const int FCalls, FSyncEvery;
};
} // namespace

void TestThread::KeepsTheOrderOfQueuedAndSynchronizedCalls() {
    TQueueingThread Thread;
    bool OrderAtTermination = false;
    Thread.OnTerminate = [&](TThread*) { OrderAtTermination = Thread.Order.size() == 10000; };
    Thread.Start();
    QVERIFY(WaitUntil([&] { return Thread.Finished(); }, 30000));
    // Every queued call ran before the termination handler, in the order handed over.
    QVERIFY(OrderAtTermination);
    QVERIFY(Thread.AllOnMain);
    for (int I = 0; I < Thread.Order.size(); ++I)
        QCOMPARE(Thread.Order[I], I);
}

void TestThread::WaitsAtTheLimitOfQueuedCallsAndGoesOn() {
    TQueueingThread Thread(3 * 4096 + 5, 0);
    int RanAtTermination = 0;
    Thread.OnTerminate = [&](TThread*) { RanAtTermination = int(Thread.Order.size()); };
    Thread.Start();
    QVERIFY(WaitUntil([&] { return Thread.Finished(); }, 30000));
    QCOMPARE(RanAtTermination, 3 * 4096 + 5);
    for (int I = 0; I < Thread.Order.size(); ++I)
        QCOMPARE(Thread.Order[I], I);
}

QTEST_GUILESS_MAIN(TestThread)
#include "TestThread.moc"
