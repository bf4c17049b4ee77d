// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// What many tests need: the sample files, a signature database written at run time, a program
// folder of the test's own, and a way to run a scanner thread to its end and record its events.

#include <QByteArray>
#include <QDateTime>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TVirusScanner;

namespace support {

inline const QString ClamTestFiles = QStringLiteral("/usr/share/clamav-testfiles");
inline const QString ClamExeVirusName = QStringLiteral("Harkavel.Test.ClamExe.UNOFFICIAL");
inline const QString EicarVirusName = QStringLiteral("Harkavel.Test.Eicar.UNOFFICIAL");

// The 68-byte EICAR test string, put together here so that no file of the project holds it.
QByteArray EicarBytes();

// An .ndb database that detects ClamAV's sample clam.exe (and it inside the sample
// containers) and the EICAR string.
QByteArray SampleDatabase();

// clamscan options that match the scan options and limits of the program.
QStringList ClamscanOptionsMatchingProgram();

// Text as UTF-16 code units, low byte first: the settings file's form.
QByteArray Utf16Bytes(const QString& Text);

// The genuine signed database of tests/data (bytecode-268.cvd: version 268, 47 signatures,
// 78,992 bytes), read fresh for every caller; when the file is missing or short it says so in
// a warning and returns what it read, which the callers' size checks then refuse.
QByteArray GenuineDatabase();
// A copy of a database whose header says Version instead: no longer verifiable, but a local
// copy whose header the engine library reads. Empty, with a warning, for a shorter input.
QByteArray WithHeaderVersion(const QByteArray& Database, int Version);
QByteArray ReadFile(const QString& Path);

// Sets a file's modification time; false when it could not.
bool SetWriteTime(const QString& Path, const QDateTime& Time);
// Writes Bytes to Path dated 1 January 2001, so that a mirror's copy is newer by date.
bool WriteLongAgo(const QString& Path, const QByteArray& Bytes);

// Writes Bytes to Path (folders created); false when it could not.
bool WriteFile(const QString& Path, const QByteArray& Bytes);

// A temporary folder that the program takes as its own folder while this object lives.
// World-readable, so that nginx workers and dropped-privilege children can read it.
class TTestProgramFolder {
public:
    TTestProgramFolder();
    ~TTestProgramFolder();
    QString Path() const; // with trailing delimiter
    void WriteSampleDatabase();

private:
    QTemporaryDir FFolder;
};

// Frees the process-wide engine holder, so the next scan builds a new engine.
void ResetEngineHolder();

// Runs a scanner thread to its end under a Qt event loop and records its events as lines:
// "progress PATH", "virus PATH NAME", "error PATH TEXT". Every event is checked to run on the
// main thread.
struct TScanRecord {
    QStringList Events;
    QStringList Viruses; // paths
    bool AllOnMainThread = true;
    bool Terminated = false; // the termination handler ran, on the main thread
    int Terminations = 0;
    bool EventAfterTermination = false;
    QList<int> LoadPercents; // of the engine's load
};

// Programs started as the unprivileged user "nobody": root reads every file and writes every
// folder, so what a user may not do is shown as nobody. Needs root and setpriv.
bool CanRunAsNobody();
// Starts Program through setpriv as nobody; the caller sets environment and channels before.
void StartAsNobody(QProcess& Process, const QString& Program, const QStringList& Arguments);
// Gives Path, and everything below it, to nobody.
bool GiveToNobody(const QString& Path);

// How many start/stop cycles a stress test runs; HARKAVEL_STRESS_CYCLES sets another number.
int StressCycles(int Default);

TScanRecord RunScan(const QStringList& Targets, int TimeoutMs = 120000);
// Attaches the recorder to a scanner that the caller creates suspended and starts.
void Record(TVirusScanner& Scanner, TScanRecord& Record);
bool WaitForTermination(TScanRecord& Record, int TimeoutMs);

} // namespace support
