// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The "Quarantine" page of the main window: the files Delete Viruses took, newest first, put
// back with Restore or removed for good with Delete. Everything here runs on the main thread.

#include "Harkavel.h"
#include "Main.h"

#include "platform/DebugOutput.h"
#include "platform/NativePath.h"
#include "settings/GetTextIgnores.h"
#include "update/uUtility.h"

#include <QBoxLayout>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

namespace {

constexpr int KeptDays = 30;
constexpr int IdRole = Qt::UserRole;

} // namespace

void TfrmClamAV::CreateQuarantinePage() {
    tsQuarantine = new QWidget;
    lblQuarantine = new QLabel(tsQuarantine);
    lblQuarantine->setProperty(NoTranslateProperty, true); // filled in, translated, below
    lblQuarantine->setWordWrap(true);
    lvQuarantine = new QTreeWidget(tsQuarantine);
    lvQuarantine->setRootIsDecorated(false);
    lvQuarantine->setSelectionMode(QAbstractItemView::ExtendedSelection); // Ctrl+A selects all
    lvQuarantine->setHeaderLabels(
        {N_("Name"), N_("Original Folder"), N_("Virus"), N_("Quarantined"), N_("Size")});
    btnRestore = new QPushButton(N_("&Restore"), tsQuarantine);
    btnDeleteForGood = new QPushButton(N_("Delete for &good"), tsQuarantine);
    auto* Buttons = new QHBoxLayout;
    Buttons->addWidget(btnRestore);
    Buttons->addWidget(btnDeleteForGood);
    Buttons->addStretch();
    auto* Layout = new QVBoxLayout(tsQuarantine);
    Layout->addWidget(lblQuarantine);
    Layout->addWidget(lvQuarantine);
    Layout->addLayout(Buttons);
    PageControl->addTab(tsQuarantine, N_("&Quarantine"));
    connect(btnRestore, &QPushButton::clicked, this, Guarded([this] { RestoreSelectedItems(); }));
    connect(btnDeleteForGood, &QPushButton::clicked, this,
            Guarded([this] { DeleteSelectedItems(); }));
    connect(lvQuarantine, &QTreeWidget::itemSelectionChanged, this, [this] {
        const bool Any = !lvQuarantine->selectedItems().isEmpty();
        btnRestore->setEnabled(Any);
        btnDeleteForGood->setEnabled(Any);
    });
    TidyQuarantine();
    FillQuarantineList();
}

// At start: moves a killed run left half done are finished or rolled back, and what has been
// kept long enough goes for good.
void TfrmClamAV::TidyQuarantine() {
    FQuarantine.Recover();
    if (const int Removed = FQuarantine.RemoveOlderThan(KeptDays))
        HARKAVEL_DEBUG_LINE(QStringLiteral("Quarantine: %1 items older than %2 days deleted")
                                .arg(Removed)
                                .arg(KeptDays));
}

void TfrmClamAV::FillQuarantineList() {
    const QList<TQuarantineItem> Items = FQuarantine.Items();
    lvQuarantine->clear();
    const QLocale Locale;
    for (const TQuarantineItem& Item : Items) {
        QString Virus = Item.VirusName.isEmpty() ? QStringLiteral("?") : Item.VirusName;
        if (Item.NoLongerDetected)
            Virus += QStringLiteral(" (") + Translate("no longer detected") + u')';
        auto* Row = new QTreeWidgetItem(
            {Item.OriginalName(), Item.OriginalFolder(), Virus,
             Locale.toString(Item.Quarantined.toLocalTime(), QLocale::ShortFormat),
             FormatByteSize(Item.Size)});
        Row->setData(0, IdRole, Item.Id);
        lvQuarantine->addTopLevelItem(Row);
    }
    for (int Column = 0; Column < lvQuarantine->columnCount(); ++Column)
        lvQuarantine->resizeColumnToContents(Column);
    lblQuarantine->setText(Translate("The quarantine takes %1. Items older than %2 days are "
                                     "deleted for good.")
                               .arg(FormatByteSize(FQuarantine.SpaceUsed()))
                               .arg(KeptDays));
    const bool Any = !lvQuarantine->selectedItems().isEmpty();
    btnRestore->setEnabled(Any);
    btnDeleteForGood->setEnabled(Any);
}

void TfrmClamAV::QuarantinePageShown() {
    FillQuarantineList();
    lvQuarantine->setFocus();
    if (QTreeWidgetItem* First = lvQuarantine->topLevelItem(0)) {
        lvQuarantine->setCurrentItem(First);
        First->setSelected(true);
    }
}

namespace {

QStringList SelectedIds(const QTreeWidget& List) {
    QStringList Ids;
    for (const QTreeWidgetItem* Row : List.selectedItems())
        Ids << Row->data(0, IdRole).toString();
    return Ids;
}

} // namespace

// Each selected item goes back to where it was; where a file has taken that place meanwhile, the
// user may pick another, and nothing is ever written over.
void TfrmClamAV::RestoreSelectedItems() {
    const QStringList Ids = SelectedIds(*lvQuarantine);
    QStringList Failed;
    for (const TQuarantineItem& Item : FQuarantine.Items()) {
        if (!Ids.contains(Item.Id))
            continue;
        const QString Original = PathFromNative(Item.OriginalPath);
        TQuarantine::TRestore Result = FQuarantine.Restore(Item);
        if (Result == TQuarantine::TRestore::Exists) {
            const QString Other = QFileDialog::getSaveFileName(
                this, Translate("A file exists at this place; restore to:") + u' ' + Original,
                Original);
            if (Other.isEmpty())
                continue; // the item stays
            Result = FQuarantine.Restore(Item, Other);
        }
        if (Result != TQuarantine::TRestore::Restored)
            Failed << Original + QStringLiteral(" (") +
                          (Result == TQuarantine::TRestore::Exists
                               ? Translate("a file exists there")
                               : FQuarantine.ErrorText()) +
                          u')';
    }
    FillQuarantineList();
    if (!Failed.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Harkavel"),
                             Translate("These files were not restored:") + u'\n' +
                                 Failed.join(u'\n'));
}

void TfrmClamAV::DeleteSelectedItems() {
    const QStringList Ids = SelectedIds(*lvQuarantine);
    if (Ids.isEmpty() ||
        QMessageBox::question(this, QStringLiteral("Harkavel"),
                              Translate("Delete the selected files for good? They cannot be "
                                        "restored afterwards."),
                              QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    for (const QString& Id : Ids)
        FQuarantine.Remove(Id);
    FillQuarantineList();
}
