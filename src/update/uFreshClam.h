// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The signature updater.
//
// TFreshClamThread runs one update: for every database it asks the mirror for the first 512
// bytes, compares the database version there with the local copy's, and downloads the newer
// ones. A download goes into a temporary file beside the database and replaces it only when it
// is complete, has the size the mirror announced, passes the engine's signature check and has
// the version the check saw; anything else leaves the local database as it was. Every database
// gets one outcome line in the journal.
//
// TFreshClam is the service behind IFreshClam that the window holds: it starts the thread,
// forwards its reports and tells the window, on the main thread, that the run has ended.

#include "net/uWinInetHttp.h"
#include "platform/FileReplacement.h"
#include "platform/FolderLock.h"
#include "platform/Interfaces.h"
#include "platform/Thread.h"
#include "uUtility.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <clamav.h>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class IFreshClam;

// A progress report. Sender is the object that reports: the update thread, or the service that
// forwards the thread's reports (then an IFreshClam*). JournalText is a journal line or empty;
// FileName the name (no folder) of the database being handled; Percent the download's
// progress, 0 to 100.
using TFreshClamProgressEvent = std::function<void(void* Sender, const QString& JournalText,
                                                   const QString& FileName, int32_t Percent)>;
// The end of an update, on the main thread. Sender is the service.
using TFreshClamTerminateEvent = std::function<void(IFreshClam* Sender)>;

// The mirror host when none is given: $HARKAVEL_MIRROR when set, else database.clamav.net,
// the database network of the engine's own updater, which serves the files at its root.
QString DefaultMirrorHost();
// The databases an update refreshes when the caller names none, in this order: daily.cvd, then
// main.cvd, in the database folder (the program's folder where it is writable).
QStringList DefaultDatabases();

// True for the journal line of a database that the run has installed.
bool IsInstalledReport(const QString& JournalText);

// The lines that end a database's part of the journal, one per database and update: %1 the
// database's file name, %2 the version or the reason.
namespace UpdateOutcome {
inline const QString UpToDate = QStringLiteral("Database %1 is up-to-date");
inline const QString Installed = QStringLiteral("Database %1 updated to version %2");
inline const QString CheckFailed = QStringLiteral("Unable to check %1: %2");
inline const QString NoValidCopy = QStringLiteral("The mirror has no valid copy of %1");
inline const QString NotExclusive = QStringLiteral("Unable to open %1 for exclusive access");
inline const QString DownloadFailed = QStringLiteral("Unable to download %1: %2");
inline const QString Damaged = QStringLiteral("Downloaded %1 is damaged and was not installed");
inline const QStringList All = {UpToDate,     Installed,      CheckFailed, NoValidCopy,
                                NotExclusive, DownloadFailed, Damaged};
} // namespace UpdateOutcome

// Failing statuses of Start and Cancel.
inline constexpr uint16_t UpdateInProgressCode = 513; // "Update is already in-progress"
inline constexpr uint16_t NothingToCancelCode = 514;  // "There is nothing to cancel"

class IFreshClam : public IInterface {
public:
    static constexpr TGUID IID{0x528ABC3B, 0xF5AD, 0x4B41, 0xBB, 0x59, 0xB1,
                               0x09,       0x22,   0x47,   0x0F, 0xB8};

    // Starts an update of Databases (absent or empty: DefaultDatabases()) from the mirror
    // Server (empty: DefaultMirrorHost()) and returns at once. Main thread.
    virtual HRESULT Start(const TSafeArray* Databases, const QString& Server,
                          const QString& ProxyServer, uint16_t ProxyPort,
                          const QString& ProxyUserName, const QString& ProxyPassword) = 0;
    // Stops the running update and returns once its thread has ended; the termination handler
    // runs during the wait. Main thread.
    virtual HRESULT Cancel() = 0;
    virtual TFreshClamTerminateEvent GetOnTerminate() = 0;
    virtual TFreshClamProgressEvent GetOnProgress() = 0;
    virtual void SetOnTerminate(TFreshClamTerminateEvent Handler) = 0;
    // The progress handler runs on the update thread and must not touch the window.
    virtual void SetOnProgress(TFreshClamProgressEvent Handler) = 0;
};

// One database waiting for its download.
struct TDownloadItem {
    using THeader = std::unique_ptr<cl_cvd, decltype(&cl_cvdfree)>;

    QString Path;
    std::unique_ptr<TFileReplacement> Stream; // the new content, beside the database
    int32_t Size = 0;                         // the mirror's size of the file
    THeader LocalHeader{nullptr, &cl_cvdfree};
    THeader RemoteHeader{nullptr, &cl_cvdfree};
};

// One update run on a thread of its own, whichever way it updates; frees itself after its end
// notification when the service sets it to.
class TUpdateRun : public TThread {
public:
    TUpdateRun() : TThread(true) {}

    TFreshClamProgressEvent OnProgress; // called on the update thread; Sender is the run

    // Main thread: stop request, the work in progress broken off, then a wait for the end.
    // The run may be gone when it returns.
    virtual void CancelAndWait() = 0;
};

// The other form of a database file: daily.cld for daily.cvd and the other way round; empty for
// any other name.
QString OtherFormOf(const QString& Path);
// Removes the other form of a database just installed (daily.cld beside a new daily.cvd, and
// the other way round): the engine would load both, and the older one would be kept for ever.
void RemoveOtherForm(const QString& InstalledPath);

// The designed run: the program's own HTTP client against a mirror.
class TFreshClamThread : public TUpdateRun {
public:
    // Main thread. The list is copied; Server may carry "http://" and trailing slashes.
    TFreshClamThread(const TSafeArray* Databases, const QString& Server, const QString& ProxyServer,
                     uint16_t ProxyPort, const QString& ProxyUserName,
                     const QString& ProxyPassword);
    ~TFreshClamThread() override;

    // Main thread: stop request, the request in progress broken off, then a wait for the end.
    void CancelAndWait() override;

    const QString& Server() const { return FServer; }
    const TWinInetHTTP& HTTP() const { return *FHTTP; }

protected:
    void Execute() override; // update thread

private:
    // All on the update thread.
    void UpdateDatabases();
    bool LockFolderOf(const QString& Path);
    TDownloadItem::THeader NewestLocalHeader(const QString& Path);
    bool CheckDatabase(const QString& Path, int32_t& Size, TDownloadItem::THeader& RemoteHeader);
    bool ReadRemoteHeader(const QByteArray& Body, int32_t& Size,
                          TDownloadItem::THeader& RemoteHeader);
    void QueueDownload(const QString& Path, int32_t Size, TDownloadItem::THeader LocalHeader,
                       TDownloadItem::THeader RemoteHeader);
    void DownloadDatabases();
    void DownloadDatabase(TDownloadItem& Item);
    void InstallDownload(TDownloadItem& Item);
    bool IsDownloadIntact(TDownloadItem& Item);
    void EndItem();
    void HTTPStatus(uint32_t Status, const QString& Text);
    void HTTPDataProgress(int64_t BytesRead);
    void Report(const QString& JournalText, int32_t Percent);
    void ReportOutcome(const char* Format, const QString& Detail = QString());
    int32_t CurrentPercentage() const;
    QString DatabaseURL(const QString& Path) const;
    void FreeDownloads();

    QStringList FDatabases;
    // The folders of the databases, each locked for the whole run; null for one that another
    // update holds.
    std::map<QString, std::unique_ptr<TFolderLock>> FFolderLocks;
    QString FServer;
    std::unique_ptr<TWinInetHTTP> FHTTP;
    QString FFileName;
    std::vector<TDownloadItem> FDownloads;
    // Byte counts are 64-bit: two large databases must not overflow the sum.
    int64_t FTotalSize = 0;  // the sum of the queued sizes
    int64_t FDownloaded = 0; // counted towards FTotalSize, at most each item's own size
    int64_t FItemStart = 0;  // FDownloaded when the current item began
    int64_t FItemSize = 0;   // the current item's size, never below 0
    int64_t FItemReceived = 0;
    bool FItemTooLong = false;  // the body went past the size the check announced
    bool FLocalIsWhole = false; // the database being checked still has its header's digest
    bool FDownloading = false;
};

// The updater service. Reference-counted: hold it through TInterfacePtr<IFreshClam>.
class TFreshClam : public TInterfacedObject, public IFreshClam {
public:
    ~TFreshClam() override; // stops a running update and waits for its thread

    HRESULT QueryInterface(const TGUID& IID, void** Obj) override;
    uint32_t _AddRef() override { return AddRefImpl(); }
    uint32_t _Release() override { return ReleaseImpl(); }

    HRESULT Start(const TSafeArray* Databases, const QString& Server, const QString& ProxyServer,
                  uint16_t ProxyPort, const QString& ProxyUserName,
                  const QString& ProxyPassword) override;
    HRESULT Cancel() override;
    TFreshClamTerminateEvent GetOnTerminate() override { return FOnTerminate; }
    TFreshClamProgressEvent GetOnProgress() override;
    void SetOnTerminate(TFreshClamTerminateEvent Handler) override;
    void SetOnProgress(TFreshClamProgressEvent Handler) override;

protected:
    // The run that Start starts: the designed thread against the mirror. Main thread.
    virtual std::unique_ptr<TUpdateRun> NewRun(const TSafeArray* Databases, const QString& Server,
                                               const QString& ProxyServer, uint16_t ProxyPort,
                                               const QString& ProxyUserName,
                                               const QString& ProxyPassword);

private:
    void ThreadTerminated(); // main thread, once per run
    void ThreadProgress(const QString& JournalText, const QString& FileName,
                        int32_t Percent); // update thread
    void StopAfterHandlerError(const char* Routine, unsigned Line);

    bool FRunning = false;
    bool FNotifying = false;
    TFreshClamTerminateEvent FOnTerminate; // main thread only
    // Read on the update thread for every report, replaced on the main thread at any time.
    std::mutex FProgressLock;
    TFreshClamProgressEvent FOnProgress;
    // Not owning: the thread frees itself. Cleared only by exchange, as the update thread reads
    // it to stop itself after a failed progress handler.
    std::atomic<TUpdateRun*> FThread{nullptr};
};
