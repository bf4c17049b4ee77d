// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// Updates databases in a process of its own, so that a test can kill it mid-download or run it
// as another user:
//   UpdateOnce DATABASE_PATH MIRROR            one database
//   UpdateOnce --default MIRROR PROGRAM_FOLDER the program's own list, for that program folder
// Exits 0 when the update has ended.

#include "platform/NativePath.h"
#include "platform/ProgramPath.h"
#include "update/uFreshClam.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication Application(argc, argv);
    const QStringList Arguments = Application.arguments();
    const bool DefaultList = Arguments.size() == 4 && Arguments[1] == "--default";
    if (Arguments.size() != 3 && !DefaultList)
        return 2;
    TInterfacePtr<IFreshClam> Service(new TFreshClam);
    Service->SetOnTerminate([](IFreshClam*) { QCoreApplication::quit(); });
    std::unique_ptr<TSafeArray> Databases;
    if (DefaultList)
        testing::SetProgramFolder(PathFromNative(argv[3]));
    else
        Databases = StringsToSafeArray({Arguments[1]});
    if (Service->Start(Databases.get(), Arguments[2], {}, 0, {}, {}) != S_OK)
        return 1;
    return Application.exec();
}
