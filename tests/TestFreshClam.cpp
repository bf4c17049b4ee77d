// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The updater against a real nginx mirror serving the genuine signed database, and against raw
// servers that misbehave on purpose.

#include "engine/LibClamAV.h"
#include "platform/DebugOutput.h"
#include "platform/Thread.h"
#include "support/TestMirror.h"
#include "support/TestSupport.h"
#include "support/UpdateRecord.h"
#include "update/uFreshClam.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <clamav.h>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace support;

namespace {

constexpr int RunTimeout = 30000; // ms; a stalled download ends after 5 s

// Ways a mirror can fail an update.
enum class THostile {
    Tampered,     // a byte of the body changed: the signature no longer checks out
    CutShort,     // the connection closes halfway through the body
    Stall,        // the body stops coming
    TotalDiffers, // the check announces another size than the body has
    StarTotal,    // Content-Range: bytes 0-511/*
    NotFound,
    TooManyRequests,
    Unavailable,
    IgnoresRange,  // answers the check with the whole file
    Endless,       // the download goes on well past the size the check announced
    NegativeTotal, // Content-Range: bytes 0-511/-78992
};

// What the Endless mirror managed to send of a download.
std::atomic<qint64> EndlessBytesSent{0};

QByteArray ResponseHead(const QByteArray& Status, qint64 Length, const QByteArray& Extra = {}) {
    return "HTTP/1.1 " + Status + "\r\nContent-Length: " + QByteArray::number(Length) +
           "\r\nConnection: close\r\n" + Extra + "\r\n";
}

void Answer(int Socket, THostile Kind, const QByteArray& Database) {
    const QByteArray Head = TRawServer::ReadRequestHead(Socket);
    const bool Check = Head.contains("Range: bytes=0-511");
    const QByteArray Total = QByteArray::number(Database.size());
    auto SendCheck = [&](const QByteArray& RangeTotal) {
        TRawServer::Send(Socket, ResponseHead("206 Partial Content", 512,
                                              "Content-Range: bytes 0-511/" + RangeTotal + "\r\n") +
                                     Database.left(512));
    };
    auto SendWhole = [&](const QByteArray& Body) {
        TRawServer::Send(Socket, ResponseHead("200 OK", Body.size()) + Body);
    };
    switch (Kind) {
    case THostile::NotFound:
        return TRawServer::Send(Socket, ResponseHead("404 Not Found", 0));
    case THostile::TooManyRequests:
        return TRawServer::Send(Socket, ResponseHead("429 Too Many Requests", 0));
    case THostile::Unavailable:
        return TRawServer::Send(Socket, ResponseHead("503 Service Unavailable", 0));
    case THostile::StarTotal:
        return SendCheck("*");
    case THostile::NegativeTotal:
        return SendCheck("-" + Total);
    case THostile::IgnoresRange:
        return SendWhole(Database);
    case THostile::TotalDiffers:
        return Check ? SendCheck(QByteArray::number(Database.size() + 10)) : SendWhole(Database);
    default:
        break;
    }
    if (Check)
        return SendCheck(Total);
    if (Kind == THostile::Endless) {
        // No length, so only the announced size can tell the client where the copy ends.
        TRawServer::Send(Socket, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + Database);
        const QByteArray More(64 * 1024, 'x');
        constexpr qint64 Most = 300 * 1024 * 1024;
        for (qint64 Sent = 0; Sent < Most; Sent += More.size()) {
            if (::send(Socket, More.constData(), size_t(More.size()), MSG_NOSIGNAL) < 0)
                return;
            EndlessBytesSent += More.size();
        }
        return;
    }
    if (Kind == THostile::Tampered) {
        QByteArray Tampered = Database;
        Tampered[Database.size() / 2] = char(Tampered[Database.size() / 2] ^ 0x01);
        return SendWhole(Tampered);
    }
    TRawServer::Send(Socket,
                     ResponseHead("200 OK", Database.size()) + Database.left(Database.size() / 2));
    if (Kind == THostile::Stall)
        TRawServer::StallUntilClosed(Socket);
}

bool Locked(const QString& Path) {
    const int File = open(QFile::encodeName(Path).constData(), O_RDONLY);
    const bool Held = flock(File, LOCK_EX | LOCK_NB) != 0;
    close(File);
    return Held;
}

int LoadInEngine(const QString& Folder, unsigned& Signatures) {
    cl_engine* Engine = cl_engine_new();
    Signatures = 0;
    const int Status =
        cl_load(QFile::encodeName(Folder).constData(), Engine, &Signatures, DatabaseOptions);
    cl_engine_free(Engine);
    return Status;
}

} // namespace

class TestFreshClam : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void NormalisesTheServer_data();
    void NormalisesTheServer();
    void InstallsNewerDatabasesDailyFirst();
    void FindsADatabaseUpToDate_data();
    void FindsADatabaseUpToDate();
    void DownloadsAMissingDatabase_data();
    void DownloadsAMissingDatabase();
    void EndsEveryDatabaseWithALine();
    void NeverCreatesAFailedDatabase();
    void KeepsTheLocalDatabaseAgainstAHostileMirror_data();
    void KeepsTheLocalDatabaseAgainstAHostileMirror();
    void SaysWhyAnUnusableMirrorEndsTheRun();
    void SkipsADatabaseAnotherProcessHolds();
    void StopsDuringTheCheckLeavingNothingBehind();
    void SurvivesAKillDuringTheDownload();

    void UpdatesTheUsersDataFolderBesideAnInstalledProgram();
    void RefusesASecondStartAndAnEmptyCancel();
    void CancelReturnsAfterTheTerminationHandler();
    void CancelAndStartFromInsideTheTerminationHandler();
    void TerminationHandlerMayReleaseTheLastReference();
    void AFailingProgressHandlerStopsTheRun();
    void RunsWithoutHandlers();
    void SurvivesStartsAndStopsAtRandomMoments();

private:
    QString Local(const QString& Name) const { return FFolder->Path() + Name; }
    QString MirrorHost() const { return FMirror->Url(QString()); }
    void WaitForEnd(const TUpdateRecord& Record, int Ends = 1);

    std::unique_ptr<TNginxMirror> FMirror;
    std::unique_ptr<TTestProgramFolder> FFolder;
    QByteArray FGenuine, FOlder;
};

void TestFreshClam::initTestCase() {
    FMirror = std::make_unique<TNginxMirror>();
    QVERIFY(FMirror->Started());
    FGenuine = GenuineDatabase();
    QCOMPARE(FGenuine.size(), 78992);
    FOlder = WithHeaderVersion(FGenuine, 267);
    QVERIFY(FMirror->Serve("daily.cvd", FGenuine));
    QVERIFY(FMirror->Serve("main.cvd", FGenuine));
}

void TestFreshClam::init() {
    FFolder.reset(); // before the next one takes its place as the program's folder
    FFolder = std::make_unique<TTestProgramFolder>();
}

void TestFreshClam::WaitForEnd(const TUpdateRecord& Record, int Ends) {
    QTRY_VERIFY_WITH_TIMEOUT(Record.Terminations() >= Ends, RunTimeout);
}

void TestFreshClam::NormalisesTheServer_data() {
    QTest::addColumn<QString>("Server");
    QTest::addColumn<QString>("Expected");
    QTest::newRow("bare") << "mirror.example"
                          << "mirror.example";
    QTest::newRow("prefix in any case, slashes") << "HtTp://mirror.example//\\/"
                                                 << "mirror.example";
    QTest::newRow("port and folder") << "http://127.0.0.1:8080/slow/"
                                     << "127.0.0.1:8080/slow";
    QTest::newRow("only slashes") << "//\\" << DefaultMirrorHost();
    QTest::newRow("empty") << "" << DefaultMirrorHost();
}

void TestFreshClam::NormalisesTheServer() {
    QFETCH(QString, Server);
    QFETCH(QString, Expected);
    TFreshClamThread Thread(nullptr, Server, "proxy.example", 3128, "user", "secret");
    QCOMPARE(Thread.Server(), Expected);
    QCOMPARE(Thread.HTTP().AccessType, INTERNET_OPEN_TYPE_PROXY);
    QCOMPARE(Thread.HTTP().ProxyPort, uint16_t(3128));
    QCOMPARE(Thread.HTTP().ReceiveTimeout, 5000u);
    // A proxy without a port is no proxy: the platform's own settings apply.
    TFreshClamThread NoPort(nullptr, Server, "proxy.example", 0, "user", "secret");
    QCOMPARE(NoPort.HTTP().AccessType, INTERNET_OPEN_TYPE_PRECONFIG);
    QVERIFY(NoPort.HTTP().ProxyServer.isEmpty());
}

void TestFreshClam::InstallsNewerDatabasesDailyFirst() {
    QVERIFY(WriteLongAgo(Local("daily.cvd"), FOlder));
    QVERIFY(WriteLongAgo(Local("main.cvd"), FOlder));
    const qsizetype LogBefore = FMirror->AccessLog().size();
    TInterfacePtr<IFreshClam> Service;
    TUpdateRecord Record;
    QCOMPARE(StartUpdate(Service, Record, MirrorHost()), S_OK);
    WaitForEnd(Record);

    QCOMPARE(Record.Outcomes(), QStringList({"Database daily.cvd updated to version 268",
                                             "Database main.cvd updated to version 268"}));
    QVERIFY(Record.Journal().contains("Downloading daily.cvd, 47 signatures - 77.1 KB in size"));
    QVERIFY(Record.Journal().indexOf(QRegularExpression("^Connecting to server 127.0.0.1")) >= 0);
    QCOMPARE(ReadFile(Local("daily.cvd")), FGenuine);
    QCOMPARE(ReadFile(Local("main.cvd")), FGenuine);
    QVERIFY(TemporaryDownloads(FFolder->Path()).isEmpty());
    QCOMPARE(QFileInfo(Local("daily.cvd")).permissions() & QFile::ReadOther, QFile::ReadOther);
    unsigned Signatures = 0;
    QCOMPARE(LoadInEngine(FFolder->Path(), Signatures), int(CL_SUCCESS));
    QVERIFY(Signatures > 0);

    // Two checks of 512 bytes with the local file's date, then the two downloads, daily first.
    const QStringList Log = FMirror->AccessLog().mid(LogBefore);
    QCOMPARE(Log.size(), 4);
    QVERIFY2(Log[0].startsWith("GET /daily.cvd 206") && Log[0].contains("\"bytes=0-511\" 512 \""),
             qPrintable(Log[0]));
    QVERIFY2(Log[0].contains("\"Mon, 01 Jan 2001 00:00:00 GMT\""), qPrintable(Log[0]));
    QVERIFY(Log[1].startsWith("GET /main.cvd 206"));
    QVERIFY2(Log[2].startsWith("GET /daily.cvd 200") && Log[2].contains("\"-\" 78992"),
             qPrintable(Log[2]));
    QVERIFY(Log[3].startsWith("GET /main.cvd 200"));

    // The bar: 0 through the checks, then rising to exactly 100, never beyond.
    const QList<int32_t> Percents = Record.Percents();
    QCOMPARE(Percents.first(), 0);
    QCOMPARE(Percents.last(), 100);
    QVERIFY(std::is_sorted(Percents.begin(), Percents.end()));
    QVERIFY(Percents.contains(50));
    QVERIFY(Record.AllReportsOffMainThread());
    QVERIFY(Record.AllEndsOnMainThread());
    QCOMPARE(Record.Terminations(), 1);
    for (const TUpdateReport& Report : Record.Reports())
        QVERIFY(Report.FileName == "daily.cvd" || Report.FileName == "main.cvd");
}

void TestFreshClam::FindsADatabaseUpToDate_data() {
    QTest::addColumn<bool>("SameVersion");
    QTest::addColumn<QString>("Answer"); // the check's request in nginx's log
    // The mirror's copy is newer by date: its header tells.
    QTest::newRow("by version") << true << "GET /daily.cvd 206 .* 512 \"";
    // Older by version but written after the mirror's copy (a minute later, beyond the
    // two-second steps of the date sent): the mirror answers 304 and sends no body.
    QTest::newRow("by date") << false << "GET /daily.cvd 304 .* 0 \"";
}

void TestFreshClam::FindsADatabaseUpToDate() {
    QFETCH(bool, SameVersion);
    QFETCH(QString, Answer);
    const QByteArray Content = SameVersion ? FGenuine : FOlder;
    QVERIFY(WriteLongAgo(Local("daily.cvd"), Content));
    if (!SameVersion)
        SetWriteTime(Local("daily.cvd"), QDateTime::currentDateTimeUtc().addSecs(60));
    const qsizetype LogBefore = FMirror->AccessLog().size();
    TInterfacePtr<IFreshClam> Service;
    TUpdateRecord Record;
    QCOMPARE(StartUpdate(Service, Record, MirrorHost(), {Local("daily.cvd")}), S_OK);
    WaitForEnd(Record);
    QCOMPARE(Record.Outcomes(), QStringList{"Database daily.cvd is up-to-date"});
    QCOMPARE(ReadFile(Local("daily.cvd")), Content);
    const QStringList Log = FMirror->AccessLog().mid(LogBefore);
    QCOMPARE(Log.size(), 1);
    QVERIFY2(QRegularExpression("^" + Answer).match(Log[0]).hasMatch(), qPrintable(Log[0]));
}

// Totals that add up to nothing (one negative, one positive) still give every database its line.
void TestFreshClam::EndsEveryDatabaseWithALine() {
    TRawServer Mirror([this](int Socket) {
        const QByteArray Head = TRawServer::ReadRequestHead(Socket);
        const bool Daily = Head.contains("GET /daily.cvd");
        const QByteArray Total = QByteArray(Daily ? "-" : "") + QByteArray::number(FGenuine.size());
        if (Head.contains("Range: bytes=0-511"))
            TRawServer::Send(Socket, ResponseHead("206 Partial Content", 512,
                                                  "Content-Range: bytes 0-511/" + Total + "\r\n") +
                                         FGenuine.left(512));
        else
            TRawServer::Send(Socket, ResponseHead("200 OK", FGenuine.size()) + FGenuine);
    });
    TInterfacePtr<IFreshClam> Service;
    TUpdateRecord Record;
    QCOMPARE(StartUpdate(Service, Record, Mirror.Url(QString()),
                         {Local("daily.cvd"), Local("main.cvd")}),
             S_OK);
    WaitForEnd(Record);
    QCOMPARE(Record.Outcomes(), QStringList({"The mirror has no valid copy of daily.cvd",
                                             "Database main.cvd updated to version 268"}));
}

void TestFreshClam::DownloadsAMissingDatabase_data() {
    QTest::addColumn<bool>("CutShort");
    QTest::newRow("missing") << false;
    // A local file cut short is no database, whatever its date: it is downloaded again, even
    // from a mirror that answers a date it is not older than with 304.
    QTest::newRow("cut short, dated later than the mirror's") << true;
}

void TestFreshClam::DownloadsAMissingDatabase() {
    QFETCH(bool, CutShort);
    if (CutShort) {
        QVERIFY(WriteFile(Local("daily.cvd"), FGenuine.left(40000)));
        SetWriteTime(Local("daily.cvd"), QDateTime::currentDateTimeUtc().addSecs(60));
    }
    TInterfacePtr<IFreshClam> Service;
    TUpdateRecord Record;
    QCOMPARE(StartUpdate(Service, Record, MirrorHost(), {Local("daily.cvd")}), S_OK);
    WaitForEnd(Record);
    QCOMPARE(Record.Outcomes(), QStringList{"Database daily.cvd updated to version 268"});
    QCOMPARE(ReadFile(Local("daily.cvd")), FGenuine);
}

void TestFreshClam::NeverCreatesAFailedDatabase() {
    TRawServer Mirror([this](int Socket) { Answer(Socket, THostile::CutShort, FGenuine); });
    TInterfacePtr<IFreshClam> Service;
    TUpdateRecord Record;
    QCOMPARE(StartUpdate(Service, Record, Mirror.Url(QString()), {Local("daily.cvd")}), S_OK);
    WaitForEnd(Record);
    QCOMPARE(Record.Outcomes().size(), 1);
    QVERIFY2(Record.Outcomes()[0].startsWith("Unable to download daily.cvd: "),
             qPrintable(Record.Outcomes()[0]));
    QVERIFY(!QFileInfo::exists(Local("daily.cvd")));
    QVERIFY(TemporaryDownloads(FFolder->Path()).isEmpty());
}

void TestFreshClam::KeepsTheLocalDatabaseAgainstAHostileMirror_data() {
    QTest::addColumn<THostile>("Kind");
    QTest::addColumn<QString>("Outcome");
    QTest::newRow("tampered body")
        << THostile::Tampered << "Downloaded daily.cvd is damaged and was not installed";
    QTest::newRow("body cut short")
        << THostile::CutShort << "Unable to download daily.cvd: Transferred a partial file";
    QTest::newRow("stall") << THostile::Stall
                           << "Unable to download daily.cvd: Timeout was reached";
    QTest::newRow("total differs from body")
        << THostile::TotalDiffers << "Downloaded daily.cvd is damaged and was not installed";
    QTest::newRow("no total") << THostile::StarTotal << "The mirror has no valid copy of daily.cvd";
    QTest::newRow("404") << THostile::NotFound << "Unable to check daily.cvd: Not Found";
    QTest::newRow("429") << THostile::TooManyRequests
                         << "Unable to check daily.cvd: Too Many Requests";
    QTest::newRow("503") << THostile::Unavailable
                         << "Unable to check daily.cvd: Service Unavailable";
    QTest::newRow("range ignored")
        << THostile::IgnoresRange << "The mirror has no valid copy of daily.cvd";
    QTest::newRow("negative total")
        << THostile::NegativeTotal << "The mirror has no valid copy of daily.cvd";
    // Broken off at the announced size, not after hundreds of megabytes on the disk.
    QTest::newRow("body past the announced size")
        << THostile::Endless << "Downloaded daily.cvd is damaged and was not installed";
}

void TestFreshClam::KeepsTheLocalDatabaseAgainstAHostileMirror() {
    QFETCH(THostile, Kind);
    QFETCH(QString, Outcome);
    QVERIFY(WriteLongAgo(Local("daily.cvd"), FOlder));
    EndlessBytesSent = 0;
    QStringList Debug;
    std::mutex DebugLock;
    SetDebugOutputSink([&](const QString& Line) {
        std::lock_guard Guard(DebugLock);
        Debug << Line;
    });
    {
        TRawServer Mirror([&](int Socket) { Answer(Socket, Kind, FGenuine); });
        TInterfacePtr<IFreshClam> Service;
        TUpdateRecord Record;
        QCOMPARE(StartUpdate(Service, Record, Mirror.Url(QString()), {Local("daily.cvd")}), S_OK);
        WaitForEnd(Record);
        QCOMPARE(Record.Outcomes(), QStringList{Outcome});
    }
    SetDebugOutputSink(nullptr);
    QCOMPARE(ReadFile(Local("daily.cvd")), FOlder);
    QVERIFY(TemporaryDownloads(FFolder->Path()).isEmpty());
    QVERIFY2(EndlessBytesSent < 16 * 1024 * 1024, qPrintable(QString::number(EndlessBytesSent)));
    if (Kind == THostile::StarTotal)
        QVERIFY2(Debug.filter(QRegularExpression(
                                  R"(^uFreshClam\.cpp:\d+ \(ReadRemoteHeader\) Content length is )"
                                  R"(zero \[Content-Range: bytes 0-511/\*\]$)"))
                         .size() == 1,
                 qPrintable(Debug.join('\n')));
}

// A mirror host that makes no usable URL (a typo in HARKAVEL_MIRROR) ends the run at the first
// check, with a line that says why.
void TestFreshClam::SaysWhyAnUnusableMirrorEndsTheRun() {
    TInterfacePtr<IFreshClam> Service;
    TUpdateRecord Record;
    QCOMPARE(StartUpdate(Service, Record, "mirror with spaces"), S_OK);
    WaitForEnd(Record);
    QCOMPARE(Record.Outcomes(), QStringList{"Unable to check daily.cvd: Invalid url passed "
                                            "http://mirror with spaces/daily.cvd"});
    QVERIFY(!QFileInfo::exists(Local("daily.cvd")));
}

void TestFreshClam::SkipsADatabaseAnotherProcessHolds() {
    QVERIFY(WriteLongAgo(Local("daily.cvd"), FOlder));
    QVERIFY(WriteLongAgo(Local("main.cvd"), FOlder));
    QProcess Holder;
    Holder.start("flock", {"--exclusive", Local("main.cvd"), "sleep", "60"});
    QVERIFY(Holder.waitForStarted());
    QTRY_VERIFY(Locked(Local("main.cvd")));
    TInterfacePtr<IFreshClam> Service;
    TUpdateRecord Record;
    QCOMPARE(StartUpdate(Service, Record, MirrorHost()), S_OK);
    WaitForEnd(Record);
    Holder.kill();
    Holder.waitForFinished();
    QCOMPARE(Record.Outcomes(), QStringList({"Unable to open main.cvd for exclusive access",
                                             "Database daily.cvd updated to version 268"}));
    QCOMPARE(ReadFile(Local("daily.cvd")), FGenuine);
    QCOMPARE(ReadFile(Local("main.cvd")), FOlder);
    QVERIFY(TemporaryDownloads(FFolder->Path()).isEmpty());
}

void TestFreshClam::StopsDuringTheCheckLeavingNothingBehind() {
    QVERIFY(WriteLongAgo(Local("daily.cvd"), FOlder));
    TRawServer Mirror([](int Socket) {
        TRawServer::ReadRequestHead(Socket);
        TRawServer::StallUntilClosed(Socket);
    });
    TInterfacePtr<IFreshClam> Service;
    TUpdateRecord Record;
    QCOMPARE(StartUpdate(Service, Record, Mirror.Url(QString())), S_OK);
    QTRY_COMPARE(Mirror.Accepted(), 1);
    QCOMPARE(Service->Cancel(), S_OK);
    QCOMPARE(Record.Terminations(), 1);
    QCOMPARE(Record.Outcomes(), QStringList());
    QCOMPARE(Mirror.Accepted(), 1); // main.cvd was never checked
    QCOMPARE(ReadFile(Local("daily.cvd")), FOlder);
    QVERIFY(!QFileInfo::exists(Local("main.cvd")));
    QVERIFY(TemporaryDownloads(FFolder->Path()).isEmpty());
}

// A program killed in the middle of a download leaves the old database as it was; its
// temporary file is cleared away by the next update.
void TestFreshClam::SurvivesAKillDuringTheDownload() {
    QVERIFY(WriteLongAgo(Local("daily.cvd"), FOlder));
    TRawServer Mirror([this](int Socket) { Answer(Socket, THostile::Stall, FGenuine); });
    QProcess Child;
    Child.setProgram(QCoreApplication::applicationDirPath() + "/UpdateOnce");
    Child.setArguments({Local("daily.cvd"), Mirror.Url(QString())});
    Child.start();
    QVERIFY(Child.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(
        TemporaryDownloads(FFolder->Path()).size() == 1 &&
            QFileInfo(FFolder->Path() + TemporaryDownloads(FFolder->Path())[0]).size() >=
                FGenuine.size() / 2,
        RunTimeout);
    kill(pid_t(Child.processId()), SIGKILL);
    QVERIFY(Child.waitForFinished());
    QCOMPARE(ReadFile(Local("daily.cvd")), FOlder);
    QCOMPARE(TemporaryDownloads(FFolder->Path()).size(), 1);

    TInterfacePtr<IFreshClam> Service;
    TUpdateRecord Record;
    QCOMPARE(StartUpdate(Service, Record, MirrorHost(), {Local("daily.cvd")}), S_OK);
    WaitForEnd(Record);
    QCOMPARE(ReadFile(Local("daily.cvd")), FGenuine);
    QVERIFY(TemporaryDownloads(FFolder->Path()).isEmpty());
}

// An installed program's folder belongs to root: a user's update writes the user's data folder,
// where that user's scans look for the databases.
void TestFreshClam::UpdatesTheUsersDataFolderBesideAnInstalledProgram() {
    if (!support::CanRunAsNobody())
        QSKIP("needs root and setpriv to update as nobody");
    QTemporaryDir Program, Data;
    QCOMPARE(chmod(QFile::encodeName(Program.path()).constData(), 0755), 0);
    QVERIFY(support::GiveToNobody(Data.path()));
    QProcess Child;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert("XDG_DATA_HOME", Data.path());
    Child.setProcessEnvironment(Environment);
    Child.setProcessChannelMode(QProcess::ForwardedChannels);
    support::StartAsNobody(Child, QCoreApplication::applicationDirPath() + "/UpdateOnce",
                           {"--default", MirrorHost(), Program.path()});
    QVERIFY(Child.waitForFinished(RunTimeout));
    QCOMPARE(Child.exitCode(), 0);
    QCOMPARE(ReadFile(Data.path() + "/Harkavel/daily.cvd"), FGenuine);
    QCOMPARE(ReadFile(Data.path() + "/Harkavel/main.cvd"), FGenuine);
    QCOMPARE(QDir(Program.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

void TestFreshClam::RefusesASecondStartAndAnEmptyCancel() {
    TInterfacePtr<IFreshClam> Service(new TFreshClam);
    QCOMPARE(Service->Cancel(), HRESULT(0x80040202));
    QCOMPARE(GetErrorInfo(), QString("There is nothing to cancel"));

    TRawServer Mirror([](int Socket) {
        TRawServer::ReadRequestHead(Socket);
        TRawServer::StallUntilClosed(Socket);
    });
    TUpdateRecord Record;
    Record.Attach(*Service.Get());
    QCOMPARE(Service->Start(nullptr, Mirror.Url(QString()), {}, 0, {}, {}), S_OK);
    QTRY_COMPARE(Mirror.Accepted(), 1);
    QCOMPARE(Service->Start(nullptr, MirrorHost(), {}, 0, {}, {}), HRESULT(0x80040201));
    QCOMPARE(GetErrorInfo(), QString("Update is already in-progress"));
    QCOMPARE(Mirror.Accepted(), 1); // the first run is untouched
    QCOMPARE(Service->Cancel(), S_OK);
    QCOMPARE(Service->Cancel(), HRESULT(0x80040202));

    // The service can run again once idle; after its end there is nothing to cancel.
    QCOMPARE(Service->Start(nullptr, MirrorHost(), {}, 0, {}, {}), S_OK);
    WaitForEnd(Record, 2);
    QCOMPARE(Service->Cancel(), HRESULT(0x80040202));
}

void TestFreshClam::CancelReturnsAfterTheTerminationHandler() {
    QVERIFY(WriteLongAgo(Local("daily.cvd"), FOlder));
    TInterfacePtr<IFreshClam> Service;
    TUpdateRecord Record;
    QCOMPARE(StartUpdate(Service, Record, FMirror->Url("slow")), S_OK);
    QTRY_VERIFY_WITH_TIMEOUT(Record.Journal().filter("Downloading daily.cvd").size() == 1,
                             RunTimeout);
    QCOMPARE(Service->Cancel(), S_OK);
    QCOMPARE(Record.Terminations(), 1);
    QCOMPARE(ReadFile(Local("daily.cvd")), FOlder);
    QVERIFY(TemporaryDownloads(FFolder->Path()).isEmpty());
    QVERIFY(Record.Outcomes().isEmpty()); // a stopped download is no failure of the mirror
}

void TestFreshClam::CancelAndStartFromInsideTheTerminationHandler() {
    TInterfacePtr<IFreshClam> Service(new TFreshClam);
    HRESULT CancelStatus = 1, StartStatus = 1;
    bool Ended = false;
    Service->SetOnTerminate([&](IFreshClam* Sender) {
        CancelStatus = Sender->Cancel();
        StartStatus = Sender->Start(nullptr, MirrorHost(), {}, 0, {}, {});
        Ended = true;
    });
    QCOMPARE(
        Service->Start(StringsToSafeArray({Local("daily.cvd")}).get(), MirrorHost(), {}, 0, {}, {}),
        S_OK);
    QTRY_VERIFY(Ended);
    QCOMPARE(CancelStatus, S_OK);
    QCOMPARE(StartStatus, HRESULT(0x80040201));
    QCOMPARE(Service->Cancel(), HRESULT(0x80040202)); // the run has ended
}

void TestFreshClam::TerminationHandlerMayReleaseTheLastReference() {
    // Once at the end of a run, once inside a Cancel.
    for (const bool ByCancel : {false, true}) {
        auto* Service = new TFreshClam;
        TInterfacePtr<IFreshClam> Reference(Service);
        bool Ended = false;
        Service->SetOnTerminate([&](IFreshClam*) {
            Reference.Release();
            Ended = true;
        });
        QCOMPARE(
            Service->Start(nullptr, ByCancel ? FMirror->Url("slow") : MirrorHost(), {}, 0, {}, {}),
            S_OK);
        if (ByCancel)
            QCOMPARE(Service->Cancel(), S_OK);
        QTRY_VERIFY(Ended);
        QVERIFY(!Reference);
    }
}

void TestFreshClam::AFailingProgressHandlerStopsTheRun() {
    QStringList Debug;
    std::mutex DebugLock;
    SetDebugOutputSink([&](const QString& Line) {
        std::lock_guard Guard(DebugLock);
        Debug << Line;
    });
    TInterfacePtr<IFreshClam> Service(new TFreshClam);
    std::atomic<int> Reports{0};
    std::atomic<int> Ends{0};
    Service->SetOnProgress([&](void*, const QString&, const QString&, int32_t) {
        ++Reports;
        throw Exception("the window is gone");
    });
    Service->SetOnTerminate([&](IFreshClam*) { ++Ends; });
    QCOMPARE(Service->Start(nullptr, MirrorHost(), {}, 0, {}, {}), S_OK);
    QTRY_COMPARE(Ends.load(), 1);
    SetDebugOutputSink(nullptr);
    QVERIFY(!QFileInfo::exists(Local("daily.cvd")));
    QVERIFY(!QFileInfo::exists(Local("main.cvd")));
    QVERIFY(Reports.load() >= 1);
    QVERIFY2(!Debug
                  .filter(QRegularExpression(
                      R"(^uFreshClam\.cpp:\d+ \(ThreadProgress\) "the window is gone"$)"))
                  .isEmpty(),
             qPrintable(Debug.join('\n')));
}

void TestFreshClam::RunsWithoutHandlers() {
    TInterfacePtr<IFreshClam> Service(new TFreshClam);
    QCOMPARE(Service->Start(nullptr, MirrorHost(), {}, 0, {}, {}), S_OK);
    QTRY_VERIFY_WITH_TIMEOUT(ReadFile(Local("main.cvd")) == FGenuine, RunTimeout);
    QCOMPARE(ReadFile(Local("daily.cvd")), FGenuine);
    // Refused while the run goes on; once it has ended on its own, a new one starts. (Asking
    // Cancel instead would end the run it asks about, and QTRY_COMPARE would start twice.)
    QDeadlineTimer Deadline(RunTimeout);
    HRESULT Restarted = E_UNEXPECTED;
    while (Restarted != S_OK && !Deadline.hasExpired()) {
        QTest::qWait(20);
        Restarted = Service->Start(nullptr, MirrorHost(), {}, 0, {}, {});
    }
    QCOMPARE(Restarted, S_OK);
}

// Starts, cancels and releases at random moments: every run ends exactly once, and the local
// database is always either the old one or the mirror's, never anything in between.
void TestFreshClam::SurvivesStartsAndStopsAtRandomMoments() {
    QRandomGenerator Random(20261209);
    const int Cycles = support::StressCycles(60);
    for (int Cycle = 0; Cycle < Cycles; ++Cycle) {
        QVERIFY(WriteLongAgo(Local("daily.cvd"), FOlder));
        TInterfacePtr<IFreshClam> Service;
        TUpdateRecord Record;
        const QString Server = Random.bounded(2) ? FMirror->Url("slow") : MirrorHost();
        QCOMPARE(StartUpdate(Service, Record, Server, {Local("daily.cvd")}), S_OK);
        QTest::qWait(int(Random.bounded(40)));
        switch (Random.bounded(3)) {
        case 0:
            Service->Cancel();
            break;
        case 1:
            Service.Release(); // the release stops the run and waits for it
            break;
        default:
            WaitForEnd(Record);
        }
        QCOMPARE(Record.Terminations(), 1);
        const QByteArray Now = ReadFile(Local("daily.cvd"));
        QVERIFY(Now == FOlder || Now == FGenuine);
        QVERIFY(TemporaryDownloads(FFolder->Path()).isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestFreshClam)
#include "TestFreshClam.moc"
