// Program start. The main window comes with its own unit; until then the program runs the
// start-up steps that exist (settings, language, the translation service's message hook) and
// reports the engine it links and its folder.

#include "engine/uClamDatabase.h"
#include "platform/ProgramPath.h"
#include "settings/GnuGetText.h"
#include "settings/Options.h"

#include <QApplication>
#include <QMessageBox>
#include <clamav.h>

namespace {
// The translation service has no widgets; its "Localization problem" reaches the user here.
void ShowLocalizationProblem(const QString& Caption, const QString& Text) {
    QMetaObject::invokeMethod(qApp,
                              [Caption, Text] { QMessageBox::warning(nullptr, Caption, Text); });
}
} // namespace

int main(int argc, char* argv[]) {
    DefaultInstance().SetMessageHandler(&ShowLocalizationProblem);
    SetCurrentLanguage(GetOptions().Language);
    QApplication Application(argc, argv);
    Application.setApplicationName(QStringLiteral("Harkavel"));
    QMessageBox::information(nullptr, QStringLiteral("Harkavel"),
                             Translate(QStringLiteral("ClamAV Engine Version ")) +
                                 QString::fromUtf8(cl_retver()) + QStringLiteral("\n") +
                                 ProgramFolder());
    TClamDatabase::ReleaseInstance();
    FreeOptions();
    return 0;
}
