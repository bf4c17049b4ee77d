// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "TestSupport.h"

#include "engine/uClamDatabase.h"
#include "engine/uVirusScanner.h"
#include "platform/ProgramPath.h"
#include "platform/Thread.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <pwd.h>
#include <unistd.h>
#include <utime.h>

namespace support {

QByteArray EicarBytes() {
    // Two halves, joined only in memory.
    const QByteArray Head = QByteArrayLiteral("X5O!P%@AP[4\\PZX54(P^)7CC)7}$");
    const QByteArray Tail = QByteArrayLiteral("EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*");
    return Head + Tail;
}

QByteArray SampleDatabase() {
    return "Harkavel.Test.ClamExe:0:*:" + QByteArray("CLAMessageBoxA").toHex() + "\n" +
           "Harkavel.Test.Eicar:0:*:" + QByteArray("EICAR-STANDARD-ANTIVIRUS-TEST-FILE").toHex() +
           "\n";
}

QStringList ClamscanOptionsMatchingProgram() {
    return {"--scan-archive=yes",     "--scan-mail=yes",
            "--scan-ole2=yes",        "--scan-html=yes",
            "--scan-pe=yes",          "--scan-pdf=yes",
            "--heuristic-alerts=yes", "--scan-elf=no",
            "--scan-swf=no",          "--scan-xmldocs=no",
            "--scan-hwp3=no",         "--scan-onenote=no",
            "--scan-image=no",        "--scan-image-fuzzy-hash=no",
            "--detect-structured=no", "--max-scansize=20M",
            "--max-filesize=20M",     "--max-recursion=5",
            "--max-files=0",          "--bytecode=no",
            "--phishing-sigs=yes",    "--phishing-scan-urls=yes"};
}

QByteArray Utf16Bytes(const QString& Text) {
    QByteArray Bytes;
    for (QChar C : Text) {
        Bytes.append(char(C.unicode() & 0xFF));
        Bytes.append(char(C.unicode() >> 8));
    }
    return Bytes;
}

QByteArray GenuineDatabase() {
    const QString Path = QStringLiteral(HARKAVEL_SOURCE_DIR "/tests/data/bytecode-268.cvd");
    constexpr qsizetype GenuineSize = 78992;
    const QByteArray Bytes = ReadFile(Path);
    if (Bytes.size() != GenuineSize)
        qWarning("The genuine test database %s is missing or not whole (%lld of %lld bytes)",
                 qPrintable(Path), qlonglong(Bytes.size()), qlonglong(GenuineSize));
    return Bytes;
}

QByteArray WithHeaderVersion(const QByteArray& Database, int Version) {
    constexpr int HeaderSize = 512;
    constexpr int VersionField = 2;
    QList<QByteArray> Fields = Database.left(HeaderSize).trimmed().split(':');
    if (Database.size() < HeaderSize || Fields.size() <= VersionField) {
        qWarning("WithHeaderVersion: %lld bytes hold no database header",
                 qlonglong(Database.size()));
        return {};
    }
    Fields[VersionField] = QByteArray::number(Version);
    const QByteArray Header = Fields.join(':').leftJustified(HeaderSize, ' ', true);
    return Header + Database.mid(HeaderSize);
}

QByteArray ReadFile(const QString& Path) {
    QFile File(Path);
    return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

bool SetWriteTime(const QString& Path, const QDateTime& Time) {
    const utimbuf Times{Time.toSecsSinceEpoch(), Time.toSecsSinceEpoch()};
    return utime(QFile::encodeName(Path).constData(), &Times) == 0;
}

bool WriteLongAgo(const QString& Path, const QByteArray& Bytes) {
    return WriteFile(Path, Bytes) &&
           SetWriteTime(Path, QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
}

bool WriteFile(const QString& Path, const QByteArray& Bytes) {
    QDir().mkpath(QFileInfo(Path).absolutePath());
    QFile File(Path);
    return File.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           File.write(Bytes) == Bytes.size();
}

TTestProgramFolder::TTestProgramFolder() {
    QFile::setPermissions(FFolder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadGroup | QFile::ExeGroup |
                                              QFile::ReadOther | QFile::ExeOther);
    testing::SetProgramFolder(FFolder.path());
}

TTestProgramFolder::~TTestProgramFolder() {
    testing::SetProgramFolder(QString());
}

QString TTestProgramFolder::Path() const {
    return FFolder.path() + QLatin1Char('/');
}

void TTestProgramFolder::WriteSampleDatabase() {
    WriteFile(Path() + "harkavel-test.ndb", SampleDatabase());
}

void ResetEngineHolder() {
    TClamDatabase::ReleaseInstance();
}

void Record(TVirusScanner& Scanner, TScanRecord& Record) {
    Scanner.OnLoadProgress = [&Record](TVirusScanner*, int Percent) {
        Record.AllOnMainThread &= IsMainThread();
        Record.LoadPercents << Percent;
    };
    Scanner.OnProgress = [&Record](TVirusScanner*, const QString& Path) {
        Record.AllOnMainThread &= IsMainThread();
        Record.EventAfterTermination |= Record.Terminated;
        Record.Events << "progress " + Path;
    };
    Scanner.OnVirusFound = [&Record](TVirusScanner*, const QString& Path, const QString& Name) {
        Record.AllOnMainThread &= IsMainThread();
        Record.EventAfterTermination |= Record.Terminated;
        Record.Events << "virus " + Path + " " + Name;
        Record.Viruses << Path;
    };
    Scanner.OnError = [&Record](TVirusScanner*, const QString& Path, const QString& Text) {
        Record.AllOnMainThread &= IsMainThread();
        Record.EventAfterTermination |= Record.Terminated;
        Record.Events << "error " + Path + " " + Text;
    };
    Scanner.OnTerminate = [&Record](TThread*) {
        Record.AllOnMainThread &= IsMainThread();
        Record.Terminated = true;
        ++Record.Terminations;
    };
}

bool CanRunAsNobody() {
    return geteuid() == 0 && getpwnam("nobody") != nullptr &&
           !QStandardPaths::findExecutable("setpriv").isEmpty();
}

void StartAsNobody(QProcess& Process, const QString& Program, const QStringList& Arguments) {
    const passwd* Nobody = getpwnam("nobody");
    Process.start("setpriv", QStringList{"--reuid=" + QString::number(Nobody->pw_uid),
                                         "--regid=" + QString::number(Nobody->pw_gid),
                                         "--clear-groups", Program} +
                                 Arguments);
}

bool GiveToNobody(const QString& Path) {
    const passwd* Nobody = getpwnam("nobody");
    const auto Give = [Nobody](const QString& File) {
        return chown(QFile::encodeName(File).constData(), Nobody->pw_uid, Nobody->pw_gid) == 0;
    };
    bool Given = Give(Path);
    QDirIterator Files(Path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                       QDirIterator::Subdirectories);
    while (Files.hasNext())
        Given &= Give(Files.next());
    return Given;
}

int StressCycles(int Default) {
    bool Valid = false;
    const int Cycles = qEnvironmentVariableIntValue("HARKAVEL_STRESS_CYCLES", &Valid);
    return Valid && Cycles > 0 ? Cycles : Default;
}

bool WaitForTermination(TScanRecord& Record, int TimeoutMs) {
    QDeadlineTimer Deadline(TimeoutMs);
    while (!Record.Terminated && !Deadline.hasExpired())
        QEventLoop().processEvents(QEventLoop::WaitForMoreEvents, 50);
    return Record.Terminated;
}

TScanRecord RunScan(const QStringList& Targets, int TimeoutMs) {
    TScanRecord Result;
    TVirusScanner Scanner(true, Targets);
    Record(Scanner, Result);
    Scanner.Start();
    WaitForTermination(Result, TimeoutMs);
    Scanner.WaitFor();
    return Result;
}

} // namespace support
