// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// How a running scan is shown: the status line, the elapsed time and the result list are
// painted a few times a second, not for every event. Main thread.

#include "Anchors.h"
#include "Harkavel.h"
#include "Main.h"

#include "platform/NativePath.h"
#include "settings/GnuGetText.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLocale>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QTreeWidget>

namespace {

constexpr int StatusPanel1Width = 200; // the configured width, used to shorten paths

QString DropFirstDirectory(QString Folder) {
    if (Folder == QStringView(u"/"))
        return QString();
    const bool Rooted = Folder.startsWith(PathDelimiter);
    if (Rooted)
        Folder.remove(0, 1);
    if (Folder.startsWith(u'.'))
        Folder.remove(0, 4); // an earlier ".../"
    const qsizetype First = Folder.indexOf(PathDelimiter);
    Folder = First < 0 ? QString() : QStringLiteral(".../") + Folder.mid(First + 1);
    return Rooted ? PathDelimiter + Folder : Folder;
}

// The locale's time separator, from its short time format ("HH:mm" gives ":").
QString TimeSeparator() {
    const QString Format = QLocale().timeFormat(QLocale::ShortFormat);
    for (QChar C : Format)
        if (!C.isLetter() && !C.isSpace())
            return QString(C);
    return QStringLiteral(":");
}

} // namespace

QString TfrmClamAV::ShortenPathToWidth(const QString& Path, int Width,
                                       const QFontMetrics& Metrics) {
    const qsizetype Last = Path.lastIndexOf(PathDelimiter);
    QString Folder = Path.left(Last + 1);
    const QString Name = Path.mid(Last + 1);
    QString Result = Path;
    while (!Folder.isEmpty() && Metrics.horizontalAdvance(Result) > Width) {
        if (Folder == u"/.../")
            Folder = QStringLiteral(".../");
        else
            Folder = DropFirstDirectory(Folder);
        Result = Folder + Name;
    }
    return Result;
}

void TfrmClamAV::UpdateElapsedTime() {
    const qint64 Elapsed = (FLastEventTime - FScanStartTime.toMSecsSinceEpoch()) % 86400000;
    QString Text = QTime(0, 0).addMSecs(int(Elapsed)).toString(QStringLiteral("hh:mm:ss:zzz"));
    lblScanTime->setText(Text.replace(u':', TimeSeparator()));
}

// A scan of small files reports thousands of files a second, more than anybody can read, and
// painting the status text and the result list for each batch of them slowed such a scan by a
// fifth. So the handlers change the window's state at once but show it a few times a second:
// the status text, the elapsed time and the result list are painted by ShowScanState.
void TfrmClamAV::ScheduleScanDisplay() {
    FLastEventTime = QDateTime::currentMSecsSinceEpoch();
    if (!FScanDisplayTimer->isActive())
        FScanDisplayTimer->start();
}

void TfrmClamAV::ShowScanState() {
    FScanDisplayTimer->stop(); // shown now: before "Scan finished" nothing is shown late
    if (!FProgressPath.isEmpty()) {
        const int Width = statusBar()->width() - StatusPanel1Width;
        StatusPanel1->setText(Translate("Scanning: ") +
                              ShortenPathToWidth(FProgressPath, Width, statusBar()->fontMetrics()));
        FProgressPath.clear();
    }
    UpdateElapsedTime();
    lvScanner->setUpdatesEnabled(true);
}
