// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The "Update" page of the main window: Start Update, Cancel Update, the progress reports of a
// running update and the end of it. Everything here runs on the main thread but
// FreshClamProgress, which runs on the update thread and only posts what it is given.

#include "Anchors.h"
#include "Harkavel.h"
#include "Main.h"

#include "platform/Exceptions.h"
#include "platform/Thread.h"
#include "settings/GetTextIgnores.h"
#include "update/uSignatureNetwork.h"

#include <QAction>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QToolButton>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr int ShortStringLength = 255;

std::function<IFreshClam*()> FreshClamFactory; // main thread only

// Message 1126: carries one progress report and owns it, so that a report still queued when
// the window goes is freed with the event.
class TUpdateProgressEvent : public QEvent {
public:
    explicit TUpdateProgressEvent(std::unique_ptr<TUpdateProgressRecord> Record)
        : QEvent(QEvent::Type(harkavel::WM_UPDATE_PROGRESS)), Record(std::move(Record)) {}
    std::unique_ptr<TUpdateProgressRecord> Record;
};

// At most 255 UTF-16 code units, then at most 255 bytes of UTF-8, cut at the last whole
// character: a character cut in two would show as garbage.
void SetShortString(uint8_t (&Field)[256], const QString& Text) {
    QStringView Units = QStringView(Text).left(ShortStringLength);
    if (!Units.isEmpty() && Units.back().isHighSurrogate())
        Units.chop(1);
    const QByteArray Bytes = Units.toUtf8();
    qsizetype Length = std::min<qsizetype>(Bytes.size(), ShortStringLength);
    if (Length < Bytes.size())
        while (Length > 0 && (uint8_t(Bytes[Length]) & 0xC0) == 0x80)
            --Length; // the byte after the cut continues a character: cut before that one
    Field[0] = uint8_t(Length);
    memcpy(Field + 1, Bytes.constData(), size_t(Length));
}

QString ShortStringText(const uint8_t (&Field)[256]) {
    return QString::fromUtf8(reinterpret_cast<const char*>(Field + 1), Field[0]);
}

IFreshClam* NewFreshClam() {
    return FreshClamFactory ? FreshClamFactory() : NewUpdateService();
}

} // namespace

void TUpdateProgressRecord::SetFileName(const QString& Text) {
    SetShortString(FileName, Text);
}

void TUpdateProgressRecord::SetJournalText(const QString& Text) {
    SetShortString(JournalText, Text);
}

void TUpdateProgressRecord::SetPercent(int32_t Value) {
    qToLittleEndian(Value, Percent);
}

QString TUpdateProgressRecord::GetFileName() const {
    return ShortStringText(FileName);
}

QString TUpdateProgressRecord::GetJournalText() const {
    return ShortStringText(JournalText);
}

int32_t TUpdateProgressRecord::GetPercent() const {
    return qFromLittleEndian<int32_t>(Percent);
}

void testing::SetFreshClamFactory(std::function<IFreshClam*()> Factory) {
    FreshClamFactory = std::move(Factory);
}

void TfrmClamAV::CreateUpdatePage() {
    tsUpdate = new QWidget;
    Label3 = new QLabel(N_("Progress:"), tsUpdate);
    lblDBName = new QLabel(tsUpdate);
    lblDBName->setProperty(NoTranslateProperty, true); // a database's name
    pbDBUpdate = new QProgressBar(tsUpdate);
    pbDBUpdate->setRange(0, 100);
    pbDBUpdate->setValue(0);
    pbDBUpdate->setTextVisible(false);
    Label7 = new QLabel(N_("Update Journal:"), tsUpdate);
    memLog = new QPlainTextEdit(tsUpdate);
    memLog->setReadOnly(true);
    memLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    // 8 from the left, 11 from the right; the bar and the journal grow with the page, the
    // journal down to 14 from the bottom. The database name starts at 60, or after a longer
    // translation of "Progress:".
    PlaceOnResize(tsUpdate, [this](const QSize& Size) {
        const int Width = std::max(0, Size.width() - 8 - 11);
        const QSize Caption = Label3->sizeHint();
        Label3->setGeometry(8, 7, Caption.width(), Caption.height());
        const int NameLeft = std::max(60, 8 + Caption.width() + 4);
        lblDBName->setGeometry(NameLeft, 7, std::max(0, Size.width() - 11 - NameLeft),
                               Caption.height());
        pbDBUpdate->setGeometry(8, 23, Width, 17);
        Label7->setGeometry(8, 46, Width, Label7->sizeHint().height());
        memLog->setGeometry(8, 65, Width, std::max(0, Size.height() - 65 - 14));
    });
    PageControl->addTab(tsUpdate, N_("Update"));
    connect(actStartUpdate, &QAction::triggered, this,
            Guarded([this] { actStartUpdateExecute(); }));
    connect(actCancelUpdate, &QAction::triggered, this,
            Guarded([this] { actCancelUpdateExecute(); }));
}

void TfrmClamAV::actStartUpdateExecute() {
    SwapAction(tbiStartUpdate, actCancelUpdate);
    memLog->clear();
    pbDBUpdate->setValue(0);
    FFreshClam = NewFreshClam();
    FFreshClam->SetOnProgress(&TfrmClamAV::FreshClamProgress);
    FFreshClam->SetOnTerminate([this](IFreshClam* Sender) { FreshClamTerminate(Sender); });
    FUpdating = true;
    FDatabaseInstalled = false;
    try {
        CheckServiceStatus(
            FFreshClam->Start(nullptr, DefaultMirrorHost(), QString(), 0, QString(), QString()));
    } catch (const EServiceError& Error) {
        // The button keeps showing Cancel Update: the user goes back to idle through it.
        FFreshClam.Release();
        memLog->appendPlainText(Translate("Error - ") + Translate(Error.Message()));
        return;
    }
    actStartScan->setEnabled(false);
}

void TfrmClamAV::actCancelUpdateExecute() {
    FUpdating = false; // reports still queued are dropped unseen
    actStartScan->setEnabled(true);
    SwapAction(tbiStartUpdate, actStartUpdate);
    pbDBUpdate->setValue(0);
    memLog->appendPlainText(Translate("Update canceled"));
    lblDBName->setText(QString());
    if (FFreshClam) {
        // The termination handler runs during Cancel and releases FFreshClam.
        const TInterfacePtr<IFreshClam> Service = FFreshClam;
        try {
            CheckServiceStatus(Service->Cancel());
        } catch (const EServiceError& Error) {
            memLog->appendPlainText(Translate("Error - ") + Translate(Error.Message()));
        }
    }
    FFreshClam.Release();
}

void TfrmClamAV::FreshClamProgress(void*, const QString& JournalText, const QString& FileName,
                                   int32_t Percent) {
    auto Record = std::make_unique<TUpdateProgressRecord>();
    Record->SetFileName(FileName);
    Record->SetJournalText(JournalText);
    Record->SetPercent(Percent);
    if (QObject* Window = MainWindowHandle) // no window: nobody to show the report to
        QCoreApplication::postEvent(Window, new TUpdateProgressEvent(std::move(Record)));
}

void TfrmClamAV::WMUpdateProgress(QEvent* Message) {
    const TUpdateProgressRecord& Record = *static_cast<TUpdateProgressEvent*>(Message)->Record;
    if (!FUpdating)
        return;
    const QString JournalText = Record.GetJournalText();
    if (!JournalText.isEmpty()) {
        memLog->appendPlainText(JournalText);
        FDatabaseInstalled |= IsInstalledReport(JournalText);
    }
    pbDBUpdate->setValue(std::clamp(Record.GetPercent(), 0, 100));
    lblDBName->setText(Record.GetFileName());
}

void TfrmClamAV::FreshClamTerminate(IFreshClam*) {
    HARKAVEL_ASSERT(IsMainThread(), "Main");
    // The reports posted before the end are shown before it, so that "Done." comes last.
    QCoreApplication::sendPostedEvents(this, harkavel::WM_UPDATE_PROGRESS);
    FFreshClam.Release();
    SwapAction(tbiStartUpdate, actStartUpdate);
    actStartScan->setEnabled(true);
    if (!FUpdating)
        return;
    if (FDatabaseInstalled)
        memLog->appendPlainText(Translate(RestartNotice));
    lblDBName->setText(Translate("Done."));
    memLog->appendPlainText(Translate("Done."));
}

void TfrmClamAV::UpdatePageCloseStep() {
    // A running update is stopped and waited for; its termination handler may run meanwhile.
    FFreshClam.Release();
}
