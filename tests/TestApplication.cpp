// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The standard error report: an error escaping a guarded handler, or one that reaches the
// application object, is shown in a message box headed "Harkavel", and the program goes on.
#include "Harkavel.h"
#include "platform/Exceptions.h"
#include "platform/ProgramPath.h"
#include "settings/GTLanguageList.h"
#include "settings/GnuGetText.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFileIconProvider>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

// Answers every message box with OK and records its title, icon and text.
class TReportReader {
public:
    TReportReader() {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (Box == nullptr)
                return;
            Titles << Box->windowTitle();
            Texts << Box->text();
            Critical &= Box->icon() == QMessageBox::Critical;
            Box->button(QMessageBox::Ok)->click();
        });
        FTimer.start(10);
    }
    QStringList Titles, Texts;
    bool Critical = true;

private:
    QTimer FTimer;
};

} // namespace

class TestApplication : public QObject {
    Q_OBJECT
private slots:
    void NamesTheLanguagesInTheUsersOwnLanguage(); // first: the list is built once
    void EndsTheTextWithAFullStop();
    void ReportsAnErrorFromAClickAndGoesOn();
    void ReportsAnErrorFromATimer();
    void ShowsQtsOwnTextsInTheDesktopsLanguage();
};

// The list is built at program load, in the user's default language (here German), before
// the saved language (here Spanish) is applied, and it keeps those names.
void TestApplication::NamesTheLanguagesInTheUsersOwnLanguage() {
    testing::SetProgramFilePath(QCoreApplication::applicationDirPath() + "/Harkavel");
    SetCurrentLanguage("de");
    LoadProgram();
    SetCurrentLanguage("es");
    const TGTLanguageList& List = LanguageList();
    const QString German = TranslateIn("languages", "German"); // from the catalogue now
    testing::SetProgramFilePath(QString());
    SetCurrentLanguage("en");
    QCOMPARE(List.Names[List.Codes.indexOf("de")], QString("Deutsch"));
    QCOMPARE(List.Names[List.Codes.indexOf("es")], QString("Spanisch"));
    QCOMPARE(List.Names[List.Codes.indexOf("en")], QString("Englisch"));
    QCOMPARE(German, QString("Alemán"));
}

void TestApplication::EndsTheTextWithAFullStop() {
    QCOMPARE(ErrorReportText("Cannot open file /x"), QString("Cannot open file /x."));
    QCOMPARE(ErrorReportText("Done."), QString("Done."));
    QCOMPARE(ErrorReportText("Why!"), QString("Why!")); // "!" sorts before "."
    QCOMPARE(ErrorReportText("(at line 3)"), QString("(at line 3)"));
    QCOMPARE(ErrorReportText("Ошибка"), QString("Ошибка."));
    QCOMPARE(ErrorReportText(""), QString(""));
}

void TestApplication::ReportsAnErrorFromAClickAndGoesOn() {
    QPushButton Button("Fail");
    int Clicks = 0;
    QObject::connect(&Button, &QPushButton::clicked, Guarded([&] {
        if (++Clicks == 1)
            throw Exception("The handler failed");
    }));
    Button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Button));
    TReportReader Reader;
    QTest::mouseClick(&Button, Qt::LeftButton);
    QTRY_COMPARE(Reader.Texts, QStringList({"The handler failed."}));
    QCOMPARE(Reader.Titles, QStringList({"Harkavel"}));
    QVERIFY(Reader.Critical);
    QTest::mouseClick(&Button, Qt::LeftButton); // the button still works
    QCOMPARE(Clicks, 2);
    QCOMPARE(Reader.Texts.size(), 1);
}

void TestApplication::ReportsAnErrorFromATimer() {
    // Unguarded: the application object catches it, which costs a few bytes that the unwinding
    // through Qt's code leaves behind.
    TReportReader Reader;
    QTimer::singleShot(0, [] { throw EAssertionFailed("Main", 1); });
    QTRY_COMPARE(Reader.Texts, QStringList({"Assertion failure (Main, line 1)"}));
}

void TestApplication::ShowsQtsOwnTextsInTheDesktopsLanguage() {
    QVERIFY(InstallPlatformTranslation(QLocale("de_DE")));
    QCOMPARE(QFileIconProvider().type(QFileInfo("/")), QString("Laufwerk"));
    QVERIFY(InstallPlatformTranslation(QLocale("es_ES"))); // replaces the German one
    QCOMPARE(QDialogButtonBox(QDialogButtonBox::Cancel).button(QDialogButtonBox::Cancel)->text(),
             QString("Cancelar"));
    QVERIFY(!InstallPlatformTranslation(QLocale("en_US"))); // Qt's texts are English already
}

int main(int argc, char* argv[]) {
    THarkavelApplication Application(argc, argv);
    Application.setApplicationName("Harkavel");
    TestApplication Test;
    return QTest::qExec(&Test, argc, argv);
}

#include "TestApplication.moc"
