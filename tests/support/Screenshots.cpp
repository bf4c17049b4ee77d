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
    W(Window).PageControl->setCurrentWidget(W(Window).tsScan);
    const int German = W(Window).cmbLang->findData("de");
    W(Window).cmbLang->setCurrentIndex(German);
    emit W(Window).cmbLang->activated(German);
    Save(Window, Out + "/german-window.png");
    W(Window).PageControl->setCurrentWidget(W(Window).tsUpdate);
    Save(Window, Out + "/german-update-page.png");
    const int Spanish = W(Window).cmbLang->findData("es");
    W(Window).cmbLang->setCurrentIndex(Spanish);
    emit W(Window).cmbLang->activated(Spanish);
    Save(Window, Out + "/spanish-update-page.png");
    W(Window).PageControl->setCurrentWidget(W(Window).tsScan);
    Save(Window, Out + "/spanish-window.png");
    return 0;
}
