// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "uVirusScanner.h"

#include "uClamDatabase.h"
#include "uQuarantineCheck.h"

#include "LibClamAV.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/NativePath.h"
#include "platform/ProgramPath.h"
#include "settings/GnuGetText.h"

#include <QtGlobal>
#include <algorithm>
#include <system_error>

using namespace harkavel; // the file attribute bits

namespace {
constexpr int MaxDefaultWorkers = 8;
constexpr int MaxWorkers = 64;
// The rows of targets that are not scanned; the window shows them in the user's language.
const QString NotFilesText = QStringLiteral(N_("Not scanned: a system file system, not files"));
const QString NotAFileText = QStringLiteral(N_("Not scanned: not a regular file"));
const QString NoDatabasesText = QStringLiteral(
    N_("There are no signature databases yet: Start Update on the Update page fetches them"));
} // namespace

int TVirusScanner::WorkerCount() {
    bool Valid = false;
    const int Wanted = qEnvironmentVariableIntValue("HARKAVEL_SCAN_THREADS", &Valid);
    if (Valid && Wanted >= 1)
        return std::min(Wanted, MaxWorkers);
    return std::min(ProcessorCount(), MaxDefaultWorkers);
}

TVirusScanner::TVirusScanner(bool CreateSuspended, const QStringList& Targets)
    : TThread(true), FTargets(Targets) {
    if (!CreateSuspended)
        Start();
}

TVirusScanner::~TVirusScanner() {
    TerminateAndWait();
}

void TVirusScanner::Execute() {
    auto* Scan = new TClamScan;
    Scan->SetLoadProgress([this](int Percent) { RaiseLoadProgress(Percent); });
    FScan = TInterfacePtr<IClamScan>(Scan);
    try {
        int32_t Status = CL_SUCCESS;
        CheckServiceStatus(FScan->LoadDatabase(Status));
        if (Status != CL_SUCCESS) {
            FCurrentPath = DatabaseFolder(); // where the databases were looked for
            // No database at all is what a new install meets first: the engine's own words
            // ("Can't open file or directory") would not tell the user what to do.
            if (Status == CL_EOPEN || Status == CL_ESTAT)
                FErrorText = NoDatabasesText;
            else
                CheckServiceStatus(FScan->GetErrorText(Status, FErrorText));
            RaiseError();
        } else {
            StartWorkers();
            ScanTargets();
            FinishFilesInFlight(false);
            RecheckQuarantinedItems();
        }
    } catch (...) {
        FErrorText = ExceptionMessage(std::current_exception());
        RaiseError();
        FinishFilesInFlight(true);
    }
    FWorkers.reset();
    FScan.Release();
}

void TVirusScanner::RecheckQuarantinedItems() {
    const cl_engine* Engine = TClamDatabase::Instance()->Engine();
    if (QuarantineFolder.isEmpty() || Engine == nullptr || Terminated())
        return;
    TQuarantine Store(QuarantineFolder);
    RecheckQuarantine(Store, Engine, [this] { return Terminated(); });
}

void TVirusScanner::StartWorkers() {
    const int Workers = WorkerCount();
    if (Workers <= 1)
        return;
    try {
        FWorkers =
            std::make_unique<TScanWorkers>(FScan.Get(), Workers, [this] { return Terminated(); });
    } catch (const std::system_error&) {
        // No threads to be had: this thread scans, as with one worker.
    }
}

void TVirusScanner::ScanTargets() {
    for (const QString& Target : FTargets) {
        if (Terminated())
            return;
        const TFileAttributes Attributes = GetFileAttributes(Target);
        // The device bit marks what must be neither read nor walked (FIFOs, devices, sockets,
        // pseudo file systems): a target the user ticked says so in its row rather than pass
        // in silence. An unreadable path has every bit set and is tried as a folder.
        if (Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DEVICE)) {
            FCurrentPath = Target;
            FErrorText = IsFolder(Target) ? NotFilesText : NotAFileText;
            RaiseError();
            continue;
        }
        if (Attributes & FILE_ATTRIBUTE_DIRECTORY)
            ScanFolder(Target);
        else
            ScanOneFile(Target);
    }
}

void TVirusScanner::ScanFolder(const QString& Folder) {
    const QString Prefix = IncludeTrailingPathDelimiter(Folder);
    QList<TSearchRec> Entries; // read whole: no listing stays open below this level
    TFileIdentity Identity;
    if (!ListFolder(Prefix, Entries, Identity))
        return;
    // Linked folders are walked, and a link to a folder above or a folder mounted inside itself
    // would make the walk endless: each folder is walked once in a scan, by whichever path
    // reaches it first.
    if (FFoldersWalked.contains(Identity))
        return;
    FFoldersWalked.insert(Identity);
    for (const TSearchRec& Entry : std::as_const(Entries)) {
        if (Terminated())
            break;
        if (Entry.Attributes & FILE_ATTRIBUTE_DEVICE)
            continue;
        if (Entry.Attributes & FILE_ATTRIBUTE_DIRECTORY)
            ScanFolder(Prefix + Entry.Name);
        else
            ScanOneFile(Prefix + Entry.Name);
    }
}

void TVirusScanner::ScanOneFile(const QString& Path) {
    if (FWorkers)
        HandToWorkers(Path);
    else
        ScanOnThisThread(Path);
}

void TVirusScanner::ScanOnThisThread(const QString& Path) {
    AnnounceFile(Path);
    ReportOutcome(Path, ScanForOutcome(*FScan.Get(), Path));
}

// A file is announced when every file before it has been reported, as if it were scanned now,
// and reported when its scan has ended: the events come in the walk's order.
void TVirusScanner::HandToWorkers(const QString& Path) {
    while (FWorkers->Full())
        ReportFirstInFlight(true);
    const bool First = FWorkers->Empty();
    FWorkers->Add(Path);
    if (First)
        AnnounceFile(Path);
    while (ReportFirstInFlight(false)) {
    }
}

bool TVirusScanner::ReportFirstInFlight(bool Wait, bool AnnounceNext) {
    std::optional<TScanJob> Job = FWorkers->TakeFirst(Wait);
    if (!Job)
        return false;
    if (Job->State == TScanJob::Scanned)
        ReportOutcome(Job->Path, Job->Outcome);
    if (AnnounceNext && !FWorkers->Empty())
        AnnounceFile(FWorkers->FirstPath());
    return true;
}

void TVirusScanner::FinishFilesInFlight(bool AfterError) {
    if (!FWorkers)
        return;
    if (AfterError || Terminated())
        FWorkers->DropWaiting();
    while (!FWorkers->Empty()) {
        if (!AfterError) {
            ReportFirstInFlight(true);
            continue;
        }
        // The run has ended with an error already: files that fail too are not reported twice,
        // and the files dropped unscanned are not announced.
        try {
            ReportFirstInFlight(true, false);
        } catch (...) {
        }
    }
}

void TVirusScanner::AnnounceFile(const QString& Path) {
    if (FFileCount % 3 == 0) {
        FCurrentPath = Path;
        RaiseProgress();
    }
}

void TVirusScanner::ReportOutcome(const QString& Path, const TScanOutcome& Outcome) {
    CheckServiceStatus(Outcome.Result, Outcome.FailureMessage);
    // The engine adds to the count it is given; each file's share is added here in the walk's
    // order, and the total wraps as one running count would.
    FScannedTotal += Outcome.Scanned;
    ++FFileCount;
    if (Outcome.Status == CL_VIRUS) {
        FCurrentPath = Path;
        FVirusName = Outcome.VirusName;
        RaiseVirusFound(Outcome.File);
    } else if (Outcome.Status != CL_CLEAN) {
        FCurrentPath = Path;
        FErrorText = EngineErrorText(Outcome.Status);
        RaiseError();
    }
}

// Each event is queued for the main thread with its own copy of the fields, and the scanner
// goes on: waiting for the main thread after every event costs a wake-up of the idle main
// thread each time, which here took as long as scanning a small file. The main thread runs
// the events in the order they were raised, all of them before the termination handler.

void TVirusScanner::RaiseError() {
    Queue([this, Path = FCurrentPath, Text = FErrorText] { DoError(Path, Text); });
}

void TVirusScanner::RaiseProgress() {
    Queue([this, Path = FCurrentPath] { DoProgress(Path); });
}

void TVirusScanner::RaiseVirusFound(const TFileStamp& File) {
    Queue([this, Path = FCurrentPath, Name = FVirusName, File] { DoVirusFound(Path, Name, File); });
}

// Only a rise is raised: the engine calls back for every signature file and group.
void TVirusScanner::RaiseLoadProgress(int Percent) {
    if (Percent <= FLoadPercent)
        return;
    FLoadPercent = Percent;
    Queue([this, Percent] {
        if (OnLoadProgress && !Terminated())
            OnLoadProgress(this, Percent);
    });
}

void TVirusScanner::DoError(const QString& Path, const QString& Text) {
    if (OnError)
        OnError(this, Path, Text);
}

void TVirusScanner::DoProgress(const QString& Path) {
    // Announcements still queued when a stop was requested name files scanned before the
    // scanner saw the request; after Stop Scan they would only make the status line flicker.
    if (OnProgress && !Terminated())
        OnProgress(this, Path);
}

void TVirusScanner::DoVirusFound(const QString& Path, const QString& VirusName,
                                 const TFileStamp& File) {
    FFoundFile = File;
    if (OnVirusFound)
        OnVirusFound(this, Path, VirusName);
    FFoundFile = {};
}
