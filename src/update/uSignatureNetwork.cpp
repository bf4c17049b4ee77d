// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "uSignatureNetwork.h"

#include "engine/LibClamAV.h"
#include "platform/DebugOutput.h"
#include "platform/FileReplacement.h"
#include "platform/NativePath.h"
#include "platform/ProgramPath.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <clamav.h>
#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString OfficialNetwork = QStringLiteral("database.clamav.net");
constexpr int StopGraceMs = 2000; // after SIGINT, before SIGKILL
constexpr int ReadSliceMs = 200;  // how often the read loop looks at the stop request

// $HARKAVEL_SIGNATURE_NETWORK: a local stand-in of the network for tests and benchmarks. It is
// asked as the network is (a DatabaseMirror, with patches), but never through DNS.
QString NetworkOverride() {
    QString Url = qEnvironmentVariable("HARKAVEL_SIGNATURE_NETWORK").trimmed();
    while (Url.endsWith(u'/')) // freshclam appends "/daily.cvd" to what it is given
        Url.chop(1);
    return Url;
}

QString BaseOf(const QString& Path) {
    const QString Name = Path.mid(Path.lastIndexOf(PathDelimiter) + 1);
    const qsizetype Dot = Name.lastIndexOf(u'.');
    return Dot > 0 ? Name.left(Dot) : Name;
}

using THeader = TDownloadItem::THeader;

THeader HeaderOf(const QString& Path) {
    return THeader(PathExists(Path) ? cl_cvdhead(PathToNative(Path).constData()) : nullptr,
                   &cl_cvdfree);
}

// Which of Folder/Base.cvd and Folder/Base.cld holds the higher version; empty for neither.
QString NewerForm(const QString& Folder, const QString& Base) {
    const QString Cvd = Folder + Base + QStringLiteral(".cvd");
    const QString Cld = OtherFormOf(Cvd);
    const THeader CvdHeader = HeaderOf(Cvd), CldHeader = HeaderOf(Cld);
    if (CldHeader && (!CvdHeader || CldHeader->version > CvdHeader->version))
        return Cld;
    return CvdHeader ? Cvd : QString();
}

// A .cvd carries a signature; a .cld (patched locally) has none, so only a load tells.
bool IsSoundDatabase(const QString& Path) {
    const QByteArray Native = PathToNative(Path);
    if (Path.endsWith(QLatin1String(".cvd")))
        return cl_cvdverify(Native.constData()) == CL_SUCCESS;
    if (InitEngineLibrary() != CL_SUCCESS)
        return false;
    cl_engine* Engine = cl_engine_new();
    if (Engine == nullptr)
        return false;
    unsigned int Signatures = 0;
    const bool Loaded =
        cl_load(Native.constData(), Engine, &Signatures, CL_DB_STDOPT) == CL_SUCCESS &&
        Signatures > 0;
    cl_engine_free(Engine);
    return Loaded;
}

// The user the updater runs as when started by root, which it otherwise leaves for "clamav":
// the folder's owner, so the files stay theirs.
QString FolderOwner(const QString& Folder) {
    struct stat Status {};
    if (stat(PathToNative(Folder).constData(), &Status) != 0)
        return QStringLiteral("root");
    const passwd* Entry = getpwuid(Status.st_uid);
    return Entry ? QString::fromLocal8Bit(Entry->pw_name) : QString::number(Status.st_uid);
}

// "29.30KiB" → bytes.
double ByteCount(const QString& Number, const QString& Unit) {
    const double Value = Number.toDouble();
    if (Unit == QLatin1String("GiB"))
        return Value * 1024 * 1024 * 1024;
    if (Unit == QLatin1String("MiB"))
        return Value * 1024 * 1024;
    return Unit == QLatin1String("KiB") ? Value * 1024 : Value;
}

// The cool-down's end as freshclam prints it (local time, no zone), as the user reads times.
QString LocalTimeText(const QString& Text) {
    const QDateTime Time =
        QDateTime::fromString(Text.trimmed(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return Time.isValid() ? QLocale::system().toString(Time, QLocale::ShortFormat) : Text.trimmed();
}

} // namespace

QString SystemDatabaseFolder() {
    QString Folder = qEnvironmentVariable("HARKAVEL_SYSTEM_DATABASES").trimmed();
    if (Folder.isEmpty())
        Folder = QStringLiteral("/var/lib/clamav");
    return Folder.endsWith(PathDelimiter) ? Folder : Folder + PathDelimiter;
}

IFreshClam* NewUpdateService() {
    if (!qEnvironmentVariable("HARKAVEL_MIRROR").trimmed().isEmpty())
        return new TFreshClam;
    return new TSignatureNetwork;
}

// --- Reading freshclam's output ----------------------------------------------------------------

TFreshClamOutput::TFreshClamOutput(QStringList Databases, TReport Report)
    : FReport(std::move(Report)) {
    for (QString& Name : Databases)
        FDatabases.push_back(TDatabase{std::move(Name), TDatabase::Waiting, QString()});
}

void TFreshClamOutput::Feed(const QByteArray& Bytes) {
    FPending += Bytes;
    // A progress frame ends in CR, a line in LF; whatever follows the last of them waits.
    qsizetype Start = 0;
    for (qsizetype At = 0; At < FPending.size(); ++At) {
        if (FPending[At] != '\r' && FPending[At] != '\n')
            continue;
        ReadPiece(FPending.mid(Start, At - Start));
        Start = At + 1;
    }
    FPending.remove(0, Start);
}

void TFreshClamOutput::ReadPiece(QByteArray Piece) {
    // The frames switch the terminal's line wrap off and on around themselves.
    Piece.replace("\x1b[?7l", "").replace("\x1b[?7h", "");
    const QString Text = QString::fromUtf8(Piece).trimmed();
    if (Text.isEmpty())
        return;
    if (Text.startsWith(QLatin1String("Time:")))
        ReadFrame(Text);
    else
        ReadLine(Text);
}

void TFreshClamOutput::ReadFrame(const QString& Frame) {
    static const QRegularExpression Amounts(
        QStringLiteral("([\\d.]+)(B|KiB|MiB|GiB)/([\\d.]+)(B|KiB|MiB|GiB)"));
    const QRegularExpressionMatch Match = Amounts.match(Frame);
    if (!Match.hasMatch())
        return;
    const double Done = ByteCount(Match.captured(1), Match.captured(2));
    const double Total = ByteCount(Match.captured(3), Match.captured(4));
    FPercent = Total > 0 ? int32_t(std::clamp(Done * 100 / Total, 0.0, 100.0)) : 0;
    Say(QString(), FPercent);
}

void TFreshClamOutput::ReadLine(const QString& Line) {
    HARKAVEL_DEBUG_LINE(QStringLiteral("freshclam: ") + Line);
    static const QRegularExpression Header(
        QStringLiteral("^Trying to retrieve CVD header from .*/(\\w+)\\.cvd$"));
    static const QRegularExpression Available(
        QStringLiteral("^(\\w+) database available for (download|update)"));
    static const QRegularExpression WholeFile(
        QStringLiteral("^WARNING: Incremental update failed, trying to download (\\S+)$"));
    static const QRegularExpression DownloadFailed(
        QStringLiteral("^ERROR: Download failed \\(\\d+\\) ERROR:\\s*Message: (.+)$"));
    static const QRegularExpression RunFailed(
        QStringLiteral("^ERROR: Database update process failed: (.+)$"));
    if (ReadOutcome(Line) || ReadNetworkLine(Line))
        return;
    QRegularExpressionMatch Match;
    if ((Match = Header.match(Line)).hasMatch()) {
        Begin(Match.captured(1), TDatabase::Checking);
        FPercent = 0;
        Say(QString());
    } else if ((Match = Available.match(Line)).hasMatch()) {
        Begin(Match.captured(1), TDatabase::Downloading);
        const QString Name = Match.captured(1) + QStringLiteral(".cvd");
        Say(Match.captured(2) == QLatin1String("update")
                ? QStringLiteral("Downloading the patches of %1").arg(Name)
                : QStringLiteral("Downloading %1").arg(Name));
    } else if ((Match = WholeFile.match(Line)).hasMatch()) {
        Say(QStringLiteral("A patch is missing: downloading %1 whole").arg(Match.captured(1)));
    } else if ((Match = DownloadFailed.match(Line)).hasMatch()) {
        if (FCurrent)
            FCurrent->Reason = Match.captured(1).trimmed();
    } else if (Line.contains(QLatin1String("remote_cvdhead: file not found"))) {
        if (FCurrent)
            FCurrent->Reason = QStringLiteral("Not Found");
    } else if ((Match = RunFailed.match(Line)).hasMatch()) {
        FRunReason = Match.captured(1).trimmed();
    }
}

// The lines that end one database.
bool TFreshClamOutput::ReadOutcome(const QString& Line) {
    static const QRegularExpression Updated(
        QStringLiteral("^((\\w+)\\.c[lv]d) updated \\(version: (\\d+)"));
    static const QRegularExpression UpToDate(
        QStringLiteral("^((\\w+)\\.c[lv]d) database is up-to-date"));
    static const QRegularExpression NoPatch(QStringLiteral(
        "^The database server doesn't have the latest patch for the (\\w+) database"));
    QRegularExpressionMatch Match;
    if ((Match = Updated.match(Line)).hasMatch()) {
        Begin(Match.captured(2), TDatabase::Downloading);
        FInstalled.append(Match.captured(1));
        EndCurrent(UpdateOutcome::Installed.arg(Match.captured(1), Match.captured(3)));
    } else if ((Match = UpToDate.match(Line)).hasMatch()) {
        Begin(Match.captured(2), TDatabase::Checking);
        EndCurrent(UpdateOutcome::UpToDate.arg(Match.captured(1)));
    } else if ((Match = NoPatch.match(Line)).hasMatch()) {
        Begin(Match.captured(1), TDatabase::Downloading);
        EndCurrent(NetworkOutcome::NoLatestPatch);
    } else if (Line.startsWith(QLatin1String("ERROR: Verification: "))) {
        if (!FCurrent)
            return true;
        EndCurrent(UpdateOutcome::Damaged.arg(FCurrent->Name + QStringLiteral(".cvd")));
    } else {
        return false;
    }
    return true;
}

// The lines about this computer and the network, not one database: each is said once, ends
// the database at hand and covers the ones still waiting.
bool TFreshClamOutput::ReadNetworkLine(const QString& Line) {
    static const QRegularExpression CoolDown(QStringLiteral("on cool-down until after: (.+)$"));
    const QRegularExpressionMatch Match = CoolDown.match(Line);
    if (Match.hasMatch()) {
        if (!std::exchange(FCoolDownSaid, true))
            Say(NetworkOutcome::CoolDown.arg(LocalTimeText(Match.captured(1))));
    } else if (Line.contains(QLatin1String("received error code 403"))) {
        if (!std::exchange(FRefusedSaid, true))
            Say(NetworkOutcome::Refused);
    } else {
        return false;
    }
    if (FCurrent)
        FCurrent->State = TDatabase::Ended;
    FCurrent = nullptr;
    return true;
}

void TFreshClamOutput::Finish(int ExitCode, bool Cancelled) {
    if (!FPending.isEmpty())
        ReadPiece(std::exchange(FPending, QByteArray()));
    if (Cancelled || FCoolDownSaid || FRefusedSaid)
        return;
    for (TDatabase& Database : FDatabases) {
        if (Database.State == TDatabase::Ended)
            continue;
        QString Reason = !Database.Reason.isEmpty() ? Database.Reason : FRunReason;
        if (Reason.isEmpty())
            Reason = QStringLiteral("freshclam ended with exit code %1").arg(ExitCode);
        if (Database.State == TDatabase::Waiting) // freshclam gives up at the first failure
            Reason = QStringLiteral("the update stopped before it (%1)").arg(Reason);
        FCurrent = &Database;
        const QString Name = Database.Name + QStringLiteral(".cvd");
        EndCurrent(Database.State == TDatabase::Downloading
                       ? UpdateOutcome::DownloadFailed.arg(Name, Reason)
                       : UpdateOutcome::CheckFailed.arg(Name, Reason));
    }
}

TFreshClamOutput::TDatabase* TFreshClamOutput::Find(const QString& Name) {
    const auto Found = std::find_if(FDatabases.begin(), FDatabases.end(),
                                    [&](const TDatabase& Entry) { return Entry.Name == Name; });
    return Found == FDatabases.end() ? nullptr : &*Found;
}

void TFreshClamOutput::Begin(const QString& Name, TDatabase::TState State) {
    FCurrent = Find(Name);
    if (FCurrent && FCurrent->State != TDatabase::Ended)
        FCurrent->State = std::max(FCurrent->State, State);
}

void TFreshClamOutput::EndCurrent(const QString& JournalText) {
    if (FCurrent == nullptr || FCurrent->State == TDatabase::Ended)
        return; // a database gets one line
    FCurrent->State = TDatabase::Ended;
    Say(JournalText, FPercent);
    FCurrent = nullptr;
}

void TFreshClamOutput::Say(const QString& JournalText, int32_t Percent) {
    const QString FileName = FCurrent ? FCurrent->Name + QStringLiteral(".cvd") : QString();
    FReport(JournalText, FileName, Percent);
}

// --- The run ---------------------------------------------------------------------------------

TSignatureNetworkUpdate::TSignatureNetworkUpdate(const TSafeArray* Databases) {
    QStringList Paths;
    SafeArrayToStrings(Databases, Paths);
    if (Paths.isEmpty())
        Paths = DefaultDatabases();
    FFolder = ExtractFilePath(Paths.first());
    for (const QString& Path : std::as_const(Paths))
        if (!FNames.contains(BaseOf(Path)))
            FNames.append(BaseOf(Path));
}

TSignatureNetworkUpdate::~TSignatureNetworkUpdate() {
    TerminateAndWait(); // the body uses the child and the lock
}

void TSignatureNetworkUpdate::CancelAndWait() {
    Terminate();
    FChild.Wake(); // the read loop stops the child at once
    try {
        WaitFor(); // the run may free itself meanwhile: nothing of it is touched after this
    } catch (...) {
    }
}

void TSignatureNetworkUpdate::Execute() {
    UpdateDatabases();
    FLock.Release(); // the next update may start before this object is freed
}

void TSignatureNetworkUpdate::UpdateDatabases() {
    if (!FLock.Acquire(FFolder)) {
        HARKAVEL_DEBUG_LINE(FFolder + QStringLiteral(": ") + FLock.ErrorText());
        ReportEach(UpdateOutcome::NotExclusive);
        return;
    }
    const QString Program = FindProgramOnPath(QStringLiteral("freshclam"));
    if (Program.isEmpty()) {
        Report(NetworkOutcome::UpdaterMissing, QString(), 0);
        return;
    }
    if (!CopySystemDatabases() || Terminated())
        return;
    QTemporaryDir Private; // 0700: the configuration is nobody else's to change
    if (!Private.isValid()) {
        ReportEach(UpdateOutcome::CheckFailed.arg(QStringLiteral("%1"), Private.errorString()));
        return;
    }
    const QString Configuration = Private.filePath(QStringLiteral("freshclam.conf"));
    const QString Error = WriteConfiguration(Configuration);
    if (!Error.isEmpty()) {
        ReportEach(UpdateOutcome::CheckFailed.arg(QStringLiteral("%1"), Error));
        return;
    }
    RunUpdater(Program, Configuration);
    RemoveLeftovers();
}

// A first update with no databases of the user's own starts from the system's, when it has
// them, so that freshclam fetches patches rather than some 250 MB. False when stopped.
bool TSignatureNetworkUpdate::CopySystemDatabases() {
    for (const QString& Base : std::as_const(FNames))
        if (!NewerForm(FFolder, Base).isEmpty())
            return true;
    if (QDir(SystemDatabaseFolder()) == QDir(FFolder))
        return true;
    for (const QString& Base : std::as_const(FNames))
        if (!CopySystemDatabase(Base))
            return false;
    return true;
}

bool TSignatureNetworkUpdate::CopySystemDatabase(const QString& Base) {
    const QString Source = NewerForm(SystemDatabaseFolder(), Base);
    if (Source.isEmpty())
        return true;
    const QString Name = Source.mid(Source.lastIndexOf(PathDelimiter) + 1);
    // The copy is checked under its own name (the engine reads a database's kind from it), in
    // a hidden folder beside the databases, and only then renamed into place.
    QTemporaryDir Staging(FFolder + QStringLiteral(".harkavel-copy-XXXXXX"));
    const QString Copy = Staging.filePath(Name);
    QFile In(Source), Out(Copy);
    bool Copied =
        Staging.isValid() && In.open(QIODevice::ReadOnly) && Out.open(QIODevice::WriteOnly);
    QByteArray Block;
    while (Copied && !Terminated() && !(Block = In.read(1 << 20)).isEmpty())
        Copied = Out.write(Block) == Block.size();
    Copied =
        Copied && In.error() == QFileDevice::NoError && Out.flush() && fsync(Out.handle()) == 0;
    Out.close();
    if (Terminated())
        return false;
    const THeader Header = HeaderOf(Copy);
    if (!Copied || !Header || !IsSoundDatabase(Copy) || !QFile::rename(Copy, FFolder + Name)) {
        Report(QStringLiteral("Did not copy %1 from %2: it could not be copied whole, or it is "
                              "damaged")
                   .arg(Name, SystemDatabaseFolder()),
               Name, 0);
        return true;
    }
    Report(QStringLiteral("Copied %1 (version %2) from %3")
               .arg(Name, QString::number(Header->version), SystemDatabaseFolder()),
           Name, 0);
    return true;
}

// Empty when written; else why not.
QString TSignatureNetworkUpdate::WriteConfiguration(const QString& Path) {
    QString Folder = FFolder;
    while (Folder.size() > 1 && Folder.endsWith(PathDelimiter))
        Folder.chop(1);
    if (Folder.contains(u'\n') || Folder.contains(u'\r'))
        return QStringLiteral("the database folder's name holds a line break");
    const QString Network = NetworkOverride();
    QFile File(Path);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Text))
        return File.errorString();
    QTextStream Out(&File);
    Out << "DatabaseDirectory " << Folder << '\n'
        << "DatabaseMirror " << (Network.isEmpty() ? OfficialNetwork : Network) << '\n'
        << "ScriptedUpdates yes\n"
        << "Foreground yes\n"
        << "ConnectTimeout 30\n"
        << "ReceiveTimeout 60\n"
        << "MaxAttempts 3\n"
        << "TestDatabases yes\n";
    if (geteuid() == 0) // it would switch to the user "clamav", who cannot write here
        Out << "DatabaseOwner " << FolderOwner(Folder) << '\n';
    Out.flush();
    return File.error() == QFileDevice::NoError ? QString() : File.errorString();
}

void TSignatureNetworkUpdate::RunUpdater(const QString& Program, const QString& Configuration) {
    QStringList Arguments{QStringLiteral("--config-file=") + Configuration,
                          QStringLiteral("--stdout"), QStringLiteral("--show-progress"),
                          QStringLiteral("--on-update-execute=EXIT_1")};
    // Only these databases; ExcludeDatabase would delete the others from the folder.
    for (const QString& Base : std::as_const(FNames))
        Arguments << QStringLiteral("--update-db=") + Base;
    if (!NetworkOverride().isEmpty())
        Arguments << QStringLiteral("--no-dns");
    TFreshClamOutput Output(FNames,
                            [this](const QString& JournalText, const QString& FileName,
                                   int32_t Percent) { Report(JournalText, FileName, Percent); });
    if (!FChild.Start(Program, Arguments)) {
        ReportEach(UpdateOutcome::CheckFailed.arg(QStringLiteral("%1"), FChild.ErrorText()));
        return;
    }
    QByteArray Bytes;
    while (!Terminated()) {
        const TChildProcess::TRead Read = FChild.Read(Bytes, ReadSliceMs);
        Output.Feed(std::exchange(Bytes, QByteArray()));
        if (Read == TChildProcess::TRead::Closed)
            break;
    }
    // SIGINT lets freshclam remove its temporary folder; the old database stays as it was.
    // At the end of its output it is ending by itself, and is waited for as long as it takes
    // but for a stop request.
    while (!Terminated() && !FChild.WaitForExit(ReadSliceMs)) {
    }
    FChild.Stop(SIGINT, StopGraceMs);
    Output.Finish(FChild.ExitCode(), Terminated());
    for (const QString& Name : Output.Installed())
        RemoveOtherForm(FFolder + Name);
}

// What a stopped freshclam leaves: its temporary folders (tmp. and ten hexadecimal digits), and
// our own copies of the system's databases.
void TSignatureNetworkUpdate::RemoveLeftovers() {
    static const QRegularExpression Leftover(
        QStringLiteral("^(tmp\\.[0-9a-f]{10}|\\.harkavel-copy-.{6})$"));
    const QStringList Folders =
        QDir(FFolder).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& Name : Folders)
        if (Leftover.match(Name).hasMatch())
            QDir(FFolder + Name).removeRecursively();
}

void TSignatureNetworkUpdate::Report(const QString& JournalText, const QString& FileName,
                                     int32_t Percent) {
    if (OnProgress)
        OnProgress(this, JournalText, FileName, Percent);
}

// One line for each database: Format has %1 for its file name.
void TSignatureNetworkUpdate::ReportEach(const QString& Format) {
    for (const QString& Base : std::as_const(FNames)) {
        const QString Name = Base + QStringLiteral(".cvd");
        Report(Format.arg(Name), Name, 0);
    }
}

// --- The service -----------------------------------------------------------------------------

std::unique_ptr<TUpdateRun> TSignatureNetwork::NewRun(const TSafeArray* Databases, const QString&,
                                                      const QString&, uint16_t, const QString&,
                                                      const QString&) {
    return std::make_unique<TSignatureNetworkUpdate>(Databases);
}
