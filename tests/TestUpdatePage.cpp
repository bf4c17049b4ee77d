// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The "Update" page of the real window with the real updater against a real nginx mirror.

#include "Main.h"
#include "platform/Exceptions.h"
#include "support/TestMirror.h"
#include "support/TestSupport.h"
#include "support/UpdateRecord.h"
#include "support/WindowParts.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <thread>

using namespace support;

namespace {

constexpr int UpdateTimeout = 30000; // ms

QStringList Journal(const TfrmClamAV& Window) {
    return W(Window).memLog->toPlainText().split('\n', Qt::SkipEmptyParts);
}

// A mirror that reads the request and never answers.
void StallUntilClosed(int Socket) {
    TRawServer::ReadRequestHead(Socket);
    TRawServer::StallUntilClosed(Socket);
}

} // namespace

class TestUpdatePage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase() { ResetEngineHolder(); }

    void UpdatesTheDatabasesFromTheWindow();
    void CancelsADownload();
    void ShowsAFailedStartUntilCancelled();
    void CutsLongTextsAtAWholeCharacter();
    void UpdatesFromTheOfficialNetwork();
    void ClosesDuringAnUpdate_data();
    void ClosesDuringAnUpdate();
    void ScansWhileUpdating();
    void EndsOnlyOnTheMainThread();

private:
    QString Local(const QString& Name) const { return FFolder->Path() + Name; }
    void StartUpdate(TfrmClamAV& Window);

    QTemporaryDir FDataHome;
    std::unique_ptr<TNginxMirror> FMirror;
    std::unique_ptr<TTestProgramFolder> FFolder;
    QByteArray FGenuine, FOlder;
};

void TestUpdatePage::initTestCase() {
    qputenv("XDG_DATA_HOME", QFile::encodeName(FDataHome.path())); // the window's quarantine
    FMirror = std::make_unique<TNginxMirror>();
    QVERIFY(FMirror->Started());
    FGenuine = GenuineDatabase();
    QCOMPARE(FGenuine.size(), 78992);
    FOlder = WithHeaderVersion(FGenuine, 267);
    QVERIFY(FMirror->Serve("daily.cvd", FGenuine));
    QVERIFY(FMirror->Serve("main.cvd", FGenuine));
    SetCurrentLanguage("en");
}

void TestUpdatePage::init() {
    FFolder.reset(); // before the next one takes its place as the program's folder
    FFolder = std::make_unique<TTestProgramFolder>();
    qputenv("HARKAVEL_MIRROR", FMirror->Url(QString()).toUtf8());
}

void TestUpdatePage::cleanup() {
    testing::SetFreshClamFactory(nullptr);
    qunsetenv("HARKAVEL_MIRROR");
}

// Start Update as a user starts it: on the "Update" page, with the tool button.
void TestUpdatePage::StartUpdate(TfrmClamAV& Window) {
    W(Window).PageControl->setCurrentWidget(W(Window).tsUpdate);
    QVERIFY(W(Window).tbiStartUpdate->isEnabled());
    QTest::mouseClick(W(Window).tbiStartUpdate, Qt::LeftButton);
}

void TestUpdatePage::UpdatesTheDatabasesFromTheWindow() {
    QVERIFY(WriteLongAgo(Local("daily.cvd"), FOlder));
    QVERIFY(WriteLongAgo(Local("main.cvd"), FOlder));
    TfrmClamAV Window;
    Window.show();
    W(Window).memLog->setPlainText("a journal of an earlier update");
    W(Window).lblDBName->setText("Done.");
    StartUpdate(Window);
    QCOMPARE(W(Window).tbiStartUpdate->defaultAction(), W(Window).actCancelUpdate);
    QVERIFY(!W(Window).actStartScan->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(Journal(Window).contains("Done."), UpdateTimeout);

    const QStringList Lines = Journal(Window);
    QCOMPARE(Lines.first(), QString("Resolving name 127.0.0.1"));
    QVERIFY(Lines.indexOf("Downloading daily.cvd, 47 signatures - 77.1 KB in size") <
            Lines.indexOf("Downloading main.cvd, 47 signatures - 77.1 KB in size"));
    QCOMPARE(Lines.mid(Lines.size() - 3),
             QStringList({"Database main.cvd updated to version 268", RestartNotice, "Done."}));
    QVERIFY(Lines.contains("Database daily.cvd updated to version 268"));
    QCOMPARE(W(Window).lblDBName->text(), QString("Done."));
    QCOMPARE(W(Window).pbDBUpdate->value(), 100);
    QCOMPARE(W(Window).tbiStartUpdate->defaultAction(), W(Window).actStartUpdate);
    QCOMPARE(W(Window).tbiStartUpdate->actions().size(), 1);
    QVERIFY(W(Window).actStartScan->isEnabled()); // also while the "Update" page is shown
    QCOMPARE(ReadFile(Local("daily.cvd")), FGenuine);
    QCOMPARE(ReadFile(Local("main.cvd")), FGenuine);

    // Once more: nothing is newer now, so no word about restarting.
    StartUpdate(Window);
    QTRY_VERIFY_WITH_TIMEOUT(Journal(Window).contains("Done."), UpdateTimeout);
    const QStringList Again = Journal(Window);
    QCOMPARE(Again.filter(QRegularExpression("^Database ")),
             QStringList({"Database daily.cvd is up-to-date", "Database main.cvd is up-to-date"}));
    QCOMPARE(Again.last(), QString("Done."));
    QVERIFY(!Again.contains(RestartNotice));
}

void TestUpdatePage::CancelsADownload() {
    qputenv("HARKAVEL_MIRROR", FMirror->Url("slow").toUtf8()); // 100 kB/s
    QVERIFY(WriteLongAgo(Local("daily.cvd"), FOlder));
    TfrmClamAV Window;
    Window.show();
    StartUpdate(Window);
    QTRY_VERIFY_WITH_TIMEOUT(
        W(Window).lblDBName->text() == "daily.cvd" &&
            Journal(Window).contains("Downloading daily.cvd, 47 signatures - 77.1 KB in size"),
        UpdateTimeout);
    QElapsedTimer Timer;
    Timer.start();
    QTest::mouseClick(W(Window).tbiStartUpdate, Qt::LeftButton); // it shows Cancel Update
    qInfo("Cancel Update returned after %.2f ms", Timer.nsecsElapsed() / 1e6);

    const QStringList AtCancel = Journal(Window);
    QCOMPARE(AtCancel.last(), QString("Update canceled"));
    QVERIFY(!AtCancel.contains("Done."));
    QCOMPARE(W(Window).lblDBName->text(), QString());
    QCOMPARE(W(Window).pbDBUpdate->value(), 0);
    QCOMPARE(W(Window).tbiStartUpdate->defaultAction(), W(Window).actStartUpdate);
    QVERIFY(W(Window).actStartScan->isEnabled());
    // Reports that were still queued are dropped unseen.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QCOMPARE(Journal(Window), AtCancel);
    QCOMPARE(W(Window).pbDBUpdate->value(), 0);
    QCOMPARE(ReadFile(Local("daily.cvd")), FOlder);
    QVERIFY(TemporaryDownloads(FFolder->Path()).isEmpty());
}

// A service that refuses to start: a real one, already running when the window asks it.
void TestUpdatePage::ShowsAFailedStartUntilCancelled() {
    TRawServer Stalled(&StallUntilClosed);
    TInterfacePtr<IFreshClam> Running(new TFreshClam);
    QCOMPARE(Running->Start(nullptr, Stalled.Url(QString()), {}, 0, {}, {}), S_OK);
    testing::SetFreshClamFactory([&] { return Running.Get(); });
    TfrmClamAV Window;
    Window.show();
    StartUpdate(Window);
    QCOMPARE(Journal(Window), QStringList{"Error - Update is already in-progress"});
    QCOMPARE(W(Window).tbiStartUpdate->defaultAction(), W(Window).actCancelUpdate);

    QTest::mouseClick(W(Window).tbiStartUpdate, Qt::LeftButton);
    QCOMPARE(Journal(Window),
             QStringList({"Error - Update is already in-progress", "Update canceled"}));
    QCOMPARE(W(Window).tbiStartUpdate->defaultAction(), W(Window).actStartUpdate);
    QVERIFY(W(Window).actStartScan->isEnabled());
    Running->SetOnProgress(nullptr);
    Running->SetOnTerminate(nullptr);
    QCOMPARE(Running->Cancel(), S_OK);
}

void TestUpdatePage::CutsLongTextsAtAWholeCharacter() {
    TUpdateProgressRecord Record;
    Record.SetJournalText(QString(300, QChar(0x00E9))); // é: two bytes each
    QCOMPARE(Record.GetJournalText(), QString(127, QChar(0x00E9)));
    Record.SetFileName(QString(130, QChar(0x20AC)).prepend("x")); // €: three bytes each
    QCOMPARE(Record.GetFileName(), QString(84, QChar(0x20AC)).prepend("x"));
    Record.SetPercent(-7);
    QCOMPARE(Record.Percent[0], uint8_t(0xF9)); // little-endian
    QCOMPARE(Record.GetPercent(), -7);

    // Shown by the window while an update runs (here one that waits for its mirror).
    TRawServer Stalled(&StallUntilClosed);
    qputenv("HARKAVEL_MIRROR", Stalled.Url(QString()).toUtf8());
    TfrmClamAV Window;
    Window.show();
    StartUpdate(Window);
    QTRY_COMPARE(Stalled.Accepted(), 1);
    const QString Long = QString(254, 'a') + QChar(0x00E9) + "tail"; // é on bytes 255 and 256
    std::thread([&] { TfrmClamAV::FreshClamProgress(nullptr, Long, Long, 42); }).join();
    QTRY_COMPARE(W(Window).pbDBUpdate->value(), 42);
    QCOMPARE(Journal(Window).last(), QString(254, 'a'));
    QCOMPARE(W(Window).lblDBName->text(), QString(254, 'a'));

    // A report without a journal text moves only the bar and the label.
    const qsizetype Lines = Journal(Window).size();
    std::thread([&] { TfrmClamAV::FreshClamProgress(nullptr, QString(), "main.cvd", 250); }).join();
    QTRY_COMPARE(W(Window).lblDBName->text(), QString("main.cvd"));
    QCOMPARE(W(Window).pbDBUpdate->value(), 100); // the nearest end
    QCOMPARE(Journal(Window).size(), Lines);
    QTest::mouseClick(W(Window).tbiStartUpdate, Qt::LeftButton);
}

// Without HARKAVEL_MIRROR, Start Update goes to the official network through freshclam (here
// nginx standing in for it), and the page shows it as it shows the designed thread's update.
void TestUpdatePage::UpdatesFromTheOfficialNetwork() {
    qunsetenv("HARKAVEL_MIRROR");
    qputenv("HARKAVEL_SIGNATURE_NETWORK", FMirror->Url(QString()).toUtf8());
    TfrmClamAV Window;
    Window.show();
    StartUpdate(Window);
    QCOMPARE(W(Window).tbiStartUpdate->defaultAction(), W(Window).actCancelUpdate);
    QTRY_VERIFY_WITH_TIMEOUT(Journal(Window).contains("Done."), UpdateTimeout);
    const QStringList Lines = Journal(Window);
    QCOMPARE(Lines.mid(Lines.size() - 3),
             QStringList({"Database main.cvd updated to version 268", RestartNotice, "Done."}));
    QVERIFY(Lines.contains("Database daily.cvd updated to version 268"));
    QCOMPARE(W(Window).lblDBName->text(), QString("Done."));
    QCOMPARE(W(Window).pbDBUpdate->value(), 100);
    QCOMPARE(ReadFile(Local("main.cvd")), FGenuine);
    qunsetenv("HARKAVEL_SIGNATURE_NETWORK");
}

void TestUpdatePage::ClosesDuringAnUpdate_data() {
    QTest::addColumn<bool>("Official");
    QTest::newRow("designed thread") << false;
    QTest::newRow("official network") << true;
}

void TestUpdatePage::ClosesDuringAnUpdate() {
    QFETCH(bool, Official);
    if (Official) {
        qunsetenv("HARKAVEL_MIRROR");
        qputenv("HARKAVEL_SIGNATURE_NETWORK", FMirror->Url("slow").toUtf8());
    } else {
        qputenv("HARKAVEL_MIRROR", FMirror->Url("slow").toUtf8());
    }
    const auto Unset = qScopeGuard([] { qunsetenv("HARKAVEL_SIGNATURE_NETWORK"); });
    // Two versions behind, so that freshclam downloads the whole file once the patch is missing.
    const QByteArray Old = Official ? WithHeaderVersion(FGenuine, 266) : FOlder;
    QVERIFY(WriteLongAgo(Local("daily.cvd"), Old));
    auto* Window = new TfrmClamAV;
    Window->show();
    StartUpdate(*Window);
    QTRY_VERIFY_WITH_TIMEOUT(
        !Journal(*Window).filter(QRegularExpression("ownloading.* daily.cvd")).isEmpty(),
        UpdateTimeout);
    QVERIFY(Window->close()); // stops the update and waits for its thread
    QCOMPARE(ReadFile(Local("daily.cvd")), Old);
    QVERIFY(TemporaryDownloads(FFolder->Path()).isEmpty());
    QCOMPARE(QDir(FFolder->Path()).entryList({"tmp.*"}, QDir::Dirs), QStringList());
    delete Window; // reports still queued go with it
    QCoreApplication::sendPostedEvents();
}

void TestUpdatePage::ScansWhileUpdating() {
    FFolder->WriteSampleDatabase();
    ResetEngineHolder(); // the scan loads this folder's databases
    TfrmClamAV Window;
    Window.show();
    Window.AddTargetRow(ClamTestFiles);
    W(Window).actStartScan->trigger();
    StartUpdate(Window);
    QTRY_VERIFY_WITH_TIMEOUT(Journal(Window).contains("Done."), UpdateTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!ScanRuns(Window), 120000);
    QVERIFY(Journal(Window).contains("Database daily.cvd updated to version 268"));
    QCOMPARE(ReadFile(Local("main.cvd")), FGenuine);
    QVERIFY(W(Window).lvScanner->topLevelItemCount() >= 40);
    for (int I = 0; I < W(Window).lvScanner->topLevelItemCount(); ++I)
        QCOMPARE(W(Window).lvScanner->topLevelItem(I)->text(0), ClamExeVirusName);
    QCOMPARE(W(Window).StatusPanel1->text(), QString("Scan finished"));
}

void TestUpdatePage::EndsOnlyOnTheMainThread() {
    TfrmClamAV Window;
    QString Unit;
    int Line = 0;
    std::thread([&] {
        try {
            Window.FreshClamTerminate(nullptr);
        } catch (const EAssertionFailed& Failure) {
            Unit = Failure.Unit();
            Line = Failure.Line();
        }
    }).join();
    QCOMPARE(Unit, QString("Main"));
    QVERIFY(Line > 0);
}

QTEST_MAIN(TestUpdatePage)
#include "TestUpdatePage.moc"
