// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The update from ClamAV's official signature network, through ClamAV's own updater.
//
// The network (database.clamav.net, behind a CDN) serves only its own updater, freshclam: it
// relies on its DNS version check, its incremental patches and the cool-down it keeps after a
// refusal. So this route runs the freshclam program as a child process on the update thread,
// with a configuration of its own in a private temporary folder, and turns its output into the
// same progress reports as the designed thread: one journal line per database in the program's
// words, the bar from its progress frames, the database's name for the label. The service
// shares everything else with TFreshClam: the refusals, the threading rules, Cancel.

#include "platform/ChildProcess.h"
#include "platform/FolderLock.h"
#include "uFreshClam.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

// The lines only the official network gives.
namespace NetworkOutcome {
// %1: the time it names, as the user reads it.
inline const QString CoolDown =
    QStringLiteral("The signature network asks to wait until %1 before the next update");
inline const QString Refused =
    QStringLiteral("The signature network refused this computer (403): it blocks some networks and "
                   "out-of-date versions of ClamAV");
inline const QString NoLatestPatch =
    QStringLiteral("The signature network has not published the latest patch yet");
inline const QString UpdaterMissing = QStringLiteral(
    "ClamAV's updater freshclam is not installed: install the package clamav-freshclam");
inline const QStringList All = {CoolDown, Refused, NoLatestPatch, UpdaterMissing};
} // namespace NetworkOutcome

// The service for an update: the designed thread against $HARKAVEL_MIRROR when it is set, else
// the official network through freshclam. The caller owns the new service. Main thread.
IFreshClam* NewUpdateService();

// The folder of the system's own databases, kept by Debian's freshclam service:
// $HARKAVEL_SYSTEM_DATABASES when set, else /var/lib/clamav.
QString SystemDatabaseFolder();

// Reads freshclam's output as it comes and says what it means. Update thread.
class TFreshClamOutput {
public:
    // Journal text (may be empty), file name, percent: as TFreshClamProgressEvent.
    using TReport = std::function<void(const QString&, const QString&, int32_t)>;

    TFreshClamOutput(QStringList Databases, TReport Report);

    // Any number of bytes, cut anywhere: a line or frame is read once it is complete.
    void Feed(const QByteArray& Bytes);
    // The end of the run: every database not yet ended gets its line, unless the run was
    // cancelled or a line of the whole network (a cool-down, a refusal) already covered it.
    void Finish(int ExitCode, bool Cancelled);
    // The databases freshclam installed, by their file names ("daily.cld").
    const QStringList& Installed() const { return FInstalled; }

private:
    struct TDatabase {
        QString Name; // "daily"
        enum TState { Waiting, Checking, Downloading, Ended } State = Waiting;
        QString Reason;
    };

    void ReadPiece(QByteArray Piece);
    void ReadFrame(const QString& Frame);
    void ReadLine(const QString& Line);
    bool ReadOutcome(const QString& Line);
    bool ReadNetworkLine(const QString& Line);
    TDatabase* Find(const QString& Name);
    void Begin(const QString& Name, TDatabase::TState State);
    void EndCurrent(const QString& JournalText);
    void Say(const QString& JournalText, int32_t Percent = 0);

    std::vector<TDatabase> FDatabases;
    TReport FReport;
    QByteArray FPending; // bytes after the last complete piece
    TDatabase* FCurrent = nullptr;
    QString FRunReason;
    QStringList FInstalled;
    bool FCoolDownSaid = false;
    bool FRefusedSaid = false;
    int32_t FPercent = 0;
};

// One update run through freshclam.
class TSignatureNetworkUpdate : public TUpdateRun {
public:
    // Databases: full paths in one folder (absent or empty: DefaultDatabases()). Main thread.
    explicit TSignatureNetworkUpdate(const TSafeArray* Databases);
    ~TSignatureNetworkUpdate() override;

    // Main thread: the stop request, freshclam stopped (SIGINT to its group, SIGKILL after
    // 2 s), its leftovers removed, then the wait for the end.
    void CancelAndWait() override;

protected:
    void Execute() override; // update thread

private:
    // All on the update thread.
    void UpdateDatabases();
    bool CopySystemDatabases();
    bool CopySystemDatabase(const QString& Base);
    QString WriteConfiguration(const QString& Folder);
    void RunUpdater(const QString& Program, const QString& Configuration);
    void RemoveLeftovers();
    void Report(const QString& JournalText, const QString& FileName, int32_t Percent);
    void ReportEach(const QString& Format);

    QString FFolder;    // the database folder, with a trailing delimiter
    QStringList FNames; // "daily", "main"
    TFolderLock FLock;
    TChildProcess FChild; // Wake is called from the main thread
};

// The official network's service: TFreshClam's rules, a freshclam run for each Start.
class TSignatureNetwork : public TFreshClam {
protected:
    std::unique_ptr<TUpdateRun> NewRun(const TSafeArray* Databases, const QString& Server,
                                       const QString& ProxyServer, uint16_t ProxyPort,
                                       const QString& ProxyUserName,
                                       const QString& ProxyPassword) override;
};
