#pragma once
// The one window of the program: the tool bar, the language strip, the "Virus Scan" and
// "Update" pages and the status bar, the action rules, and the scan page's behaviour.
// Everything here runs on the main thread; the scanner thread reaches the window only through
// its events, which run on the main thread.

#include "settings/GnuGetText.h"

#include <QDateTime>
#include <QMainWindow>
#include <QStringList>

class QAction;
class QComboBox;
class QFontMetrics;
class QIcon;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QToolButton;
class QTreeWidget;
class TVirusScanner;

// Private messages the window posts to itself.
inline constexpr int WM_USER = 1024;
inline constexpr int WM_FREE_SCANNER = WM_USER + 101;    // 1125: destroy an ended scanner
inline constexpr int WM_UPDATE_PROGRESS = WM_USER + 102; // 1126: an update progress report

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
    // The language selector: one entry per language, the current one selected.
    void FillLanguageSelector(const QStringList& Names, const QStringList& Codes);
    static int FlagImageIndex(const QString& Code); // 0 United States, 1 Spain, -1 none

    // The widgets and actions, named as in the layout; tests drive the window through them.
    QToolButton *tbiStartScan, *ToolButton1, *ToolButton2, *tbiStartUpdate, *ToolButton4;
    QLabel* Label2;
    QComboBox* cmbLang;
    QTabWidget* PageControl;
    QWidget *tsScan, *tsUpdate;
    QTreeWidget *lvBrowser, *lvScanner;
    QPushButton* Button1;
    QLabel *Label1, *lblScanTime, *Label3, *lblDBName, *Label7;
    QProgressBar* pbDBUpdate;
    QPlainTextEdit* memLog;
    QLabel *StatusPanel0, *StatusPanel1;
    QAction *actStartScan, *actStopScan, *actAddFile, *actAddFolder, *actDeleteViruses,
        *actStartUpdate, *actCancelUpdate, *actExit;

    QStringList FInfectedFiles;
    TVirusScanner* FVirusScanner = nullptr;
    QDateTime FScanStartTime;

protected:
    void closeEvent(QCloseEvent* Event) override;
    bool event(QEvent* Event) override;

private:
    void CreateActions();
    void CreateToolBar();
    void CreateScanPage();
    void CreateUpdatePage();
    void CreateStatusBar();
    void AddDriveRows();
    void PageControlChange();
    static void SwapAction(QToolButton* Button, QAction* Action);

    void actAddFolderExecute();
    void actAddFileExecute();
    void lvBrowserDblClick();
    void actStartScanExecute();
    void actStopScanExecute();
    void actDeleteVirusesExecute();
    void ScannerProgress(const QString& Path);
    void ScheduleScanDisplay();
    void ShowScanState();
    void AddResultRow(const QString& Caption, const QString& Information, const QIcon& Image);
    void ScannerVirusFound(const QString& Path, const QString& VirusName);
    void ScannerError(const QString& Path, const QString& ErrorText);
    void ScannerTerminate(TVirusScanner* Scanner);
    void UpdateElapsedTime();
    void ScanPageCloseStep();
    void TranslateWindow();
    void cmbLangChange();
    void ShowEngineVersion();

    TComponentTranslation FTranslation;

    bool FDestroying = false;
    // The state of a running scan not shown yet (see ScheduleScanDisplay).
    QString FProgressPath; // the latest file reported, until shown
    bool FScanDisplayPending = false;
    qint64 FLastEventTime = 0; // ms since the epoch, of the latest scanner event
};

// Where files that cannot be deleted now wait for the next program start.
QString PendingDeletesFile();
