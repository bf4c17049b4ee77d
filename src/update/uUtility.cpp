// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "uUtility.h"

#include "platform/FileSystem.h"

using namespace harkavel; // the file attribute bits

HRESULT MakeErrorCode(uint16_t Code) {
    return HRESULT(0x80040000u + Code);
}

std::unique_ptr<TSafeArray> StringsToSafeArray(const QStringList& Texts) {
    auto List = std::make_unique<TSafeArray>();
    List->Elements = Texts;
    return List;
}

void SafeArrayToStrings(const TSafeArray* List, QStringList& Target) {
    Target.clear();
    if (List == nullptr || List->Dimensions != 1)
        return;
    Target = List->Elements;
}

bool PathExists(const QString& Path) {
    return GetFileAttributes(Path) != INVALID_FILE_ATTRIBUTES;
}

QDateTime ZeroDateTime() {
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
}

QDateTime FileWriteDate(const QString& Path) {
    const QDateTime Written = GetFileLastWriteTime(Path);
    if (!Written.isValid())
        return ZeroDateTime();
    const QDate Day = Written.date();
    if (Day.year() < 1980 || Day.year() > 2107) // what a packed DOS date can hold
        return ZeroDateTime();
    const QTime Time = Written.time();
    return QDateTime(Day, QTime(Time.hour(), Time.minute(), Time.second() / 2 * 2), Qt::UTC);
}

QString FormatByteSize(int64_t Size) {
    static const char* const Units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    if (Size < 1024)
        return QStringLiteral("%1 bytes").arg(Size);
    unsigned __int128 Scale = 1024;
    int Unit = 0;
    // A unit is kept below 1000 of it: 1000 KB is already 0.97 MB.
    while (Unit < 5 && uint64_t(Size) >= Scale * 1000) {
        Scale *= 1024;
        ++Unit;
    }
    // Hundredths of the unit, cut: the digits after the point are what three significant
    // digits leave room for.
    const uint64_t Hundredths = uint64_t((unsigned __int128)(uint64_t)Size * 100 / Scale);
    const uint64_t Whole = Hundredths / 100;
    QString Number;
    if (Whole >= 100)
        Number = QString::number(Whole);
    else if (Whole >= 10)
        Number = QStringLiteral("%1.%2").arg(Whole).arg(Hundredths / 10 % 10);
    else
        Number = QStringLiteral("%1.%2").arg(Whole).arg(Hundredths % 100, 2, 10, QChar(u'0'));
    return Number + u' ' + QLatin1String(Units[Unit]);
}
