// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "Main.h"
#include "engine/uVirusScanner.h"
#include "platform/DeleteOnRestart.h"
#include "platform/Drives.h"
#include "platform/NativePath.h"
#include "settings/GnuGetText.h"
#include "settings/Options.h"
#include "support/TestSupport.h"
#include "support/WindowParts.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

using support::InfectedFiles;
using support::ScanRuns;
using support::W;

namespace {

// Answers the next modal dialog with the given button and records its text.
class TModalAnswerer {
public:
    // Ready tells, for the box with the given number (from 0), whether to answer it yet.
    explicit TModalAnswerer(QMessageBox::StandardButton Answer,
                            std::function<bool(int Box)> Ready = nullptr) {
        QObject::connect(&FTimer, &QTimer::timeout, [this, Answer, Ready] {
            auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (Box == nullptr || (Ready && !Ready(int(Texts.size()))))
                return;
            Texts << Box->text();
            Box->button(Answer)->click();
        });
        FTimer.start(10);
    }
    QStringList Texts;

private:
    QTimer FTimer;
};

// Drives the file pickers: each step runs on the shown picker until it says it is done. A step
// queues accept() or reject() rather than calling it, so that a warning the picker shows from
// accept() runs in the picker's own loop, where a TModalAnswerer can answer it.
class TPickerAnswerer {
public:
    using TStep = std::function<bool(QFileDialog*)>;
    explicit TPickerAnswerer(QList<TStep> Steps) : FSteps(std::move(Steps)) {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            auto* Picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (Picker != nullptr && !FSteps.isEmpty() && FSteps.first()(Picker))
                FSteps.removeFirst();
        });
        FTimer.start(10);
    }
    bool Done() const { return FSteps.isEmpty(); }

private:
    QList<TStep> FSteps;
    QTimer FTimer;
};

void Type(QFileDialog* Picker, const QString& Text) {
    Picker->findChild<QLineEdit*>("fileNameEdit")->setText(Text);
}

void QueueAnswer(QFileDialog* Picker, bool Accept) {
    QMetaObject::invokeMethod(Picker, Accept ? &QDialog::accept : &QDialog::reject,
                              Qt::QueuedConnection);
}

// The names the picker lists in its current folder, once it has read them.
QStringList ListedNames(QFileDialog* Picker) {
    auto* View = Picker->findChild<QAbstractItemView*>("listView");
    QStringList Names;
    for (int I = 0; I < View->model()->rowCount(View->rootIndex()); ++I)
        Names << View->model()->index(I, 0, View->rootIndex()).data().toString();
    Names.sort();
    return Names;
}

// The list of files waiting to be deleted at the next start, as stored.
QByteArray PendingDeletes() {
    QFile List(PendingDeletesFile());
    return List.open(QIODevice::ReadOnly) ? List.readAll() : QByteArray("(no list)");
}

bool WaitFor(const std::function<bool()>& Condition, int TimeoutMs = 60000) {
    QDeadlineTimer Deadline(TimeoutMs);
    while (!Condition() && !Deadline.hasExpired())
        QTest::qWait(10);
    return Condition();
}

QStringList Column(QTreeWidget* List, int Index) {
    QStringList Texts;
    for (int I = 0; I < List->topLevelItemCount(); ++I)
        Texts << List->topLevelItem(I)->text(Index);
    return Texts;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { support::ResetEngineHolder(); } // the program releases it too
    void StartsWithTheDesignedActionStates();
    void KeepsItsLayoutWhenResized();
    void KeepsTheLayoutsNumbers();
    void NamesEveryPartAsTheLayoutDoes();
    void AddsDroppedFilesAndFoldersAsTickedRows();
    void ShortensPathsFromTheLeft();
    void AddsAFolderFromThePicker();
    void AddsSeveralFilesFromThePicker();
    void RefusesAScanWithoutTargets();
    void ScansAndListsVirusesAndErrors();
    void ScansATargetListedTwice();
    void DeletesVirusesOnlyWhenConfirmed();
    void SchedulesWhatCannotBeDeleted_data();
    void SchedulesWhatCannotBeDeleted();
    void DeletesTheFileALinkLeadsTo();
    void QuarantinesAndRestoresThroughThePage();
    void ShowsNoTimeForAScanWithoutEvents();
    void TellsOnceOfNotedFilesThatStayForGood();
    void KeepsFindsThatArriveDuringTheDeletion();
    void StopsAScan();
    void SaysSoWhileTheEngineLoads();
    void DeletesWhatARunningScanFoundSoFar();
    void ClosesDuringAScan();
    void PicksALanguageAndRetranslatesTheWindow();
    void TogglesATickByDoubleClickAndClosesOnAltX();
    void RunsEnabledActionsByTheirAccelerators();

private:
    void Scan(TfrmClamAV& Window);
    support::TTestProgramFolder FProgramFolder;
    QTemporaryDir FSettings, FFiles;
};

void TestMainWindow::initTestCase() {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FSettings.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(FSettings.path())); // the quarantine's home
    FProgramFolder.WriteSampleDatabase();
    for (const char* Code : {"de", "es"})
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/Harkavel" + Code + ".mo",
                            FProgramFolder.Path() + "Harkavel" + Code + ".mo"));
    SetCurrentLanguage("en");
    QVERIFY(support::WriteFile(FFiles.path() + "/a/eicar.com", support::EicarBytes()));
    QVERIFY(support::WriteFile(FFiles.path() + "/a/clean.txt", "clean\n"));
}

void TestMainWindow::Scan(TfrmClamAV& Window) {
    W(Window).actStartScan->trigger();
    QVERIFY(WaitFor([&] { return !ScanRuns(Window); }));
    QCOMPARE(W(Window).StatusPanel1->text(), QString("Scan finished"));
}

void TestMainWindow::StartsWithTheDesignedActionStates() {
    // A network mount that would hang every query is left out by its mount table line alone,
    // before anything asks it anything: the window is made without touching it.
    testing::SetMountTable("21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                           "25 21 0:40 / /mnt/hung rw - nfs4 deadserver:/export rw\n"
                           "27 21 8:17 / /usr rw - ext4 /dev/sdb1 rw\n");
    const auto UndoMountTable = qScopeGuard([] { testing::SetMountTable(QByteArray()); });
    TfrmClamAV Window;
    QCOMPARE(Column(W(Window).lvBrowser, 0), QStringList({"/", "/usr"}));
    QCOMPARE(Window.windowTitle(), QString("Harkavel"));
    QVERIFY(!W(Window).actDeleteViruses->isEnabled());
    QVERIFY(!W(Window).Button1->isEnabled());
    QVERIFY(!W(Window).actStartUpdate->isEnabled());
    QVERIFY(W(Window).actStartScan->isEnabled() && W(Window).actAddFile->isEnabled() &&
            W(Window).actAddFolder->isEnabled());
    QCOMPARE(W(Window).lvBrowser->topLevelItem(0)->text(0), QString("/"));
    QCOMPARE(W(Window).lvBrowser->topLevelItem(0)->checkState(0), Qt::Unchecked);
    QVERIFY(W(Window).StatusPanel0->text().startsWith("ClamAV Engine Version 1."));
    W(Window).PageControl->setCurrentWidget(W(Window).tsUpdate);
    QVERIFY(W(Window).actStartUpdate->isEnabled());
    QVERIFY(!W(Window).actStartScan->isEnabled() && !W(Window).actAddFile->isEnabled() &&
            !W(Window).actAddFolder->isEnabled());
    W(Window).PageControl->setCurrentWidget(W(Window).tsScan);
    QVERIFY(!W(Window).actStartUpdate->isEnabled());
    QVERIFY(W(Window).actStartScan->isEnabled());
}

// Where a widget sits within the window, and how far its far corner is from the window's.
struct TPlacement {
    QRect Rect;
    QPoint FromFarCorner;
};
TPlacement Placement(QWidget* Widget) {
    QWidget* Window = Widget->window();
    const QRect Rect(Widget->mapTo(Window, QPoint(0, 0)), Widget->size());
    return {Rect, QPoint(Window->width(), Window->height()) - Rect.bottomRight()};
}

void TestMainWindow::KeepsItsLayoutWhenResized() {
    TfrmClamAV Window;
    Window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Window));
    QCOMPARE(Window.size(), QSize(588, 543));
    QWidget* const Watched[] = {W(Window).lvBrowser,   W(Window).lvScanner, W(Window).Button1,
                                W(Window).lblScanTime, W(Window).Label1,    W(Window).cmbLang,
                                W(Window).pbDBUpdate,  W(Window).memLog};
    const auto Measure = [&] {
        QList<TPlacement> Placements;
        for (QWidget* Widget : Watched) {
            for (QWidget* Page : {W(Window).tsScan, W(Window).tsUpdate})
                if (Page->isAncestorOf(Widget))
                    W(Window).PageControl->setCurrentWidget(Page); // a hidden page is not laid out
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            Placements << Placement(Widget);
        }
        return Placements;
    };
    const QList<TPlacement> Before = Measure();
    Window.resize(588 + 300, 543 + 200);
    QTRY_COMPARE(Window.width(), 588 + 300);
    const QList<TPlacement> After = Measure();
    const auto Growth = [&](int I) { return After[I].Rect.size() - Before[I].Rect.size(); };
    QCOMPARE(Growth(0), QSize(300, 0)); // the target list keeps its height of 185
    QCOMPARE(W(Window).lvBrowser->height(), 185);
    QCOMPARE(Growth(1), QSize(300, 200)); // the result list takes the rest
    // Delete Viruses keeps the bottom-left corner, the time labels the bottom-right one.
    QCOMPARE(After[2].Rect.left(), Before[2].Rect.left());
    QCOMPARE(After[2].FromFarCorner.y(), Before[2].FromFarCorner.y());
    QCOMPARE(After[3].FromFarCorner, Before[3].FromFarCorner);
    QCOMPARE(After[4].FromFarCorner, Before[4].FromFarCorner);
    // The language selector keeps its distance to the right edge and its place from the top.
    QCOMPARE(After[5].FromFarCorner.x(), Before[5].FromFarCorner.x());
    QCOMPARE(After[5].Rect.top(), Before[5].Rect.top());
    QCOMPARE(W(Window).cmbLang->width(), 224);
    QCOMPARE(Growth(6), QSize(300, 0));   // the progress bar grows in width
    QCOMPARE(Growth(7), QSize(300, 200)); // the journal in both directions
}

// A drop from a file manager: two files and a folder become three ticked rows, in the order
// dropped, with the pickers' type names; what is not a local file is left out.
void TestMainWindow::AddsDroppedFilesAndFoldersAsTickedRows() {
    const QString First = FFiles.path() + "/drop/one.exe";
    const QString Second = FFiles.path() + "/drop/two.doc";
    const QString Folder = FFiles.path() + "/drop/folder";
    QVERIFY(support::WriteFile(First, "1") && support::WriteFile(Second, "2"));
    QVERIFY(QDir().mkpath(Folder));
    TfrmClamAV Window;
    Window.show();
    QWidget* Target = W(Window).lvBrowser->viewport();
    const int Rows = W(Window).lvBrowser->topLevelItemCount();
    QMimeData Dropped;
    Dropped.setUrls({QUrl::fromLocalFile(Second), QUrl("https://example.invalid/x"),
                     QUrl::fromLocalFile(Folder), QUrl::fromLocalFile(First)});
    QDragEnterEvent Enter(QPoint(10, 10), Qt::CopyAction, &Dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Target, &Enter);
    QVERIFY(Enter.isAccepted());
    QDropEvent Drop(QPointF(10, 10), Qt::CopyAction, &Dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Target, &Drop);
    QVERIFY(Drop.isAccepted());
    QCOMPARE(Column(W(Window).lvBrowser, 0).mid(Rows), QStringList({Second, Folder, First}));
    for (int I = Rows; I < Rows + 3; ++I)
        QCOMPARE(W(Window).lvBrowser->topLevelItem(I)->checkState(0), Qt::Checked);
    QCOMPARE(W(Window).lvBrowser->topLevelItem(Rows + 1)->text(1), QString("Folder"));

    QMimeData Text;
    Text.setText("no files");
    QDragEnterEvent Refused(QPoint(10, 10), Qt::CopyAction, &Text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Target, &Refused);
    QVERIFY(!Refused.isAccepted());
}

// Tests and accessibility tools find the window's parts by the layout's names.
void TestMainWindow::NamesEveryPartAsTheLayoutDoes() {
    TfrmClamAV Window;
    QCOMPARE(Window.objectName(), QString("frmClamAV"));
    for (const char* Name :
         {"actStartScan",   "actStopScan",     "actAddFile",  "actAddFolder", "actDeleteViruses",
          "actStartUpdate", "actCancelUpdate", "actExit",     "tbiStartScan", "ToolButton1",
          "ToolButton2",    "tbiStartUpdate",  "ToolButton4", "Label2",       "cmbLang",
          "PageControl",    "tsScan",          "tsUpdate",    "lvBrowser",    "lvScanner",
          "Button1",        "Label1",          "lblScanTime", "Label3",       "lblDBName",
          "pbDBUpdate",     "Label7",          "memLog",      "stbStatus",    "StatusPanel0",
          "StatusPanel1"})
        QVERIFY2(Window.findChildren<QObject*>(Name).size() == 1, Name);
    // As a user finds it: the tool button that shows Start Scan, clicked.
    TModalAnswerer Answer(QMessageBox::Ok);
    QTest::mouseClick(Window.findChild<QToolButton*>("tbiStartScan"), Qt::LeftButton);
    QCOMPARE(Answer.Texts,
             QStringList({"You must select at least one file or folder to be scanned."}));
}

// The layout's numbers, at the initial size and after a resize.
void TestMainWindow::KeepsTheLayoutsNumbers() {
    TfrmClamAV Window;
    Window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Window));
    const QRect Screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2((Window.frameGeometry().center() - Screen.center()).manhattanLength() <= 1,
             "centred on the primary screen when first shown");
    QVERIFY(!W(Window).pbDBUpdate->isTextVisible());
    for (const QSize& Size : {QSize(588, 543), QSize(888, 743)}) {
        Window.resize(Size);
        QTRY_COMPARE(Window.size(), Size);
        const QString At = QStringLiteral(" at %1x%2").arg(Size.width()).arg(Size.height());
        const auto Verify = [&](bool Condition, const char* What) {
            QVERIFY2(Condition, qPrintable(What + At));
        };
        // The language strip.
        const QWidget* Strip = W(Window).cmbLang->parentWidget();
        Verify(W(Window).Label2->geometry().right() + 1 + 14 == W(Window).cmbLang->x(),
               "the language label ends 14 left of the selector");
        Verify(W(Window).Label2->alignment() & Qt::AlignRight,
               "the language label is right-aligned");
        Verify(W(Window).Label2->y() == 9 && W(Window).cmbLang->y() == 6,
               "label 9, selector 6 down");
        Verify(Strip->width() - W(Window).cmbLang->geometry().right() - 1 == 4,
               "the selector 4 from the right");
        // The scan page.
        W(Window).PageControl->setCurrentWidget(W(Window).tsScan);
        const QSize Scan = W(Window).tsScan->size();
        Verify(Scan.height() - W(Window).lvScanner->geometry().bottom() - 1 == 40,
               "a 40-pixel band under the result list");
        Verify(W(Window).Label1->geometry().right() + 1 + 9 == W(Window).lblScanTime->x(),
               "\"Time passed:\" 9 left of the time");
        Verify(Scan.width() - W(Window).lblScanTime->geometry().right() - 1 == 9,
               "the time 9 from the right");
        Verify(Scan.height() - W(Window).lblScanTime->geometry().bottom() - 1 == 16 &&
                   W(Window).Label1->y() == W(Window).lblScanTime->y(),
               "the labels 16 from the bottom");
        Verify(W(Window).Button1->x() == 5 &&
                   Scan.height() - W(Window).Button1->geometry().bottom() - 1 == 7,
               "Delete Viruses 5 from the left, 7 from the bottom");
        Verify(W(Window).lvBrowser->columnWidth(1) == 250 &&
                   W(Window).lvBrowser->columnWidth(0) + 250 ==
                       W(Window).lvBrowser->viewport()->width(),
               "Path takes what Description (250) leaves");
        Verify(W(Window).lvScanner->columnWidth(0) == 200 &&
                   W(Window).lvScanner->columnWidth(1) == 350,
               "Virus 200, Information 350");
        // The update page.
        W(Window).PageControl->setCurrentWidget(W(Window).tsUpdate);
        const QSize Update = W(Window).tsUpdate->size();
        // The name stands at 60 where the caption fits before it (the layout's 8-point font);
        // Qt's default font draws "Progress:" 55 pixels wide, and the name then follows 4 later.
        Verify(W(Window).Label3->pos() == QPoint(8, 7) &&
                   W(Window).lblDBName->pos() ==
                       QPoint(std::max(60, W(Window).Label3->geometry().right() + 1 + 4), 7),
               "Progress: at (8,7), the name at (60,7) or just after a longer caption");
        Verify(W(Window).pbDBUpdate->geometry() == QRect(8, 23, Update.width() - 19, 17),
               "the bar at (8,23), 17 high, 11 from the right");
        Verify(W(Window).Label7->pos() == QPoint(8, 46), "the journal's label at (8,46)");
        Verify(W(Window).memLog->geometry() ==
                   QRect(8, 65, Update.width() - 19, Update.height() - 65 - 14),
               "the journal at (8,65), 11 from the right, 14 from the bottom");
    }
}

void TestMainWindow::ShortensPathsFromTheLeft() {
    const QFontMetrics Metrics(QApplication::font());
    const QString Path = "/usr/share/clamav-testfiles/deep/etc/hosts";
    QStringList Seen;
    for (int Width = Metrics.horizontalAdvance(Path) + 10; Width > 0; --Width) {
        const QString Short = TfrmClamAV::ShortenPathToWidth(Path, Width, Metrics);
        if (Seen.isEmpty() || Seen.last() != Short)
            Seen << Short;
    }
    QCOMPARE(Seen, QStringList({Path, "/.../share/clamav-testfiles/deep/etc/hosts",
                                "/.../clamav-testfiles/deep/etc/hosts", "/.../deep/etc/hosts",
                                "/.../etc/hosts", "/.../hosts", ".../hosts", "hosts"}));
}

void TestMainWindow::AddsAFolderFromThePicker() {
    TfrmClamAV Window;
    const int Rows = W(Window).lvBrowser->topLevelItemCount();
    Window.show();
    const QString Folder = FFiles.path() + "/a";
    QString Title, Start;
    bool CanCreateFolders = true;
    QStringList Places;
    TModalAnswerer Warnings(QMessageBox::Ok);
    TPickerAnswerer Answer({
        [&](QFileDialog* Picker) { // cancelled: nothing is added
            QueueAnswer(Picker, false);
            return true;
        },
        [&](QFileDialog* Picker) {
            Title = Picker->windowTitle();
            Start = Picker->directory().path();
            CanCreateFolders = Picker->findChild<QWidget*>("newFolderButton")->isVisible();
            for (const QUrl& Place : Picker->sidebarUrls())
                Places << Place.toLocalFile();
            Type(Picker, Folder + "/missing"); // a typed name is checked
            QueueAnswer(Picker, true);
            return true;
        },
        [&](QFileDialog* Picker) {
            if (Warnings.Texts.isEmpty())
                return false;
            Type(Picker, Folder);
            QueueAnswer(Picker, true);
            return true;
        },
    });
    W(Window).actAddFolder->trigger();
    QCOMPARE(W(Window).lvBrowser->topLevelItemCount(), Rows);
    W(Window).actAddFolder->trigger();
    QVERIFY(Answer.Done());
    QCOMPARE(Title, QString("Select folder"));
    QCOMPARE(Start, QString("/"));
    QVERIFY(!CanCreateFolders);
    QCOMPARE(Places.value(0), QString("/"));
    QCOMPARE(Warnings.Texts.size(), 1);
    QVERIFY(Warnings.Texts[0].contains("not found"));
    QCOMPARE(W(Window).lvBrowser->topLevelItemCount(), Rows + 1);
    QTreeWidgetItem* Row = W(Window).lvBrowser->topLevelItem(Rows);
    QCOMPARE(Row->text(0), Folder);
    QCOMPARE(Row->checkState(0), Qt::Checked);
    QCOMPARE(Row->text(1), QString("Folder")); // the file manager's type name
}

void TestMainWindow::AddsSeveralFilesFromThePicker() {
    const QString Folder = FFiles.path() + "/pick";
    QVERIFY(support::WriteFile(Folder + "/.hidden", "h"));
    QVERIFY(support::WriteFile(Folder + "/b.txt", "b"));
    TfrmClamAV Window;
    const int Rows = W(Window).lvBrowser->topLevelItemCount();
    Window.show();
    QString Title;
    QStringList Filters, Listed;
    bool FocusInList = false;
    TModalAnswerer Warnings(QMessageBox::Ok);
    TPickerAnswerer Answer({
        [&](QFileDialog* Picker) {
            Picker->setDirectory(Folder);
            return true;
        },
        [&](QFileDialog* Picker) {
            Listed = ListedNames(Picker);
            if (Listed.size() < 2)
                return false; // still reading the folder
            Title = Picker->windowTitle();
            Filters = Picker->nameFilters();
            FocusInList = qobject_cast<QAbstractItemView*>(QApplication::focusWidget());
            Type(Picker, "missing"); // every chosen file must exist
            QueueAnswer(Picker, true);
            return true;
        },
        [&](QFileDialog* Picker) {
            if (Warnings.Texts.isEmpty())
                return false;
            Type(Picker, "\"b.txt\" \".hidden\"");
            QueueAnswer(Picker, true);
            return true;
        },
    });
    W(Window).actAddFile->trigger();
    QVERIFY(Answer.Done());
    QCOMPARE(Title, QString("Select file(s)"));
    QCOMPARE(Filters, QStringList({"All files (*)"}));
    QVERIFY(FocusInList);
    QCOMPARE(Listed, QStringList({".hidden", "b.txt"}));
    QCOMPARE(Warnings.Texts.size(), 1);
    QCOMPARE(Column(W(Window).lvBrowser, 0).mid(Rows),
             QStringList({Folder + "/b.txt", Folder + "/.hidden"}));
    QCOMPARE(W(Window).lvBrowser->topLevelItem(Rows + 1)->checkState(0), Qt::Checked);
}

void TestMainWindow::RefusesAScanWithoutTargets() {
    const QString Virus = FFiles.path() + "/r/eicar.com";
    QVERIFY(support::WriteFile(Virus, support::EicarBytes()));
    TfrmClamAV Window;
    Window.AddTargetRow(Virus);
    Scan(Window);
    W(Window)
        .lvBrowser->topLevelItem(W(Window).lvBrowser->topLevelItemCount() - 1)
        ->setCheckState(0, Qt::Unchecked);
    {
        TModalAnswerer Answer(QMessageBox::Ok);
        W(Window).actStartScan->trigger();
        QCOMPARE(Answer.Texts,
                 QStringList({"You must select at least one file or folder to be scanned."}));
    }
    QVERIFY(!ScanRuns(Window));
    QCOMPARE(W(Window).tbiStartScan->defaultAction(), W(Window).actStartScan);
    // The rows of the earlier scan stay, but the refused scan forgot what they found.
    QCOMPARE(W(Window).lvScanner->topLevelItemCount(), 1);
    QVERIFY(W(Window).actDeleteViruses->isEnabled());
    TModalAnswerer Answer(QMessageBox::Ok);
    W(Window).Button1->click();
    QCOMPARE(Answer.Texts.size(), 1); // the question only
    QVERIFY(QFile::exists(Virus));
    QCOMPARE(W(Window).lvScanner->topLevelItemCount(), 0);
    QVERIFY(!W(Window).actDeleteViruses->isEnabled());
}

void TestMainWindow::ScansATargetListedTwice() {
    const QString Virus = FFiles.path() + "/twice/eicar.com";
    QVERIFY(support::WriteFile(Virus, support::EicarBytes()));
    QFile::remove(PendingDeletesFile());
    TfrmClamAV Window;
    Window.AddTargetRow(Virus);
    Window.AddTargetRow(Virus);
    Scan(Window);
    QCOMPARE(InfectedFiles(Window), QStringList({Virus, Virus}));
    QCOMPARE(W(Window).lvScanner->topLevelItemCount(), 2);
    TModalAnswerer Answer(QMessageBox::Ok);
    W(Window).Button1->click();
    QCOMPARE(Answer.Texts.size(), 1); // the question; the second copy was gone already
    QVERIFY(!QFile::exists(Virus));
    QCOMPARE(PendingDeletes(), QByteArray("(no list)"));
    QCOMPARE(W(Window).lvScanner->topLevelItemCount(), 0);
}

void TestMainWindow::ScansAndListsVirusesAndErrors() {
    TfrmClamAV Window;
    const QString Dangling = FFiles.path() + "/dangling";
    QFile::link(FFiles.path() + "/missing", Dangling);
    Window.AddTargetRow(FFiles.path() + "/a");
    Window.AddTargetRow(Dangling);
    QElapsedTimer Took;
    Took.start();
    W(Window).actStartScan->trigger();
    QCOMPARE(W(Window).tbiStartScan->defaultAction(), W(Window).actStopScan);
    QCOMPARE(W(Window).tbiStartScan->actions().size(), 1); // no menu arrow
    QVERIFY(WaitFor([&] { return !ScanRuns(Window); }));
    QCOMPARE(W(Window).StatusPanel1->text(), QString("Scan finished"));
    QCOMPARE(W(Window).tbiStartScan->defaultAction(), W(Window).actStartScan);
    QCOMPARE(Column(W(Window).lvScanner, 0), QStringList({support::EicarVirusName, Dangling}));
    QCOMPARE(Column(W(Window).lvScanner, 1),
             QStringList({FFiles.path() + "/a/eicar.com", "Error: Can't open file or directory"}));
    QCOMPARE(InfectedFiles(Window), QStringList({FFiles.path() + "/a/eicar.com"}));
    QVERIFY(W(Window).actDeleteViruses->isEnabled() && W(Window).Button1->isEnabled());
    // The time shown is the scan's: more than nothing, no more than the test has waited.
    const QStringList Parts = W(Window).lblScanTime->text().split(':');
    QCOMPARE(Parts.size(), 4);
    const qint64 Shown =
        ((Parts[0].toLongLong() * 60 + Parts[1].toLongLong()) * 60 + Parts[2].toLongLong()) * 1000 +
        Parts[3].toLongLong();
    QVERIFY2(Shown > 0 && Shown <= Took.elapsed(), qPrintable(W(Window).lblScanTime->text()));
    // Nothing is due to be shown any more, so no progress can replace the last word later.
    QVERIFY(!Window.findChild<QTimer*>("ScanDisplayTimer")->isActive());
    QCOMPARE(W(Window).StatusPanel1->text(), QString("Scan finished"));
    QVERIFY(W(Window).lvScanner->updatesEnabled());
    QFile::remove(Dangling);
}

void TestMainWindow::DeletesVirusesOnlyWhenConfirmed() {
    const QString Virus = FFiles.path() + "/b/eicar.com";
    QVERIFY(support::WriteFile(Virus, support::EicarBytes()));
    TfrmClamAV Window;
    Window.AddTargetRow(FFiles.path() + "/b");
    Scan(Window);
    {
        TModalAnswerer Answer(QMessageBox::Cancel);
        W(Window).Button1->click();
        QCOMPARE(Answer.Texts,
                 QStringList({"Are you sure you want to delete all virus infected files?"}));
    }
    QVERIFY(QFile::exists(Virus));
    QCOMPARE(W(Window).lvScanner->topLevelItemCount(), 1);
    {
        TModalAnswerer Answer(QMessageBox::Ok);
        W(Window).Button1->click();
        QCOMPARE(Answer.Texts.size(), 1);
    }
    QVERIFY(!QFile::exists(Virus));
    QCOMPARE(W(Window).lvScanner->topLevelItemCount(), 0);
    QVERIFY(!W(Window).actDeleteViruses->isEnabled());
}

void TestMainWindow::SchedulesWhatCannotBeDeleted_data() {
    QTest::addColumn<QString>("After"); // what happens to the find between scan and deletion
    QTest::addColumn<bool>("ListWritable");
    QTest::addColumn<QString>("Message");
    QTest::addColumn<bool>("Noted");
    // Mounted onto itself: the same file, which cannot be unlinked while mounted.
    QTest::newRow("noted for the next start")
        << "busy" << true
        << "Some files can not be deleted right now. Harkavel will try again the next time it "
           "starts."
        << true;
    // A list that cannot be written: no promise to try again.
    QTest::newRow("list not writable")
        << "busy" << false
        << "Some files can not be deleted right now, and Harkavel could not note them to try "
           "again."
        << false;
    // A folder that became read-only: no later start will do better.
    QTest::newRow("never deletable")
        << "read-only" << true << "You may not delete these files:\n%1" << false;
    // The user's own file in its place: never touched.
    QTest::newRow("replaced") << "replaced" << true
                              << "These files have changed since the scan and were not deleted:\n%1"
                              << false;
}

void TestMainWindow::SchedulesWhatCannotBeDeleted() {
    QFETCH(QString, After);
    QFETCH(bool, ListWritable);
    QFETCH(QString, Message);
    QFETCH(bool, Noted);
    const QString Folder = FFiles.path() + "/c";
    const QString Virus = Folder + "/eicar.com";
    QVERIFY(support::WriteFile(Virus, support::EicarBytes()));
    QFile::remove(PendingDeletesFile());
    if (!ListWritable)
        QVERIFY(QDir().mkpath(PendingDeletesFile() + "/in-the-way"));
    TfrmClamAV Window;
    Window.AddTargetRow(Virus);
    Scan(Window);
    const QString Mounted = After == "busy" ? Virus : Folder;
    if (After == "replaced")
        QVERIFY(QFile::remove(Virus) && support::WriteFile(Virus, "the user's own file"));
    else if (QProcess::execute("mount", {"--bind", Mounted, Mounted}) != 0)
        QSKIP("no bind mount to be had here");
    if (After == "read-only")
        QCOMPARE(QProcess::execute("mount", {"-o", "remount,bind,ro", Folder}), 0);
    TModalAnswerer Answer(QMessageBox::Ok);
    W(Window).Button1->click();
    QVERIFY(WaitFor([&] { return Answer.Texts.size() == 2; }, 10000));
    if (After != "replaced")
        QProcess::execute("umount", {Mounted});
    QCOMPARE(Answer.Texts[1], Message.contains("%1") ? Message.arg(Virus) : Message);
    QCOMPARE(PendingDeletes().contains('\0' + PathToNative(Virus) + '\0'), Noted);
    QVERIFY(QFile::exists(Virus));
    if (!ListWritable)
        QVERIFY(QDir(PendingDeletesFile()).removeRecursively());
    QCOMPARE(W(Window).lvScanner->topLevelItemCount(), 0);
    QVERIFY(QDir(Folder).removeRecursively());
}

// A link that was found: what the engine read is the file it leads to, which goes with it.
void TestMainWindow::DeletesTheFileALinkLeadsTo() {
    const QString Payload = FFiles.path() + "/outside/payload.bin";
    const QString Link = FFiles.path() + "/linked/setup.exe";
    QVERIFY(support::WriteFile(Payload, support::EicarBytes()));
    QVERIFY(QDir().mkpath(FFiles.path() + "/linked"));
    QVERIFY(QFile::link("../outside/payload.bin", Link));
    TfrmClamAV Window;
    Window.AddTargetRow(FFiles.path() + "/linked");
    Scan(Window);
    QCOMPARE(InfectedFiles(Window), QStringList{Link});
    TModalAnswerer Answer(QMessageBox::Ok);
    W(Window).Button1->click();
    QCOMPARE(Answer.Texts.size(), 1);
    QVERIFY(!QFile::exists(Payload));
    QVERIFY(!QFileInfo(Link).isSymLink());
}

// Delete Viruses puts the finds into the quarantine; its page lists them, restores them as they
// were, never over a file, and deletes them for good.
void TestMainWindow::QuarantinesAndRestoresThroughThePage() {
    const QStringList Viruses = {FFiles.path() + "/q1/eicar.com", FFiles.path() + "/q2/eicar.com"};
    const QDateTime Written(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);
    auto WriteViruses = [&] {
        for (const QString& Virus : Viruses) {
            QVERIFY(support::WriteFile(Virus, support::EicarBytes() + Virus.toUtf8()));
            QVERIFY(QFile::setPermissions(Virus, QFile::ReadOwner | QFile::ExeOwner));
            QVERIFY(support::SetWriteTime(Virus, Written));
        }
    };
    auto DeleteViruses = [&](TfrmClamAV& Window) {
        Scan(Window);
        TModalAnswerer Answer(QMessageBox::Ok);
        W(Window).Button1->click();
        QCOMPARE(Answer.Texts.size(), 1); // the question, and no word of trouble
    };
    QVERIFY(QDir(TQuarantine::DefaultFolder()).removeRecursively()); // what other tests left
    WriteViruses();
    TfrmClamAV Window;
    Window.show();
    for (const QString& Virus : Viruses)
        Window.AddTargetRow(Virus);
    DeleteViruses(Window);
    QCOMPARE(W(Window).StatusPanel1->text(), QString("Files moved to the quarantine: 2"));
    for (const QString& Virus : Viruses)
        QVERIFY(!QFileInfo::exists(Virus));

    W(Window).PageControl->setCurrentWidget(W(Window).tsQuarantine);
    QTreeWidget* List = W(Window).lvQuarantine;
    QCOMPARE(List->topLevelItemCount(), 2);
    QCOMPARE(Window.focusWidget(), List);
    QCOMPARE(List->selectedItems().size(), 1);
    QCOMPARE(List->topLevelItem(0)->text(0), QString("eicar.com"));
    QVERIFY(W(Window).lblQuarantine->text().startsWith("The quarantine takes "));
    QTest::keyClick(List, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(List->selectedItems().size(), 2);
    W(Window).btnRestore->click();
    QCOMPARE(List->topLevelItemCount(), 0);
    for (const QString& Virus : Viruses) {
        QCOMPARE(support::ReadFile(Virus), support::EicarBytes() + Virus.toUtf8());
        QCOMPARE(QFileInfo(Virus).permissions() & 0x7000, QFile::ReadOwner | QFile::ExeOwner);
        QCOMPARE(QFileInfo(Virus).lastModified().toUTC(), Written);
    }

    // A file has taken one place: the picker is offered, and declining it keeps the item.
    W(Window).PageControl->setCurrentWidget(W(Window).tsScan);
    DeleteViruses(Window);
    QVERIFY(support::WriteFile(Viruses[0], "the user's new file"));
    W(Window).PageControl->setCurrentWidget(W(Window).tsQuarantine);
    QTest::keyClick(List, Qt::Key_A, Qt::ControlModifier);
    TPickerAnswerer Picker({[](QFileDialog* Dialog) {
        QMetaObject::invokeMethod(Dialog, &QFileDialog::reject, Qt::QueuedConnection);
        return true;
    }});
    W(Window).btnRestore->click();
    QVERIFY(Picker.Done());
    QCOMPARE(support::ReadFile(Viruses[0]), QByteArray("the user's new file"));
    QCOMPARE(List->topLevelItemCount(), 1);
    QVERIFY(QFileInfo::exists(Viruses[1]));

    // Delete, confirmed: gone for good.
    List->selectAll();
    TModalAnswerer Confirm(QMessageBox::Ok);
    W(Window).btnDeleteForGood->click();
    QCOMPARE(Confirm.Texts.size(), 1);
    QCOMPARE(List->topLevelItemCount(), 0);
    QVERIFY(TQuarantine().Items().isEmpty());
    for (const QString& Virus : Viruses)
        QFile::remove(Virus);
}

// The time shown is that of this scan's last event: a scan that raised none took no time, and
// shows neither an earlier scan's time nor the time of day.
void TestMainWindow::ShowsNoTimeForAScanWithoutEvents() {
    QVERIFY(QDir().mkpath(FFiles.path() + "/empty"));
    TfrmClamAV Window;
    Window.AddTargetRow(FFiles.path() + "/empty");
    for (int Scans = 0; Scans < 2; ++Scans) {
        Scan(Window);
        QCOMPARE(W(Window).lblScanTime->text(), QString("00:00:00:000"));
    }
}

// Files noted at an earlier run that can never be deleted are named once at the next start.
void TestMainWindow::TellsOnceOfNotedFilesThatStayForGood() {
    const QString Folder = FFiles.path() + "/locked";
    const QString Virus = Folder + "/virus.exe";
    QVERIFY(support::WriteFile(Virus, "x"));
    QFile::remove(PendingDeletesFile());
    QVERIFY(ScheduleDeleteOnRestart(PendingDeletesFile(), Virus, StampOfFile(Virus)));
    if (QProcess::execute("mount", {"--bind", Folder, Folder}) != 0)
        QSKIP("no bind mount to be had here");
    QCOMPARE(QProcess::execute("mount", {"-o", "remount,bind,ro", Folder}), 0);
    QStringList Told;
    for (int Start = 0; Start < 2; ++Start) {
        TfrmClamAV Window;
        TModalAnswerer Answer(QMessageBox::Ok);
        Window.DeleteFilesNotedEarlier();
        Told += Answer.Texts;
    }
    QProcess::execute("umount", {Folder});
    QCOMPARE(Told, QStringList{"Harkavel could not delete these files, noted at an earlier run, "
                               "and will not try again:\n" +
                               Virus});
    QVERIFY(QFile::exists(Virus));
}

// Finds that arrive while the message about files that cannot be deleted is open stay listed
// and are not deleted: only what was listed when Delete Viruses was pressed goes.
void TestMainWindow::KeepsFindsThatArriveDuringTheDeletion() {
    const QString First = FFiles.path() + "/stuck/eicar.com";
    const QString Later = FFiles.path() + "/arrives/eicar.com";
    QVERIFY(support::WriteFile(First, support::EicarBytes()));
    QVERIFY(support::WriteFile(Later, support::EicarBytes()));
    QFile::remove(PendingDeletesFile());
    TfrmClamAV Window;
    Window.AddTargetRow(First);
    Scan(Window);                        // Delete Viruses is enabled from here on
    Window.AddTargetRow("/usr/include"); // a long walk between the two finds
    Window.AddTargetRow(Later);
    W(Window).actStartScan->trigger();
    QVERIFY(WaitFor([&] { return InfectedFiles(Window).size() == 1; }));
    // The first find cannot be deleted: its name is taken by a folder.
    QVERIFY(QFile::remove(First));
    QVERIFY(support::WriteFile(First + "/inside", "x"));
    {
        // The second box (cannot be deleted) waits until the later find has come in.
        TModalAnswerer Answer(
            QMessageBox::Ok, [&](int Box) { return Box == 0 || InfectedFiles(Window).size() > 1; });
        W(Window).Button1->click();
        QCOMPARE(Answer.Texts.size(), 2);
    }
    QCOMPARE(InfectedFiles(Window), QStringList{Later});
    QVERIFY(WaitFor([&] { return !ScanRuns(Window); }));
    QCOMPARE(Column(W(Window).lvScanner, 1), QStringList{Later});
    QVERIFY(QFile::exists(Later));
    QVERIFY(W(Window).actDeleteViruses->isEnabled());
}

void TestMainWindow::StopsAScan() {
    TfrmClamAV Window;
    Window.AddTargetRow(support::ClamTestFiles);
    Window.AddTargetRow("/usr/include");
    W(Window).actStartScan->trigger();
    QVERIFY(WaitFor([&] { return W(Window).lvScanner->topLevelItemCount() > 0; }));
    W(Window).tbiStartScan->click(); // shows Stop Scan now
    QVERIFY(WaitFor([&] { return !ScanRuns(Window); }));
    QCOMPARE(W(Window).StatusPanel1->text(), QString("Scan finished"));
    QCOMPARE(W(Window).tbiStartScan->defaultAction(), W(Window).actStartScan);
    QVERIFY(W(Window).actDeleteViruses->isEnabled());
    QVERIFY(W(Window).lvScanner->topLevelItemCount() < 44);
}

// Panel 1 speaks while the engine loads (translated), and only then.
void TestMainWindow::SaysSoWhileTheEngineLoads() {
    const auto English = qScopeGuard([] { SetCurrentLanguage("en"); });
    for (const char* Language : {"en", "de"}) {
        support::ResetEngineHolder(); // the next scan loads the engine
        SetCurrentLanguage(Language);
        TfrmClamAV Window;
        Window.AddTargetRow(FFiles.path() + "/a");
        W(Window).actStartScan->trigger();
        QCOMPARE(W(Window).StatusPanel1->text(), Translate("Loading signature databases..."));
        QVERIFY(WaitFor([&] { return !ScanRuns(Window); }));
        QCOMPARE(InfectedFiles(Window).size(), 1);
        QCOMPARE(W(Window).StatusPanel1->text(), Translate("Scan finished"));
        W(Window).actStartScan->trigger(); // loaded now
        QCOMPARE(W(Window).StatusPanel1->text(), Translate("Scan finished"));
        QVERIFY(WaitFor([&] { return !ScanRuns(Window); }));
    }
    QCOMPARE(Translate("Loading signature databases..."),
             QString("Signaturdatenbanken werden geladen..."));
}

void TestMainWindow::DeletesWhatARunningScanFoundSoFar() {
    const QString First = FFiles.path() + "/first/eicar.com";
    const QString Later = FFiles.path() + "/later/eicar.com";
    QVERIFY(support::WriteFile(First, support::EicarBytes()));
    QVERIFY(support::WriteFile(Later, support::EicarBytes()));
    TfrmClamAV Window;
    Window.AddTargetRow(First);
    Scan(Window);
    QVERIFY(W(Window).actDeleteViruses->isEnabled());
    // Scanned in the order listed: the first find, a long walk, then the later find.
    Window.AddTargetRow("/usr/include");
    Window.AddTargetRow(support::ClamTestFiles);
    Window.AddTargetRow(Later);
    W(Window).actStartScan->trigger();
    QVERIFY(W(Window).actDeleteViruses->isEnabled()); // as before the scan
    QVERIFY(WaitFor([&] { return !InfectedFiles(Window).isEmpty(); }));
    {
        TModalAnswerer Answer(QMessageBox::Ok);
        W(Window).Button1->click();
    }
    QVERIFY2(ScanRuns(Window), "the scan ended before Delete Viruses ran");
    QVERIFY(!QFile::exists(First));
    QCOMPARE(W(Window).lvScanner->topLevelItemCount(), 0);
    QVERIFY(WaitFor([&] { return !ScanRuns(Window); }));
    QVERIFY(QFile::exists(Later));
    QCOMPARE(InfectedFiles(Window).last(), Later);
    QCOMPARE(Column(W(Window).lvScanner, 1).last(), Later); // later finds appear again
    QVERIFY(W(Window).lvScanner->updatesEnabled());
    QVERIFY(W(Window).actDeleteViruses->isEnabled());
}

void TestMainWindow::ClosesDuringAScan() {
    auto* Window = new TfrmClamAV;
    Window->AddTargetRow("/usr");
    Window->show();
    W(*Window).actStartScan->trigger();
    QVERIFY(WaitFor([&] { return W(*Window).StatusPanel1->text().startsWith("Scanning: "); }));
    QVERIFY(Window->close()); // waits for the scanner, serving its events meanwhile
    QVERIFY(!ScanRuns(*Window));
    QCOMPARE(W(*Window).StatusPanel1->text(), QString("Scan finished"));
    delete Window;
}

void TestMainWindow::PicksALanguageAndRetranslatesTheWindow() {
    TfrmClamAV Window;
    QStringList Codes, Names;
    for (int I = 0; I < W(Window).cmbLang->count(); ++I) {
        Codes << W(Window).cmbLang->itemData(I).toString();
        Names << W(Window).cmbLang->itemText(I);
    }
    Codes.sort(); // the listing's order is the file system's
    QCOMPARE(Codes, QStringList({"de", "en", "es"}));
    QCOMPARE(W(Window).cmbLang->itemData(W(Window).cmbLang->count() - 1).toString(), QString("en"));
    QCOMPARE(W(Window).cmbLang->currentData().toString(), QString("en"));
    QVERIFY(Names.contains("German") && Names.contains("Spanish") && Names.contains("English"));
    const int German = W(Window).cmbLang->findData("de");
    QVERIFY(W(Window).cmbLang->itemIcon(German).isNull());
    QVERIFY(!W(Window).cmbLang->itemIcon(W(Window).cmbLang->findData("es")).isNull());

    Window.show(); // both pages laid out once, in English
    W(Window).PageControl->setCurrentWidget(W(Window).tsUpdate);
    W(Window).PageControl->setCurrentWidget(W(Window).tsScan);
    W(Window).StatusPanel1->setText("Scanning: /somewhere");
    W(Window).lblScanTime->setText("00:01:02:003"); // what the last scan took, and
    W(Window).lblDBName->setText("Done.");          // how the last update ended: both stay
    W(Window).cmbLang->setCurrentIndex(German);
    emit W(Window).cmbLang->activated(German);
    QCOMPARE(W(Window).lblScanTime->text(), QString("00:01:02:003"));
    QCOMPARE(W(Window).lblDBName->text(), QString("Done."));
    // The update page, hidden during the switch, shows its longer caption whole when shown.
    W(Window).PageControl->setCurrentWidget(W(Window).tsUpdate);
    QCOMPARE(W(Window).Label3->text(), QString("Fortschritt:"));
    QVERIFY(W(Window).Label3->width() >= W(Window).Label3->sizeHint().width());
    QVERIFY(W(Window).lblDBName->x() > W(Window).Label3->geometry().right());
    W(Window).PageControl->setCurrentWidget(W(Window).tsScan);
    QCOMPARE(GetOptions().Language, QString("de"));
    QCOMPARE(W(Window).actStartScan->text(), QString("&Suchen"));
    QCOMPARE(W(Window).tbiStartScan->text(), QString("Suchen")); // no mnemonic on a tool button
    QCOMPARE(W(Window).Button1->text(), QString("&Viren löschen"));
    QCOMPARE(W(Window).PageControl->tabText(0), QString("Virensuche"));
    QCOMPARE(W(Window).Label1->text(), QString("Vergangene Zeit:"));
    QCOMPARE(W(Window).lvScanner->headerItem()->text(1), QString("Information"));
    QVERIFY(W(Window).StatusPanel0->text().startsWith("ClamAV-Engine Version 1."));
    QCOMPARE(W(Window).StatusPanel1->text(),
             QString("Lumidore ist ein GNU-Virenscanner auf Basis der ClamAV-Engine"));
    QCOMPARE(W(Window).cmbLang->itemText(German), Names[Names.indexOf("German")]); // names stay

    const int English = W(Window).cmbLang->findData("en");
    W(Window).cmbLang->setCurrentIndex(English);
    emit W(Window).cmbLang->activated(English);
    QCOMPARE(W(Window).actStartScan->text(), QString("&Start Scan"));
    QCOMPARE(W(Window).PageControl->tabText(1), QString("Update"));
    // The pick is what the next start reads.
    W(Window).cmbLang->setCurrentIndex(German);
    emit W(Window).cmbLang->activated(German);
    FreeOptions();
    QCOMPARE(GetOptions().Language, QString("de"));
    GetOptions().Language = "en";
    SetCurrentLanguage("en");
}

void TestMainWindow::TogglesATickByDoubleClickAndClosesOnAltX() {
    TfrmClamAV Window;
    Window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Window));
    QTreeWidgetItem* Root = W(Window).lvBrowser->topLevelItem(0);
    W(Window).lvBrowser->setCurrentItem(Root);
    emit W(Window).lvBrowser->itemDoubleClicked(Root, 0);
    QCOMPARE(Root->checkState(0), Qt::Checked);
    emit W(Window).lvBrowser->itemDoubleClicked(Root, 0);
    QCOMPARE(Root->checkState(0), Qt::Unchecked);
    W(Window).lvScanner->setFocus();
    QTest::keyClick(&Window, Qt::Key_X, Qt::AltModifier);
    QVERIFY(WaitFor([&] { return !Window.isVisible(); }, 5000));
}

void TestMainWindow::RunsEnabledActionsByTheirAccelerators() {
    TfrmClamAV Window;
    Window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Window));
    QApplication::setActiveWindow(&Window);
    W(Window).lvScanner->setFocus();
    {
        TModalAnswerer Answer(QMessageBox::Ok);
        QTest::keyClick(&Window, Qt::Key_S, Qt::AltModifier); // "&Start Scan"
        QCOMPARE(Answer.Texts,
                 QStringList({"You must select at least one file or folder to be scanned."}));
    }
    QApplication::setActiveWindow(&Window); // headless, closing the box activates nothing
    QTest::keyClick(&Window, Qt::Key_L, Qt::AltModifier); // "&Language:" focuses the selector
    QVERIFY(W(Window).cmbLang->hasFocus());
    W(Window).PageControl->setCurrentWidget(W(Window).tsUpdate);
    {
        TModalAnswerer Answer(QMessageBox::Ok);
        // Disabled on this page. Had it run, its box would have been shown and answered
        // before keyClick returned.
        QTest::keyClick(&Window, Qt::Key_S, Qt::AltModifier);
        QVERIFY(Answer.Texts.isEmpty());
    }
    // A retranslated caption brings its own letter: "&Suchen" in German.
    W(Window).PageControl->setCurrentWidget(W(Window).tsScan);
    const int German = W(Window).cmbLang->findData("de");
    W(Window).cmbLang->setCurrentIndex(German);
    emit W(Window).cmbLang->activated(German);
    QCOMPARE(W(Window).actAddFile->shortcut(), QKeySequence(Qt::ALT | Qt::Key_D)); // "&Datei"
    const int English = W(Window).cmbLang->findData("en");
    W(Window).cmbLang->setCurrentIndex(English);
    emit W(Window).cmbLang->activated(English);
    QCOMPARE(W(Window).actAddFile->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F)); // "Add &File"
    QCOMPARE(W(Window).actExit->shortcut(), QKeySequence(Qt::ALT | Qt::Key_X));
}

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
