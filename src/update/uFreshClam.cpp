// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "uFreshClam.h"

#include "engine/LibClamAV.h"
#include "platform/DebugOutput.h"
#include "platform/NativePath.h"
#include "platform/ProgramPath.h"
#include "settings/GnuGetText.h"

#include <QCryptographicHash>
#include <QFile>
#include <QIODevice>
#include <QRegularExpression>
#include <algorithm>

namespace {

constexpr uint32_t RequestTimeout = 5000; // ms: connect, send and receive
constexpr int HeaderSize = 512;           // a database's header: what a check asks for
// A check keeps at most one byte more than a header: enough to tell a mirror that ignores the
// range (it sends the whole database, which must not end up in memory) from one that obeys.
constexpr qint64 CheckBodyLimit = HeaderSize + 1;
constexpr uint32_t StatusHandleCreated = 60, StatusHandleClosing = 70;

const QString DefaultMirror = QStringLiteral("database.clamav.net");

QString FileNameOf(const QString& Path) {
    return Path.mid(Path.lastIndexOf(PathDelimiter) + 1);
}

// The body of a check: refuses to grow past its limit, which breaks the transfer off.
class TCheckBody : public QIODevice {
public:
    TCheckBody() { open(QIODevice::WriteOnly); }
    const QByteArray& Data() const { return FData; }
    bool Overflowed() const { return FOverflowed; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* Data, qint64 Size) override {
        if (FData.size() + Size > CheckBodyLimit) {
            FOverflowed = true;
            return -1;
        }
        FData.append(Data, Size);
        return Size;
    }

private:
    QByteArray FData;
    bool FOverflowed = false;
};

// The total after the first "/" of a Content-Range ("bytes 0-511/78992"); 0 for none ("*")
// and for what is no size at all (negative, too large, not a number): a database of no size
// is no database, and nonsense totals must not reach the progress sums.
int32_t TotalOfContentRange(const QString& ContentRange) {
    const qsizetype Slash = ContentRange.indexOf(u'/');
    if (Slash < 0)
        return 0;
    bool Valid = false;
    const int32_t Total = ContentRange.mid(Slash + 1).trimmed().toInt(&Valid);
    return Valid && Total > 0 ? Total : 0;
}

// What a failed request says: the client's text, or the status when the mirror sent no phrase.
QString FailureText(const EWinInetHTTPException& Error) {
    if (!Error.Message().isEmpty())
        return Error.Message();
    return QStringLiteral("HTTP status %1").arg(Error.StatusCode);
}

// A local database counts only when its header reads and its body still has the digest the
// header names: a file cut short keeps a readable header, and would otherwise be called up to
// date for ever, by its date or by its version. (The signature is checked when a download is
// installed; here only damage since then matters.) The header of a whole one, else none.
TDownloadItem::THeader WholeDatabaseHeader(const QString& Path) {
    TDownloadItem::THeader None(nullptr, &cl_cvdfree);
    if (!PathExists(Path))
        return None;
    TDownloadItem::THeader Header(cl_cvdhead(PathToNative(Path).constData()), &cl_cvdfree);
    QFile File(Path);
    if (!Header || Header->md5 == nullptr || !File.open(QIODevice::ReadOnly) ||
        !File.seek(HeaderSize))
        return None;
    QCryptographicHash Digest(QCryptographicHash::Md5);
    if (!Digest.addData(&File) || Digest.result().toHex() != QByteArray(Header->md5).toLower())
        return None;
    return Header;
}

} // namespace

QString DefaultMirrorHost() {
    const QString Override = qEnvironmentVariable("HARKAVEL_MIRROR").trimmed();
    return Override.isEmpty() ? DefaultMirror : Override;
}

QString OtherFormOf(const QString& Path) {
    if (Path.endsWith(QLatin1String(".cvd")))
        return Path.chopped(4) + QStringLiteral(".cld");
    if (Path.endsWith(QLatin1String(".cld")))
        return Path.chopped(4) + QStringLiteral(".cvd");
    return QString();
}

void RemoveOtherForm(const QString& InstalledPath) {
    const QString Other = OtherFormOf(InstalledPath);
    if (!Other.isEmpty() && PathExists(Other) && !QFile::remove(Other))
        HARKAVEL_DEBUG_LINE(QStringLiteral("Unable to remove ") + Other);
}

bool IsInstalledReport(const QString& JournalText) {
    // InstalledReport's shape: the thread's own texts are never translated.
    static const QRegularExpression Pattern(
        QStringLiteral("^Database .+ updated to version \\d+$"));
    return Pattern.match(JournalText).hasMatch();
}

QStringList DefaultDatabases() {
    const QString Folder = DatabaseFolder();
    return {Folder + QStringLiteral("daily.cvd"), Folder + QStringLiteral("main.cvd")};
}

// --- The update thread -----------------------------------------------------------------------

TFreshClamThread::TFreshClamThread(const TSafeArray* Databases, const QString& Server,
                                   const QString& ProxyServer, uint16_t ProxyPort,
                                   const QString& ProxyUserName, const QString& ProxyPassword)
    : FHTTP(std::make_unique<TWinInetHTTP>()) {
    SafeArrayToStrings(Databases, FDatabases);
    FServer = Server;
    while (FServer.endsWith(u'/') || FServer.endsWith(u'\\'))
        FServer.chop(1);
    if (FServer.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        FServer.remove(0, 7);
    if (FServer.isEmpty())
        FServer = DefaultMirrorHost();

    FHTTP->OnStatus = [this](TWinInetHTTP*, uint32_t Status, const QString& Text) {
        HTTPStatus(Status, Text);
    };
    FHTTP->OnDownloadProgress = [this](TWinInetHTTP*, int64_t BytesRead, int64_t) {
        HTTPDataProgress(BytesRead);
    };
    FHTTP->ConnectTimeout = FHTTP->SendTimeout = FHTTP->ReceiveTimeout = RequestTimeout;
    if (!ProxyServer.isEmpty() && ProxyPort != 0) {
        FHTTP->AccessType = INTERNET_OPEN_TYPE_PROXY;
        FHTTP->ProxyServer = ProxyServer;
        FHTTP->ProxyPort = ProxyPort;
        FHTTP->ProxyUserName = ProxyUserName;
        FHTTP->ProxyPassword = ProxyPassword;
    } else {
        FHTTP->AccessType = INTERNET_OPEN_TYPE_PRECONFIG;
    }
}

TFreshClamThread::~TFreshClamThread() {
    TerminateAndWait(); // the body uses every field below
    FreeDownloads();
}

void TFreshClamThread::FreeDownloads() {
    FDownloads.clear(); // discards every download not installed, and releases its lock
}

void TFreshClamThread::CancelAndWait() {
    Terminate();
    if (FHTTP)
        FHTTP->Disconnect();
    try {
        WaitFor(); // the thread may free itself meanwhile: nothing of it is touched after this
    } catch (...) {
    }
}

void TFreshClamThread::Execute() {
    UpdateDatabases();
    FFolderLocks.clear(); // the next update may start before this thread object is freed
}

void TFreshClamThread::UpdateDatabases() {
    InitEngineLibrary(); // the signature check of a download needs the engine library
    FTotalSize = 0;
    FDownloads.clear();
    FDownloads.reserve(size_t(FDatabases.size()));
    for (const QString& Path : std::as_const(FDatabases)) {
        if (Terminated())
            return;
        FFileName = FileNameOf(Path);
        if (!LockFolderOf(Path)) {
            Report(UpdateOutcome::NotExclusive.arg(FFileName), 0);
            continue;
        }
        TDownloadItem::THeader LocalHeader = NewestLocalHeader(Path);
        int32_t Size = 0;
        TDownloadItem::THeader RemoteHeader(nullptr, &cl_cvdfree);
        if (!CheckDatabase(Path, Size, RemoteHeader))
            continue;
        if (LocalHeader && LocalHeader->version >= RemoteHeader->version) {
            Report(UpdateOutcome::UpToDate.arg(FFileName), 0);
            continue;
        }
        QueueDownload(Path, Size, std::move(LocalHeader), std::move(RemoteHeader));
    }
    if (!FDownloads.empty() && !Terminated()) {
        FDownloading = true;
        DownloadDatabases();
    }
}

// Another update of the same folder, by this program or another copy of it and by either way
// of updating, would race this one for the same files: the folder stays locked to the end.
bool TFreshClamThread::LockFolderOf(const QString& Path) {
    const QString Folder = ExtractFilePath(Path);
    auto [Entry, Added] = FFolderLocks.try_emplace(Folder);
    if (Added) {
        auto Lock = std::make_unique<TFolderLock>();
        if (Lock->Acquire(Folder.isEmpty() ? QStringLiteral(".") : Folder))
            Entry->second = std::move(Lock);
        else
            HARKAVEL_DEBUG_LINE(Folder + QStringLiteral(": ") + Lock->ErrorText());
    }
    return Entry->second != nullptr;
}

// The local version is the higher of the database's two forms: daily.cvd as a mirror serves
// it, and daily.cld as ClamAV's own updater leaves it after patches. Only a whole .cvd gives
// its date for If-Modified-Since: a .cld's date is that of its last patch, not the mirror's.
TDownloadItem::THeader TFreshClamThread::NewestLocalHeader(const QString& Path) {
    TDownloadItem::THeader Header = WholeDatabaseHeader(Path);
    FLocalIsWhole = Header != nullptr;
    if (!Path.endsWith(QLatin1String(".cvd")))
        return Header;
    const QString Patched = OtherFormOf(Path);
    if (!PathExists(Patched))
        return Header;
    TDownloadItem::THeader PatchedHeader(cl_cvdhead(PathToNative(Patched).constData()),
                                         &cl_cvdfree);
    if (PatchedHeader && (!Header || PatchedHeader->version > Header->version)) {
        FLocalIsWhole = false;
        return PatchedHeader;
    }
    return Header;
}

QString TFreshClamThread::DatabaseURL(const QString& Path) const {
    return QStringLiteral("http://") + FServer + u'/' + FileNameOf(Path);
}

bool TFreshClamThread::CheckDatabase(const QString& Path, int32_t& Size,
                                     TDownloadItem::THeader& RemoteHeader) {
    Size = 0;
    FHTTP->Request.Method = hmGet;
    FHTTP->Request.Range = QStringLiteral("bytes=0-511");
    // The date says "send only if newer than mine": true only of a whole local database.
    FHTTP->Request.IfModifiedSince = FLocalIsWhole ? HTTPDate(FileWriteDate(Path)) : QString();
    FFileName = FileNameOf(Path);
    try {
        FHTTP->SetURL(DatabaseURL(Path));
    } catch (const EWinInetHTTPException& Error) {
        // An unusable mirror host ends the run here, but not without a word about it.
        Report(UpdateOutcome::CheckFailed.arg(FFileName, FailureText(Error)), 0);
        throw;
    }
    TCheckBody Body;
    bool Candidate = false;
    try {
        FHTTP->DoRequest(nullptr, &Body);
        Candidate = ReadRemoteHeader(Body.Data(), Size, RemoteHeader);
    } catch (const EWinInetHTTPException& Error) {
        if (Error.StatusCode == 304)
            Report(UpdateOutcome::UpToDate.arg(FFileName), 0);
        else if (Body.Overflowed())
            Report(UpdateOutcome::NoValidCopy.arg(FFileName), 0);
        else if (!Terminated()) // a stop breaks the check off: nothing to say about the mirror
            Report(UpdateOutcome::CheckFailed.arg(FFileName, FailureText(Error)), 0);
    }
    FHTTP->Disconnect();
    return Candidate;
}

bool TFreshClamThread::ReadRemoteHeader(const QByteArray& Body, int32_t& Size,
                                        TDownloadItem::THeader& RemoteHeader) {
    if (Body.size() == HeaderSize) {
        Size = TotalOfContentRange(FHTTP->Response.ContentRange);
        if (Size == 0)
            HARKAVEL_DEBUG_LINE(QStringLiteral("Content length is zero [Content-Range: %1]")
                                    .arg(FHTTP->Response.ContentRange));
        else // a QByteArray ends in a zero byte, as cl_cvdparse needs
            RemoteHeader.reset(cl_cvdparse(Body.constData()));
    }
    if (RemoteHeader)
        return true;
    Report(UpdateOutcome::NoValidCopy.arg(FFileName), 0);
    return false;
}

void TFreshClamThread::QueueDownload(const QString& Path, int32_t Size,
                                     TDownloadItem::THeader LocalHeader,
                                     TDownloadItem::THeader RemoteHeader) {
    auto Stream = std::make_unique<TFileReplacement>(Path);
    if (!Stream->Open()) {
        HARKAVEL_DEBUG_LINE(Path + QStringLiteral(": ") + Stream->ErrorText());
        Report(UpdateOutcome::NotExclusive.arg(FFileName), 0);
        return;
    }
    FDownloads.push_back(TDownloadItem{Path, std::move(Stream), Size, std::move(LocalHeader),
                                       std::move(RemoteHeader)});
    FTotalSize += Size;
}

void TFreshClamThread::DownloadDatabases() {
    FHTTP->Request.Clear();
    FHTTP->Request.Method = hmGet;
    FDownloaded = FItemStart = 0;
    for (TDownloadItem& Item : FDownloads) {
        if (Terminated())
            break;
        FFileName = FileNameOf(Item.Path);
        FItemSize = std::max<int64_t>(Item.Size, 0);
        FItemReceived = 0;
        FItemTooLong = false;
        Report(QStringLiteral("Downloading %1, %2 signatures - %3 in size")
                   .arg(FFileName, QString::number(Item.RemoteHeader->sigs),
                        FormatByteSize(Item.Size)),
               CurrentPercentage());
        DownloadDatabase(Item);
        FHTTP->Disconnect();
    }
}

void TFreshClamThread::DownloadDatabase(TDownloadItem& Item) {
    try {
        FHTTP->Get(DatabaseURL(Item.Path), Item.Stream->Stream());
    } catch (const EWinInetHTTPException& Error) {
        Item.Stream->Discard();
        EndItem();
        if (FItemTooLong)
            Report(UpdateOutcome::Damaged.arg(FFileName), CurrentPercentage());
        else if (!Terminated())
            Report(UpdateOutcome::DownloadFailed.arg(FFileName, FailureText(Error)),
                   CurrentPercentage());
        return;
    }
    EndItem();
    if (Terminated()) { // a cancelled update installs nothing, and need not verify it first
        Item.Stream->Discard();
        return;
    }
    InstallDownload(Item);
}

// The bar moves on by the item's whole share, whatever the mirror sent for it.
void TFreshClamThread::EndItem() {
    FItemStart += FItemSize;
    FDownloaded = FItemStart;
}

void TFreshClamThread::InstallDownload(TDownloadItem& Item) {
    TFileReplacement& Stream = *Item.Stream;
    if (!Stream.CutAtPosition()) {
        Stream.Discard();
        Report(UpdateOutcome::DownloadFailed.arg(FFileName, Stream.ErrorText()),
               CurrentPercentage());
        return;
    }
    if (!IsDownloadIntact(Item)) {
        Stream.Discard();
        Report(UpdateOutcome::Damaged.arg(FFileName), CurrentPercentage());
        return;
    }
    if (Terminated()) {
        Stream.Discard();
        return;
    }
    if (!Stream.Install()) {
        Stream.Discard();
        Report(UpdateOutcome::DownloadFailed.arg(FFileName, Stream.ErrorText()),
               CurrentPercentage());
        return;
    }
    RemoveOtherForm(Item.Path);
    Report(UpdateOutcome::Installed.arg(FFileName, QString::number(Item.RemoteHeader->version)),
           CurrentPercentage());
}

// The length the mirror announced, the engine's own check of digest and signature, and the
// version the check saw: a body that fails any of them never replaces a database.
bool TFreshClamThread::IsDownloadIntact(TDownloadItem& Item) {
    if (Item.Size > 0 && Item.Stream->Stream()->size() != Item.Size)
        return false;
    const QByteArray Path = PathToNative(Item.Stream->TemporaryPath());
    if (cl_cvdverify(Path.constData()) != CL_SUCCESS)
        return false;
    const TDownloadItem::THeader Header(cl_cvdhead(Path.constData()), &cl_cvdfree);
    return Header && Header->version == Item.RemoteHeader->version;
}

void TFreshClamThread::HTTPStatus(uint32_t Status, const QString& Text) {
    if (Terminated())
        FHTTP->Disconnect(); // breaks the request in progress off
    if (Status == StatusHandleCreated || Status == StatusHandleClosing)
        return;
    const bool Quiet = FDownloading && (Status == InternetStatus::ReceivingResponse ||
                                        Status == InternetStatus::ResponseReceived);
    Report(Quiet ? QString() : Text, CurrentPercentage());
}

void TFreshClamThread::HTTPDataProgress(int64_t BytesRead) {
    if (Terminated())
        FHTTP->Disconnect();
    if (!FDownloading || !OnProgress)
        return;
    HARKAVEL_ASSERT(FTotalSize != 0, "uFreshClam");
    FItemReceived += BytesRead;
    // A body longer than the check announced is no copy of that database: break it off at
    // once rather than let a mirror fill the disk.
    if (FItemSize > 0 && FItemReceived > FItemSize) {
        FItemTooLong = true;
        FHTTP->Disconnect();
    }
    FDownloaded = FItemStart + std::min(FItemReceived, FItemSize);
    Report(QString(), CurrentPercentage());
}

int32_t TFreshClamThread::CurrentPercentage() const {
    if (FTotalSize <= 0)
        return 0;
    return int32_t(std::clamp<int64_t>(FDownloaded * 100 / FTotalSize, 0, 100));
}

void TFreshClamThread::Report(const QString& JournalText, int32_t Percent) {
    if (OnProgress)
        OnProgress(this, JournalText, FFileName, Percent);
}

// --- The service -----------------------------------------------------------------------------

TFreshClam::~TFreshClam() {
    TUpdateRun* Thread = FThread.load();
    if (Thread == nullptr)
        return;
    if (FNotifying)
        Thread->Terminate(); // waiting here would wait for the very call that is running
    else
        Thread->CancelAndWait(); // ThreadTerminated runs inside the wait
}

HRESULT TFreshClam::QueryInterface(const TGUID& IID, void** Obj) {
    if (IID == IFreshClam::IID || IID == IInterface::IID) {
        *Obj = static_cast<IFreshClam*>(this);
        _AddRef();
        return S_OK;
    }
    *Obj = nullptr;
    return E_NOINTERFACE;
}

HRESULT TFreshClam::Start(const TSafeArray* Databases, const QString& Server,
                          const QString& ProxyServer, uint16_t ProxyPort,
                          const QString& ProxyUserName, const QString& ProxyPassword) {
    return SafeCallBoundary([&] {
        if (FRunning)
            throw EServiceError(N_("Update is already in-progress"),
                                MakeErrorCode(UpdateInProgressCode));
        std::unique_ptr<TSafeArray> Default;
        if (Databases == nullptr || Databases->Elements.isEmpty()) {
            Default = StringsToSafeArray(DefaultDatabases());
            Databases = Default.get();
        }
        std::unique_ptr<TUpdateRun> Thread =
            NewRun(Databases, Server, ProxyServer, ProxyPort, ProxyUserName, ProxyPassword);
        Thread->OnTerminate = [this](TThread*) { ThreadTerminated(); };
        Thread->OnProgress = [this](void*, const QString& JournalText, const QString& FileName,
                                    int32_t Percent) {
            ThreadProgress(JournalText, FileName, Percent);
        };
        Thread->SetFreeOnTerminate(true);
        FThread.store(Thread.get());
        FRunning = true;
        try {
            Thread->Start();
        } catch (...) {
            FRunning = false;
            FThread.store(nullptr);
            throw;
        }
        Thread.release(); // it frees itself after ThreadTerminated
    });
}

HRESULT TFreshClam::Cancel() {
    return SafeCallBoundary([&] {
        if (!FRunning)
            throw EServiceError(N_("There is nothing to cancel"),
                                MakeErrorCode(NothingToCancelCode));
        // The termination handler may release the last reference while this call waits.
        const TInterfacePtr<IFreshClam> KeepAlive(this);
        if (FNotifying) {
            // Inside the termination handler the run is over but for that handler; it counts
            // as active until the handler returns (a Start there is refused), and
            // ThreadTerminated clears it then.
            if (TUpdateRun* Thread = FThread.load())
                Thread->Terminate();
            return;
        }
        if (TUpdateRun* Thread = FThread.load())
            Thread->CancelAndWait();
        FRunning = false;
        FThread.exchange(nullptr);
    });
}

std::unique_ptr<TUpdateRun> TFreshClam::NewRun(const TSafeArray* Databases, const QString& Server,
                                               const QString& ProxyServer, uint16_t ProxyPort,
                                               const QString& ProxyUserName,
                                               const QString& ProxyPassword) {
    return std::make_unique<TFreshClamThread>(Databases, Server, ProxyServer, ProxyPort,
                                              ProxyUserName, ProxyPassword);
}

TFreshClamProgressEvent TFreshClam::GetOnProgress() {
    std::lock_guard Guard(FProgressLock);
    return FOnProgress;
}

void TFreshClam::SetOnTerminate(TFreshClamTerminateEvent Handler) {
    FOnTerminate = std::move(Handler);
}

void TFreshClam::SetOnProgress(TFreshClamProgressEvent Handler) {
    std::lock_guard Guard(FProgressLock);
    FOnProgress = std::move(Handler);
}

void TFreshClam::ThreadTerminated() {
    // The handler may release the last reference; the steps after it still need the object.
    const TInterfacePtr<IFreshClam> KeepAlive(this);
    if (const TFreshClamTerminateEvent Handler = FOnTerminate) {
        FNotifying = true;
        try {
            Handler(this);
        } catch (...) {
            StopAfterHandlerError(__func__, __LINE__);
        }
    }
    FRunning = false;
    FNotifying = false;
    FThread.exchange(nullptr);
}

void TFreshClam::ThreadProgress(const QString& JournalText, const QString& FileName,
                                int32_t Percent) {
    TFreshClamProgressEvent Handler;
    {
        std::lock_guard Guard(FProgressLock);
        Handler = FOnProgress;
    }
    if (!Handler)
        return;
    try {
        Handler(static_cast<IFreshClam*>(this), JournalText, FileName, Percent);
    } catch (...) {
        StopAfterHandlerError(__func__, __LINE__);
    }
}

// An error of a registered handler goes no further than this: the run is asked to stop and
// the error is written to the debug output.
void TFreshClam::StopAfterHandlerError(const char* Routine, unsigned Line) {
    if (TUpdateRun* Thread = FThread.load())
        Thread->Terminate();
    OutputDebugLocation(__FILE__, Line, Routine,
                        u'"' + ExceptionMessage(std::current_exception()) + u'"');
}
