// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "uWinInetHttp.h"

#include "settings/GnuGetText.h"

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <curl/curl.h>
#include <unistd.h>

namespace {

constexpr qint64 PieceSize = 16384; // body pieces, each way
constexpr int MaxRedirects = 10;
constexpr int PollIntervalMs = 100; // how often the stall timer is looked at

// Spaces and control characters off both ends.
QString TrimmedValue(const QString& Text) {
    qsizetype First = 0, Last = Text.size();
    while (First < Last && Text.at(First).unicode() <= 0x20)
        ++First;
    while (Last > First && Text.at(Last - 1).unicode() <= 0x20)
        --Last;
    return Text.mid(First, Last - First);
}

// Takes the value of the first line named Name (case-insensitive, the name untrimmed) and
// removes that line.
QString ExtractField(QStringList& Lines, const QString& Name) {
    for (qsizetype I = 0; I < Lines.size(); ++I) {
        const qsizetype Colon = Lines[I].indexOf(u':');
        if (Colon < 0 || Lines[I].left(Colon).compare(Name, Qt::CaseInsensitive) != 0)
            continue;
        const QString Value = TrimmedValue(Lines[I].mid(Colon + 1));
        Lines.removeAt(I);
        return Value;
    }
    return QString();
}

void EnsureCurlInitialised() {
    static const bool Initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)Initialised;
}

} // namespace

// --- Header records ------------------------------------------------------------------------

void THTTPRequestHeader::Clear() {
    IfModifiedSince.clear();
    Range.clear();
    UserAgent = QString::fromLatin1(DefaultUserAgent);
}

QString THTTPRequestHeader::GetHeaders() const {
    QString Headers;
    const std::pair<const char*, const QString*> Lines[] = {
        {"User-Agent: ", &UserAgent},
        {"If-Modified-Since: ", &IfModifiedSince},
        {"Range: ", &Range}};
    for (const auto& [Name, Value] : Lines) {
        const QString Trimmed = TrimmedValue(*Value);
        if (!Trimmed.isEmpty())
            Headers += QLatin1String(Name) + Trimmed + QLatin1String("\r\n");
    }
    return Headers;
}

void THTTPResponseHeader::Parse(const QString& Raw) {
    if (Raw.isEmpty())
        return;
    QString Normalised = Raw;
    Normalised.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    QStringList Lines = Normalised.split(u'\n');
    ContentLength = ExtractField(Lines, "Content-Length").toInt();
    ContentRange = ExtractField(Lines, "Content-Range");
    ContentType = ExtractField(Lines, "Content-Type");
    Date = ExtractField(Lines, "Date");
    LastModified = ExtractField(Lines, "Last-Modified");
    ContentLocation = ExtractField(Lines, "Content-Location");
    if (Lines.isEmpty())
        return;
    const QStringList Fields = Lines.first().split(u' ', Qt::SkipEmptyParts);
    if (Fields.size() >= 1)
        Version = Fields[0];
    if (Fields.size() >= 2)
        StatusCode = Fields[1].toInt();
    if (Fields.size() >= 3)
        StatusText = Fields[2];
}

QString HTTPDate(const QDateTime& DateTime) {
    static const char* const Days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (!DateTime.isValid())
        return QString();
    const QDateTime Utc = DateTime.toUTC();
    const QDate Day = Utc.date();
    if (Day.year() < 1 || Day.year() > 9999)
        return QString(); // a four-digit year is all the form has room for
    const QTime Time = Utc.time();
    return QString::asprintf("%s, %02d %s %04d %02d:%02d:%02d GMT", Days[Day.dayOfWeek() - 1],
                             Day.day(), Months[Day.month() - 1], Day.year(), Time.hour(),
                             Time.minute(), Time.second());
}

// --- The client ----------------------------------------------------------------------------

// What one transfer carries through libcurl's callbacks; on the owner's thread.
struct TWinInetHTTP::TTransfer {
    TWinInetHTTP* Client;
    QIODevice* Body = nullptr;
    qint64 BodySize = 0, BodySent = 0;
    QByteArray SmallBody;
    QIODevice* Stream = nullptr;
    curl_slist* Headers = nullptr;
    QString RawHeaders;   // of the response being received
    QString ReasonPhrase; // its whole reason phrase
    QString Location;     // its Location header
    int32_t Status = 0;
    bool DiscardBody = false; // a failed status or a redirect: the body is not read
    bool BodyFailed = false;  // the body could not be read: "Data stream read error"
    bool ResolvingReported = false;
    bool RequestSent = false;
    qint64 HeaderBytes = 0;
    QElapsedTimer SinceActivity;

    ~TTransfer() { curl_slist_free_all(Headers); }
};

TWinInetHTTP::TWinInetHTTP() {
    EnsureCurlInitialised();
}

TWinInetHTTP::~TWinInetHTTP() {
    try {
        Disconnect();
    } catch (...) { // a handler's error from the last notices has nobody left to reach
    }
}

void TWinInetHTTP::SetURL(const QString& URL) {
    FURL = URL;
    if (URL.isEmpty()) {
        FHost.clear(), FPath.clear(), FPort = 80, FScheme = 0;
        return;
    }
    CURLU* Parts = curl_url();
    char *Scheme = nullptr, *Host = nullptr, *Port = nullptr, *Path = nullptr, *Query = nullptr;
    const bool Parsed =
        curl_url_set(Parts, CURLUPART_URL, URL.toUtf8().constData(), 0) == CURLUE_OK &&
        curl_url_get(Parts, CURLUPART_SCHEME, &Scheme, 0) == CURLUE_OK &&
        curl_url_get(Parts, CURLUPART_HOST, &Host, 0) == CURLUE_OK &&
        curl_url_get(Parts, CURLUPART_PORT, &Port, CURLU_DEFAULT_PORT) == CURLUE_OK &&
        curl_url_get(Parts, CURLUPART_PATH, &Path, 0) == CURLUE_OK;
    curl_url_get(Parts, CURLUPART_QUERY, &Query, 0);
    const QString SchemeText = Parsed ? QString::fromUtf8(Scheme).toLower() : QString();
    const bool Usable = SchemeText == u"http" || SchemeText == u"https";
    if (Usable) {
        FScheme = SchemeText == u"http" ? INTERNET_SCHEME_HTTP : INTERNET_SCHEME_HTTPS;
        FHost = QString::fromUtf8(Host);
        FPort = uint16_t(QByteArray(Port).toUInt());
        FPath = QString::fromUtf8(Path) + (Query ? "?" + QString::fromUtf8(Query) : QString());
    }
    for (char* Part : {Scheme, Host, Port, Path, Query})
        curl_free(Part);
    curl_url_cleanup(Parts);
    if (!Usable)
        throw EWinInetHTTPException(
            Translate("Invalid url passed %s").replace(QLatin1String("%s"), URL), URL, 0, 0);
}

void TWinInetHTTP::Get(const QString& URL, QIODevice* Stream) {
    SetURL(URL);
    Request.Method = hmGet;
    DoRequest(nullptr, Stream);
}

void TWinInetHTTP::Connect() {
    std::lock_guard Guard(FLock);
    if (FCancelRequested) // broken off before its transfer began
        RaiseTransportError(CURLE_ABORTED_BY_CALLBACK);
    if (FConnected)
        return;
    FOwner = std::this_thread::get_id();
    FMulti = curl_multi_init();
    FEasy = curl_easy_init();
    if (FMulti == nullptr || FEasy == nullptr) {
        CloseHandles();
        throw EWinInetHTTPException(QString::fromUtf8(curl_easy_strerror(CURLE_FAILED_INIT)), FURL,
                                    CURLE_FAILED_INIT, 0);
    }
    FConnected = true;
}

void TWinInetHTTP::Disconnect() {
    bool OnOwnersThread = false;
    {
        std::lock_guard Guard(FLock);
        OnOwnersThread = std::this_thread::get_id() == FOwner;
        if (FInTransfer) {
            // libcurl's handles belong to the thread of the transfer: it is woken and ends the
            // transfer itself, then closes them.
            FCancelRequested = true;
            if (FMulti != nullptr)
                curl_multi_wakeup(static_cast<CURLM*>(FMulti));
            return;
        }
        CloseHandles();
    }
    if (OnOwnersThread)
        RaiseHandlerError(); // a closing notice's handler failed
}

void TWinInetHTTP::CloseHandles() {
    if (FEasy != nullptr)
        curl_easy_cleanup(static_cast<CURL*>(FEasy)); // closes the socket: notices 50 and 51
    if (FMulti != nullptr)
        curl_multi_cleanup(static_cast<CURLM*>(FMulti));
    FEasy = FMulti = nullptr;
    FConnected = false;
}

QString TWinInetHTTP::StatusText(uint32_t Status, const QString& Information, int64_t Count) {
    const char* Pattern = nullptr;
    switch (Status) {
    case 10:
        Pattern = N_("Resolving name %s");
        break;
    case 11:
        Pattern = N_("Name resolved to %s");
        break;
    case 20:
        Pattern = N_("Connecting to server %s");
        break;
    case 21:
        Pattern = N_("Connected to %s");
        break;
    case 30:
        Pattern = N_("Sending Request");
        break;
    case 31:
        Pattern = N_("Request sent [%d bytes]");
        break;
    case 40:
        Pattern = N_("Receiving response");
        break;
    case 41:
        Pattern = N_("Response received [%d bytes]");
        break;
    case 42:
        Pattern = N_("CTL Response received");
        break;
    case 43:
        Pattern = N_("Prefetch");
        break;
    case 50:
        Pattern = N_("Closing connection");
        break;
    case 51:
        Pattern = N_("Connection closed");
        break;
    case 60:
        Pattern = N_("Handle created");
        break;
    case 70:
        Pattern = N_("Handle closing");
        break;
    case 100:
        Pattern = N_("An asynchronous operation has been completed");
        break;
    case 110:
        Pattern = N_("Redirected to %s");
        break;
    case 120:
        Pattern = N_("Intermediate response");
        break;
    case 200:
        Pattern = N_("State change");
        break;
    default:
        return Translate("Unknown WinInet status code ") + QString::number(Status);
    }
    return Translate(Pattern)
        .replace(QLatin1String("%s"), Information)
        .replace(QLatin1String("%d"), QString::number(Count));
}

// Reached from inside libcurl's C frames, where no error may pass: an error of the handler is
// kept, the transfer is broken off, and the error is raised again once libcurl has returned.
void TWinInetHTTP::ReportStatus(uint32_t Status, const QString& Information, int64_t Count) {
    if (!OnStatus || std::this_thread::get_id() != FOwner || FHandlerError)
        return;
    try {
        OnStatus(this, Status, StatusText(Status, Information, Count));
    } catch (...) {
        FHandlerError = std::current_exception();
    }
}

void TWinInetHTTP::ReportDownloadProgress(int64_t Bytes) {
    if (!OnDownloadProgress || FHandlerError)
        return;
    try {
        OnDownloadProgress(this, Bytes, Response.ContentLength);
    } catch (...) {
        FHandlerError = std::current_exception();
    }
}

void TWinInetHTTP::ReportUploadProgress(int64_t Sent, int64_t Size) {
    if (!OnUploadProgress || FHandlerError)
        return;
    try {
        OnUploadProgress(this, Sent, Size);
    } catch (...) {
        FHandlerError = std::current_exception();
    }
}

void TWinInetHTTP::RaiseHandlerError() {
    if (FHandlerError)
        std::rethrow_exception(std::exchange(FHandlerError, nullptr));
}

void TWinInetHTTP::RaiseTransportError(int Code) const {
    throw EWinInetHTTPException(QString::fromUtf8(curl_easy_strerror(CURLcode(Code))), FURL,
                                uint32_t(Code), 0);
}

void TWinInetHTTP::RaiseMultiError(int Code) const {
    throw EWinInetHTTPException(QString::fromUtf8(curl_multi_strerror(CURLMcode(Code))), FURL,
                                uint32_t(Code), 0);
}

namespace {

QString SocketAddressText(const curl_sockaddr* Address) {
    char Text[INET6_ADDRSTRLEN] = {};
    if (Address->family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&Address->addr)->sin_addr, Text,
                  sizeof Text);
    else if (Address->family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&Address->addr)->sin6_addr, Text,
                  sizeof Text);
    return QString::fromLatin1(Text);
}

} // namespace

// libcurl's callbacks, on the owner's thread inside curl_multi_perform. Each reaches the
// transfer through its user pointer.
struct TCurlCallbacks {
    using T = TWinInetHTTP::TTransfer;

    static int ResolverStart(void*, void*, void* User) {
        auto* X = static_cast<T*>(User);
        X->ResolvingReported = true;
        X->Client->ReportStatus(InternetStatus::ResolvingName, X->Client->Host());
        return X->Client->FHandlerError ? 1 : 0;
    }
    static curl_socket_t OpenSocket(void* User, curlsocktype, curl_sockaddr* Address) {
        auto* X = static_cast<T*>(User);
        // A numeric host is never resolved by libcurl: report it here, as WinInet does.
        if (!X->ResolvingReported) {
            X->ResolvingReported = true;
            X->Client->ReportStatus(InternetStatus::ResolvingName, X->Client->Host());
        }
        const QString Text = SocketAddressText(Address);
        X->Client->ReportStatus(InternetStatus::NameResolved, Text);
        X->Client->ReportStatus(InternetStatus::ConnectingToServer, Text);
        if (X->Client->FHandlerError)
            return CURL_SOCKET_BAD;
        return socket(Address->family, Address->socktype, Address->protocol);
    }
    // Its user pointer is the client: libcurl may close the socket after the transfer ended.
    static int CloseSocket(void* User, curl_socket_t Socket) {
        auto* Client = static_cast<TWinInetHTTP*>(User);
        Client->ReportStatus(InternetStatus::ClosingConnection, QString());
        const int Result = close(Socket);
        Client->ReportStatus(InternetStatus::ConnectionClosed, QString());
        return Result;
    }
    static int PreRequest(void* User, char* PrimaryIP, char*, int, int) {
        auto* X = static_cast<T*>(User);
        X->Client->ReportStatus(InternetStatus::ConnectedToServer, QString::fromLatin1(PrimaryIP));
        X->Client->ReportStatus(InternetStatus::SendingRequest, QString());
        return X->Client->FHandlerError ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
    }
    static int Debug(CURL*, curl_infotype Type, char*, size_t Size, void* User) {
        auto* X = static_cast<T*>(User);
        if (Type == CURLINFO_HEADER_OUT) {
            X->SinceActivity.restart();
            X->Client->ReportStatus(InternetStatus::RequestSent, QString(), int64_t(Size));
            if (X->BodySize == 0)
                X->RequestSent = true;
        }
        return 0;
    }
    static size_t Header(char* Data, size_t, size_t Size, void* User) {
        auto* X = static_cast<T*>(User);
        X->SinceActivity.restart();
        const QString Line = QString::fromLatin1(Data, qsizetype(Size));
        if (Line.startsWith(QLatin1String("HTTP/"))) { // a new response: its own headers
            X->RawHeaders.clear();
            X->Location.clear();
            X->HeaderBytes = 0;
            X->ReasonPhrase = TrimmedValue(Line.section(u' ', 2));
            X->Status = Line.section(u' ', 1, 1, QString::SectionSkipEmpty).toInt();
            X->Client->ReportStatus(InternetStatus::ReceivingResponse, QString());
        }
        if (Line.startsWith(QLatin1String("Location:"), Qt::CaseInsensitive))
            X->Location = TrimmedValue(Line.mid(9));
        X->RawHeaders += Line;
        X->HeaderBytes += qint64(Size);
        if (TrimmedValue(Line).isEmpty()) { // the end of this response's headers
            X->Client->Response.Parse(X->RawHeaders);
            X->DiscardBody = X->Status >= 300;
            X->Client->ReportStatus(InternetStatus::ResponseReceived, QString(), X->HeaderBytes);
        }
        return X->Client->FHandlerError ? 0 : Size;
    }
    static size_t Write(char* Data, size_t, size_t Size, void* User) {
        auto* X = static_cast<T*>(User);
        X->SinceActivity.restart();
        if (X->DiscardBody)
            return 0; // ends the transfer: a failed or redirected response's body is not read
        if (X->Stream->write(Data, qint64(Size)) != qint64(Size))
            return 0;
        X->Client->ReportDownloadProgress(int64_t(Size));
        return X->Client->FHandlerError ? 0 : Size;
    }
    static size_t Read(char* Buffer, size_t, size_t Room, void* User) {
        auto* X = static_cast<T*>(User);
        X->SinceActivity.restart();
        const qint64 Left = X->BodySize - X->BodySent;
        if (Left == 0) {
            X->RequestSent = true;
            return 0;
        }
        const qint64 Got = X->Body->read(Buffer, std::min({PieceSize, Left, qint64(Room)}));
        if (Got <= 0) {
            X->BodyFailed = true;
            return CURL_READFUNC_ABORT;
        }
        X->BodySent += Got;
        X->Client->ReportUploadProgress(X->BodySent, X->BodySize);
        return X->Client->FHandlerError ? CURL_READFUNC_ABORT : size_t(Got);
    }
};

void TWinInetHTTP::Configure(TTransfer& X, QIODevice* Body, QIODevice* Stream) {
    CURL* Easy = static_cast<CURL*>(FEasy);
    X.Client = this;
    X.Stream = Stream;
    X.Body = Body;
    X.BodySize = Body ? Body->size() - Body->pos() : 0;
    curl_easy_setopt(Easy, CURLOPT_URL, FURL.toUtf8().constData());
    curl_easy_setopt(Easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1); // keeps reason phrases
    curl_easy_setopt(Easy, CURLOPT_FOLLOWLOCATION, 0L); // followed here, to report each one
    curl_easy_setopt(Easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(Easy, CURLOPT_BUFFERSIZE, long(PieceSize));
    curl_easy_setopt(Easy, CURLOPT_UPLOAD_BUFFERSIZE, long(PieceSize));
    curl_easy_setopt(Easy, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(Easy, CURLOPT_FORBID_REUSE, 1L); // every request has its own connection
    // A request broken off during a name lookup would otherwise wait in the clean-up for the
    // resolver thread, as long as the system resolver takes to give up (30 s and more).
    curl_easy_setopt(Easy, CURLOPT_QUICK_EXIT, 1L);
    if (ConnectTimeout != 0)
        curl_easy_setopt(Easy, CURLOPT_CONNECTTIMEOUT_MS, long(ConnectTimeout));
    if (AccessType == INTERNET_OPEN_TYPE_PROXY && !ProxyServer.isEmpty()) {
        curl_easy_setopt(Easy, CURLOPT_PROXY, ProxyServer.toUtf8().constData());
        curl_easy_setopt(Easy, CURLOPT_PROXYPORT, long(ProxyPort));
        if (!ProxyUserName.isEmpty()) {
            curl_easy_setopt(Easy, CURLOPT_PROXYUSERNAME, ProxyUserName.toUtf8().constData());
            curl_easy_setopt(Easy, CURLOPT_PROXYPASSWORD, ProxyPassword.toUtf8().constData());
        }
    } else if (AccessType == INTERNET_OPEN_TYPE_DIRECT) {
        curl_easy_setopt(Easy, CURLOPT_NOPROXY, "*");
    } // the configured proxy (http_proxy, no_proxy) is libcurl's own default

    X.Headers = curl_slist_append(X.Headers, "Pragma: no-cache");
    X.Headers = curl_slist_append(X.Headers, "Cache-Control: no-cache");
    // No "Expect: 100-continue": a server that answers before the body would leave it unsent.
    X.Headers = curl_slist_append(X.Headers, "Expect:");
    for (const QString& Line :
         Request.GetHeaders().split(QLatin1String("\r\n"), Qt::SkipEmptyParts))
        X.Headers = curl_slist_append(X.Headers, Line.toUtf8().constData());
    curl_easy_setopt(Easy, CURLOPT_HTTPHEADER, X.Headers);

    switch (Request.Method) {
    case hmHead:
        curl_easy_setopt(Easy, CURLOPT_NOBODY, 1L);
        break;
    case hmPost:
        curl_easy_setopt(Easy, CURLOPT_POST, 1L);
        if (X.BodySize <= PieceSize) { // in one piece, with the request
            X.SmallBody = Body ? Body->read(X.BodySize) : QByteArray();
            if (X.SmallBody.size() != X.BodySize)
                throw EWinInetHTTPException(Translate("Data stream read error"), FURL, 0, 0);
            curl_easy_setopt(Easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(X.BodySize));
            curl_easy_setopt(Easy, CURLOPT_POSTFIELDS, X.SmallBody.constData());
            X.BodySize = 0;
        } else {
            curl_easy_setopt(Easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(X.BodySize));
            curl_easy_setopt(Easy, CURLOPT_READFUNCTION, &TCurlCallbacks::Read);
            curl_easy_setopt(Easy, CURLOPT_READDATA, &X);
        }
        break;
    case hmGet:
        curl_easy_setopt(Easy, CURLOPT_HTTPGET, 1L);
        break;
    }
    curl_easy_setopt(Easy, CURLOPT_RESOLVER_START_FUNCTION, &TCurlCallbacks::ResolverStart);
    curl_easy_setopt(Easy, CURLOPT_RESOLVER_START_DATA, &X);
    curl_easy_setopt(Easy, CURLOPT_OPENSOCKETFUNCTION, &TCurlCallbacks::OpenSocket);
    curl_easy_setopt(Easy, CURLOPT_OPENSOCKETDATA, &X);
    curl_easy_setopt(Easy, CURLOPT_CLOSESOCKETFUNCTION, &TCurlCallbacks::CloseSocket);
    curl_easy_setopt(Easy, CURLOPT_CLOSESOCKETDATA, this);
    curl_easy_setopt(Easy, CURLOPT_PREREQFUNCTION, &TCurlCallbacks::PreRequest);
    curl_easy_setopt(Easy, CURLOPT_PREREQDATA, &X);
    curl_easy_setopt(Easy, CURLOPT_VERBOSE, 1L); // feeds the debug callback, which prints nothing
    curl_easy_setopt(Easy, CURLOPT_DEBUGFUNCTION, &TCurlCallbacks::Debug);
    curl_easy_setopt(Easy, CURLOPT_DEBUGDATA, &X);
    curl_easy_setopt(Easy, CURLOPT_HEADERFUNCTION, &TCurlCallbacks::Header);
    curl_easy_setopt(Easy, CURLOPT_HEADERDATA, &X);
    curl_easy_setopt(Easy, CURLOPT_WRITEFUNCTION, &TCurlCallbacks::Write);
    curl_easy_setopt(Easy, CURLOPT_WRITEDATA, &X);
}

void TWinInetHTTP::RunTransfer(TTransfer& X) {
    CURLM* Multi = static_cast<CURLM*>(FMulti);
    CURL* Easy = static_cast<CURL*>(FEasy);
    if (const CURLMcode Added = curl_multi_add_handle(Multi, Easy))
        RaiseMultiError(Added);
    X.SinceActivity.start();
    CURLcode Result = CURLE_OK;
    CURLMcode MultiFailure = CURLM_OK;
    bool Cancelled = false, Stalled = false;
    for (int Running = 1; Running;) {
        if ((MultiFailure = curl_multi_perform(Multi, &Running)) != CURLM_OK)
            break;
        int Left = 0;
        while (CURLMsg* Message = curl_multi_info_read(Multi, &Left))
            if (Message->msg == CURLMSG_DONE)
                Result = Message->data.result;
        if (!Running || FHandlerError)
            break;
        if ((Cancelled = FCancelRequested.load()))
            break;
        // No byte moved for that long: WinInet's send and receive time-outs.
        const uint32_t StallLimit = X.RequestSent ? ReceiveTimeout : SendTimeout;
        if ((Stalled = StallLimit != 0 && X.SinceActivity.elapsed() >= qint64(StallLimit)))
            break;
        if ((MultiFailure = curl_multi_poll(Multi, nullptr, 0, PollIntervalMs, nullptr)) !=
            CURLM_OK)
            break;
    }
    curl_multi_remove_handle(Multi, Easy);
    RaiseHandlerError();
    if (MultiFailure != CURLM_OK)
        RaiseMultiError(MultiFailure);
    if (Cancelled)
        RaiseTransportError(CURLE_ABORTED_BY_CALLBACK);
    if (Stalled)
        RaiseTransportError(CURLE_OPERATION_TIMEDOUT);
    if (X.BodyFailed)
        throw EWinInetHTTPException(Translate("Data stream read error"), FURL, 0, 0);
    // A body left unread on purpose ends the transfer with a write error; the status tells.
    if (Result != CURLE_OK && !(Result == CURLE_WRITE_ERROR && X.DiscardBody))
        RaiseTransportError(Result);
}

// The absolute URL a Location header leads to from the current URL; empty for none.
QString TWinInetHTTP::RedirectTarget(const QString& Location) const {
    if (Location.isEmpty())
        return QString();
    CURLU* Url = curl_url();
    char* Target = nullptr;
    QString Result;
    if (curl_url_set(Url, CURLUPART_URL, FURL.toUtf8().constData(), 0) == CURLUE_OK &&
        curl_url_set(Url, CURLUPART_URL, Location.toUtf8().constData(), 0) == CURLUE_OK &&
        curl_url_get(Url, CURLUPART_URL, &Target, 0) == CURLUE_OK)
        Result = QString::fromUtf8(Target);
    curl_free(Target);
    curl_url_cleanup(Url);
    return Result;
}

void TWinInetHTTP::DoRequest(QIODevice* Body, QIODevice* Stream) {
    {
        // From here to the end of the request only this thread touches the handles; another
        // thread's Disconnect asks it to break off instead.
        std::lock_guard Guard(FLock);
        FInTransfer = true;
    }
    try {
        if (Stream == nullptr)
            throw EWinInetHTTPException(Translate("Invalid response stream"), FURL, 0, 0);
        for (int Redirects = 0;; ++Redirects) {
            Connect();
            TTransfer Transfer;
            Configure(Transfer, Body, Stream);
            RunTransfer(Transfer);
            Response.StatusCode = Transfer.Status;
            const QString Target = RedirectTarget(Transfer.Location);
            if (Transfer.Status >= 300 && Transfer.Status < 400 && !Target.isEmpty() &&
                Redirects < MaxRedirects) {
                ReportStatus(InternetStatus::Redirect, Target);
                CloseOwnHandles();
                RaiseHandlerError();
                SetURL(Target);
                continue;
            }
            if (Transfer.Status >= 300) {
                Response.StatusText = Transfer.ReasonPhrase;
                throw EWinInetHTTPException(Response.StatusText, FURL, 0, Transfer.Status);
            }
            if (Response.ContentLength == 0) {
                curl_off_t Length = 0;
                if (curl_easy_getinfo(static_cast<CURL*>(FEasy), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T,
                                      &Length) == CURLE_OK &&
                    Length > 0 && Length <= INT32_MAX)
                    Response.ContentLength = int32_t(Length);
            }
            break;
        }
    } catch (...) {
        EndRequest();
        FHandlerError = nullptr; // the error already on its way out is the one that counts
        throw;
    }
    EndRequest();
    RaiseHandlerError(); // from a notice of the closing connection
}

void TWinInetHTTP::CloseOwnHandles() {
    std::lock_guard Guard(FLock);
    CloseHandles();
}

void TWinInetHTTP::EndRequest() {
    std::lock_guard Guard(FLock);
    CloseHandles();
    FInTransfer = false;
    FCancelRequested = false;
}
