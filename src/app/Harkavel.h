// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The program: its start in the designed order, and the standard error report that shows an
// error escaping an event handler and lets the program go on.

#include <QApplication>
#include <exception>

class THarkavelApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* Receiver, QEvent* Event) override;
};

// The standard error report: a message box headed with the application's name, with an error
// icon and an OK button; the program then goes on.
void HandleException(const std::exception_ptr& Error);

// Runs a handler and shows an error escaping it in the standard error report. Handlers are
// guarded where they are connected, so that no error has to travel through Qt's own code,
// which is not built for exceptions; THarkavelApplication::notify catches what is left.
template <class THandler> void RunGuarded(const THandler& Handler) {
    try {
        Handler();
    } catch (...) {
        HandleException(std::current_exception());
    }
}

// The guarded handler for a signal, whatever arguments the signal carries.
template <class THandler> auto Guarded(THandler Handler) {
    return [Handler = std::move(Handler)](auto&&...) { RunGuarded(Handler); };
}

// The error report's text: the message, with a full stop when its last character sorts after
// one.
QString ErrorReportText(const QString& Message);

// Qt's own texts (dialog buttons, the file pickers, type names of files) in the language of
// the user's desktop, as the platform's own dialogs would be. False when no catalogue exists.
bool InstallPlatformTranslation(const QLocale& Locale);

// Program load, before any start-up step: the language list is built while the translation
// service still has the user's default language, so the languages are named in that one.
void LoadProgram();

// Program start to program end; the return value is the process's exit code.
int RunHarkavel(int argc, char* argv[]);
