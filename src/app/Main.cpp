// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The main window: its tool bar, actions and their enabled states, the status bar, its
// private messages and its start and end. The pages and the language strip have files of
// their own (MainScanPage, MainScanDisplay, MainUpdatePage, MainLanguage). Everything here
// runs on the main thread.

#include "Main.h"
#include "Anchors.h"
#include "Harkavel.h"

#include "engine/LibClamAV.h"
#include "engine/uVirusScanner.h"
#include "settings/GTLanguageList.h"
#include "settings/GetTextIgnores.h"
#include "settings/GnuGetText.h"

#include <QAction>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

namespace {

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
    CreateQuarantinePage();
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
    NameParts();
}

// Each widget and action carries the name the layout gives it, by which tests and
// accessibility tools find it.
void TfrmClamAV::NameParts() {
    const std::pair<QObject*, const char*> Parts[] = {
        {this, "frmClamAV"},
        {actStartScan, "actStartScan"},
        {actStopScan, "actStopScan"},
        {actAddFile, "actAddFile"},
        {actAddFolder, "actAddFolder"},
        {actDeleteViruses, "actDeleteViruses"},
        {actStartUpdate, "actStartUpdate"},
        {actCancelUpdate, "actCancelUpdate"},
        {actExit, "actExit"},
        {tbiStartScan, "tbiStartScan"},
        {ToolButton1, "ToolButton1"},
        {ToolButton2, "ToolButton2"},
        {tbiStartUpdate, "tbiStartUpdate"},
        {ToolButton4, "ToolButton4"},
        {Label2, "Label2"},
        {cmbLang, "cmbLang"},
        {PageControl, "PageControl"},
        {tsScan, "tsScan"},
        {tsUpdate, "tsUpdate"},
        {lvBrowser, "lvBrowser"},
        {lvScanner, "lvScanner"},
        {Button1, "Button1"},
        {Label1, "Label1"},
        {lblScanTime, "lblScanTime"},
        {Label3, "Label3"},
        {lblDBName, "lblDBName"},
        {pbDBUpdate, "pbDBUpdate"},
        {Label7, "Label7"},
        {memLog, "memLog"},
        {statusBar(), "stbStatus"},
        {StatusPanel0, "StatusPanel0"},
        {StatusPanel1, "StatusPanel1"},
        {tsQuarantine, "tsQuarantine"},
        {lvQuarantine, "lvQuarantine"},
        {lblQuarantine, "lblQuarantine"},
        {btnRestore, "btnRestore"},
        {btnDeleteForGood, "btnDeleteForGood"},
    };
    for (const auto& [Part, Name] : Parts)
        Part->setObjectName(QString::fromLatin1(Name));
}

void TfrmClamAV::ShowEngineVersion() {
    // The linked engine's own version, not the version the panel once named.
    StatusPanel0->setText(Translate("ClamAV Engine Version ") + EngineVersion());
    StatusPanel0->setMinimumWidth(
        std::max(170, StatusPanel0->fontMetrics().horizontalAdvance(StatusPanel0->text()) + 8));
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

void TfrmClamAV::CreateStatusBar() {
    // The linked engine's own version, not the version the panel once named.
    StatusPanel0 = new QLabel;
    StatusPanel0->setProperty(NoTranslateProperty, true); // the version is no layout text
    ShowEngineVersion();
    StatusPanel1 = new QLabel(N_("Lumidore is a GNU Antivirus Scanner powered by Clam AV Engine"));
    statusBar()->addWidget(StatusPanel0);
    statusBar()->addWidget(StatusPanel1, 1);
}

void TfrmClamAV::PageControlChange() {
    const bool ScanPage = PageControl->currentWidget() == tsScan;
    if (PageControl->currentWidget() == tsQuarantine)
        QuarantinePageShown();
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

bool TfrmClamAV::event(QEvent* Event) {
    if (Event->type() == QEvent::Type(harkavel::WM_UPDATE_PROGRESS)) {
        RunGuarded([&] { WMUpdateProgress(Event); });
        return true; // the event owns the record and frees it
    }
    if (Event->type() == QEvent::Type(harkavel::WM_FREE_SCANNER)) {
        WMFreeScanner(Event);
        return true; // the event owns the ended scanner
    }
    return QMainWindow::event(Event);
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
