#pragma once
// The program: its start in the designed order, and the standard error report that shows an
// error escaping an event handler and lets the program go on.

#include <QApplication>

class THarkavelApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* Receiver, QEvent* Event) override;
};

// The error report's text: the message, with a full stop when its last character sorts after
// one.
QString ErrorReportText(const QString& Message);

// Qt's own texts (dialog buttons, the file pickers, type names of files) in the language of
// the user's desktop, as the platform's own dialogs would be. False when no catalogue exists.
bool InstallPlatformTranslation(const QLocale& Locale);

// Program start to program end; the return value is the process's exit code.
int RunHarkavel(int argc, char* argv[]);
