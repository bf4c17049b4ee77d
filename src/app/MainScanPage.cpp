// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The "Virus Scan" page of the main window: the target list, Start and Stop Scan, the
// scanner's events and Delete Viruses. Everything here runs on the main thread; the scanner
// thread reaches the page only through its events, which run on the main thread.

#include "Anchors.h"
#include "Harkavel.h"
#include "Main.h"

#include "engine/uClamDatabase.h"
#include "engine/uQuarantineCheck.h"
#include "engine/uVirusScanner.h"
#include "platform/DeleteOnRestart.h"
#include "platform/Drives.h"
#include "platform/FileSystem.h"
#include "platform/NativePath.h"
#include "settings/GetTextIgnores.h"
#include "settings/GnuGetText.h"
#include "settings/Options.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <memory>

namespace {

constexpr int ScanDisplayInterval = 100; // ms between two displays of a running scan

bool EngineLoaded() {
    const TClamDatabase* Holder = TClamDatabase::AccessInstance(0);
    return Holder != nullptr && Holder->IsLoaded();
}

// Message 1125: carries the ended scanner and owns it, so an event Qt drops at exit still
// frees it.
class TFreeScannerEvent : public QEvent {
public:
    explicit TFreeScannerEvent(TVirusScanner* Scanner)
        : QEvent(QEvent::Type(harkavel::WM_FREE_SCANNER)), Scanner(Scanner) {}
    std::unique_ptr<TVirusScanner> Scanner;
};

} // namespace

void TfrmClamAV::CreateScanPage() {
    tsScan = new QWidget;
    lvBrowser = new QTreeWidget(tsScan);
    lvBrowser->setColumnCount(2);
    lvBrowser->setHeaderLabels({N_("Path"), N_("Description")});
    lvBrowser->setHeaderHidden(true);
    lvBrowser->setRootIsDecorated(false);
    // "Path" takes the width left over, "Description" stays 250 wide.
    lvBrowser->header()->setStretchLastSection(false);
    lvBrowser->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    lvBrowser->header()->setSectionResizeMode(1, QHeaderView::Fixed);
    lvBrowser->header()->resizeSection(1, 250);
    connect(lvBrowser, &QTreeWidget::itemDoubleClicked, this,
            Guarded([this] { lvBrowserDblClick(); }));
    // Files and folders dropped from a file manager become ticked rows, as the pickers add them.
    lvBrowser->setAcceptDrops(true);
    lvBrowser->viewport()->setAcceptDrops(true);
    lvBrowser->setDragDropMode(QAbstractItemView::DropOnly);
    lvBrowser->viewport()->installEventFilter(this);
    lvScanner = new QTreeWidget(tsScan);
    lvScanner->setColumnCount(2);
    lvScanner->setHeaderLabels({N_("Virus"), N_("Information")});
    lvScanner->header()->setStretchLastSection(false);
    lvScanner->setColumnWidth(0, 200);
    lvScanner->setColumnWidth(1, 350);
    lvScanner->setRootIsDecorated(false);
    // Rows of one line each: the view need not measure every row again as rows arrive.
    lvScanner->setUniformRowHeights(true);

    Button1 = new QPushButton(tsScan);
    Button1->setFixedSize(120, 26);
    // Qt 6.4 binds no action to a push button: keep caption and state in step by hand.
    auto Mirror = [this] {
        Button1->setText(actDeleteViruses->text());
        Button1->setEnabled(actDeleteViruses->isEnabled());
    };
    connect(actDeleteViruses, &QAction::changed, this, Mirror);
    connect(Button1, &QPushButton::clicked, actDeleteViruses, &QAction::trigger);
    Mirror();
    Label1 = new QLabel(N_("Time passed:"), tsScan);
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblScanTime = new QLabel(QStringLiteral("00:00:00:000"), tsScan);
    lblScanTime->setProperty(NoTranslateProperty, true); // a time: a language switch keeps it
    // The target list 185 high at the top, the result list down to a 40-pixel band that holds
    // Delete Viruses at the bottom-left corner and the time at the bottom-right one.
    PlaceOnResize(tsScan, [this](const QSize& Size) {
        lvBrowser->setGeometry(0, 0, Size.width(), 185);
        lvScanner->setGeometry(0, 185, Size.width(), std::max(0, Size.height() - 185 - 40));
        Button1->move(5, Size.height() - 7 - Button1->height());
        const QSize Time = lblScanTime->sizeHint();
        lblScanTime->setGeometry(Size.width() - 9 - Time.width(),
                                 Size.height() - 16 - Time.height(), Time.width(), Time.height());
        const int Left = Button1->geometry().right() + 1;
        Label1->setGeometry(Left, lblScanTime->y(), std::max(0, lblScanTime->x() - 9 - Left),
                            Time.height());
    });
    FScanDisplayTimer = new QTimer(this);
    FScanDisplayTimer->setObjectName(QStringLiteral("ScanDisplayTimer"));
    FScanDisplayTimer->setSingleShot(true);
    FScanDisplayTimer->setInterval(ScanDisplayInterval);
    connect(FScanDisplayTimer, &QTimer::timeout, this, &TfrmClamAV::ShowScanState);
    PageControl->addTab(tsScan, N_("Virus Scan"));
}

void TfrmClamAV::AddDriveRows() {
    for (const QString& Drive : harkavel::GetLogicalDrives())
        AddTargetRow(Drive, false);
}

void TfrmClamAV::AddTargetRow(const QString& Path, bool Ticked) {
    static QFileIconProvider Shell;
    const QFileInfo Info(QFile::decodeName(PathToNative(Path)));
    auto* Row = new QTreeWidgetItem(lvBrowser);
    Row->setText(0, Path);
    Row->setText(1, Shell.type(Info).left(80));
    Row->setIcon(0, Shell.icon(Info));
    Row->setFlags(Row->flags() | Qt::ItemIsUserCheckable);
    Row->setCheckState(0, Ticked ? Qt::Checked : Qt::Unchecked);
}

void TfrmClamAV::UpdateDeleteVirusesState() {
    actDeleteViruses->setEnabled(!FInfectedFiles.isEmpty());
}

void TfrmClamAV::actAddFolderExecute() {
    QFileDialog Picker(this, Translate("Select folder"), QStringLiteral("/"));
    Picker.setFileMode(QFileDialog::Directory); // a typed name must be an existing folder
    // The same picker everywhere; read-only, so it cannot create, rename or delete folders.
    Picker.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog |
                      QFileDialog::ReadOnly);
    if (auto* NewFolder = Picker.findChild<QWidget*>(QStringLiteral("newFolderButton")))
        NewFolder->hide();
    QList<QUrl> Drives; // the places start at the drives
    for (const QString& Drive : harkavel::GetLogicalDrives())
        Drives << QUrl::fromLocalFile(Drive);
    Picker.setSidebarUrls(Drives);
    if (Picker.exec() != QDialog::Accepted || Picker.selectedFiles().isEmpty())
        return;
    AddTargetRow(Picker.selectedFiles().first());
}

void TfrmClamAV::actAddFileExecute() {
    QFileDialog Picker(this, Translate("Select file(s)"));
    Picker.setFileMode(QFileDialog::ExistingFiles); // several, each of which must exist
    Picker.setNameFilter(Translate("All files (*)"));
    Picker.setFilter(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    Picker.setOptions(QFileDialog::ReadOnly | QFileDialog::DontUseNativeDialog);
    // Once it is shown, the focus goes to the list of files rather than the name box.
    QMetaObject::invokeMethod(
        &Picker,
        [&Picker] {
            for (auto* View : Picker.findChildren<QAbstractItemView*>())
                if (View->isVisible() && View->objectName() != u"sidebar")
                    View->setFocus();
        },
        Qt::QueuedConnection);
    if (Picker.exec() != QDialog::Accepted)
        return;
    for (const QString& File : Picker.selectedFiles())
        AddTargetRow(File);
}

void TfrmClamAV::lvBrowserDblClick() {
    if (QTreeWidgetItem* Row = lvBrowser->currentItem())
        Row->setCheckState(0, Row->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void TfrmClamAV::actStartScanExecute() {
    QStringList Targets;
    FInfectedFiles.clear();
    for (int I = 0; I < lvBrowser->topLevelItemCount(); ++I)
        if (lvBrowser->topLevelItem(I)->checkState(0) == Qt::Checked)
            Targets << lvBrowser->topLevelItem(I)->text(0);
    if (Targets.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("Harkavel"),
                                 Translate("You must select at least one file or folder to be "
                                           "scanned."));
        return;
    }
    lvScanner->clear();
    SwapAction(tbiStartScan, actStopScan);
    FVirusScanner = new TVirusScanner(true, Targets);
    FVirusScanner->OnVirusFound = [this](TVirusScanner* Sender, const QString& Path,
                                         const QString& Name) {
        RunGuarded([&] { ScannerVirusFound(Path, Name, Sender->FoundFile()); });
    };
    FVirusScanner->OnProgress = [this](TVirusScanner*, const QString& Path) {
        RunGuarded([&] { ScannerProgress(Path); });
    };
    FVirusScanner->OnError = [this](TVirusScanner*, const QString& Path, const QString& Text) {
        RunGuarded([&] { ScannerError(Path, Text); });
    };
    FVirusScanner->OnLoadProgress = [this](TVirusScanner*, int Percent) {
        RunGuarded([&] { ScannerLoadProgress(Percent); });
    };
    FVirusScanner->OnTerminate = [this](TThread* Sender) {
        RunGuarded([&] { ScannerTerminate(static_cast<TVirusScanner*>(Sender)); });
    };
    FScanStartTime = QDateTime::currentDateTime();
    FLastEventTime = FScanStartTime.toMSecsSinceEpoch(); // a scan without events took no time
    // The first scan loads the engine, which with the full public databases takes many
    // seconds without a single event; the first progress event replaces this text.
    if (!EngineLoaded())
        StatusPanel1->setText(Translate("Loading signature databases..."));
    FVirusScanner->QuarantineFolder = FQuarantine.Folder();
    FVirusScanner->Start();
}

void TfrmClamAV::actStopScanExecute() {
    if (FVirusScanner != nullptr)
        FVirusScanner->Stop();
}

void TfrmClamAV::ScannerLoadProgress(int Percent) {
    StatusPanel1->setText(Translate("Loading signature databases...") +
                          QStringLiteral(" %1%").arg(Percent));
}

void TfrmClamAV::ScannerProgress(const QString& Path) {
    FProgressPath = Path;
    ScheduleScanDisplay();
}

void TfrmClamAV::AddResultRow(const QString& Caption, const QString& Information,
                              const QIcon& Image) {
    lvScanner->setUpdatesEnabled(false); // until ShowScanState
    auto* Row = new QTreeWidgetItem(lvScanner, {Caption, Information});
    Row->setIcon(0, Image);
    ScheduleScanDisplay();
}

void TfrmClamAV::ScannerVirusFound(const QString& Path, const QString& VirusName,
                                   const TFileStamp& File) {
    static const QIcon VirusImage(QStringLiteral(":/images/virus.png"));
    FInfectedFiles << TFoundFile{Path, File, VirusName};
    AddResultRow(VirusName, Path, VirusImage);
}

void TfrmClamAV::ScannerError(const QString& Path, const QString& ErrorText) {
    static const QIcon ErrorImage(QStringLiteral(":/images/error.png"));
    // The engine's texts have no translation and stay as they are; the scanner's own have.
    AddResultRow(Path, Translate("Error: ") + Translate(ErrorText), ErrorImage);
}

void TfrmClamAV::ScannerTerminate(TVirusScanner* Scanner) {
    if (FDestroying)
        return;
    ShowScanState(); // the last path and time, before they are replaced
    StatusPanel1->setText(Translate("Scan finished"));
    FillQuarantineList(); // the scan may have rechecked items with newer signatures
    // The thread is still inside this handler: it is destroyed when message 1125 is handled.
    QCoreApplication::postEvent(this, new TFreeScannerEvent(Scanner));
    FVirusScanner = nullptr;
    SwapAction(tbiStartScan, actStartScan);
    UpdateDeleteVirusesState();
}

void TfrmClamAV::actDeleteVirusesExecute() {
    // A running scan keeps adding finds while the message boxes below wait for the user: only
    // what is listed now is deleted and taken off the list.
    const qsizetype Files = FInfectedFiles.size();
    const int Rows = lvScanner->topLevelItemCount();
    if (QMessageBox::question(this, QStringLiteral("Harkavel"),
                              Translate("Are you sure you want to delete all virus infected "
                                        "files?"),
                              QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    const QString Problems = RemoveInfectedFiles(FInfectedFiles.mid(0, Files));
    if (!Problems.isEmpty())
        QMessageBox::information(this, QStringLiteral("Harkavel"), Problems);
    for (int Row = 0; Row < Rows; ++Row)
        delete lvScanner->takeTopLevelItem(0);
    FInfectedFiles.remove(0, Files);
    UpdateDeleteVirusesState();
}

namespace {

// A list of paths for a message: the first few, one a line.
QString PathLines(const QStringList& Paths) {
    constexpr qsizetype Shown = 10;
    QStringList Lines = Paths.mid(0, Shown);
    if (Paths.size() > Shown)
        Lines << QStringLiteral("...");
    return Lines.join(u'\n');
}

// Paragraphs of one message, each a text and the paths it speaks of.
void AddParagraph(QString& Message, const QString& Text, const QStringList& Paths) {
    if (Text.isEmpty())
        return;
    if (!Message.isEmpty())
        Message += QStringLiteral("\n\n");
    Message += Paths.isEmpty() ? Text : Text + u'\n' + PathLines(Paths);
}

} // namespace

// Removes each find that is still the file the engine judged. Returns the one message that
// tells what could not be done (empty when everything went): files that may go later are
// noted for the next start, as the platform has no deletion at restart; files this user may
// never remove, and paths that hold another file by now, are named and left alone.
QString TfrmClamAV::RemoveInfectedFiles(const QList<TFoundFile>& Files) {
    bool Passing = false, Noted = true;
    QStringList Lasting, Changed;
    int Moved = 0;
    const cl_engine* Engine = TClamDatabase::Instance()->Engine();
    const int64_t Version = Engine ? EngineDatabaseVersion(Engine) : 0;
    QList<TFileStamp> Taken; // a file listed twice (ticked twice, or by a link) goes once
    for (const TFoundFile& File : Files) {
        if (Taken.contains(File.Stamp))
            continue;
        switch (FQuarantine.Add(File.Path, File.Stamp, File.VirusName, Version)) {
        case TRemoval::Removed:
            Taken << File.Stamp;
            ++Moved;
            break;
        case TRemoval::Changed:
            Changed << File.Path;
            break;
        case TRemoval::Passing:
            Passing = true;
            Noted &= ScheduleDeleteOnRestart(PendingDeletesFile(), File.Path, File.Stamp);
            break;
        case TRemoval::Lasting:
            Lasting << File.Path;
            break;
        }
    }
    if (Moved > 0)
        StatusPanel1->setText(Translate("Files moved to the quarantine: %1").arg(Moved));
    FillQuarantineList();
    QString Message;
    if (Passing)
        AddParagraph(Message,
                     Noted ? Translate("Some files can not be deleted right now. Harkavel will "
                                       "try again the next time it starts.")
                           : Translate("Some files can not be deleted right now, and Harkavel "
                                       "could not note them to try again."),
                     {});
    if (!Lasting.isEmpty())
        AddParagraph(Message, Translate("You may not delete these files:"), Lasting);
    if (!Changed.isEmpty())
        AddParagraph(Message,
                     Translate("These files have changed since the scan and were not deleted:"),
                     Changed);
    return Message;
}

void TfrmClamAV::DeleteFilesNotedEarlier() {
    // They go into the quarantine, as Delete Viruses would have put them.
    const TScheduledDeletes Done = DeleteScheduledFiles(
        PendingDeletesFile(), [this](const QString& Path, const TFileStamp& Stamp) {
            return FQuarantine.Add(Path, Stamp, QString(), 0);
        });
    FillQuarantineList();
    if (Done.Refused.isEmpty())
        return;
    QString Message;
    AddParagraph(Message,
                 Translate("Harkavel could not delete these files, noted at an earlier run, and "
                           "will not try again:"),
                 Done.Refused);
    QMessageBox::information(this, QStringLiteral("Harkavel"), Message);
}

void TfrmClamAV::ScanPageCloseStep() {
    if (FVirusScanner == nullptr)
        return;
    TVirusScanner* Scanner = FVirusScanner;
    Scanner->Stop();
    Scanner->WaitFor(); // serves the scanner's events and its termination handler meanwhile
}

void TfrmClamAV::WMFreeScanner(QEvent* Message) {
    try {
        static_cast<TFreeScannerEvent*>(Message)->Scanner.reset();
    } catch (...) {
        // An error while destroying the ended scanner is ignored.
    }
}

// Drops on the target list (the list's viewport receives them).
bool TfrmClamAV::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched != lvBrowser->viewport())
        return QMainWindow::eventFilter(Watched, Event);
    switch (Event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* Drag = static_cast<QDropEvent*>(Event);
        if (!DroppedPaths(Drag->mimeData()).isEmpty()) {
            Drag->setDropAction(Qt::CopyAction);
            Drag->accept();
        } else {
            Drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* Drop = static_cast<QDropEvent*>(Event);
        RunGuarded([&] {
            for (const QString& Path : DroppedPaths(Drop->mimeData()))
                AddTargetRow(Path);
        });
        Drop->setDropAction(Qt::CopyAction);
        Drop->accept();
        return true;
    }
    default:
        return false;
    }
}

// The local files and folders a drop carries, in the order dropped.
QStringList TfrmClamAV::DroppedPaths(const QMimeData* Data) {
    QStringList Paths;
    if (Data == nullptr)
        return Paths;
    for (const QUrl& Url : Data->urls())
        if (Url.isLocalFile())
            Paths << PathFromNative(QFile::encodeName(Url.toLocalFile()));
    return Paths;
}
