// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "WindowParts.h"

namespace support {
namespace {

template <class T> T* Part(const QWidget& Window, const char* Name) {
    T* Found = Window.findChild<T*>(QString::fromLatin1(Name));
    if (Found == nullptr)
        qFatal("the window has no part named %s", Name);
    return Found;
}

} // namespace

TWindowParts::TWindowParts(const QWidget& Window)
    : tbiStartScan(Part<QToolButton>(Window, "tbiStartScan")),
      ToolButton1(Part<QToolButton>(Window, "ToolButton1")),
      ToolButton2(Part<QToolButton>(Window, "ToolButton2")),
      tbiStartUpdate(Part<QToolButton>(Window, "tbiStartUpdate")),
      ToolButton4(Part<QToolButton>(Window, "ToolButton4")), Label2(Part<QLabel>(Window, "Label2")),
      cmbLang(Part<QComboBox>(Window, "cmbLang")),
      PageControl(Part<QTabWidget>(Window, "PageControl")), tsScan(Part<QWidget>(Window, "tsScan")),
      tsUpdate(Part<QWidget>(Window, "tsUpdate")),
      lvBrowser(Part<QTreeWidget>(Window, "lvBrowser")),
      lvScanner(Part<QTreeWidget>(Window, "lvScanner")),
      Button1(Part<QPushButton>(Window, "Button1")), Label1(Part<QLabel>(Window, "Label1")),
      lblScanTime(Part<QLabel>(Window, "lblScanTime")), Label3(Part<QLabel>(Window, "Label3")),
      lblDBName(Part<QLabel>(Window, "lblDBName")), Label7(Part<QLabel>(Window, "Label7")),
      pbDBUpdate(Part<QProgressBar>(Window, "pbDBUpdate")),
      memLog(Part<QPlainTextEdit>(Window, "memLog")),
      StatusPanel0(Part<QLabel>(Window, "StatusPanel0")),
      StatusPanel1(Part<QLabel>(Window, "StatusPanel1")),
      actStartScan(Part<QAction>(Window, "actStartScan")),
      actStopScan(Part<QAction>(Window, "actStopScan")),
      actAddFile(Part<QAction>(Window, "actAddFile")),
      actAddFolder(Part<QAction>(Window, "actAddFolder")),
      actDeleteViruses(Part<QAction>(Window, "actDeleteViruses")),
      actStartUpdate(Part<QAction>(Window, "actStartUpdate")),
      actCancelUpdate(Part<QAction>(Window, "actCancelUpdate")),
      actExit(Part<QAction>(Window, "actExit")),
      tsQuarantine(Part<QWidget>(Window, "tsQuarantine")),
      lvQuarantine(Part<QTreeWidget>(Window, "lvQuarantine")),
      lblQuarantine(Part<QLabel>(Window, "lblQuarantine")),
      btnRestore(Part<QPushButton>(Window, "btnRestore")),
      btnDeleteForGood(Part<QPushButton>(Window, "btnDeleteForGood")) {}

bool ScanRuns(const QWidget& Window) {
    const TWindowParts Parts(Window);
    return Parts.tbiStartScan->defaultAction() == Parts.actStopScan;
}

bool UpdateRuns(const QWidget& Window) {
    const TWindowParts Parts(Window);
    return Parts.tbiStartUpdate->defaultAction() == Parts.actCancelUpdate;
}

QStringList InfectedFiles(const QWidget& Window) {
    const QTreeWidget* Results = TWindowParts(Window).lvScanner;
    QStringList Files;
    for (int I = 0; I < Results->topLevelItemCount(); ++I)
        if (!Results->topLevelItem(I)->text(1).startsWith(QLatin1String("Error: ")))
            Files << Results->topLevelItem(I)->text(1);
    return Files;
}

} // namespace support
