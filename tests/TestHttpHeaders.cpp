// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "net/uWinInetHttp.h"

#include <QLocale>
#include <QTest>

class TestHttpHeaders : public QObject {
    Q_OBJECT
private slots:
    void ComposesRequestLines();
    void ClearKeepsTheMethod();
    void ParsesResponseHeaders();
    void ParseOfNothingChangesNothing();
    void WritesRfc1123DatesInEnglish();
};

void TestHttpHeaders::ComposesRequestLines() {
    THTTPRequestHeader Header;
    Header.UserAgent.clear();
    QCOMPARE(Header.GetHeaders(), QString());
    Header.Range = "   ";
    QCOMPARE(Header.GetHeaders(), QString());
    Header.Range = "  bytes=0-511 ";
    Header.IfModifiedSince = "Sun, 06 Nov 1994 08:49:37 GMT";
    Header.UserAgent = "Agent";
    QCOMPARE(Header.GetHeaders(), QString("User-Agent: Agent\r\nIf-Modified-Since: Sun, 06 Nov "
                                          "1994 08:49:37 GMT\r\nRange: bytes=0-511\r\n"));
}

void TestHttpHeaders::ClearKeepsTheMethod() {
    THTTPRequestHeader Header;
    Header.Method = hmHead;
    Header.Range = "bytes=0-1";
    Header.IfModifiedSince = "x";
    Header.UserAgent = "other";
    Header.Clear();
    QCOMPARE(Header.Method, hmHead);
    QCOMPARE(Header.GetHeaders(),
             QString("User-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Windows 98)\r\n"));
}

void TestHttpHeaders::ParsesResponseHeaders() {
    THTTPResponseHeader Response;
    Response.Parse("HTTP/1.1 404 Not Found\r\ncontent-length: 42\r\nContent-Length: 7\r\n"
                   "Content-Type : text/html\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\n"
                   "Last-Modified:\tyesterday \rContent-Range: bytes 0-511/78992\r\n\r\n");
    QCOMPARE(Response.Version, QString("HTTP/1.1"));
    QCOMPARE(Response.StatusCode, 404);
    QCOMPARE(Response.StatusText, QString("Not"));
    QCOMPARE(Response.ContentLength, 42);
    QCOMPARE(Response.ContentType, QString()); // a space before the colon: no match
    QCOMPARE(Response.Date, QString("Sun, 06 Nov 1994 08:49:37 GMT"));
    QCOMPARE(Response.LastModified, QString("yesterday"));
    QCOMPARE(Response.ContentRange, QString("bytes 0-511/78992"));
    Response.Parse("HTTP/1.1   200\r\nContent-Length: many\r\n");
    QCOMPARE(Response.ContentLength, 0);
    QCOMPARE(Response.StatusCode, 200);
    QCOMPARE(Response.StatusText, QString("Not")); // a missing field keeps its value
    QCOMPARE(Response.ContentRange, QString());
}

void TestHttpHeaders::ParseOfNothingChangesNothing() {
    THTTPResponseHeader Response;
    Response.Parse("HTTP/1.0 206 Partial Content\r\nContent-Length: 512\r\n");
    Response.Parse(QString());
    QCOMPARE(Response.StatusCode, 206);
    QCOMPARE(Response.ContentLength, 512);
}

void TestHttpHeaders::WritesRfc1123DatesInEnglish() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QDateTime Time(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    QCOMPARE(HTTPDate(Time), QString("Sun, 06 Nov 1994 08:49:37 GMT"));
    QCOMPARE(HTTPDate(Time.toOffsetFromUtc(3600)), QString("Sun, 06 Nov 1994 08:49:37 GMT"));
    QCOMPARE(HTTPDate(QDateTime()), QString());
    QCOMPARE(HTTPDate(QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC)), QString());
    QLocale::setDefault(QLocale::c());
}

QTEST_GUILESS_MAIN(TestHttpHeaders)
#include "TestHttpHeaders.moc"
