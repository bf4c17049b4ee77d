// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The language strip of the main window and the translation of the window's texts: the
// selector lists the languages of the catalogues beside the program, and a pick translates
// the window again and is remembered in the settings. Main thread.

#include "Anchors.h"
#include "Harkavel.h"
#include "Main.h"

#include "engine/LibClamAV.h"
#include "settings/GetTextIgnores.h"
#include "settings/GnuGetText.h"
#include "settings/Options.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

QWidget* TfrmClamAV::CreateLanguageStrip() {
    auto* Panel3 = new QWidget;
    Panel3->setFixedHeight(34);
    Label2 = new QLabel(N_("&Language:"), Panel3);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignTop);
    cmbLang = new QComboBox(Panel3);
    cmbLang->setFixedSize(224, 23);
    Label2->setBuddy(cmbLang);
    // The selector 4 from the right edge and 6 from the top; the label's right edge 14 left of
    // it, 9 from the top, whatever the length of its text in the current language.
    PlaceOnResize(Panel3, [this](const QSize& Size) {
        cmbLang->move(Size.width() - 4 - cmbLang->width(), 6);
        Label2->setGeometry(0, 9, std::max(0, cmbLang->x() - 14), Label2->sizeHint().height());
    });
    return Panel3;
}

void TfrmClamAV::TranslateWindow() {
    // Tool buttons and the push button show their actions' texts; the selector shows names.
    for (QWidget* Mirror : std::initializer_list<QWidget*>{
             tbiStartScan, ToolButton1, ToolButton2, tbiStartUpdate, ToolButton4, Button1, cmbLang})
        Mirror->setProperty(NoTranslateProperty, true);
    FTranslation.TranslateComponent(this);
    for (int I = 0; I < PageControl->count(); ++I)
        FTranslation.Add(PageControl, PageControl->tabText(I),
                         [this, I](const QString& Text) { PageControl->setTabText(I, Text); });
    for (QTreeWidget* List : {lvBrowser, lvScanner, lvQuarantine})
        for (int I = 0; I < List->columnCount(); ++I)
            FTranslation.Add(List, List->headerItem()->text(I), [List, I](const QString& Text) {
                List->headerItem()->setText(I, Text);
            });
}

int TfrmClamAV::FlagImageIndex(const QString& Code) {
    if (Code.contains(QLatin1String("en")))
        return 0;
    return Code.contains(QLatin1String("es")) ? 1 : -1;
}

void TfrmClamAV::FillLanguageSelector(const QStringList& Names, const QStringList& Codes) {
    cmbLang->clear();
    const QIcon Flags[] = {QIcon(QStringLiteral(":/flags/us.png")),
                           QIcon(QStringLiteral(":/flags/es.png"))};
    for (qsizetype I = 0; I < Names.size(); ++I) {
        const int Flag = FlagImageIndex(Codes[I]);
        cmbLang->addItem(Flag < 0 ? QIcon() : Flags[Flag], Names[I], Codes[I]);
    }
    cmbLang->setCurrentIndex(int(Codes.indexOf(CurrentLanguage())));
}

void TfrmClamAV::cmbLangChange() {
    const QString Code = cmbLang->currentData().toString();
    GetOptions().Language = Code; // written at program end
    SetCurrentLanguage(Code);
    FTranslation.RetranslateComponent();
    ShowEngineVersion();
    FillQuarantineList(); // its "no longer detected" marks and its summary
}
