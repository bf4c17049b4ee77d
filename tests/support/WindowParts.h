// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The main window's parts as a user and a test find them: by the names the layout gives them.
// W(Window).lvScanner finds the result list anew each time.

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

namespace support {

struct TWindowParts {
    explicit TWindowParts(const QWidget& Window);

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
    QWidget* tsQuarantine;
    QTreeWidget* lvQuarantine;
    QLabel* lblQuarantine;
    QPushButton *btnRestore, *btnDeleteForGood;
};

inline TWindowParts W(const QWidget& Window) {
    return TWindowParts(Window);
}

// What a user sees of the window's state.
bool ScanRuns(const QWidget& Window);             // the scan button shows Stop Scan
bool UpdateRuns(const QWidget& Window);           // the update button shows Cancel Update
QStringList InfectedFiles(const QWidget& Window); // the result list's virus rows, in order

} // namespace support
