// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "platform/NativePath.h"

#include <QTest>

class TestNativePath : public QObject {
    Q_OBJECT
private slots:
    void RoundTripsEveryByteString_data();
    void RoundTripsEveryByteString();
    void DecodesValidUtf8AsText();
    void CarriesInvalidBytesAsEscapes();
    void PathHelpers();
};

void TestNativePath::RoundTripsEveryByteString_data() {
    QTest::addColumn<QByteArray>("Bytes");
    QTest::newRow("ascii") << QByteArray("/tmp/plain.txt");
    QTest::newRow("utf8") << QByteArray("/tmp/K\xC3\xA4se \xE2\x82\xAC \xF0\x9F\x98\x80");
    QTest::newRow("latin1 byte") << QByteArray("/tmp/caf\xE9.exe");
    QTest::newRow("lone continuation") << QByteArray("\x80\xBF");
    QTest::newRow("truncated sequence") << QByteArray("a\xE2\x82");
    QTest::newRow("overlong slash") << QByteArray("\xC0\xAF");
    QTest::newRow("encoded surrogate") << QByteArray("\xED\xB2\x80");
    QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80");
    QTest::newRow("0xFF 0xFE") << QByteArray("\xFF\xFE");
    QByteArray All;
    for (int B = 1; B < 256; ++B)
        All.append(char(B));
    QTest::newRow("every byte") << All;
}

void TestNativePath::RoundTripsEveryByteString() {
    QFETCH(QByteArray, Bytes);
    QCOMPARE(PathToNative(PathFromNative(Bytes)), Bytes);
}

void TestNativePath::DecodesValidUtf8AsText() {
    QCOMPARE(PathFromNative("/tmp/K\xC3\xA4se"), QString::fromUtf8("/tmp/K\xC3\xA4se"));
    QCOMPARE(PathToNative(QString::fromUtf8("\xF0\x9F\x98\x80")), QByteArray("\xF0\x9F\x98\x80"));
}

void TestNativePath::CarriesInvalidBytesAsEscapes() {
    const QString Path = PathFromNative("caf\xE9");
    QCOMPARE(Path.size(), 4);
    QCOMPARE(Path.at(3).unicode(), char16_t(0xDCE9));
    // Joining keeps the escape, so a folder plus an odd name still names the same bytes.
    QCOMPARE(PathToNative(QStringLiteral("/x/") + Path), QByteArray("/x/caf\xE9"));
}

void TestNativePath::PathHelpers() {
    QCOMPARE(IncludeTrailingPathDelimiter("/a"), QString("/a/"));
    QCOMPARE(IncludeTrailingPathDelimiter("/a/"), QString("/a/"));
    QCOMPARE(ExcludeTrailingPathDelimiter("/a/"), QString("/a"));
    QCOMPARE(ExcludeTrailingPathDelimiter("/a"), QString("/a"));
    QCOMPARE(ExtractFilePath("/opt/harkavel/Harkavel"), QString("/opt/harkavel/"));
    QCOMPARE(ExtractFilePath("Harkavel"), QString());
}

QTEST_GUILESS_MAIN(TestNativePath)
#include "TestNativePath.moc"
