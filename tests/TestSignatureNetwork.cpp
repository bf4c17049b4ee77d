// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The update from the official network: the real freshclam against a real nginx standing in for
// the network ($HARKAVEL_SIGNATURE_NETWORK, so freshclam never asks a resolver), serving the
// genuine signed database.

#include "platform/FolderLock.h"
#include "support/TestMirror.h"
#include "support/TestSupport.h"
#include "support/UpdateRecord.h"
#include "update/uSignatureNetwork.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

using namespace support;

namespace {

constexpr int RunTimeout = 60000; // ms

const QString UpToDate = "Database %1 is up-to-date";
const QString Installed = "Database %1 updated to version 268";

// The freshclam processes this test started (their configuration lies in a temporary folder
// named after it), as "PID STATE": none may outlive a run.
QStringList UpdaterProcesses() {
    QStringList Found;
    const QByteArray Ours =
        QDir::tempPath().toUtf8() + '/' + QCoreApplication::applicationName().toUtf8() + '-';
    for (const QString& Entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile Command("/proc/" + Entry + "/cmdline"), Status("/proc/" + Entry + "/stat");
        if (Command.open(QIODevice::ReadOnly) && Command.readAll().contains(Ours) &&
            Status.open(QIODevice::ReadOnly))
            Found << QString::fromUtf8(Status.readAll().simplified());
    }
    return Found.filter(QRegularExpression("^\\d+ \\(freshclam\\)"));
}

QStringList Leftovers(const QString& Folder) {
    return QDir(Folder).entryList({"tmp.*", ".harkavel-copy-*"}, QDir::Dirs | QDir::Hidden);
}

} // namespace

class TestSignatureNetwork : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void SpeaksTheProgramsWords_data();
    void SpeaksTheProgramsWords();
    void KeepsTheCoolDown_data();
    void KeepsTheCoolDown();
    void AsksTheNetworkThroughDnsFirst_data();
    void AsksTheNetworkThroughDnsFirst();
    void SaysWhenTheUpdaterIsMissing();
    void UpdatesAFolderOnceAtATime_data();
    void UpdatesAFolderOnceAtATime();
    void KeepsOneFormOfEachDatabase_data();
    void KeepsOneFormOfEachDatabase();
    void StartsFromTheSystemsDatabases_data();
    void StartsFromTheSystemsDatabases();
    void SurvivesCancelAndReleaseAtRandomMoments();

private:
    QString Local(const QString& Name) const { return FFolder->Path() + Name; }
    void UseNetwork(const QString& Url) { qputenv("HARKAVEL_SIGNATURE_NETWORK", Url.toUtf8()); }
    void Run(TUpdateRecord& Record, IFreshClam* Service = nullptr);

    std::unique_ptr<TNginxMirror> FMirror;
    std::unique_ptr<TTestProgramFolder> FFolder;
    QByteArray FGenuine;
};

void TestSignatureNetwork::initTestCase() {
    QVERIFY2(!FindProgramOnPath("freshclam").isEmpty(), "clamav-freshclam is not installed");
    FMirror = std::make_unique<TNginxMirror>();
    QVERIFY(FMirror->Started());
    FGenuine = GenuineDatabase();
    QCOMPARE(FGenuine.size(), 78992);
    QByteArray Tampered = FGenuine;
    Tampered[40000] = char(Tampered[40000] ^ 1);
    for (const char* Name : {"daily.cvd", "main.cvd"}) {
        QVERIFY(FMirror->Serve(Name, FGenuine));
        QVERIFY(FMirror->Serve(QString("tampered/") + Name, Tampered));
    }
}

void TestSignatureNetwork::init() {
    FFolder.reset();
    FFolder = std::make_unique<TTestProgramFolder>();
    qputenv("HARKAVEL_SYSTEM_DATABASES", "/nonexistent");
    UseNetwork(FMirror->Url(QString()));
}

void TestSignatureNetwork::cleanup() {
    QCOMPARE(UpdaterProcesses(), QStringList());
    QCOMPARE(Leftovers(FFolder->Path()), QStringList());
}

void TestSignatureNetwork::Run(TUpdateRecord& Record, IFreshClam* Service) {
    TInterfacePtr<IFreshClam> Held;
    // The designed route needs the mirror: the default host would cost a DNS query.
    QCOMPARE(StartUpdate(Held, Record, FMirror->Url(QString()), {},
                         Service ? Service : new TSignatureNetwork),
             S_OK);
    QTRY_VERIFY_WITH_TIMEOUT(Record.Terminations() == 1, RunTimeout);
}

void TestSignatureNetwork::SpeaksTheProgramsWords_data() {
    QTest::addColumn<QString>("Folder");   // of the network's files on the mirror
    QTest::addColumn<int>("LocalVersion"); // of the local daily.cvd; 0 for none
    QTest::addColumn<QStringList>("Outcomes");
    QTest::addColumn<QStringList>("Requests"); // the mirror's log lines, as patterns
    const QString Up = UpToDate, In = Installed;
    QTest::newRow("missing") << "" << 0 << QStringList{In.arg("daily.cvd"), In.arg("main.cvd")}
                             << QStringList{"GET /daily.cvd 206", "GET /daily.cvd 200",
                                            "GET /main.cvd 206", "GET /main.cvd 200"};
    // Two versions behind: the patch first, and the whole file once it is missing.
    QTest::newRow("newer") << "" << 266 << QStringList{In.arg("daily.cvd"), Up.arg("main.cvd")}
                           << QStringList{"GET /daily.cvd 206", "GET /daily-267.cdiff 404",
                                          "GET /daily.cvd 200", "GET /main.cvd 206"};
    QTest::newRow("up to date") << "" << 268 << QStringList{Up.arg("daily.cvd"), Up.arg("main.cvd")}
                                << QStringList{"GET /daily.cvd 206 .* 512 ",
                                               "GET /main.cvd 206 .* 512 "};
    QTest::newRow("one behind, no patch yet")
        << "" << 267 << QStringList{NetworkOutcome::NoLatestPatch, Up.arg("main.cvd")}
        << QStringList{"GET /daily.cvd 206", "GET /daily-268.cdiff 404", "GET /main.cvd 206"};
    QTest::newRow("not found") << "nothing" << 0
                               << QStringList{"Unable to check daily.cvd: Not Found",
                                              "Unable to check main.cvd: the update stopped "
                                              "before it (HTTP GET failed)"}
                               << QStringList{"GET /nothing/daily.cvd 404"};
    QTest::newRow("cut short") << "cut" << 0
                               << QStringList{"Unable to download daily.cvd: Transferred a "
                                              "partial file",
                                              "Unable to check main.cvd: the update stopped "
                                              "before it (Connection failed)"}
                               << QStringList{};
    QTest::newRow("tampered") << "tampered" << 266
                              << QStringList{"Downloaded daily.cvd is damaged and was not "
                                             "installed",
                                             "Unable to check main.cvd: the update stopped "
                                             "before it (Invalid or corrupted CVD/CLD database)"}
                              << QStringList{};
}

void TestSignatureNetwork::SpeaksTheProgramsWords() {
    QFETCH(QString, Folder);
    QFETCH(int, LocalVersion);
    QFETCH(QStringList, Outcomes);
    QFETCH(QStringList, Requests);
    const QByteArray Old = LocalVersion ? WithHeaderVersion(FGenuine, LocalVersion) : QByteArray();
    if (LocalVersion) {
        QVERIFY(WriteLongAgo(Local("daily.cvd"), Old));
        QVERIFY(WriteLongAgo(Local("main.cvd"), FGenuine));
    }
    // nginx never cuts a body short on purpose: a raw server sends half of it.
    TRawServer CutShort([this](int Socket) {
        const bool Check = TRawServer::ReadRequestHead(Socket).contains("Range: bytes=0-511");
        const QByteArray Length = QByteArray::number(Check ? 512 : FGenuine.size());
        TRawServer::Send(Socket,
                         QByteArray(Check ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes "
                                            "0-511/78992\r\n"
                                          : "HTTP/1.1 200 OK\r\n") +
                             "Content-Length: " + Length + "\r\n\r\n" +
                             FGenuine.left(Check ? 512 : FGenuine.size() / 2));
    });
    UseNetwork(Folder == "cut" ? CutShort.Url(QString()) : FMirror->Url(Folder));
    const qsizetype LogBefore = FMirror->AccessLog().size();
    TUpdateRecord Record;
    Run(Record);

    QCOMPARE(Record.Outcomes(), Outcomes);
    QStringList Log = FMirror->AccessLog().mid(LogBefore);
    Log.erase(std::unique(Log.begin(), Log.end()), Log.end()); // freshclam tries thrice
    if (!Requests.isEmpty()) {
        QVERIFY2(Log.size() == Requests.size(), qPrintable(Log.join('\n')));
        for (qsizetype At = 0; At < Log.size(); ++At)
            QVERIFY2(QRegularExpression("^" + Requests[At]).match(Log[At]).hasMatch(),
                     qPrintable(Log[At]));
    }
    // The database is the old one or the new one, never a third thing.
    const QByteArray Now = ReadFile(Local("daily.cvd"));
    QVERIFY(Now == FGenuine || Now == Old);
    QCOMPARE(Now == FGenuine,
             Outcomes.first() == Installed.arg("daily.cvd") || (LocalVersion == 268));
    for (const TUpdateReport& Report : Record.Reports()) {
        QVERIFY(Report.Percent >= 0 && Report.Percent <= 100);
        QVERIFY2(QStringList({"", "daily.cvd", "main.cvd"}).contains(Report.FileName),
                 qPrintable(Report.FileName));
    }
    QVERIFY(Record.AllReportsOffMainThread());
    if (Outcomes.first() == Installed.arg("daily.cvd"))
        QVERIFY(Record.Percents().contains(100));
}

void TestSignatureNetwork::KeepsTheCoolDown_data() {
    QTest::addColumn<QString>("Folder");
    QTest::addColumn<QStringList>("Outcomes");
    const QString CoolDown = NetworkOutcome::CoolDown.arg(".+");
    QTest::newRow("403") << "refused"
                         << QStringList{QRegularExpression::escape(NetworkOutcome::Refused),
                                        CoolDown};
    QTest::newRow("429") << "limited" << QStringList{CoolDown};
}

// After a refusal or a rate limit freshclam waits; so does the next Start Update, and it
// contacts nothing meanwhile.
void TestSignatureNetwork::KeepsTheCoolDown() {
    QFETCH(QString, Folder);
    QFETCH(QStringList, Outcomes);
    UseNetwork(FMirror->Url(Folder));
    TUpdateRecord First;
    Run(First);
    const QStringList Said = First.Outcomes();
    QCOMPARE(Said.size(), Outcomes.size());
    for (qsizetype At = 0; At < Said.size(); ++At)
        QVERIFY2(QRegularExpression("^" + Outcomes[At] + "$").match(Said[At]).hasMatch(),
                 qPrintable(Said[At]));
    QVERIFY(QFile::exists(Local("freshclam.dat"))); // where freshclam keeps the cool-down
    QVERIFY(!QFile::exists(Local("daily.cvd")));

    const qsizetype LogBefore = FMirror->AccessLog().size();
    TUpdateRecord Second;
    Run(Second);
    QCOMPARE(FMirror->AccessLog().size(), LogBefore);
    QCOMPARE(Second.Outcomes().size(), 1);
    QVERIFY(Second.Outcomes().first().startsWith("The signature network asks to wait until"));
}

void TestSignatureNetwork::AsksTheNetworkThroughDnsFirst_data() {
    QTest::addColumn<int>("DailyVersion"); // that the DNS record names
    QTest::addColumn<QStringList>("Outcomes");
    QTest::newRow("up to date") << 268
                                << QStringList{UpToDate.arg("daily.cvd"), UpToDate.arg("main.cvd")};
    // Newer: only now would it reach for the network, which is not there.
    QTest::newRow("newer") << 270
                           << QStringList{
                                  "Unable to download daily.cvd: Couldn't resolve host name",
                                  "Unable to check main.cvd: the update stopped before it "
                                  "(Connection failed)"};
}

// The real route, DNS included, offline: a private network namespace whose only resolver is the
// helper's own (it answers current.cvd.clamav.net and nothing else) and whose only network is
// the loopback. What DNS calls up to date costs no request at all.
void TestSignatureNetwork::AsksTheNetworkThroughDnsFirst() {
    QFETCH(int, DailyVersion);
    QFETCH(QStringList, Outcomes);
    QVERIFY(WriteFile(Local("daily.cvd"), FGenuine));
    QVERIFY(WriteFile(Local("main.cvd"), FGenuine));
    qunsetenv("HARKAVEL_SIGNATURE_NETWORK");
    QProcess Helper;
    Helper.start("unshare", {"--net", "--mount",
                             QCoreApplication::applicationDirPath() + "/UpdateOnce", "--dns",
                             QString("1.4.6:62:%1:%2:1:63:49191:268")
                                 .arg(DailyVersion)
                                 .arg(QDateTime::currentSecsSinceEpoch()),
                             FFolder->Path()});
    QVERIFY(Helper.waitForFinished(RunTimeout));
    const QStringList Lines =
        QString::fromUtf8(Helper.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    if (Helper.exitCode() == 3)
        QSKIP("no private network namespace to be had here");
    QCOMPARE(Helper.exitCode(), 0);
    QCOMPARE(Lines.filter(QRegularExpression("^(Database|Unable) ")), Outcomes);
    QVERIFY(Lines.last().startsWith("dns-queries "));
    QCOMPARE(ReadFile(Local("daily.cvd")), FGenuine);
}

void TestSignatureNetwork::SaysWhenTheUpdaterIsMissing() {
    const QByteArray Path = qgetenv("PATH");
    QTemporaryDir Empty;
    qputenv("PATH", Empty.path().toUtf8());
    TUpdateRecord Record;
    Run(Record);
    qputenv("PATH", Path);
    QCOMPARE(Record.Journal(), QStringList{NetworkOutcome::UpdaterMissing});
}

void TestSignatureNetwork::UpdatesAFolderOnceAtATime_data() {
    QTest::addColumn<bool>("Official"); // the route the second update takes
    QTest::newRow("official beside official") << true;
    QTest::newRow("designed beside official") << false;
}

// A second update of the folder, by this program or another copy of it (the same lock), by
// either route, refuses every database while the first runs, and touches nothing.
void TestSignatureNetwork::UpdatesAFolderOnceAtATime() {
    QFETCH(bool, Official);
    UseNetwork(FMirror->Url("slow")); // 100 kB/s: the first run lasts about two seconds
    TInterfacePtr<IFreshClam> First;
    TUpdateRecord FirstRecord, SecondRecord;
    QCOMPARE(StartUpdate(First, FirstRecord, QString(), {}, new TSignatureNetwork), S_OK);
    QTRY_VERIFY_WITH_TIMEOUT(FirstRecord.Journal().contains("Downloading daily.cvd"), RunTimeout);
    TInterfacePtr<IFreshClam> Second;
    QCOMPARE(StartUpdate(Second, SecondRecord, FMirror->Url(QString()), {},
                         Official ? new TSignatureNetwork : new TFreshClam),
             S_OK);
    QTRY_VERIFY_WITH_TIMEOUT(SecondRecord.Terminations() == 1, RunTimeout);
    QCOMPARE(SecondRecord.Outcomes(),
             QStringList({"Unable to open daily.cvd for exclusive access",
                          "Unable to open main.cvd for exclusive access"}));
    QTRY_VERIFY_WITH_TIMEOUT(FirstRecord.Terminations() == 1, RunTimeout);
    QCOMPARE(FirstRecord.Outcomes(),
             QStringList({Installed.arg("daily.cvd"), Installed.arg("main.cvd")}));

    TFolderLock Held; // as another running copy holds it
    QVERIFY(Held.Acquire(FFolder->Path()));
    TUpdateRecord Refused;
    Run(Refused, Official ? nullptr : new TFreshClam);
    QCOMPARE(Refused.Outcomes().size(), 2);
    QVERIFY(Refused.Outcomes().first().startsWith("Unable to open daily.cvd"));
}

void TestSignatureNetwork::KeepsOneFormOfEachDatabase_data() {
    QTest::addColumn<bool>("Official");
    QTest::addColumn<int>("PatchedVersion"); // of the local daily.cld
    QTest::addColumn<QString>("Outcome");
    QTest::addColumn<QString>("Kept");
    QTest::newRow("designed, patched is newer")
        << false << 269 << UpToDate.arg("daily.cvd") << "daily.cld";
    QTest::newRow("designed, patched is older")
        << false << 266 << Installed.arg("daily.cvd") << "daily.cvd";
    QTest::newRow("official, patched is newer")
        << true << 269 << UpToDate.arg("daily.cld") << "daily.cld";
    QTest::newRow("official, patched is older")
        << true << 266 << Installed.arg("daily.cvd") << "daily.cvd";
}

// ClamAV's updater leaves daily.cld after patches, the designed thread writes daily.cvd: either
// route reads the newer of them and leaves one, so the engine never loads both.
void TestSignatureNetwork::KeepsOneFormOfEachDatabase() {
    QFETCH(bool, Official);
    QFETCH(int, PatchedVersion);
    QFETCH(QString, Outcome);
    QFETCH(QString, Kept);
    QVERIFY(WriteLongAgo(Local("daily.cld"), WithHeaderVersion(FGenuine, PatchedVersion)));
    QVERIFY(WriteLongAgo(Local("main.cvd"), FGenuine));
    TUpdateRecord Record;
    if (Official)
        Run(Record);
    else
        Run(Record, new TFreshClam);
    QVERIFY2(Record.Outcomes().contains(Outcome), qPrintable(Record.Journal().join('\n')));
    QCOMPARE(QDir(FFolder->Path()).entryList({"daily.*"}, QDir::Files), QStringList{Kept});
}

void TestSignatureNetwork::StartsFromTheSystemsDatabases_data() {
    QTest::addColumn<bool>("Sound");
    QTest::newRow("sound") << true;
    QTest::newRow("tampered") << false;
}

// A first update copies the system's databases (checked first) and then only asks for what is
// newer: nothing here, so two checks of 512 bytes and no download.
void TestSignatureNetwork::StartsFromTheSystemsDatabases() {
    QFETCH(bool, Sound);
    QTemporaryDir System;
    QByteArray Daily = FGenuine;
    if (!Sound)
        Daily[40000] = char(Daily[40000] ^ 1);
    QVERIFY(WriteFile(System.filePath("daily.cvd"), Daily));
    QVERIFY(WriteFile(System.filePath("main.cvd"), FGenuine));
    qputenv("HARKAVEL_SYSTEM_DATABASES", System.path().toUtf8());
    const qsizetype LogBefore = FMirror->AccessLog().size();
    TUpdateRecord Record;
    Run(Record);
    QVERIFY(Record.Journal().contains("Copied main.cvd (version 268) from " + System.path() + "/"));
    QCOMPARE(
        Record.Journal().contains("Copied daily.cvd (version 268) from " + System.path() + "/"),
        Sound);
    QCOMPARE(Record.Outcomes(),
             QStringList({Sound ? UpToDate.arg("daily.cvd") : Installed.arg("daily.cvd"),
                          UpToDate.arg("main.cvd")}));
    QCOMPARE(FMirror->AccessLog().size() - LogBefore, Sound ? 2 : 3);
    QCOMPARE(ReadFile(Local("daily.cvd")), FGenuine);
}

// Cancel, or the release of the last reference, at any moment of a run: the database is the old
// one or the new one, no freshclam is left running and nothing of it is left in the folder.
void TestSignatureNetwork::SurvivesCancelAndReleaseAtRandomMoments() {
    const QByteArray Old = WithHeaderVersion(FGenuine, 266);
    UseNetwork(FMirror->Url("slow"));
    const int Cycles = StressCycles(30);
    for (int Cycle = 0; Cycle < Cycles; ++Cycle) {
        QVERIFY(WriteLongAgo(Local("daily.cvd"), Old));
        QFile::remove(Local("main.cvd"));
        TInterfacePtr<IFreshClam> Service;
        TUpdateRecord Record;
        QCOMPARE(StartUpdate(Service, Record, QString(), {}, new TSignatureNetwork), S_OK);
        QTest::qWait(QRandomGenerator::global()->bounded(400));
        if (Cycle % 2 == 0) {
            QCOMPARE(Service->Cancel(), S_OK);
            QCOMPARE(Record.Terminations(), 1); // the termination handler ran inside Cancel
        }
        Service.Release(); // stops a run still going and waits for it
        const QByteArray Now = ReadFile(Local("daily.cvd"));
        QVERIFY(Now == Old || Now == FGenuine);
        QCOMPARE(UpdaterProcesses(), QStringList());
        QCOMPARE(Leftovers(FFolder->Path()), QStringList());
    }
}

QTEST_GUILESS_MAIN(TestSignatureNetwork)
#include "TestSignatureNetwork.moc"
