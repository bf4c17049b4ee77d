// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// What an update costs, against a local nginx mirror, in one run:
//  - bytes on the wire per check, from nginx's access log (a 206 check and a 304 check);
//  - the download phase of a 200 MB database through the update thread against the curl
//    command line on the same mirror, and the peak memory of the update above its start;
//  - the signature check of the genuine database, timed on its own;
//  - how long Cancel takes to return during a stalled check and during a download;
//  - the official route (freshclam, told to use the mirror and no DNS): the requests and body
//    bytes of an up-to-date check, its download phase against curl, and Cancel's latency.
//
//   UpdateBench [--megabytes N] [--rounds N] [--cancels N]

#include "Median.h"
#include "Memory.h"
#include "engine/LibClamAV.h"
#include "support/TestMirror.h"
#include "support/TestSupport.h"
#include "update/uFreshClam.h"
#include "update/uSignatureNetwork.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>

using namespace support;

namespace {

// One update run, timed: when the download phase began and when its last piece arrived.
struct TTimedUpdate {
    TInterfacePtr<IFreshClam> Service;
    QElapsedTimer Clock;
    std::atomic<qint64> DownloadStarted{-1}, LastPiece{-1};
    std::atomic<bool> Ended{false};
    QString LastOutcome; // guarded by the run: read after it ended

    explicit TTimedUpdate(IFreshClam* Instance = new TFreshClam) : Service(Instance) {
        Clock.start();
        Service->SetOnProgress([this](void*, const QString& Text, const QString&, int32_t) {
            // Most reports are pieces of the body with no text: they take the cheapest path.
            if (Text.isEmpty()) {
                if (DownloadStarted >= 0)
                    LastPiece = Clock.nsecsElapsed();
            } else if (Text.startsWith(QLatin1String("Downloading "))) {
                DownloadStarted = Clock.nsecsElapsed();
            } else if (Text.startsWith("Database ") || Text.startsWith("Downloaded ") ||
                       Text.startsWith("Unable ") || Text.startsWith("The mirror ")) {
                LastOutcome = Text;
            }
        });
        Service->SetOnTerminate([this](IFreshClam*) { Ended = true; });
    }
    bool Start(const QString& Database, const QString& Server) {
        const auto List = StringsToSafeArray({Database});
        return Service->Start(List.get(), Server, {}, 0, {}, {}) == S_OK;
    }
    bool WaitForEnd(int TimeoutMs = 600000) {
        QDeadlineTimer Deadline(TimeoutMs);
        // Sleeps until an event comes: a main thread that polls would take a core from the
        // update thread and the mirror on this 2-core machine.
        while (!Ended && !Deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return Ended;
    }
    double DownloadSeconds() const { return (LastPiece - DownloadStarted) / 1e9; }
};

// The body bytes nginx sent for the newest request of the log.
QString BodyBytesOfLastRequest(const TNginxMirror& Mirror) {
    const QStringList Log = Mirror.AccessLog();
    if (Log.isEmpty())
        return "?";
    const QStringList Fields = Log.last().split(' ');
    return Fields.size() > 6 ? Fields[0] + " " + Fields[2] + ": " + Fields[6] + " body bytes"
                             : Log.last();
}

void MeasureChecks(TNginxMirror& Mirror, const QString& Folder) {
    const QString Local = Folder + "/daily.cvd";
    WriteLongAgo(Local, GenuineDatabase()); // the same version; the mirror's is newer by date
    TTimedUpdate Older;
    Older.Start(Local, Mirror.Url(QString()));
    Older.WaitForEnd();
    std::printf("check answered 206: %s\n", qPrintable(BodyBytesOfLastRequest(Mirror)));
    SetWriteTime(Local, QDateTime::currentDateTimeUtc().addSecs(60));
    TTimedUpdate Newer;
    Newer.Start(Local, Mirror.Url(QString()));
    Newer.WaitForEnd();
    std::printf("check answered 304: %s\n", qPrintable(BodyBytesOfLastRequest(Mirror)));
}

// A database header that says "newer" followed by Megabytes of body: it downloads in full and
// then fails the signature check, which the download phase does not include.
void ServeBigDatabase(TNginxMirror& Mirror, qint64 Megabytes) {
    QByteArray Piece(1 << 20, Qt::Uninitialized);
    for (qsizetype I = 0; I < Piece.size(); ++I)
        Piece[I] = char((I * 131 + I / 4099) & 0xFF);
    {
        QFile Big(Mirror.Root() + "/daily.cvd");
        Big.open(QIODevice::WriteOnly | QIODevice::Truncate);
        Big.write(GenuineDatabase().left(512));
        for (qint64 M = 0; M < Megabytes; ++M)
            Big.write(Piece);
        Big.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    }
}

void MeasureDownload(TNginxMirror& Mirror, const QString& Folder, qint64 Megabytes, int Rounds,
                     bool Official) {
    ServeBigDatabase(Mirror, Megabytes);
    const QString Local = Folder + "/daily.cvd";
    QList<double> Update, Curl;
    long PeakAbove = 0;
    QString Outcome;
    for (int Round = 0; Round < Rounds; ++Round) {
        // freshclam patches a database one version behind: it downloads whole only a missing one.
        if (Official)
            QFile::remove(Local);
        else
            WriteLongAgo(Local, WithHeaderVersion(GenuineDatabase(), 267));
        {
            TTimedUpdate Run(Official ? static_cast<IFreshClam*>(new TSignatureNetwork)
                                      : new TFreshClam);
            const long Before = StatusKilobytes("VmRSS:");
            ResetPeakMemory();
            Run.Start(Local, Mirror.Url(QString()));
            Run.WaitForEnd();
            PeakAbove = std::max(PeakAbove, StatusKilobytes("VmHWM:") - Before);
            Update << Run.DownloadSeconds();
            Outcome = Run.LastOutcome;
        }
        QElapsedTimer Timer;
        Timer.start();
        QProcess::execute("curl", {"-s", "-o", Folder + "/curl.cvd", Mirror.Url("daily.cvd")});
        Curl << Timer.nsecsElapsed() / 1e9;
        std::printf("round %d: %s %.3f s, curl %.3f s\n", Round + 1,
                    Official ? "freshclam" : "update thread", Update.last(), Curl.last());
    }
    const double Bytes = double(Megabytes << 20);
    const double UpdateRate = Bytes / Median(Update) / 1e6, CurlRate = Bytes / Median(Curl) / 1e6;
    std::printf("%s, %lld MB download phase: update %.0f MB/s, curl %.0f MB/s, update/curl = "
                "%.2f (median of %d; goal >= 0.9)\n",
                Official ? "official route" : "update thread", Megabytes, UpdateRate, CurlRate,
                UpdateRate / CurlRate, Rounds);
    if (!Official) // freshclam is another process: its memory is not ours
        std::printf("peak memory of the update above its start: %.1f MB (goal < 20)\n",
                    PeakAbove / 1024.0);
    std::printf("its outcome (the body is no real database): %s\n", qPrintable(Outcome));
    QFile::remove(Mirror.Root() + "/daily.cvd");
}

void MeasureVerification(const QString& Folder) {
    InitEngineLibrary();
    const QString Copy = Folder + "/.daily.cvd.tmp-bench";
    WriteFile(Copy, GenuineDatabase());
    QList<double> Seconds;
    for (int Round = 0; Round < 20; ++Round) {
        QElapsedTimer Timer;
        Timer.start();
        const int Status = cl_cvdverify(QFile::encodeName(Copy).constData());
        Seconds << Timer.nsecsElapsed() / 1e9;
        if (Status != CL_SUCCESS)
            std::printf("cl_cvdverify failed: %d\n", Status);
    }
    std::printf("signature check of the genuine 77 KB database: %.1f ms (median of 20)\n",
                Median(Seconds) * 1e3);
    QFile::remove(Copy);
}

void Report(const char* What, QList<double> Milliseconds, int GoalMs = 10) {
    std::sort(Milliseconds.begin(), Milliseconds.end());
    std::printf("Cancel during %s: median %.2f ms, worst %.2f ms of %lld (goal < %d ms)\n", What,
                Median(Milliseconds), Milliseconds.last(), qlonglong(Milliseconds.size()), GoalMs);
}

double TimeCancel(TTimedUpdate& Run) {
    QElapsedTimer Timer;
    Timer.start();
    Run.Service->Cancel();
    return Timer.nsecsElapsed() / 1e6;
}

// The official route's check of databases that are up to date, with --no-dns: what freshclam
// asks of the mirror. (Through DNS it would ask nothing.)
void MeasureOfficialCheck(TNginxMirror& Mirror, const QString& Folder) {
    Mirror.Serve("daily.cvd", GenuineDatabase());
    Mirror.Serve("main.cvd", GenuineDatabase());
    WriteFile(Folder + "/daily.cvd", GenuineDatabase());
    WriteFile(Folder + "/main.cvd", GenuineDatabase());
    const qsizetype Before = Mirror.AccessLog().size();
    TTimedUpdate Run(new TSignatureNetwork);
    const auto List = StringsToSafeArray({Folder + "/daily.cvd", Folder + "/main.cvd"});
    Run.Service->Start(List.get(), QString(), {}, 0, {}, {});
    Run.WaitForEnd();
    const QStringList Log = Mirror.AccessLog().mid(Before);
    qint64 Body = 0;
    for (const QString& Line : Log)
        Body += Line.split(' ').value(6).toLongLong();
    std::printf("official route, up-to-date check of 2 databases (--no-dns): %lld requests, %lld "
                "body bytes (%s)\n",
                qlonglong(Log.size()), Body, qPrintable(Run.LastOutcome));
    QFile::remove(Folder + "/main.cvd");
}

// Through DNS, offline: UpdateOnce answers DNS itself in a private network namespace where no
// HTTP server can be reached; what DNS calls up to date must need no request at all.
void MeasureDnsCheck() {
    QTemporaryDir ProgramFolder;
    WriteFile(ProgramFolder.filePath("daily.cvd"), GenuineDatabase());
    WriteFile(ProgramFolder.filePath("main.cvd"), GenuineDatabase());
    QProcess Helper;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.remove("HARKAVEL_SIGNATURE_NETWORK");
    Helper.setProcessEnvironment(Environment);
    Helper.start("unshare",
                 {"--net", "--mount", QCoreApplication::applicationDirPath() + "/UpdateOnce",
                  "--dns",
                  QString("1.4.6:62:268:%1:1:63:49191:268").arg(QDateTime::currentSecsSinceEpoch()),
                  ProgramFolder.path()});
    Helper.waitForFinished(60000);
    const QStringList Lines =
        QString::fromUtf8(Helper.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    std::printf("official route through DNS, up to date: %s; HTTP requests: 0 (no server can be "
                "reached); outcomes: %s\n",
                Lines.isEmpty() ? "helper failed" : qPrintable(Lines.last()),
                qPrintable(Lines.filter("Database ").join("; ")));
}

void MeasureOfficialCancels(TNginxMirror& Mirror, const QString& Folder, int Cancels) {
    Mirror.Serve("daily.cvd", GenuineDatabase());
    QList<double> Latency;
    for (int Round = 0; Round < Cancels; ++Round) {
        QFile::remove(Folder + "/daily.cvd");
        TTimedUpdate Run(new TSignatureNetwork);
        Run.Start(Folder + "/daily.cvd", QString()); // the mirror's /slow/: see main
        QDeadlineTimer Deadline(10000);
        while (Run.LastPiece < 0 && !Deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        Latency << TimeCancel(Run);
    }
    Report("the official route's download", Latency, 100);
}

void MeasureCancels(TNginxMirror& Mirror, const QString& Folder, int Cancels) {
    const QString Local = Folder + "/daily.cvd";
    TRawServer Stalled([](int Socket) {
        TRawServer::ReadRequestHead(Socket);
        TRawServer::StallUntilClosed(Socket);
    });
    QList<double> DuringCheck, DuringDownload;
    for (int Round = 0; Round < Cancels; ++Round) {
        TTimedUpdate Run;
        const int Accepted = Stalled.Accepted();
        Run.Start(Local, Stalled.Url(QString()));
        QDeadlineTimer Deadline(5000);
        while (Stalled.Accepted() == Accepted && !Deadline.hasExpired())
            QThread::msleep(1);
        QThread::msleep(20); // the request is sent and waits for its answer
        DuringCheck << TimeCancel(Run);
    }
    Mirror.Serve("daily.cvd", GenuineDatabase());
    for (int Round = 0; Round < Cancels; ++Round) {
        WriteLongAgo(Local, WithHeaderVersion(GenuineDatabase(), 267));
        TTimedUpdate Run;
        Run.Start(Local, Mirror.Url("slow")); // 100 kB/s: the download takes most of a second
        QDeadlineTimer Deadline(5000);
        while (Run.LastPiece < 0 && !Deadline.hasExpired())
            QThread::msleep(1);
        DuringDownload << TimeCancel(Run);
    }
    Report("a stalled check", DuringCheck);
    Report("a download", DuringDownload);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication Application(argc, argv);
    qint64 Megabytes = 200;
    int Rounds = 3, Cancels = 20;
    const QStringList Arguments = Application.arguments();
    for (int I = 1; I + 1 < Arguments.size(); I += 2) {
        if (Arguments[I] == "--megabytes")
            Megabytes = Arguments[I + 1].toLongLong();
        else if (Arguments[I] == "--rounds")
            Rounds = std::max(1, Arguments[I + 1].toInt());
        else if (Arguments[I] == "--cancels")
            Cancels = std::max(1, Arguments[I + 1].toInt());
    }
    TNginxMirror Mirror;
    if (!Mirror.Started()) {
        std::fprintf(stderr, "nginx did not start\n");
        return 1;
    }
    Mirror.Serve("daily.cvd", GenuineDatabase());
    QTemporaryDir Folder;
    MeasureChecks(Mirror, Folder.path());
    MeasureDownload(Mirror, Folder.path(), Megabytes, Rounds, false);
    MeasureVerification(Folder.path());
    MeasureCancels(Mirror, Folder.path(), Cancels);

    qputenv("HARKAVEL_SIGNATURE_NETWORK", Mirror.Url(QString()).toUtf8());
    qputenv("HARKAVEL_SYSTEM_DATABASES", "/nonexistent"); // no copies of the system's
    MeasureOfficialCheck(Mirror, Folder.path());
    MeasureDnsCheck();
    MeasureDownload(Mirror, Folder.path(), Megabytes, Rounds, true);
    qputenv("HARKAVEL_SIGNATURE_NETWORK", Mirror.Url("slow").toUtf8());
    MeasureOfficialCancels(Mirror, Folder.path(), Cancels);
    return 0;
}
