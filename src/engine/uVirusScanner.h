#pragma once
// The scanner thread: runs one scan of a list of targets (drive roots, folders, files) and
// reports each file's outcome through events that run on the main thread, in the order they
// were raised, while the scan goes on.

#include "platform/FileSystem.h"
#include "platform/Interfaces.h"
#include "platform/Thread.h"
#include "uClamScan.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

class TVirusScanner : public TThread {
public:
    // Events run on the main thread; Sender is the scanner.
    using TPathEvent = std::function<void(TVirusScanner* Sender, const QString& Path)>;
    using TPathTextEvent =
        std::function<void(TVirusScanner* Sender, const QString& Path, const QString& Text)>;

    TPathTextEvent OnError;      // a file cannot be scanned, or the scan cannot start or go on
    TPathEvent OnProgress;       // the file is about to be scanned (every third file)
    TPathTextEvent OnVirusFound; // the file is infected; Text is the virus name

    TVirusScanner(bool CreateSuspended, const QStringList& Targets);
    ~TVirusScanner() override;

    // Sets the stop request; seen before the next target and the next folder entry.
    void Stop() { Terminate(); }

protected:
    void Execute() override; // scanner thread
    virtual void ScanTargets();

private:
    // All on the scanner thread.
    void ScanFolder(const QString& Folder);
    void ScanOneFile(const QString& Path);
    // Hand the event with the current field values to the main thread (see the .cpp).
    void RaiseError();
    void RaiseProgress();
    void RaiseVirusFound();
    // The raisers, on the main thread.
    void DoError(const QString& Path, const QString& Text);
    void DoProgress(const QString& Path);
    void DoVirusFound(const QString& Path, const QString& VirusName);

    TInterfacePtr<IClamScan> FScan;
    const QStringList FTargets;
    uint32_t FScannedTotal = 0;
    int32_t FFileCount = 0;
    // The values of the next event, scanner thread only; each event gets a copy.
    QString FCurrentPath;
    QString FVirusName;
    QString FErrorText;
    QSet<TFileIdentity> FFoldersOnPath; // the folders from the target down to the current one
};
