// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#include "TestMirror.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <arpa/inet.h>
#include <csignal>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace support {
namespace {

int Listen(uint16_t Port) {
    const int Socket = socket(AF_INET, SOCK_STREAM, 0);
    const int One = 1;
    setsockopt(Socket, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(Port);
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0 ||
        listen(Socket, 16) != 0) {
        close(Socket);
        return -1;
    }
    return Socket;
}

uint16_t PortOf(int Socket) {
    sockaddr_in Address{};
    socklen_t Length = sizeof Address;
    getsockname(Socket, reinterpret_cast<sockaddr*>(&Address), &Length);
    return ntohs(Address.sin_port);
}

bool Answers(uint16_t Port) {
    const int Socket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(Port);
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool Connected =
        ::connect(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address) == 0;
    close(Socket);
    return Connected;
}

// Starts nginx as a child that dies with this process: a test that crashes must not leave a
// server behind that holds CTest's output pipe open (CTest then waits for its time-out).
pid_t StartDying(const QString& Program, const QStringList& Arguments) {
    QList<QByteArray> Words{QFile::encodeName(Program)};
    for (const QString& Argument : Arguments)
        Words << QFile::encodeName(Argument);
    std::vector<char*> Argv;
    for (QByteArray& Word : Words)
        Argv.push_back(Word.data());
    Argv.push_back(nullptr);
    const pid_t Parent = getpid();
    const pid_t Pid = fork();
    if (Pid == 0) {
        // Only async-signal-safe calls between fork and exec: other threads may hold locks.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != Parent)
            _exit(1); // the test ended before the death signal was armed
        execv(Argv[0], Argv.data());
        _exit(127);
    }
    return Pid;
}

} // namespace

uint16_t FreePort() {
    const int Socket = Listen(0);
    const uint16_t Port = PortOf(Socket);
    close(Socket);
    return Port;
}

TNginxMirror::TNginxMirror() {
    const QString Prefix = FPrefix.path();
    QDir(Prefix).mkpath("logs");
    QDir(Prefix).mkpath("tmp");
    QDir(Prefix).mkpath("root");
    // nginx's workers run as nobody: the served folder and the way to it must be readable.
    chmod(QFile::encodeName(Prefix), 0755);
    chmod(QFile::encodeName(Root()), 0755);
    FPort = FreePort();
    FTlsPort = FreePort();
    // A certificate nobody signed: a client that verifies certificates must refuse it.
    QProcess Openssl;
    Openssl.setStandardOutputFile(QProcess::nullDevice());
    Openssl.setStandardErrorFile(QProcess::nullDevice());
    Openssl.start("openssl",
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                   "/CN=127.0.0.1", "-keyout", Prefix + "/key.pem", "-out", Prefix + "/cert.pem"});
    Openssl.waitForFinished(30000);
    const QString Config = QStringLiteral(R"(daemon off;
worker_processes 1;
pid %1/nginx.pid;
error_log %1/logs/error.log error;
events { worker_connections 64; }
http {
    log_format mirror '$request_method $request_uri $status $request_length "$http_pragma" "$http_range" $body_bytes_sent "$http_if_modified_since"';
    access_log %1/logs/access.log mirror;
    client_body_temp_path %1/tmp/body;
    proxy_temp_path %1/tmp/proxy;
    fastcgi_temp_path %1/tmp/fastcgi;
    uwsgi_temp_path %1/tmp/uwsgi;
    scgi_temp_path %1/tmp/scgi;
    types { application/octet-stream cvd; }
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:%2;
        root %1/root;
        if_modified_since before;
        location /redirect/ { rewrite ^/redirect/(.*)$ /$1 redirect; }
        location = /upload { client_max_body_size 10m; client_body_buffer_size 1m; return 200 "ok"; }
        location = /unavailable { return 503; }
        location /slow/ { alias %1/root/; limit_rate 100k; }
        # The official network's refusals, which it gives a download but not a check.
        location /refused/ { alias %1/root/; if ($http_range = "") { return 403; } }
        location /limited/ {
            alias %1/root/;
            if ($http_range = "") { add_header Retry-After 3600 always; return 429; }
        }
    }
    server {
        listen 127.0.0.1:%3 ssl;
        ssl_certificate %1/cert.pem;
        ssl_certificate_key %1/key.pem;
        root %1/root;
    }
}
)")
                               .arg(Prefix)
                               .arg(FPort)
                               .arg(FTlsPort);
    QFile File(Prefix + "/nginx.conf");
    if (!File.open(QIODevice::WriteOnly) || File.write(Config.toUtf8()) < 0)
        return;
    File.close();
    const pid_t Pid = StartDying("/usr/sbin/nginx", {"-p", Prefix, "-c", Prefix + "/nginx.conf",
                                                     "-e", Prefix + "/logs/error.log"});
    if (Pid <= 0)
        return;
    QDeadlineTimer Deadline(10000);
    while (!Answers(FPort) && !Deadline.hasExpired())
        QThread::msleep(10); // nginx starts in about 40 ms; this bounds a failed start
    FPid = Answers(FPort) ? long(Pid) : -long(Pid);
}

TNginxMirror::~TNginxMirror() {
    const long Pid = FPid > 0 ? FPid : -FPid;
    if (Pid > 0) {
        kill(pid_t(Pid), SIGTERM);
        QDeadlineTimer Deadline(5000);
        while (waitpid(pid_t(Pid), nullptr, WNOHANG) == 0 && !Deadline.hasExpired())
            QThread::msleep(5);
    }
}

QString TNginxMirror::Root() const {
    return FPrefix.path() + "/root";
}

QString TNginxMirror::Url(const QString& Path) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(FPort).arg(Path);
}

QString TNginxMirror::TlsUrl(const QString& Path) const {
    return QStringLiteral("https://127.0.0.1:%1/%2").arg(FTlsPort).arg(Path);
}

bool TNginxMirror::Serve(const QString& Name, const QByteArray& Bytes) {
    QFile File(Root() + "/" + Name);
    QDir().mkpath(QFileInfo(File).path());
    if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate) || File.write(Bytes) != Bytes.size())
        return false;
    File.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return true;
}

QStringList TNginxMirror::AccessLog() const {
    QFile File(FPrefix.path() + "/logs/access.log");
    if (!File.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(File.readAll()).split('\n', Qt::SkipEmptyParts);
}

TRawServer::TRawServer(TScript Script) : FScript(std::move(Script)) {
    FListener = Listen(0);
    FPort = PortOf(FListener);
    FThread = std::thread(&TRawServer::AcceptLoop, this);
}

TRawServer::~TRawServer() {
    FStop = true;
    FThread.join();
    close(FListener);
}

QString TRawServer::Url(const QString& Path) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(FPort).arg(Path);
}

void TRawServer::AcceptLoop() {
    std::vector<std::thread> Connections;
    while (!FStop) {
        pollfd Wait{FListener, POLLIN, 0};
        if (poll(&Wait, 1, 20) <= 0)
            continue;
        const int Socket = accept(FListener, nullptr, nullptr);
        if (Socket < 0)
            continue;
        ++FAccepted;
        Connections.emplace_back([this, Socket] {
            FScript(Socket);
            close(Socket);
        });
    }
    for (std::thread& Connection : Connections)
        Connection.join();
}

QByteArray TRawServer::ReadRequestHead(int Socket) {
    QByteArray Head;
    char C;
    while (!Head.endsWith("\r\n\r\n") && recv(Socket, &C, 1, 0) == 1)
        Head.append(C);
    return Head;
}

void TRawServer::StallUntilClosed(int Socket) {
    pollfd Wait{Socket, POLLIN, 0};
    char Byte;
    while (poll(&Wait, 1, 15000) > 0 && recv(Socket, &Byte, 1, 0) > 0) {
    }
}

void TRawServer::Send(int Socket, const QByteArray& Bytes) {
    ::send(Socket, Bytes.constData(), size_t(Bytes.size()), MSG_NOSIGNAL);
}

} // namespace support
