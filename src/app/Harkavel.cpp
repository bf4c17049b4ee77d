// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// Program start, in the designed order: the translation service (set up at load), the settings
// and the saved language, the application object, the main window, the message loop; at the
// end the settings are written.

#include "Harkavel.h"
#include "Main.h"
#include "engine/uClamDatabase.h"
#include "platform/DeleteOnRestart.h"
#include "platform/Exceptions.h"
#include "settings/GTLanguageList.h"
#include "settings/GnuGetText.h"
#include "settings/Options.h"

#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <memory>

namespace {

// The translation service has no widgets; its "Localization problem" reaches the user here.
void ShowLocalizationProblem(const QString& Caption, const QString& Text) {
    QMetaObject::invokeMethod(qApp,
                              [Caption, Text] { QMessageBox::warning(nullptr, Caption, Text); });
}

} // namespace

QString ErrorReportText(const QString& Message) {
    return !Message.isEmpty() && Message.back() > u'.' ? Message + u'.' : Message;
}

void HandleException(const std::exception_ptr& Error) {
    QMessageBox::critical(nullptr, QCoreApplication::applicationName(),
                          ErrorReportText(ExceptionMessage(Error)));
}

bool THarkavelApplication::notify(QObject* Receiver, QEvent* Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (...) {
        HandleException(std::current_exception());
        return true;
    }
}

bool InstallPlatformTranslation(const QLocale& Locale) {
    static QTranslator* Installed = nullptr;
    auto Translator = std::make_unique<QTranslator>();
    if (!Translator->load(Locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    if (Installed != nullptr)
        QCoreApplication::removeTranslator(Installed);
    delete Installed;
    Installed = Translator.release();
    return QCoreApplication::installTranslator(Installed);
}

void LoadProgram() {
    DefaultInstance().SetMessageHandler(&ShowLocalizationProblem);
    LanguageList();
}

int RunHarkavel(int argc, char* argv[]) {
    LoadProgram();
    SetCurrentLanguage(GetOptions().Language); // the saved language, from here on
    int Result;
    {
        THarkavelApplication Application(argc, argv);
        Application.setApplicationName(QStringLiteral("Harkavel"));
        InstallPlatformTranslation(QLocale::system());
        TfrmClamAV Window;
        Window.show();
        Window.DeleteFilesNotedEarlier();
        Result = Application.exec();
    }
    TClamDatabase::ReleaseInstance();
    FreeOptions();
    return Result;
}
