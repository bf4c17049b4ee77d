// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The updater's small helpers, and the replacement of a file beside itself.

#include "net/uWinInetHttp.h"
#include "platform/FileReplacement.h"
#include "support/TestSupport.h"
#include "update/uUtility.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utime.h>

using namespace support;

class TestUtility : public QObject {
    Q_OBJECT
private slots:
    void MakesInterfaceStatuses();
    void CarriesListsAcrossTheInterface();
    void FormatsByteSizes_data();
    void FormatsByteSizes();
    void DatesAFileInTwoSecondSteps();
    void ReplacesAFileOnlyWhenInstalled();
    void RefusesALockedFileOrAFolderItCannotWrite();
};

void TestUtility::MakesInterfaceStatuses() {
    QCOMPARE(MakeErrorCode(513), HRESULT(0x80040201));
    QCOMPARE(MakeErrorCode(514), HRESULT(0x80040202));
    QVERIFY(MakeErrorCode(0) < 0);
}

void TestUtility::CarriesListsAcrossTheInterface() {
    const auto List = StringsToSafeArray({"/a/daily.cvd", "/a/main.cvd"});
    QCOMPARE(List->LowerBound, 0);
    QCOMPARE(List->UpperBound(), 1);
    QStringList Target{"left over"};
    SafeArrayToStrings(List.get(), Target);
    QCOMPARE(Target, QStringList({"/a/daily.cvd", "/a/main.cvd"}));
    SafeArrayToStrings(StringsToSafeArray({"/only.cvd"}).get(), Target);
    QCOMPARE(Target, QStringList{"/only.cvd"}); // a list of one is honoured
    SafeArrayToStrings(nullptr, Target);
    QVERIFY(Target.isEmpty());
    TSafeArray TwoDimensional;
    TwoDimensional.Dimensions = 2;
    TwoDimensional.Elements = {"x"};
    Target = {"left over"};
    SafeArrayToStrings(&TwoDimensional, Target);
    QVERIFY(Target.isEmpty());
}

void TestUtility::FormatsByteSizes_data() {
    QTest::addColumn<qint64>("Size");
    QTest::addColumn<QString>("Text");
    QTest::newRow("nothing") << qint64(0) << "0 bytes";
    QTest::newRow("below a KB") << qint64(1023) << "1023 bytes";
    QTest::newRow("one KB") << qint64(1024) << "1.00 KB";
    QTest::newRow("cut, not rounded") << qint64(2047) << "1.99 KB";
    QTest::newRow("two digits") << qint64(10240) << "10.0 KB";
    QTest::newRow("the test database") << qint64(78992) << "77.1 KB";
    QTest::newRow("three digits") << qint64(1023999) << "999 KB";
    QTest::newRow("1000 KB is MB") << qint64(1024000) << "0.97 MB";
    QTest::newRow("200 MB") << qint64(209715200) << "200 MB";
    QTest::newRow("one GB") << qint64(1073741824) << "1.00 GB";
    QTest::newRow("largest") << std::numeric_limits<qint64>::max() << "7.99 EB";
}

void TestUtility::FormatsByteSizes() {
    QFETCH(qint64, Size);
    QFETCH(QString, Text);
    QCOMPARE(FormatByteSize(Size), Text);
}

void TestUtility::DatesAFileInTwoSecondSteps() {
    QTemporaryDir Folder;
    const QString Path = Folder.filePath("daily.cvd");
    QCOMPARE(FileWriteDate(Path), ZeroDateTime()); // missing
    QCOMPARE(HTTPDate(ZeroDateTime()), QString("Sat, 30 Dec 1899 00:00:00 GMT"));
    QVERIFY(WriteFile(Path, "x"));
    QVERIFY(PathExists(Path));
    QVERIFY(PathExists(Folder.path()));
    QVERIFY(!PathExists(Folder.filePath("missing")));

    const QDateTime Odd(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC);
    const utimbuf Times{Odd.toSecsSinceEpoch(), Odd.toSecsSinceEpoch()};
    QCOMPARE(utime(QFile::encodeName(Path).constData(), &Times), 0);
    QCOMPARE(FileWriteDate(Path), QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58), Qt::UTC));

    const utimbuf Early{86400, 86400}; // 1970: before what a packed date holds
    QCOMPARE(utime(QFile::encodeName(Path).constData(), &Early), 0);
    QCOMPARE(FileWriteDate(Path), ZeroDateTime());
}

void TestUtility::ReplacesAFileOnlyWhenInstalled() {
    QTemporaryDir Folder;
    const QString Path = Folder.filePath("daily.cvd");
    QVERIFY(WriteFile(Path, "old content"));
    QFile::setPermissions(Path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    {
        TFileReplacement Replacement(Path);
        QVERIFY(Replacement.Open());
        const QString Temporary = Replacement.TemporaryPath();
        QVERIFY2(QFileInfo(Temporary).fileName().startsWith(".daily.cvd.tmp-"),
                 qPrintable(Temporary));
        QCOMPARE(QFileInfo(Temporary).absolutePath(), Folder.path());
        QCOMPARE(Replacement.Stream()->write("new content, longer"), qint64(19));
        QVERIFY(Replacement.Stream()->seek(11));
        QVERIFY(Replacement.CutAtPosition());
        QCOMPARE(ReadFile(Path), QByteArray("old content")); // nothing installed yet
        QVERIFY(Replacement.Install());
        QVERIFY(!QFileInfo::exists(Temporary));
    }
    QCOMPARE(ReadFile(Path), QByteArray("new content"));
    QCOMPARE(QFileInfo(Path).permissions() & QFile::ReadOther, QFile::ReadOther); // kept
    {
        TFileReplacement Replacement(Path); // never installed: discarded
        QVERIFY(Replacement.Open());
        Replacement.Stream()->write("half");
    }
    QCOMPARE(ReadFile(Path), QByteArray("new content"));
    QCOMPARE(QDir(Folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"daily.cvd"});
}

void TestUtility::RefusesALockedFileOrAFolderItCannotWrite() {
    QTemporaryDir Folder;
    const QString Path = Folder.filePath("main.cvd");
    QVERIFY(WriteFile(Path, "held"));
    const int Holder = open(QFile::encodeName(Path).constData(), O_RDONLY);
    QCOMPARE(flock(Holder, LOCK_EX), 0);
    {
        TFileReplacement Replacement(Path);
        QVERIFY(!Replacement.Open());
        QVERIFY(!Replacement.ErrorText().isEmpty());
    }
    close(Holder);
    QVERIFY(TFileReplacement(Path).Open());

    // No file may be created where the folder is missing (as with a full disk or no rights).
    TFileReplacement Nowhere(Folder.filePath("missing/main.cvd"));
    QVERIFY(!Nowhere.Open());
    QCOMPARE(QDir(Folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"main.cvd"});
}

QTEST_GUILESS_MAIN(TestUtility)
#include "TestUtility.moc"
