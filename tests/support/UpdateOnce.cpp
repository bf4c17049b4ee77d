// Updates one database in a process of its own, so that a test can kill it mid-download:
//   UpdateOnce DATABASE_PATH MIRROR
// Exits 0 when the update has ended.

#include "update/uFreshClam.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication Application(argc, argv);
    const QStringList Arguments = Application.arguments();
    if (Arguments.size() != 3)
        return 2;
    TInterfacePtr<IFreshClam> Service(new TFreshClam);
    Service->SetOnTerminate([](IFreshClam*) { QCoreApplication::quit(); });
    const std::unique_ptr<TSafeArray> Databases = StringsToSafeArray({Arguments[1]});
    if (Service->Start(Databases.get(), Arguments[2], {}, 0, {}, {}) != S_OK)
        return 1;
    return Application.exec();
}
