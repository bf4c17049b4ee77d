// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "UpdateRecord.h"

#include "platform/Thread.h"
#include "update/uFreshClam.h"
#include "update/uSignatureNetwork.h"

#include <QRegularExpression>
#include <algorithm>

#include <QDir>

namespace support {

void TUpdateRecord::Attach(IFreshClam& Service) {
    Service.SetOnProgress(
        [this](void*, const QString& JournalText, const QString& FileName, int32_t Percent) {
            if (IsMainThread())
                FReportsOffMainThread = false;
            std::lock_guard Guard(FLock);
            FReports.append({JournalText, FileName, Percent});
        });
    Service.SetOnTerminate([this](IFreshClam*) {
        if (!IsMainThread())
            FEndsOnMainThread = false;
        ++FTerminations;
    });
}

QList<TUpdateReport> TUpdateRecord::Reports() const {
    std::lock_guard Guard(FLock);
    return FReports;
}

QStringList TUpdateRecord::Journal() const {
    QStringList Lines;
    for (const TUpdateReport& Report : Reports())
        if (!Report.JournalText.isEmpty())
            Lines << Report.JournalText;
    return Lines;
}

QStringList TUpdateRecord::Outcomes() const {
    static const QList<QRegularExpression> Shapes = [] {
        QList<QRegularExpression> List;
        for (const QString& Format : UpdateOutcome::All + NetworkOutcome::All) {
            QStringList Pieces;
            for (const QString& Piece : Format.split(QRegularExpression("%[12]")))
                Pieces << QRegularExpression::escape(Piece);
            List << QRegularExpression("^" + Pieces.join(".+") + "$");
        }
        return List;
    }();
    QStringList Lines;
    for (const QString& Line : Journal())
        if (std::any_of(Shapes.begin(), Shapes.end(), [&](const QRegularExpression& Shape) {
                return Shape.match(Line).hasMatch();
            }))
            Lines << Line;
    return Lines;
}

QList<int32_t> TUpdateRecord::Percents() const {
    QList<int32_t> Values;
    for (const TUpdateReport& Report : Reports())
        Values << Report.Percent;
    return Values;
}

HRESULT StartUpdate(TInterfacePtr<IFreshClam>& Service, TUpdateRecord& Record,
                    const QString& Server, const QStringList& Databases, IFreshClam* Instance) {
    Service = TInterfacePtr<IFreshClam>(Instance ? Instance : new TFreshClam);
    Record.Attach(*Service.Get());
    const std::unique_ptr<TSafeArray> List =
        Databases.isEmpty() ? nullptr : StringsToSafeArray(Databases);
    return Service->Start(List.get(), Server, QString(), 0, QString(), QString());
}

QStringList TemporaryDownloads(const QString& Folder) {
    return QDir(Folder).entryList({QStringLiteral(".*.tmp-*")}, QDir::Files | QDir::Hidden);
}

} // namespace support
