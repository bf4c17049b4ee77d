// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The one window of the program: the tool bar, the language strip, the "Virus Scan" and
// "Update" pages and the status bar, the action rules, and the scan page's behaviour.
// Everything here runs on the main thread; the scanner thread reaches the window only through
// its events, which run on the main thread.

#include "platform/FileSystem.h"
#include "platform/Interfaces.h"
#include "platform/Quarantine.h"
#include "settings/GnuGetText.h"
#include "update/uFreshClam.h"

#include <QDateTime>
#include <QMainWindow>
#include <QStringList>
#include <cstdint>
#include <functional>

class QAction;
class QComboBox;
class QFontMetrics;
class QIcon;
class QLabel;
class QMimeData;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class QToolButton;
class QTreeWidget;
class TVirusScanner;

// Private messages the window posts to itself. In the program's namespace, and WM_USER only
// where windows.h has not defined it already (as the same 1024).
namespace harkavel {
#ifndef WM_USER
inline constexpr int WM_USER = 1024;
#endif
inline constexpr int WM_FREE_SCANNER = WM_USER + 101;    // 1125: destroy an ended scanner
inline constexpr int WM_UPDATE_PROGRESS = WM_USER + 102; // 1126: an update progress report
} // namespace harkavel

// The main window, recorded once when it is created, before any worker thread exists: the only
// object that code on worker threads posts to (the update thread's progress reports).
extern QObject* MainWindowHandle;

// One progress report of an update, posted with message 1126 and owned by the window from then
// on. Texts are length-prefixed short strings in the system's narrow encoding (UTF-8 here), cut
// to whole characters within 255 bytes; Percent is little-endian.
struct TUpdateProgressRecord {
    uint8_t FileName[256];
    uint8_t JournalText[256];
    uint8_t Percent[4];

    void SetFileName(const QString& Text);
    void SetJournalText(const QString& Text);
    void SetPercent(int32_t Value);
    QString GetFileName() const;
    QString GetJournalText() const;
    int32_t GetPercent() const;
};
static_assert(sizeof(TUpdateProgressRecord) == 516);

// The journal's line after an update that installed a database: the engine loaded at the first
// scan keeps its signatures for the whole run of the program.
inline constexpr const char* RestartNotice =
    N_("Scans keep using the old signatures until Harkavel is started again.");

class TfrmClamAV : public QMainWindow {
    Q_OBJECT
public:
    TfrmClamAV();
    ~TfrmClamAV() override;

    // "...": leading folders replaced until the path fits Width pixels in Metrics' font.
    static QString ShortenPathToWidth(const QString& Path, int Width, const QFontMetrics& Metrics);
    // A ticked row of the target list, as Add Folder and Add File add them.
    void AddTargetRow(const QString& Path, bool Ticked = true);
    void UpdateDeleteVirusesState();
    // At start, once the window shows: deletes the files an earlier run noted, and tells the
    // user about those that will never be deleted, once.
    void DeleteFilesNotedEarlier();
    // The language selector: one entry per language, the current one selected.
    void FillLanguageSelector(const QStringList& Names, const QStringList& Codes);
    static int FlagImageIndex(const QString& Code); // 0 United States, 1 Spain, -1 none

    // The update page's progress handler, on the update thread: it reads nothing of the window
    // but MainWindowHandle and hands the report over in a record it posts.
    static void FreshClamProgress(void* Sender, const QString& JournalText, const QString& FileName,
                                  int32_t Percent);
    // The update page's termination handler; main thread only.
    void FreshClamTerminate(IFreshClam* Sender);

protected:
    void closeEvent(QCloseEvent* Event) override;
    void showEvent(QShowEvent* Event) override; // the first show centres the window
    bool event(QEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override; // drops on the target list

private:
    // The widgets and actions, named as in the layout (NameParts); tests find them by name.
    QToolButton *tbiStartScan, *ToolButton1, *ToolButton2, *tbiStartUpdate, *ToolButton4;
    QLabel* Label2;
    QComboBox* cmbLang;
    QTabWidget* PageControl;
    QWidget *tsScan, *tsUpdate, *tsQuarantine;
    QTreeWidget *lvBrowser, *lvScanner, *lvQuarantine;
    QLabel* lblQuarantine;
    QPushButton *btnRestore, *btnDeleteForGood;
    QPushButton* Button1;
    QLabel *Label1, *lblScanTime, *Label3, *lblDBName, *Label7;
    QProgressBar* pbDBUpdate;
    QPlainTextEdit* memLog;
    QLabel *StatusPanel0, *StatusPanel1;
    QAction *actStartScan, *actStopScan, *actAddFile, *actAddFolder, *actDeleteViruses,
        *actStartUpdate, *actCancelUpdate, *actExit;

    // The finds, each with the stamp of the very file the engine judged: Delete Viruses
    // removes that file and no other that takes its path later.
    struct TFoundFile {
        QString Path;
        TFileStamp Stamp;
        QString VirusName;
    };
    QList<TFoundFile> FInfectedFiles;
    TVirusScanner* FVirusScanner = nullptr;
    QDateTime FScanStartTime;
    TQuarantine FQuarantine;              // where Delete Viruses puts the finds
    TInterfacePtr<IFreshClam> FFreshClam; // the service of the running update
    bool FUpdating = false;               // reports and "Done." are shown only while it is set

    void NameParts();
    void CreateActions();
    void CreateToolBar();
    QWidget* CreateLanguageStrip();
    void CreateScanPage();
    void CreateUpdatePage();     // MainUpdatePage.cpp
    void CreateQuarantinePage(); // MainQuarantinePage.cpp, as the four below
    void TidyQuarantine();
    void FillQuarantineList();
    void QuarantinePageShown();
    void RestoreSelectedItems();
    void DeleteSelectedItems();
    void CreateStatusBar();
    void AddDriveRows();
    void PageControlChange();
    static void SwapAction(QToolButton* Button, QAction* Action);

    void actAddFolderExecute();
    void actAddFileExecute();
    void lvBrowserDblClick();
    static QStringList DroppedPaths(const QMimeData* Data);
    void actStartScanExecute();
    void actStopScanExecute();
    void actDeleteVirusesExecute();
    void ScannerProgress(const QString& Path);
    void ScannerLoadProgress(int Percent);
    void ScheduleScanDisplay();
    void ShowScanState();
    void AddResultRow(const QString& Caption, const QString& Information, const QIcon& Image);
    void ScannerVirusFound(const QString& Path, const QString& VirusName, const TFileStamp& File);
    QString RemoveInfectedFiles(const QList<TFoundFile>& Files);
    void ScannerError(const QString& Path, const QString& ErrorText);
    void ScannerTerminate(TVirusScanner* Scanner);
    void UpdateElapsedTime();
    void ScanPageCloseStep();
    // The update page (MainUpdatePage.cpp), all on the main thread.
    void actStartUpdateExecute();
    void actCancelUpdateExecute();
    void WMUpdateProgress(QEvent* Message); // message 1126, which owns its record
    void WMFreeScanner(QEvent* Message);    // message 1125, which owns the ended scanner
    void UpdatePageCloseStep();
    void TranslateWindow();
    void cmbLangChange();
    void ShowEngineVersion();

    TComponentTranslation FTranslation;

    bool FDestroying = false;
    bool FShown = false;
    // The state of a running scan not shown yet (see ScheduleScanDisplay).
    QString FProgressPath;               // the latest file reported, until shown
    QTimer* FScanDisplayTimer = nullptr; // runs while a display of the scan is due
    qint64 FLastEventTime = 0;           // ms since the epoch, of the latest scanner event
    bool FDatabaseInstalled = false;     // the running update has installed a database
};

namespace testing {
// Test seam: makes the service the next Start Update uses (an empty one: a new TFreshClam).
void SetFreshClamFactory(std::function<IFreshClam*()> Factory);
} // namespace testing
