// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "engine/LibClamAV.h"
#include "engine/uClamDatabase.h"
#include "platform/Exceptions.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

// Each case works on a holder of its own: the stored holder is released between cases, so one
// process sees every state of the engine.
class TestClamDatabase : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { support::ResetEngineHolder(); }
    void AccessInstanceAnswersItsThreeRequests();
    void RefusesAnIllegalRequest();
    void LoadsAndCompilesOnce();
    void StripsOneTrailingDelimiter();
    void FailedLoadLeavesNoEngine_data();
    void FailedLoadLeavesNoEngine();
    void UnloadFreesTheEngineAndAllowsANewLoad();
};

namespace {
QByteArray NativeFolder(const QTemporaryDir& Dir) {
    return QFile::encodeName(Dir.path());
}

void WriteDatabase(const QTemporaryDir& Dir) {
    QVERIFY(support::WriteFile(Dir.path() + "/sample.ndb", support::SampleDatabase()));
}
} // namespace

void TestClamDatabase::AccessInstanceAnswersItsThreeRequests() {
    QCOMPARE(TClamDatabase::AccessInstance(0), nullptr);
    TClamDatabase* First = TClamDatabase::AccessInstance(1);
    QVERIFY(First != nullptr);
    QCOMPARE(TClamDatabase::Instance(), First);
    QCOMPARE(TClamDatabase::AccessInstance(0), First);
    QVERIFY(!First->IsLoaded());
    QCOMPARE(First->Engine(), nullptr);
    QCOMPARE(First->SignatureCount(), 0u);

    QCOMPARE(TClamDatabase::AccessInstance(2), nullptr);
    QCOMPARE(TClamDatabase::AccessInstance(0), nullptr);
    TClamDatabase* Second = TClamDatabase::AccessInstance(1);
    QVERIFY(Second != First);
    // The forgotten holder is alive, and destroying it leaves the stored one alone.
    QVERIFY(!First->IsLoaded());
    delete First;
    QCOMPARE(TClamDatabase::AccessInstance(0), Second);
}

void TestClamDatabase::RefusesAnIllegalRequest() {
    TClamDatabase* Stored = TClamDatabase::Instance();
    for (int Request : {3, -1}) {
        try {
            TClamDatabase::AccessInstance(Request);
            QFAIL("no error raised");
        } catch (const Exception& E) {
            QCOMPARE(E.Message(), QString("Illegal request %1 in AccessInstance").arg(Request));
        }
    }
    QCOMPARE(TClamDatabase::AccessInstance(0), Stored);
}

void TestClamDatabase::LoadsAndCompilesOnce() {
    QTemporaryDir Dir;
    WriteDatabase(Dir);
    TClamDatabase* Holder = TClamDatabase::Instance();
    QCOMPARE(Holder->Load(NativeFolder(Dir)), int(CL_SUCCESS));
    QVERIFY(Holder->IsLoaded());
    QCOMPARE(Holder->SignatureCount(), 2u);
    cl_engine* Engine = Holder->Engine();
    QVERIFY(Engine != nullptr);

    // A second load changes nothing, even with more signatures in the folder (a second
    // compile would crash the library).
    QVERIFY(support::WriteFile(Dir.path() + "/more.ndb", "More:0:*:4142434445464748\n"));
    QCOMPARE(Holder->Load(NativeFolder(Dir)), int(CL_SUCCESS));
    QCOMPARE(Holder->SignatureCount(), 2u);
    QCOMPARE(Holder->Engine(), Engine);
}

void TestClamDatabase::StripsOneTrailingDelimiter() {
    // cl_load takes "folder/" as well as "folder", so a folder shows nothing. A database file
    // does: "sample.ndb/" is no path at all, and only the stripped "sample.ndb" loads.
    QTemporaryDir Dir;
    WriteDatabase(Dir);
    const QByteArray File = NativeFolder(Dir) + "/sample.ndb";
    QCOMPARE(TClamDatabase::Instance()->Load(File + "/"), int(CL_SUCCESS));
    QVERIFY(TClamDatabase::Instance()->IsLoaded());
    QCOMPARE(TClamDatabase::Instance()->SignatureCount(), 2u);
}

void TestClamDatabase::FailedLoadLeavesNoEngine_data() {
    QTest::addColumn<QByteArray>("Database");
    QTest::addColumn<bool>("CreateFolder");
    QTest::addColumn<int>("Status");
    QTest::newRow("empty folder") << QByteArray() << true << int(CL_EOPEN);
    QTest::newRow("missing folder") << QByteArray() << false << int(CL_ESTAT);
    QTest::newRow("malformed database")
        << QByteArray("no signature here\n") << true << int(CL_EMALFDB);
}

void TestClamDatabase::FailedLoadLeavesNoEngine() {
    QFETCH(QByteArray, Database);
    QFETCH(bool, CreateFolder);
    QFETCH(int, Status);
    QTemporaryDir Dir;
    if (!Database.isEmpty())
        QVERIFY(support::WriteFile(Dir.path() + "/broken.hdb", Database));
    const QByteArray Folder = CreateFolder ? NativeFolder(Dir) : NativeFolder(Dir) + "/missing";
    TClamDatabase* Holder = TClamDatabase::Instance();
    QCOMPARE(Holder->Load(Folder), Status);
    QVERIFY(!Holder->IsLoaded());
    QCOMPARE(Holder->Engine(), nullptr);

    // The next load runs every step again, with a new engine.
    QTemporaryDir Good;
    WriteDatabase(Good);
    QCOMPARE(Holder->Load(NativeFolder(Good)), int(CL_SUCCESS));
    QVERIFY(Holder->Engine() != nullptr);
}

void TestClamDatabase::UnloadFreesTheEngineAndAllowsANewLoad() {
    TClamDatabase* Holder = TClamDatabase::Instance();
    Holder->Unload(); // not loaded: nothing changes
    QVERIFY(!Holder->IsLoaded());
    QCOMPARE(Holder->SignatureCount(), 0u);

    QTemporaryDir Dir;
    WriteDatabase(Dir);
    QCOMPARE(Holder->Load(NativeFolder(Dir)), int(CL_SUCCESS));
    Holder->Unload();
    QVERIFY(!Holder->IsLoaded());
    QCOMPARE(Holder->Engine(), nullptr);
    QCOMPARE(Holder->SignatureCount(), 0u);

    QVERIFY(support::WriteFile(Dir.path() + "/more.ndb", "More:0:*:4142434445464748\n"));
    QCOMPARE(Holder->Load(NativeFolder(Dir)), int(CL_SUCCESS));
    QCOMPARE(Holder->SignatureCount(), 3u);
}

QTEST_GUILESS_MAIN(TestClamDatabase)
#include "TestClamDatabase.moc"
