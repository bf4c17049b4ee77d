// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// Moves one file into a quarantine and exits: the process the quarantine tests kill halfway.
//   QuarantineOnce QUARANTINE-FOLDER FILE

#include "platform/Quarantine.h"

#include <QCoreApplication>
#include <QStringList>

int main(int argc, char* argv[]) {
    QCoreApplication Application(argc, argv);
    const QStringList Arguments = Application.arguments();
    if (Arguments.size() != 3)
        return 2;
    TQuarantine Store(Arguments[1]);
    const TRemoval Result = Store.Add(Arguments[2], StampOfFile(Arguments[2]), "Test", 1);
    return Result == TRemoval::Removed ? 0 : 1;
}
