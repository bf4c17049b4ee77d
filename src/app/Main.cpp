#include "Main.h"
#include "Anchors.h"
#include "Harkavel.h"

#include "engine/LibClamAV.h"
#include "engine/uVirusScanner.h"
#include "platform/DeleteOnRestart.h"
#include "platform/Drives.h"
#include "platform/FileSystem.h"
#include "platform/NativePath.h"
#include "settings/GTLanguageList.h"
#include "settings/GetTextIgnores.h"
#include "settings/GnuGetText.h"
#include "settings/Options.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>

namespace {

constexpr int StatusPanel1Width = 200;   // the configured width, used to shorten paths
constexpr int ScanDisplayInterval = 100; // ms between two displays of a running scan

// Message 1125: carries the ended scanner and owns it, so an event Qt drops at exit still
// frees it.
class TFreeScannerEvent : public QEvent {
public:
    explicit TFreeScannerEvent(TVirusScanner* Scanner)
        : QEvent(QEvent::Type(WM_FREE_SCANNER)), Scanner(Scanner) {}
    std::unique_ptr<TVirusScanner> Scanner;
};

QString DropFirstDirectory(QString Folder) {
    if (Folder == QStringView(u"/"))
        return QString();
    const bool Rooted = Folder.startsWith(PathDelimiter);
    if (Rooted)
        Folder.remove(0, 1);
    if (Folder.startsWith(u'.'))
        Folder.remove(0, 4); // an earlier ".../"
    const qsizetype First = Folder.indexOf(PathDelimiter);
    Folder = First < 0 ? QString() : QStringLiteral(".../") + Folder.mid(First + 1);
    return Rooted ? PathDelimiter + Folder : Folder;
}

// The locale's time separator, from its short time format ("HH:mm" gives ":").
QString TimeSeparator() {
    const QString Format = QLocale().timeFormat(QLocale::ShortFormat);
    for (QChar C : Format)
        if (!C.isLetter() && !C.isSpace())
            return QString(C);
    return QStringLiteral(":");
}

QAction* NewAction(QObject* Owner, const QString& Caption, const QString& Hint, const char* Image) {
    auto* Action = new QAction(
        QIcon(QStringLiteral(":/images/") + QLatin1String(Image) + QStringLiteral(".png")), Caption,
        Owner);
    Action->setToolTip(Hint);
    return Action;
}

// A tool button shows its caption without the accelerator letter, and does not answer to it:
// the action's letter becomes its shortcut, which works while a button shows the action.
void FollowAccelerator(QAction* Action) {
    const auto Follow = [Action] {
        const QKeySequence Key = QKeySequence::mnemonic(Action->text());
        if (Action->shortcut() != Key)
            Action->setShortcut(Key);
    };
    QObject::connect(Action, &QAction::changed, Action, Follow); // also after retranslation
    Follow();
}

} // namespace

QObject* MainWindowHandle = nullptr;

TfrmClamAV::TfrmClamAV() {
    Q_INIT_RESOURCE(harkavel); // the images live in a static library
    MainWindowHandle = this;   // before any worker thread exists
    setWindowTitle(N_("Harkavel"));
    setWindowIcon(QIcon(QStringLiteral(":/images/harkavel.png")));
    resize(588, 543);
    CreateActions();
    CreateToolBar();
    PageControl = new QTabWidget;
    CreateScanPage();
    CreateUpdatePage();
    CreateStatusBar();

    auto* Central = new QWidget;
    auto* Layout = new QVBoxLayout(Central);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->addWidget(CreateLanguageStrip());
    Layout->addWidget(PageControl);
    setCentralWidget(Central);

    TranslateWindow();
    FillLanguageSelector(LanguageList().Names, LanguageList().Codes);
    connect(cmbLang, &QComboBox::activated, this, Guarded([this] { cmbLangChange(); }));
    AddDriveRows();
    UpdateDeleteVirusesState();
    connect(PageControl, &QTabWidget::currentChanged, this,
            Guarded([this] { PageControlChange(); }));
    PageControlChange();
}

void TfrmClamAV::ShowEngineVersion() {
    // The linked engine's own version, not the version the panel once named.
    StatusPanel0->setText(Translate("ClamAV Engine Version ") + EngineVersion());
    StatusPanel0->setMinimumWidth(
        std::max(170, StatusPanel0->fontMetrics().horizontalAdvance(StatusPanel0->text()) + 8));
}

void TfrmClamAV::TranslateWindow() {
    // Tool buttons and the push button show their actions' texts; the selector shows names.
    for (QWidget* Mirror : std::initializer_list<QWidget*>{
             tbiStartScan, ToolButton1, ToolButton2, tbiStartUpdate, ToolButton4, Button1, cmbLang})
        Mirror->setProperty(NoTranslateProperty, true);
    FTranslation.TranslateComponent(this);
    for (int I = 0; I < PageControl->count(); ++I)
        FTranslation.Add(PageControl, PageControl->tabText(I),
                         [this, I](const QString& Text) { PageControl->setTabText(I, Text); });
    for (QTreeWidget* List : {lvBrowser, lvScanner})
        for (int I = 0; I < List->columnCount(); ++I)
            FTranslation.Add(List, List->headerItem()->text(I), [List, I](const QString& Text) {
                List->headerItem()->setText(I, Text);
            });
}

int TfrmClamAV::FlagImageIndex(const QString& Code) {
    if (Code.contains(QLatin1String("en")))
        return 0;
    return Code.contains(QLatin1String("es")) ? 1 : -1;
}

void TfrmClamAV::FillLanguageSelector(const QStringList& Names, const QStringList& Codes) {
    cmbLang->clear();
    const QIcon Flags[] = {QIcon(QStringLiteral(":/flags/us.png")),
                           QIcon(QStringLiteral(":/flags/es.png"))};
    for (qsizetype I = 0; I < Names.size(); ++I) {
        const int Flag = FlagImageIndex(Codes[I]);
        cmbLang->addItem(Flag < 0 ? QIcon() : Flags[Flag], Names[I], Codes[I]);
    }
    cmbLang->setCurrentIndex(int(Codes.indexOf(CurrentLanguage())));
}

void TfrmClamAV::cmbLangChange() {
    const QString Code = cmbLang->currentData().toString();
    GetOptions().Language = Code; // written at program end
    SetCurrentLanguage(Code);
    FTranslation.RetranslateComponent();
    ShowEngineVersion();
}

TfrmClamAV::~TfrmClamAV() {
    UpdatePageCloseStep(); // waits for a running update, whose end still shows in the window
    FDestroying = true;
    if (FVirusScanner != nullptr) {
        FVirusScanner->Stop();
        FVirusScanner->WaitFor();
        delete FVirusScanner;
    }
    if (MainWindowHandle == this)
        MainWindowHandle = nullptr;
}

void TfrmClamAV::CreateActions() {
    actStartScan = NewAction(this, N_("&Start Scan"), N_("Start Scan"), "scan");
    actStopScan = NewAction(this, N_("Stop Scan"), N_("Stop Scan"), "stop");
    actAddFile = NewAction(this, N_("Add &File"), N_("Add File"), "add");
    actAddFolder = NewAction(this, N_("Add Fol&der"), N_("Add Folder"), "folder");
    actDeleteViruses = NewAction(this, N_("Delete &Viruses"), QString(), "delete");
    actStartUpdate = NewAction(this, N_("Start &Update"), N_("Start Update"), "update");
    actCancelUpdate = NewAction(this, N_("Cancel Update"), N_("Cancel Update"), "add");
    actExit = NewAction(this, N_("Exit"), N_("Exit"), "exit");
    for (QAction* Action : {actStartScan, actAddFile, actAddFolder, actStartUpdate})
        FollowAccelerator(Action);
    actExit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
    actExit->setShortcutContext(Qt::WindowShortcut);
    addAction(actExit); // Alt+X from whichever control has the focus
    connect(actStartScan, &QAction::triggered, this, Guarded([this] { actStartScanExecute(); }));
    connect(actStopScan, &QAction::triggered, this, Guarded([this] { actStopScanExecute(); }));
    connect(actAddFile, &QAction::triggered, this, Guarded([this] { actAddFileExecute(); }));
    connect(actAddFolder, &QAction::triggered, this, Guarded([this] { actAddFolderExecute(); }));
    connect(actDeleteViruses, &QAction::triggered, this,
            Guarded([this] { actDeleteVirusesExecute(); }));
    connect(actExit, &QAction::triggered, this, &QWidget::close);
}

void TfrmClamAV::CreateToolBar() {
    auto* ToolBar1 = new QToolBar;
    ToolBar1->setMovable(false);
    ToolBar1->setIconSize(QSize(32, 32));
    auto Button = [ToolBar1](QAction* Action) {
        auto* Tool = new QToolButton;
        Tool->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        // 69 × 52 at the design's 8-point font; a wider font widens a caption that would not
        // fit, rather than cutting it short.
        Tool->setMinimumWidth(69);
        Tool->setFixedHeight(52);
        Tool->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        Tool->setIconSize(QSize(32, 32));
        Tool->setDefaultAction(Action);
        ToolBar1->addWidget(Tool);
        return Tool;
    };
    tbiStartScan = Button(actStartScan);
    ToolButton1 = Button(actAddFile);
    ToolButton2 = Button(actAddFolder);
    ToolBar1->addSeparator();
    tbiStartUpdate = Button(actStartUpdate);
    ToolBar1->addSeparator();
    ToolButton4 = Button(actExit);
    addToolBar(ToolBar1);
}

QWidget* TfrmClamAV::CreateLanguageStrip() {
    auto* Panel3 = new QWidget;
    Panel3->setFixedHeight(34);
    Label2 = new QLabel(N_("&Language:"), Panel3);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignTop);
    cmbLang = new QComboBox(Panel3);
    cmbLang->setFixedSize(224, 23);
    Label2->setBuddy(cmbLang);
    // The selector 4 from the right edge and 6 from the top; the label's right edge 14 left of
    // it, 9 from the top, whatever the length of its text in the current language.
    PlaceOnResize(Panel3, [this](const QSize& Size) {
        cmbLang->move(Size.width() - 4 - cmbLang->width(), 6);
        Label2->setGeometry(0, 9, std::max(0, cmbLang->x() - 14), Label2->sizeHint().height());
    });
    return Panel3;
}

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

void TfrmClamAV::CreateStatusBar() {
    // The linked engine's own version, not the version the panel once named.
    StatusPanel0 = new QLabel;
    StatusPanel0->setProperty(NoTranslateProperty, true); // the version is no layout text
    ShowEngineVersion();
    StatusPanel1 = new QLabel(N_("Lumidore is a GNU Antivirus Scanner powered by Clam AV Engine"));
    statusBar()->addWidget(StatusPanel0);
    statusBar()->addWidget(StatusPanel1, 1);
}

void TfrmClamAV::AddDriveRows() {
    for (const QString& Drive : GetLogicalDrives())
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

void TfrmClamAV::PageControlChange() {
    const bool ScanPage = PageControl->currentWidget() == tsScan;
    actStartUpdate->setEnabled(!ScanPage);
    actStartScan->setEnabled(ScanPage);
    actAddFile->setEnabled(ScanPage);
    actAddFolder->setEnabled(ScanPage);
}

void TfrmClamAV::SwapAction(QToolButton* Button, QAction* Action) {
    // setDefaultAction keeps the old action, and two actions paint a menu arrow.
    for (QAction* Old : Button->actions())
        Button->removeAction(Old);
    Button->setDefaultAction(Action);
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
    for (const QString& Drive : GetLogicalDrives())
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
    FVirusScanner->OnVirusFound = [this](TVirusScanner*, const QString& Path, const QString& Name) {
        RunGuarded([&] { ScannerVirusFound(Path, Name); });
    };
    FVirusScanner->OnProgress = [this](TVirusScanner*, const QString& Path) {
        RunGuarded([&] { ScannerProgress(Path); });
    };
    FVirusScanner->OnError = [this](TVirusScanner*, const QString& Path, const QString& Text) {
        RunGuarded([&] { ScannerError(Path, Text); });
    };
    FVirusScanner->OnTerminate = [this](TThread* Sender) {
        RunGuarded([&] { ScannerTerminate(static_cast<TVirusScanner*>(Sender)); });
    };
    FScanStartTime = QDateTime::currentDateTime();
    FVirusScanner->Start();
}

void TfrmClamAV::actStopScanExecute() {
    if (FVirusScanner != nullptr)
        FVirusScanner->Stop();
}

QString TfrmClamAV::ShortenPathToWidth(const QString& Path, int Width,
                                       const QFontMetrics& Metrics) {
    const qsizetype Last = Path.lastIndexOf(PathDelimiter);
    QString Folder = Path.left(Last + 1);
    const QString Name = Path.mid(Last + 1);
    QString Result = Path;
    while (!Folder.isEmpty() && Metrics.horizontalAdvance(Result) > Width) {
        if (Folder == u"/.../")
            Folder = QStringLiteral(".../");
        else
            Folder = DropFirstDirectory(Folder);
        Result = Folder + Name;
    }
    return Result;
}

void TfrmClamAV::UpdateElapsedTime() {
    const qint64 Elapsed = (FLastEventTime - FScanStartTime.toMSecsSinceEpoch()) % 86400000;
    QString Text = QTime(0, 0).addMSecs(int(Elapsed)).toString(QStringLiteral("hh:mm:ss:zzz"));
    lblScanTime->setText(Text.replace(u':', TimeSeparator()));
}

// A scan of small files reports thousands of files a second, more than anybody can read, and
// painting the status text and the result list for each batch of them slowed such a scan by a
// fifth. So the handlers change the window's state at once but show it a few times a second:
// the status text, the elapsed time and the result list are painted by ShowScanState.
void TfrmClamAV::ScheduleScanDisplay() {
    FLastEventTime = QDateTime::currentMSecsSinceEpoch();
    if (!FScanDisplayTimer->isActive())
        FScanDisplayTimer->start();
}

void TfrmClamAV::ShowScanState() {
    FScanDisplayTimer->stop(); // shown now: before "Scan finished" nothing is shown late
    if (!FProgressPath.isEmpty()) {
        const int Width = statusBar()->width() - StatusPanel1Width;
        StatusPanel1->setText(Translate("Scanning: ") +
                              ShortenPathToWidth(FProgressPath, Width, statusBar()->fontMetrics()));
        FProgressPath.clear();
    }
    UpdateElapsedTime();
    lvScanner->setUpdatesEnabled(true);
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

void TfrmClamAV::ScannerVirusFound(const QString& Path, const QString& VirusName) {
    static const QIcon VirusImage(QStringLiteral(":/images/virus.png"));
    FInfectedFiles << Path;
    AddResultRow(VirusName, Path, VirusImage);
}

void TfrmClamAV::ScannerError(const QString& Path, const QString& ErrorText) {
    static const QIcon ErrorImage(QStringLiteral(":/images/error.png"));
    AddResultRow(Path, Translate("Error: ") + ErrorText, ErrorImage);
}

void TfrmClamAV::ScannerTerminate(TVirusScanner* Scanner) {
    if (FDestroying)
        return;
    ShowScanState(); // the last path and time, before they are replaced
    StatusPanel1->setText(Translate("Scan finished"));
    // The thread is still inside this handler: it is destroyed when message 1125 is handled.
    QCoreApplication::postEvent(this, new TFreeScannerEvent(Scanner));
    FVirusScanner = nullptr;
    SwapAction(tbiStartScan, actStartScan);
    UpdateDeleteVirusesState();
}

bool TfrmClamAV::event(QEvent* Event) {
    if (Event->type() == QEvent::Type(WM_UPDATE_PROGRESS)) {
        RunGuarded([&] { WMUpdateProgress(Event); });
        return true; // the event owns the record and frees it
    }
    if (Event->type() == QEvent::Type(WM_FREE_SCANNER)) {
        try {
            static_cast<TFreeScannerEvent*>(Event)->Scanner.reset();
        } catch (...) {
            // An error while destroying the ended scanner is ignored.
        }
        return true;
    }
    return QMainWindow::event(Event);
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
    bool Failed = false, Recorded = true;
    for (const QString& Path : FInfectedFiles.mid(0, Files)) {
        if (!RemoveFile(Path)) {
            Recorded &= ScheduleDeleteOnRestart(PendingDeletesFile(), Path);
            Failed = true;
        }
    }
    if (Failed)
        QMessageBox::information(
            this, QStringLiteral("Harkavel"),
            Recorded ? Translate("Some files can not be deleted right now. Harkavel will try "
                                 "again the next time it starts.")
                     : Translate("Some files can not be deleted right now, and Harkavel could "
                                 "not note them to try again."));
    for (int Row = 0; Row < Rows; ++Row)
        delete lvScanner->takeTopLevelItem(0);
    FInfectedFiles.remove(0, Files);
    UpdateDeleteVirusesState();
}

void TfrmClamAV::ScanPageCloseStep() {
    if (FVirusScanner == nullptr)
        return;
    TVirusScanner* Scanner = FVirusScanner;
    Scanner->Stop();
    Scanner->WaitFor(); // serves the scanner's events and its termination handler meanwhile
}

void TfrmClamAV::showEvent(QShowEvent* Event) {
    if (!std::exchange(FShown, true))
        if (const QScreen* Primary = QGuiApplication::primaryScreen()) {
            QRect Frame = frameGeometry();
            Frame.moveCenter(Primary->availableGeometry().center());
            move(Frame.topLeft());
        }
    QMainWindow::showEvent(Event);
}

void TfrmClamAV::closeEvent(QCloseEvent* Event) {
    ScanPageCloseStep();
    UpdatePageCloseStep();
    Event->accept();
}
