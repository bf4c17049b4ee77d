// Program start. The window comes with the main window's own unit; until then the program
// reports the engine it links and its folder.

#include "engine/LibClamAV.h"
#include "engine/uClamDatabase.h"
#include "platform/ProgramPath.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char* argv[]) {
    QApplication Application(argc, argv);
    Application.setApplicationName(QStringLiteral("Harkavel"));
    QMessageBox::information(nullptr, QStringLiteral("Harkavel"),
                             QStringLiteral("ClamAV Engine Version %1\nProgram folder: %2")
                                 .arg(QString::fromUtf8(cl_retver()), ProgramFolder()));
    TClamDatabase::ReleaseInstance();
    return 0;
}
