// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// Renders the real window into PNG files for review: Screenshots OUTPUT_FOLDER.
// The scan page after a scan of ClamAV's samples and a file the engine cannot open, the update
// page after an update from a local nginx mirror, and both pages in German and in Spanish.

#include "Main.h"
#include "platform/ProgramPath.h"
#include "settings/GnuGetText.h"
#include "support/TestMirror.h"
#include "support/TestSupport.h"
#include "support/WindowParts.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

using support::InfectedFiles;
using support::ScanRuns;
using support::W;

namespace {
void Save(QWidget& Window, const QString& Path) {
    QTest::qWait(200);
    Window.grab().save(Path);
}
} // namespace

int main(int argc, char* argv[]) {
    QApplication Application(argc, argv);
    if (argc < 2)
        return 2;
    const QString Out = QString::fromLocal8Bit(argv[1]);
    support::TTestProgramFolder ProgramFolder;
    ProgramFolder.WriteSampleDatabase();
    for (const char* Code : {"de", "es"})
        QFile::copy(QCoreApplication::applicationDirPath() + "/Harkavel" + Code + ".mo",
                    ProgramFolder.Path() + "Harkavel" + Code + ".mo");
    SetCurrentLanguage("en");
    TfrmClamAV Window;
    Window.show();
    Window.AddTargetRow(support::ClamTestFiles);
    Window.AddTargetRow(ProgramFolder.Path() + "missing-file.exe");
    QFile::link(ProgramFolder.Path() + "nowhere", ProgramFolder.Path() + "missing-file.exe");
    W(Window).actStartScan->trigger();
    QDeadlineTimer Deadline(60000);
    while (ScanRuns(Window) && !Deadline.hasExpired())
        QTest::qWait(20);
    Save(Window, Out + "/scan-page.png");
    support::TNginxMirror Mirror; // serves the genuine test database as both databases
    Mirror.Serve("daily.cvd", support::GenuineDatabase());
    Mirror.Serve("main.cvd", support::GenuineDatabase());
    qputenv("HARKAVEL_MIRROR", Mirror.Url(QString()).toUtf8());
    W(Window).PageControl->setCurrentWidget(W(Window).tsUpdate);
    W(Window).actStartUpdate->trigger();
    Deadline.setRemainingTime(60000);
    while (!W(Window).memLog->toPlainText().endsWith("Done.") && !Deadline.hasExpired())
        QTest::qWait(20);
    Save(Window, Out + "/update-page.png");
    // Both pages in each language, as a reader of that language sees them.
    for (const auto& [Code, Name] : {std::pair{"de", "german"}, std::pair{"es", "spanish"}}) {
        const int Language = W(Window).cmbLang->findData(QString::fromLatin1(Code));
        W(Window).cmbLang->setCurrentIndex(Language);
        emit W(Window).cmbLang->activated(Language);
        for (QWidget* Page : {W(Window).tsScan, W(Window).tsUpdate}) {
            W(Window).PageControl->setCurrentWidget(Page);
            const char* Shown = Page == W(Window).tsScan ? "window" : "update-page";
            Save(Window, Out + "/" + Name + "-" + Shown + ".png");
        }
    }
    return 0;
}
