// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// A small blocking HTTP client, one request at a time, on libcurl in the place of WinInet.
//
// It keeps WinInet's status numbers and texts, sends Pragma: no-cache, honours the connect,
// send and receive time-outs and raises EWinInetHTTPException for every failure. The client
// belongs to the thread that runs its requests; status notices and progress reports arrive on
// that thread. The only call another thread may make is Disconnect, which breaks off a
// request that is blocked.

#include "platform/Exceptions.h"

#include <QDateTime>
#include <QIODevice>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

enum THTTPMethod { hmGet = 0, hmPost = 1, hmHead = 2 };

struct THTTPRequestHeader {
    static constexpr const char* DefaultUserAgent =
        "Mozilla/4.0 (compatible; MSIE 5.0; Windows 98)";

    QString IfModifiedSince;
    QString Range;
    QString UserAgent = QString::fromLatin1(DefaultUserAgent);
    THTTPMethod Method = hmGet;

    void Clear();
    // "User-Agent", "If-Modified-Since" and "Range" lines, each ending in CR LF, for the values
    // that are not empty once trimmed.
    QString GetHeaders() const;
};

struct THTTPResponseHeader {
    int32_t ContentLength = 0;
    QString ContentRange;
    QString ContentType;
    QString Date;
    QString LastModified;
    QString ContentLocation;
    int32_t StatusCode = 0;
    QString StatusText; // the first word of the reason phrase (the client puts the whole one)
    QString Version;

    void Parse(const QString& Raw);
};

// An RFC 1123 date ("Sun, 06 Nov 1994 08:49:37 GMT") of a time taken as UTC, with English day
// and month names whatever the locale; empty for a time it cannot express.
QString HTTPDate(const QDateTime& DateTime);

class EWinInetHTTPException : public Exception {
public:
    EWinInetHTTPException(const QString& Message, const QString& URL, uint32_t ErrorCode,
                          int32_t StatusCode)
        : Exception(Message), StatusCode(StatusCode), ErrorCode(ErrorCode), URL(URL) {}
    int32_t StatusCode; // HTTP status of a failed response; 0 for other failures
    uint32_t ErrorCode; // the transport's error number (a CURLcode); 0 for status failures
    QString URL;
};

// WinInet's status notices that the client reports.
namespace InternetStatus {
inline constexpr uint32_t ResolvingName = 10, NameResolved = 11, ConnectingToServer = 20,
                          ConnectedToServer = 21, SendingRequest = 30, RequestSent = 31,
                          ReceivingResponse = 40, ResponseReceived = 41, ClosingConnection = 50,
                          ConnectionClosed = 51, Redirect = 110;
}

inline constexpr uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr uint32_t INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr uint32_t INTERNET_OPEN_TYPE_PROXY = 3;
inline constexpr uint32_t INTERNET_SCHEME_HTTP = 3;
inline constexpr uint32_t INTERNET_SCHEME_HTTPS = 4;

class TWinInetHTTP {
public:
    using TStatusEvent =
        std::function<void(TWinInetHTTP* Sender, uint32_t Status, const QString& Text)>;
    using TProgressEvent = std::function<void(TWinInetHTTP* Sender, int64_t Bytes, int64_t Total)>;

    TWinInetHTTP();
    ~TWinInetHTTP();
    TWinInetHTTP(const TWinInetHTTP&) = delete;
    TWinInetHTTP& operator=(const TWinInetHTTP&) = delete;

    THTTPRequestHeader Request;
    THTTPResponseHeader Response;
    uint32_t AccessType = INTERNET_OPEN_TYPE_PRECONFIG;
    TStatusEvent OnStatus;
    TProgressEvent OnUploadProgress;   // after each piece of a body over 16 384 bytes
    TProgressEvent OnDownloadProgress; // after each piece of the body; Total: ContentLength
    uint32_t ReceiveTimeout = 0;       // ms without a byte received; 0: no limit of ours
    uint32_t ConnectTimeout = 0;       // ms; 0: the transport's default
    uint32_t SendTimeout = 0;          // ms without a byte sent; 0: no limit of ours
    QString ProxyPassword;
    QString ProxyUserName;
    uint16_t ProxyPort = 0;
    QString ProxyServer;

    // Splits and stores the URL; raises "Invalid url passed %s" for one that is not http(s).
    void SetURL(const QString& URL);
    const QString& URL() const { return FURL; }
    const QString& Host() const { return FHost; }
    uint16_t Port() const { return FPort; }
    const QString& Path() const { return FPath; }
    uint32_t Scheme() const { return FScheme; }

    void Get(const QString& URL, QIODevice* Stream);
    // An error raised by a handler (OnStatus, OnDownloadProgress, OnUploadProgress) breaks the
    // request off and comes out of DoRequest as it was raised.
    // Sends the request (with Body, if any), checks the status, reads the headers into
    // Response and copies the body into Stream; disconnects afterwards, also on failure.
    void DoRequest(QIODevice* Body, QIODevice* Stream);
    void Connect();
    // Any thread, any time. During a request on another thread it breaks that request off.
    void Disconnect();

    // The translated text of a status notice.
    static QString StatusText(uint32_t Status, const QString& Information, int64_t Count = 0);

private:
    friend struct TCurlCallbacks;
    struct TTransfer;
    void Configure(TTransfer& Transfer, QIODevice* Body, QIODevice* Stream);
    void RunTransfer(TTransfer& Transfer);
    void RaiseTransportError(int Code) const;
    void RaiseMultiError(int Code) const;
    void ReportDownloadProgress(int64_t Bytes);
    void ReportUploadProgress(int64_t Sent, int64_t Size);
    void RaiseHandlerError();
    QString RedirectTarget(const QString& Location) const;
    void ReportStatus(uint32_t Status, const QString& Information, int64_t Count = 0);
    void CloseHandles();    // with FLock held
    void CloseOwnHandles(); // on the request's thread
    void EndRequest();

    QString FURL, FHost, FPath;
    uint16_t FPort = 80;
    uint32_t FScheme = 0;

    std::mutex FLock;       // the handles, and the two flags below
    void* FMulti = nullptr; // CURLM*
    void* FEasy = nullptr;  // CURL*
    bool FConnected = false;
    bool FInTransfer = false; // a request runs on the owner's thread
    std::atomic<bool> FCancelRequested{false};
    std::thread::id FOwner; // the thread that runs the requests; only it gets notices
    // An error raised by a handler inside libcurl's callbacks, raised again once libcurl has
    // returned; owner's thread only.
    std::exception_ptr FHandlerError;
};
