// Program start, in the designed order: the translation service (set up at load), the settings
// and the saved language, the application object, the main window, the message loop; at the
// end the settings are written.

#include "Main.h"
#include "engine/uClamDatabase.h"
#include "platform/DeleteOnRestart.h"
#include "platform/Exceptions.h"
#include "settings/GnuGetText.h"
#include "settings/Options.h"

#include <QApplication>
#include <QMessageBox>

namespace {

// The translation service has no widgets; its "Localization problem" reaches the user here.
void ShowLocalizationProblem(const QString& Caption, const QString& Text) {
    QMetaObject::invokeMethod(qApp,
                              [Caption, Text] { QMessageBox::warning(nullptr, Caption, Text); });
}

// The standard error report: an error escaping a handler is shown, and the program goes on.
class THarkavelApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* Receiver, QEvent* Event) override {
        try {
            return QApplication::notify(Receiver, Event);
        } catch (...) {
            QString Message = ExceptionMessage(std::current_exception());
            if (!Message.isEmpty() && Message.back() > u'.')
                Message += u'.';
            QMessageBox::critical(nullptr, applicationName(), Message);
            return true;
        }
    }
};

} // namespace

int main(int argc, char* argv[]) {
    DefaultInstance().SetMessageHandler(&ShowLocalizationProblem);
    SetCurrentLanguage(GetOptions().Language);
    int Result;
    {
        THarkavelApplication Application(argc, argv);
        Application.setApplicationName(QStringLiteral("Harkavel"));
        DeleteScheduledFiles(PendingDeletesFile());
        TfrmClamAV Window;
        Window.show();
        Result = Application.exec();
    }
    TClamDatabase::ReleaseInstance();
    FreeOptions();
    return Result;
}
