// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "net/uWinInetHttp.h"
#include "platform/ProgramPath.h"
#include "settings/GnuGetText.h"
#include "support/TestMirror.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <arpa/inet.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using support::TNginxMirror;
using support::TRawServer;

namespace {

QByteArray Sample(qsizetype Size) {
    QByteArray Bytes(Size, Qt::Uninitialized);
    for (qsizetype I = 0; I < Size; ++I)
        Bytes[I] = char((I * 7 + I / 251) & 0xFF);
    return Bytes;
}

// A request and how it ended.
struct TOutcome {
    QByteArray Body;
    QString Error;
    int32_t StatusCode = 0;
    uint32_t ErrorCode = 0;
};

TOutcome Fetch(TWinInetHTTP& Client, const QString& Url) {
    TOutcome Outcome;
    QBuffer Stream(&Outcome.Body);
    Stream.open(QIODevice::WriteOnly);
    try {
        Client.Get(Url, &Stream);
    } catch (const EWinInetHTTPException& E) {
        Outcome.Error = E.Message();
        Outcome.StatusCode = E.StatusCode;
        Outcome.ErrorCode = E.ErrorCode;
    }
    return Outcome;
}

} // namespace

class TestHttpClient : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void SplitsUrls();
    void FetchesAFileWithTheStatusNoticesInOrder();
    void AnswersARangeWith206();
    void RaisesOn304WithItsHeaders();
    void RaisesOn404WithTheReasonPhrase();
    void FollowsAndReportsARedirect();
    void SendsPragmaNoCache();
    void UploadsSmallBodiesWholeAndLargeOnesInPieces();
    void RaisesTheServersOwnReasonPhrase();
    void FailsAStallAfterTheHeaders();
    void FailsABodyCutShort();
    void BreaksOffABlockedRequestFromAnotherThread();
    void BreaksOffANameLookupAtOnce();
    void RaisesAHandlersErrorAfterTheTransfer_data();
    void RaisesAHandlersErrorAfterTheTransfer();
    void FailsWhenNobodyListens();
    void TranslatesStatusTexts();
    void RefusesAnUnverifiedCertificate();

private:
    void BreakOffANameLookupInTheChild();
    std::unique_ptr<TNginxMirror> FMirror;
    QByteArray FDatabase;
};

void TestHttpClient::initTestCase() {
    FMirror = std::make_unique<TNginxMirror>();
    QVERIFY(FMirror->Started());
    FDatabase = Sample(78992);
    QVERIFY(FMirror->Serve("daily.cvd", FDatabase));
}

void TestHttpClient::SplitsUrls() {
    TWinInetHTTP Client;
    Client.SetURL("http://mirror.example:8080/path/daily.cvd?x=1");
    QCOMPARE(Client.Host(), QString("mirror.example"));
    QCOMPARE(Client.Port(), uint16_t(8080));
    QCOMPARE(Client.Path(), QString("/path/daily.cvd?x=1"));
    QCOMPARE(Client.Scheme(), INTERNET_SCHEME_HTTP);
    Client.SetURL("https://mirror.example/main.cvd");
    QCOMPARE(Client.Port(), uint16_t(443));
    QCOMPARE(Client.Scheme(), INTERNET_SCHEME_HTTPS);
    Client.SetURL("http://mirror.example/");
    QCOMPARE(Client.Port(), uint16_t(80));
    Client.SetURL(QString());
    QCOMPARE(Client.Port(), uint16_t(80));
    QCOMPARE(Client.Host(), QString());
    QCOMPARE(Client.Path(), QString());
    for (const QString& Bad : {QString("ftp://mirror.example/daily.cvd"), QString("not a url")}) {
        try {
            Client.SetURL(Bad);
            QFAIL("no error raised");
        } catch (const EWinInetHTTPException& E) {
            QCOMPARE(E.Message(), "Invalid url passed " + Bad);
            QCOMPARE(E.URL, Bad);
        }
    }
    Client.Disconnect(); // nothing open: nothing happens
}

void TestHttpClient::FetchesAFileWithTheStatusNoticesInOrder() {
    TWinInetHTTP Client;
    QList<uint32_t> Statuses;
    QStringList Texts;
    Client.OnStatus = [&](TWinInetHTTP* Sender, uint32_t Status, const QString& Text) {
        QCOMPARE(Sender, &Client);
        Statuses << Status;
        Texts << Text;
    };
    qint64 Reported = 0;
    Client.OnDownloadProgress = [&](TWinInetHTTP*, int64_t Bytes, int64_t Total) {
        QVERIFY(Bytes <= 16384);
        QCOMPARE(Total, int64_t(78992));
        Reported += Bytes;
    };
    const TOutcome Outcome = Fetch(Client, FMirror->Url("daily.cvd"));
    QCOMPARE(Outcome.Error, QString());
    QCOMPARE(Outcome.Body, FDatabase);
    QCOMPARE(Reported, qint64(78992));
    QCOMPARE(Client.Response.StatusCode, 200);
    QCOMPARE(Client.Response.ContentLength, 78992);
    QCOMPARE(Statuses, QList<uint32_t>({10, 11, 20, 21, 30, 31, 40, 41, 50, 51}));
    QCOMPARE(Texts[0], QString("Resolving name 127.0.0.1"));
    QCOMPARE(Texts[1], QString("Name resolved to 127.0.0.1"));
    QCOMPARE(Texts[2], QString("Connecting to server 127.0.0.1"));
    QCOMPARE(Texts[3], QString("Connected to 127.0.0.1"));
    QVERIFY(Texts[5].startsWith("Request sent ["));
    QVERIFY(Texts[7].startsWith("Response received ["));
    QCOMPARE(Texts[9], QString("Connection closed"));
}

void TestHttpClient::AnswersARangeWith206() {
    TWinInetHTTP Client;
    Client.Request.Range = "bytes=0-511";
    const TOutcome Outcome = Fetch(Client, FMirror->Url("daily.cvd"));
    QCOMPARE(Outcome.Error, QString());
    QCOMPARE(Client.Response.StatusCode, 206);
    QCOMPARE(Client.Response.ContentRange, QString("bytes 0-511/78992"));
    QCOMPARE(Outcome.Body, FDatabase.left(512));
}

void TestHttpClient::RaisesOn304WithItsHeaders() {
    TWinInetHTTP Client;
    const QDateTime Modified = QFileInfo(FMirror->Root() + "/daily.cvd").lastModified();
    Client.Request.IfModifiedSince = HTTPDate(Modified.addSecs(60));
    Client.Request.Range = "bytes=0-511";
    const TOutcome Outcome = Fetch(Client, FMirror->Url("daily.cvd"));
    QCOMPARE(Outcome.StatusCode, 304);
    QCOMPARE(Outcome.ErrorCode, 0u);
    QCOMPARE(Outcome.Error, QString("Not Modified"));
    QCOMPARE(Client.Response.StatusCode, 304);
    QCOMPARE(Client.Response.LastModified, HTTPDate(Modified));
    QVERIFY(!Client.Response.Date.isEmpty());
    QCOMPARE(Outcome.Body, QByteArray());
    // An older date: the whole range comes.
    Client.Request.IfModifiedSince = HTTPDate(Modified.addSecs(-60));
    QCOMPARE(Fetch(Client, FMirror->Url("daily.cvd")).Body.size(), 512);
}

void TestHttpClient::RaisesOn404WithTheReasonPhrase() {
    TWinInetHTTP Client;
    const TOutcome Missing = Fetch(Client, FMirror->Url("main.cvd"));
    QCOMPARE(Missing.Error, QString("Not Found"));
    QCOMPARE(Missing.StatusCode, 404);
    QCOMPARE(Client.Response.StatusText, QString("Not Found"));
    const TOutcome Unavailable = Fetch(Client, FMirror->Url("unavailable"));
    QCOMPARE(Unavailable.Error, QString("Service Temporarily Unavailable"));
    QCOMPARE(Unavailable.StatusCode, 503);
    // The client is usable again at once.
    QCOMPARE(Fetch(Client, FMirror->Url("daily.cvd")).Body, FDatabase);
}

void TestHttpClient::FollowsAndReportsARedirect() {
    TWinInetHTTP Client;
    QStringList Texts;
    Client.OnStatus = [&](TWinInetHTTP*, uint32_t Status, const QString& Text) {
        if (Status == 110)
            Texts << Text;
    };
    const TOutcome Outcome = Fetch(Client, FMirror->Url("redirect/daily.cvd"));
    QCOMPARE(Outcome.Error, QString());
    QCOMPARE(Outcome.Body, FDatabase);
    QCOMPARE(Texts, QStringList({"Redirected to " + FMirror->Url("daily.cvd")}));
    QCOMPARE(Client.URL(), FMirror->Url("daily.cvd"));
}

void TestHttpClient::SendsPragmaNoCache() {
    TWinInetHTTP Client;
    Client.Request.Range = "bytes=0-511";
    Fetch(Client, FMirror->Url("daily.cvd"));
    QDeadlineTimer Deadline(5000);
    QStringList Log;
    while ((Log = FMirror->AccessLog().filter("\"bytes=0-511\"")).isEmpty() &&
           !Deadline.hasExpired())
        QThread::msleep(10);
    QVERIFY(!Log.isEmpty());
    QVERIFY2(Log.last().contains("\"no-cache\""), qPrintable(Log.last()));
}

void TestHttpClient::UploadsSmallBodiesWholeAndLargeOnesInPieces() {
    // A server that reads the whole body before it answers with the byte count (nginx answers
    // a "return" location before the body has come).
    TRawServer Server([](int Socket) {
        const QByteArray Head = TRawServer::ReadRequestHead(Socket);
        const qsizetype At = Head.indexOf("Content-Length: ");
        const qsizetype Length = At < 0 ? 0 : Head.mid(At + 16).split('\r').first().toLongLong();
        QByteArray Body;
        char Piece[4096];
        while (Body.size() < Length) {
            const ssize_t Got = recv(Socket, Piece, sizeof Piece, 0);
            if (Got <= 0)
                break;
            Body.append(Piece, Got);
        }
        const QByteArray Count = QByteArray::number(Body.size());
        TRawServer::Send(Socket, "HTTP/1.1 200 OK\r\nContent-Length: " +
                                     QByteArray::number(Count.size()) + "\r\n\r\n" + Count);
    });
    for (const qsizetype Size : {qsizetype(16384), qsizetype(16385)}) {
        TWinInetHTTP Client;
        QList<int64_t> Reports;
        Client.OnUploadProgress = [&](TWinInetHTTP*, int64_t Written, int64_t Total) {
            QCOMPARE(Total, int64_t(Size));
            Reports << Written;
        };
        QByteArray Data = Sample(Size);
        QBuffer Body(&Data);
        Body.open(QIODevice::ReadOnly);
        QByteArray Answer;
        QBuffer Stream(&Answer);
        Stream.open(QIODevice::WriteOnly);
        Client.SetURL(Server.Url("upload"));
        Client.Request.Method = hmPost;
        Client.DoRequest(&Body, &Stream);
        QCOMPARE(Answer, QByteArray::number(Size));
        QCOMPARE(Reports, Size == 16384 ? QList<int64_t>() : QList<int64_t>({16384, 16385}));
    }
}

void TestHttpClient::RaisesTheServersOwnReasonPhrase() {
    TRawServer Server([](int Socket) {
        TRawServer::ReadRequestHead(Socket);
        TRawServer::Send(Socket, "HTTP/1.1 599 Mirror Overloaded\r\nContent-Length: 4\r\n\r\nbusy");
    });
    TWinInetHTTP Client;
    const TOutcome Outcome = Fetch(Client, Server.Url());
    QCOMPARE(Outcome.Error, QString("Mirror Overloaded"));
    QCOMPARE(Outcome.StatusCode, 599);
}

void TestHttpClient::FailsAStallAfterTheHeaders() {
    std::atomic<bool> Release{false};
    TRawServer Server([&](int Socket) {
        TRawServer::ReadRequestHead(Socket);
        TRawServer::Send(Socket, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nsome");
        while (!Release)
            QThread::msleep(10);
    });
    TWinInetHTTP Client;
    Client.ReceiveTimeout = 1000;
    QElapsedTimer Timer;
    Timer.start();
    const TOutcome Outcome = Fetch(Client, Server.Url());
    const qint64 Elapsed = Timer.elapsed();
    Release = true;
    QCOMPARE(Outcome.ErrorCode, 28u); // CURLE_OPERATION_TIMEDOUT
    QCOMPARE(Outcome.Error, QString("Timeout was reached"));
    QCOMPARE(Outcome.Body, QByteArray("some"));
    qInfo("stall noticed after %lld ms", Elapsed);
}

void TestHttpClient::FailsABodyCutShort() {
    TRawServer Server([](int Socket) {
        TRawServer::ReadRequestHead(Socket);
        TRawServer::Send(Socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nonly this");
    });
    TWinInetHTTP Client;
    const TOutcome Outcome = Fetch(Client, Server.Url());
    QCOMPARE(Outcome.ErrorCode, 18u); // CURLE_PARTIAL_FILE
    QVERIFY(!Outcome.Error.isEmpty());
}

void TestHttpClient::BreaksOffABlockedRequestFromAnotherThread() {
    std::atomic<bool> Release{false};
    TRawServer Server([&](int) {
        while (!Release)
            QThread::msleep(10);
    });
    TWinInetHTTP Client;
    QStringList Notices;
    TOutcome Outcome;
    std::thread Updater([&] {
        Client.OnStatus = [&](TWinInetHTTP*, uint32_t, const QString& Text) { Notices << Text; };
        Outcome = Fetch(Client, Server.Url());
    });
    QDeadlineTimer Deadline(10000);
    while (Server.Accepted() == 0 && !Deadline.hasExpired())
        QThread::msleep(5);
    QThread::msleep(50); // the request is sent and waits for an answer
    // Two threads break it off at once; nothing is closed twice.
    std::thread Second([&] { Client.Disconnect(); });
    Client.Disconnect();
    Second.join();
    Updater.join();
    Release = true;
    QCOMPARE(Outcome.ErrorCode, 42u); // CURLE_ABORTED_BY_CALLBACK
    QVERIFY(Notices.contains("Sending Request"));
    QCOMPARE(Fetch(Client, FMirror->Url("daily.cvd")).Body, FDatabase); // usable again
}

// In a child process with a mount namespace of its own (this test again, started through
// unshare), the system resolver asks a name server on a loopback address that reads the
// question and never answers. Broken off from another thread, the request must end at once,
// not when the resolver gives up (30 s).
void TestHttpClient::BreaksOffANameLookupAtOnce() {
    if (qEnvironmentVariableIsSet("HARKAVEL_SILENT_RESOLVER"))
        return BreakOffANameLookupInTheChild();
    if (QProcess::execute("unshare", {"--mount", "true"}) != 0)
        QSKIP("no private mount namespace for a silent name server here");
    QTemporaryDir Folder;
    QVERIFY(support::WriteFile(Folder.filePath("resolv.conf"),
                               "nameserver 127.0.0.77\noptions timeout:30 attempts:1\n"));
    QProcess Child;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert("HARKAVEL_SILENT_RESOLVER", "1");
    Child.setProcessEnvironment(Environment);
    Child.setProcessChannelMode(QProcess::ForwardedChannels);
    Child.start("unshare",
                {"--mount", "--propagation", "private", "sh", "-c",
                 "mount --bind \"$1\" /etc/resolv.conf && exec \"$2\" "
                 "BreaksOffANameLookupAtOnce",
                 "sh", Folder.filePath("resolv.conf"), QCoreApplication::applicationFilePath()});
    QVERIFY(Child.waitForStarted());
    QVERIFY(Child.waitForFinished(60000));
    QCOMPARE(Child.exitCode(), 0);
}

void TestHttpClient::BreakOffANameLookupInTheChild() {
    const int Silent = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(53);
    Address.sin_addr.s_addr = inet_addr("127.0.0.77");
    QVERIFY(bind(Silent, reinterpret_cast<sockaddr*>(&Address), sizeof Address) == 0);
    TWinInetHTTP Client;
    std::atomic<bool> Resolving{false};
    Client.OnStatus = [&](TWinInetHTTP*, uint32_t Status, const QString&) {
        if (Status == InternetStatus::ResolvingName)
            Resolving = true;
    };
    std::atomic<qint64> EndedAfter{-1};
    QElapsedTimer SinceBreak;
    std::thread Request([&] {
        Fetch(Client, "http://any-name.invalid/daily.cvd");
        EndedAfter = SinceBreak.elapsed();
    });
    QTRY_VERIFY(Resolving);
    QThread::msleep(200); // well inside the lookup, which takes 30 s to give up
    SinceBreak.start();
    Client.Disconnect();
    Request.join();
    close(Silent);
    QVERIFY2(EndedAfter.load() < 5000, qPrintable(QString::number(EndedAfter.load())));
}

void TestHttpClient::RaisesAHandlersErrorAfterTheTransfer_data() {
    QTest::addColumn<int>("FailingStatus"); // 0: the download progress handler fails
    for (const uint32_t Status :
         {InternetStatus::ResolvingName, InternetStatus::ConnectingToServer,
          InternetStatus::ConnectedToServer, InternetStatus::RequestSent,
          InternetStatus::ReceivingResponse, InternetStatus::ResponseReceived,
          InternetStatus::ClosingConnection})
        QTest::addRow("status %u", Status) << int(Status);
    QTest::newRow("download progress") << 0;
}

// An error raised by a handler inside libcurl's callbacks must not unwind through libcurl: it
// comes out of DoRequest as it was raised, and the client can be used again at once.
void TestHttpClient::RaisesAHandlersErrorAfterTheTransfer() {
    QFETCH(int, FailingStatus);
    TWinInetHTTP Client;
    bool Armed = true;
    Client.OnStatus = [&](TWinInetHTTP*, uint32_t Status, const QString&) {
        if (Armed && FailingStatus != 0 && Status == uint32_t(FailingStatus))
            throw Exception("handler failed");
    };
    Client.OnDownloadProgress = [&](TWinInetHTTP*, int64_t, int64_t) {
        if (Armed && FailingStatus == 0)
            throw Exception("handler failed");
    };
    QByteArray Body;
    QBuffer Stream(&Body);
    Stream.open(QIODevice::WriteOnly);
    try {
        Client.Get(FMirror->Url("daily.cvd"), &Stream);
        QFAIL("no error raised");
    } catch (const EWinInetHTTPException& E) {
        QFAIL(qPrintable("the transfer's error instead of the handler's: " + E.Message()));
    } catch (const Exception& E) {
        QCOMPARE(E.Message(), QString("handler failed"));
    }
    Armed = false;
    QCOMPARE(Fetch(Client, FMirror->Url("daily.cvd")).Body, FDatabase);
}

void TestHttpClient::FailsWhenNobodyListens() {
    TWinInetHTTP Client;
    Client.ConnectTimeout = 5000;
    const TOutcome Outcome =
        Fetch(Client, QStringLiteral("http://127.0.0.1:%1/daily.cvd").arg(support::FreePort()));
    QCOMPARE(Outcome.ErrorCode, 7u); // CURLE_COULDNT_CONNECT
    QCOMPARE(Outcome.Error, QString("Couldn't connect to server"));
    QCOMPARE(Outcome.StatusCode, 0);
}

void TestHttpClient::TranslatesStatusTexts() {
    QCOMPARE(TWinInetHTTP::StatusText(999, QString()), QString("Unknown WinInet status code 999"));
    QCOMPARE(TWinInetHTTP::StatusText(31, QString(), 120), QString("Request sent [120 bytes]"));
    testing::SetProgramFilePath(QCoreApplication::applicationDirPath() + "/Harkavel");
    SetCurrentLanguage("de");
    QCOMPARE(TWinInetHTTP::StatusText(31, QString(), 120), QString("Anfrage gesendet [120 Bytes]"));
    QCOMPARE(TWinInetHTTP::StatusText(21, "127.0.0.1"), QString("Verbunden mit 127.0.0.1"));
    SetCurrentLanguage("en");
    testing::SetProgramFilePath(QString());
}

void TestHttpClient::RefusesAnUnverifiedCertificate() {
    // https is requested with transport security and certificate checks: a mirror with a
    // certificate nobody signed cannot stand in for the real one.
    TWinInetHTTP Client;
    const TOutcome Outcome = Fetch(Client, FMirror->TlsUrl("daily.cvd"));
    QCOMPARE(Outcome.ErrorCode, 60u); // CURLE_PEER_FAILED_VERIFICATION
    QCOMPARE(Outcome.Body, QByteArray());
}

QTEST_GUILESS_MAIN(TestHttpClient)
#include "TestHttpClient.moc"
