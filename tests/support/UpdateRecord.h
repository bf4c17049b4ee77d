// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// Records what an updater service reports: every progress report (from the update thread) and
// every end notification (on the main thread).

#include "update/uFreshClam.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <mutex>

namespace support {

struct TUpdateReport {
    QString JournalText;
    QString FileName;
    int32_t Percent = 0;
};

class TUpdateRecord {
public:
    // Registers both handlers with Service.
    void Attach(IFreshClam& Service);

    QList<TUpdateReport> Reports() const;
    QStringList Journal() const;  // the reports' journal lines that are not empty, in order
    QStringList Outcomes() const; // the lines that end a database's story
    QList<int32_t> Percents() const;
    int Terminations() const { return FTerminations.load(); }
    bool AllEndsOnMainThread() const { return FEndsOnMainThread.load(); }
    bool AllReportsOffMainThread() const { return FReportsOffMainThread.load(); }

private:
    mutable std::mutex FLock;
    QList<TUpdateReport> FReports;
    std::atomic<int> FTerminations{0};
    std::atomic<bool> FEndsOnMainThread{true};
    std::atomic<bool> FReportsOffMainThread{true};
};

// A service (Instance, else a new TFreshClam) with a recorder attached, started on Databases
// (none: the default list).
HRESULT StartUpdate(TInterfacePtr<IFreshClam>& Service, TUpdateRecord& Record,
                    const QString& Server, const QStringList& Databases = {},
                    IFreshClam* Instance = nullptr);

// The temporary files of unfinished downloads in Folder.
QStringList TemporaryDownloads(const QString& Folder);

} // namespace support
