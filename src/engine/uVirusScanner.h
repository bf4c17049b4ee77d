// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The scanner thread: runs one scan of a list of targets (drive roots, folders, files) and
// reports each file's outcome through events that run on the main thread, in the order they
// were raised, while the scan goes on.
//
// The scanner thread loads the engine, walks the targets and raises every event. With more
// than one worker (see WorkerCount) the files themselves are scanned by helper threads that
// share the engine; their outcomes are reported in the order of the walk, so the events are
// the same as with one.

#include "platform/FileSystem.h"
#include "platform/Interfaces.h"
#include "platform/Thread.h"
#include "uClamScan.h"
#include "uScanWorkers.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class TVirusScanner : public TThread {
public:
    // Events run on the main thread; Sender is the scanner.
    using TPathEvent = std::function<void(TVirusScanner* Sender, const QString& Path)>;
    using TPathTextEvent =
        std::function<void(TVirusScanner* Sender, const QString& Path, const QString& Text)>;

    TPathTextEvent OnError;      // a file cannot be scanned, or the scan cannot start or go on
    TPathEvent OnProgress;       // the file is about to be scanned (every third file)
    TPathTextEvent OnVirusFound; // the file is infected; Text is the virus name
    // The signatures are loading: Percent of the engine's load and compile, rising.
    std::function<void(TVirusScanner* Sender, int Percent)> OnLoadProgress;
    // Set before Start: a quarantine whose items the engine rechecks after a scan that ran to
    // its end, when its signatures are newer than those that found them.
    QString QuarantineFolder;

    TVirusScanner(bool CreateSuspended, const QStringList& Targets);
    ~TVirusScanner() override;

    // Sets the stop request; seen before the next target and the next folder entry, and by
    // the workers before the next file. Files being scanned still report their finds.
    void Stop() { Terminate(); }

    // During OnVirusFound, on the main thread: the stamp of the very file the engine found
    // infected, to tell it later from whatever takes its path.
    const TFileStamp& FoundFile() const { return FFoundFile; }

    // Threads that scan files: the processors' number, at most 8, unless HARKAVEL_SCAN_THREADS
    // says otherwise. One scans on the scanner thread itself.
    static int WorkerCount();

protected:
    void Execute() override; // scanner thread
    virtual void ScanTargets();

private:
    // All on the scanner thread.
    void StartWorkers();
    void RecheckQuarantinedItems();
    void ScanFolder(const QString& Folder);
    void ScanOneFile(const QString& Path);
    void ScanOnThisThread(const QString& Path);
    void HandToWorkers(const QString& Path);
    void AnnounceFile(const QString& Path);
    void ReportOutcome(const QString& Path, const TScanOutcome& Outcome);
    // Reports the oldest file in flight once it has ended; false if there is none to report.
    bool ReportFirstInFlight(bool Wait, bool AnnounceNext = true);
    // Waits for the files in flight and reports them; after a stop or an error the files not
    // yet started are dropped.
    void FinishFilesInFlight(bool AfterError);
    // Hand the event with the current field values to the main thread (see the .cpp).
    void RaiseError();
    void RaiseProgress();
    void RaiseLoadProgress(int Percent);
    void RaiseVirusFound(const TFileStamp& File);
    // The raisers, on the main thread.
    void DoError(const QString& Path, const QString& Text);
    void DoProgress(const QString& Path);
    void DoVirusFound(const QString& Path, const QString& VirusName, const TFileStamp& File);

    TInterfacePtr<IClamScan> FScan;
    std::unique_ptr<TScanWorkers> FWorkers; // none when the scanner thread scans itself
    const QStringList FTargets;
    uint32_t FScannedTotal = 0;
    int32_t FFileCount = 0;
    // The values of the next event, scanner thread only; each event gets a copy.
    QString FCurrentPath;
    QString FVirusName;
    QString FErrorText;
    int FLoadPercent = -1;              // the last load progress raised
    QSet<TFileIdentity> FFoldersWalked; // every folder this scan has walked
    TFileStamp FFoundFile;              // main thread, during OnVirusFound
};
