#include "uVirusScanner.h"

#include "LibClamAV.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/NativePath.h"
#include "platform/ProgramPath.h"

using namespace harkavel; // the file attribute bits

TVirusScanner::TVirusScanner(bool CreateSuspended, const QStringList& Targets)
    : TThread(true), FTargets(Targets) {
    if (!CreateSuspended)
        Start();
}

TVirusScanner::~TVirusScanner() {
    TerminateAndWait();
}

void TVirusScanner::Execute() {
    FScan = TInterfacePtr<IClamScan>(new TClamScan);
    try {
        int32_t Status = CL_SUCCESS;
        CheckServiceStatus(FScan->LoadDatabase(Status));
        if (Status != CL_SUCCESS) {
            FCurrentPath = DatabaseFolder(); // where the databases were looked for
            CheckServiceStatus(FScan->GetErrorText(Status, FErrorText));
            RaiseError();
        } else {
            ScanTargets();
        }
    } catch (...) {
        FErrorText = ExceptionMessage(std::current_exception());
        RaiseError();
    }
    FScan.Release();
}

void TVirusScanner::ScanTargets() {
    for (const QString& Target : FTargets) {
        if (Terminated())
            return;
        const TFileAttributes Attributes = GetFileAttributes(Target);
        // The device bit marks what must be neither read nor walked (FIFOs, devices, sockets,
        // pseudo file systems); an unreadable path has every bit set and is tried as a folder.
        if (Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DEVICE))
            continue;
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
    // A folder mounted inside itself would make the walk endless: each folder is walked once
    // on the way down.
    if (FFoldersOnPath.contains(Identity))
        return;
    FFoldersOnPath.insert(Identity);
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
    FFoldersOnPath.remove(Identity);
}

void TVirusScanner::ScanOneFile(const QString& Path) {
    if (FFileCount % 3 == 0) {
        FCurrentPath = Path;
        RaiseProgress();
    }
    QString VirusName;
    int32_t Status = CL_CLEAN;
    CheckServiceStatus(FScan->ScanFile(Path, VirusName, FScannedTotal, Status));
    ++FFileCount;
    if (Status == CL_VIRUS) {
        FCurrentPath = Path;
        FVirusName = VirusName;
        RaiseVirusFound();
    } else if (Status != CL_CLEAN) {
        FCurrentPath = Path;
        FErrorText = EngineErrorText(Status);
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

void TVirusScanner::RaiseVirusFound() {
    Queue([this, Path = FCurrentPath, Name = FVirusName] { DoVirusFound(Path, Name); });
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

void TVirusScanner::DoVirusFound(const QString& Path, const QString& VirusName) {
    if (OnVirusFound)
        OnVirusFound(this, Path, VirusName);
}
