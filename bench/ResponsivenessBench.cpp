// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// How the window copes with a scan of very many small files, measured in one run:
//   - the lateness of a 10 ms timer on the main thread, with the window idle and during a scan
//     started from the window (median, 99th percentile, worst), which is how late a click or a
//     repaint would be handled;
//   - the scan's duration through the window against TVirusScanner alone with empty handlers,
//     the timer running in both.
//   - with --update-megabytes N, the same lateness during an update from the window that
//     downloads a database of N MB from a local nginx mirror (--files 0 skips the scans).
// One file in a hundred holds EICAR by default, so the result list grows during the scan too.
//
//   ResponsivenessBench [--files N] [--rounds N] [--infected-every N] [--update-megabytes N]
// Run it with QT_QPA_PLATFORM=offscreen (or under Xvfb) and TMPDIR on tmpfs.

#include "Main.h"
#include "Median.h"
#include "engine/uVirusScanner.h"
#include "platform/ProgramPath.h"
#include "support/TestMirror.h"
#include "support/TestSupport.h"
#include "support/WindowParts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

using support::InfectedFiles;
using support::ScanRuns;
using support::W;

namespace {

constexpr int ProbeInterval = 10; // ms
constexpr int FilesPerFolder = 1000;

bool WriteTree(const QString& Root, int Files, int InfectedEvery) {
    for (int I = 0; I < Files; ++I) {
        const QString Folder = Root + QStringLiteral("/%1").arg(I / FilesPerFolder);
        if (I % FilesPerFolder == 0 && !QDir().mkpath(Folder))
            return false;
        QFile File(Folder + QStringLiteral("/file%1.txt").arg(I));
        // Every file differs, so the engine's cache of clean files does not shortcut the scan.
        const QByteArray Text =
            I % InfectedEvery == 0 ? support::EicarBytes() : QByteArray::number(I).repeated(20);
        if (!File.open(QIODevice::WriteOnly) || File.write(Text) != Text.size())
            return false;
    }
    return true;
}

// Records how late each tick of a 10 ms timer comes while it runs.
class TLatencyProbe {
public:
    TLatencyProbe() {
        FTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            FLateness << std::max<double>(0, FClock.nsecsElapsed() / 1e6 - ProbeInterval);
            FClock.restart();
        });
        FClock.start();
        FTimer.start(ProbeInterval);
    }
    double At(double Share) {
        std::sort(FLateness.begin(), FLateness.end());
        return FLateness.isEmpty() ? 0 : FLateness[qsizetype(Share * (FLateness.size() - 1))];
    }
    QString Summary() {
        if (FLateness.isEmpty())
            return QStringLiteral("no ticks");
        return QStringLiteral("late by median %1 ms, p99 %2 ms, worst %3 ms over %4 ticks")
            .arg(At(0.5), 0, 'f', 2)
            .arg(At(0.99), 0, 'f', 2)
            .arg(FLateness.last(), 0, 'f', 2)
            .arg(FLateness.size());
    }

private:
    QTimer FTimer;
    QElapsedTimer FClock;
    QList<double> FLateness;
};

void RunUntil(const std::function<bool()>& Done) {
    while (!Done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

double ScanAlone(const QString& Root, QString& Lateness, int& Viruses) {
    QElapsedTimer Clock;
    Clock.start();
    TLatencyProbe Probe; // in both scans, as its wake-ups cost the scanning thread too
    TVirusScanner Scanner(true, {Root});
    bool Ended = false;
    Viruses = 0;
    Scanner.OnProgress = [](TVirusScanner*, const QString&) {};
    Scanner.OnVirusFound = [&](TVirusScanner*, const QString&, const QString&) { ++Viruses; };
    Scanner.OnError = [](TVirusScanner*, const QString&, const QString&) {};
    Scanner.OnTerminate = [&](TThread*) { Ended = true; };
    Scanner.Start();
    RunUntil([&] { return Ended; });
    Lateness = Probe.Summary();
    return Clock.nsecsElapsed() / 1e9;
}

constexpr double LatenessGoal = 50; // ms, the 99th percentile during a scan with every worker

double ScanInWindow(TfrmClamAV& Window, QString& Lateness, int& Viruses, double& P99) {
    QElapsedTimer Clock;
    Clock.start();
    TLatencyProbe Probe;
    W(Window).actStartScan->trigger();
    RunUntil([&] { return !ScanRuns(Window); });
    const double Seconds = Clock.nsecsElapsed() / 1e9;
    Lateness = Probe.Summary();
    P99 = Probe.At(0.99);
    Viruses = W(Window).lvScanner->topLevelItemCount();
    return Seconds;
}

QString IdleLateness(int Milliseconds) {
    TLatencyProbe Probe;
    QElapsedTimer Clock;
    Clock.start();
    RunUntil([&] { return Clock.elapsed() >= Milliseconds; });
    return Probe.Summary();
}

// An update from the window that downloads one database of Megabytes from a local mirror.
// Its body is no real database, so the update ends with the damaged-download line.
QString UpdateInWindow(TfrmClamAV& Window, const QString& ProgramFolder, qint64 Megabytes,
                       double& Seconds) {
    support::TNginxMirror Mirror;
    if (!Mirror.Started())
        return QStringLiteral("nginx did not start");
    {
        QFile Big(Mirror.Root() + "/daily.cvd");
        Big.open(QIODevice::WriteOnly);
        Big.write(support::GenuineDatabase().left(512));
        const QByteArray Piece(1 << 20, 'x');
        for (qint64 M = 0; M < Megabytes; ++M)
            Big.write(Piece);
        Big.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    }
    const QString Local = ProgramFolder + "/daily.cvd";
    support::WriteLongAgo(Local, support::WithHeaderVersion(support::GenuineDatabase(), 267));
    qputenv("HARKAVEL_MIRROR", Mirror.Url(QString()).toUtf8());
    W(Window).PageControl->setCurrentWidget(W(Window).tsUpdate);
    QElapsedTimer Clock;
    Clock.start();
    TLatencyProbe Probe;
    W(Window).actStartUpdate->trigger();
    RunUntil([&] { return W(Window).memLog->toPlainText().endsWith(QLatin1String("Done.")); });
    Seconds = Clock.nsecsElapsed() / 1e9;
    QFile::remove(Local);
    return Probe.Summary();
}

double MainThreadSeconds() {
    timespec Now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Now);
    return Now.tv_sec + Now.tv_nsec / 1e9;
}

long PeakMegabytes() {
    rusage Usage{};
    getrusage(RUSAGE_SELF, &Usage);
    return Usage.ru_maxrss / 1024;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication Application(argc, argv);
    int Files = 200000, Rounds = 3, InfectedEvery = 100;
    qint64 UpdateMegabytes = 0;
    const QStringList Arguments = Application.arguments();
    for (int I = 1; I + 1 < Arguments.size(); I += 2) {
        if (Arguments[I] == "--files")
            Files = Arguments[I + 1].toInt();
        else if (Arguments[I] == "--rounds")
            Rounds = Arguments[I + 1].toInt();
        else if (Arguments[I] == "--infected-every")
            InfectedEvery = std::max(1, Arguments[I + 1].toInt());
        else if (Arguments[I] == "--update-megabytes")
            UpdateMegabytes = Arguments[I + 1].toLongLong();
    }
    QTemporaryDir ProgramFolder, TreeFolder;
    QFile Database(ProgramFolder.path() + "/bench.ndb");
    if (!Database.open(QIODevice::WriteOnly) ||
        Database.write("Bench.Eicar:0:*:" + support::EicarBytes().toHex() + "\n") < 0)
        return 1;
    Database.close();
    testing::SetProgramFolder(ProgramFolder.path());
    std::printf("writing %d files...\n", Files);
    if (!WriteTree(TreeFolder.path(), Files, InfectedEvery))
        return 1;

    TfrmClamAV Window;
    Window.resize(900, 600);
    Window.show();
    Window.AddTargetRow(TreeFolder.path());
    std::printf("idle window: %s\n", qPrintable(IdleLateness(3000)));
    std::printf("scan workers: %d (HARKAVEL_SCAN_THREADS sets another number)\n",
                TVirusScanner::WorkerCount());

    QList<double> Ratios, WindowP99;
    for (int Round = 1; Files > 0 && Round <= Rounds; ++Round) {
        int AloneViruses = 0, WindowViruses = 0;
        QString AloneLateness, WindowLateness;
        const double AloneStart = MainThreadSeconds();
        const double Alone = ScanAlone(TreeFolder.path(), AloneLateness, AloneViruses);
        const double WindowStart = MainThreadSeconds();
        double P99 = 0;
        const double InWindow = ScanInWindow(Window, WindowLateness, WindowViruses, P99);
        WindowP99 << P99;
        const double WindowEnd = MainThreadSeconds();
        Ratios << InWindow / Alone;
        std::printf("round %d: alone %.2f s, window %.2f s (ratio %.3f), %d/%d viruses\n"
                    "  main thread busy %.2f s alone, %.2f s with the window\n"
                    "  scanner alone:   %s\n  scanning window: %s\n",
                    Round, Alone, InWindow, InWindow / Alone, AloneViruses, WindowViruses,
                    WindowStart - AloneStart, WindowEnd - WindowStart, qPrintable(AloneLateness),
                    qPrintable(WindowLateness));
        if (AloneViruses != WindowViruses ||
            AloneViruses != (Files + InfectedEvery - 1) / InfectedEvery)
            return 2;
    }
    if (!Ratios.isEmpty()) {
        std::printf("median ratio window/alone %.3f; peak memory %ld MB\n", Median(Ratios),
                    PeakMegabytes());
        const double Worst = *std::max_element(WindowP99.begin(), WindowP99.end());
        std::printf("scanning window's worst p99 lateness %.2f ms (goal < %.0f ms: %s)\n", Worst,
                    LatenessGoal, Worst < LatenessGoal ? "met" : "MISSED");
    }
    if (UpdateMegabytes > 0) {
        double Seconds = 0;
        const QString Lateness =
            UpdateInWindow(Window, ProgramFolder.path(), UpdateMegabytes, Seconds);
        std::printf(
            "updating window (%lld MB download, %.2f s): %s\n  journal ends: %s\n", UpdateMegabytes,
            Seconds, qPrintable(Lateness),
            qPrintable(W(Window).memLog->toPlainText().section('\n', -3).replace('\n', " | ")));
    }
    return 0;
}
