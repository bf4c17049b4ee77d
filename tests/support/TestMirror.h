// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// The signature mirror of the HTTP and updater tests: the real nginx on 127.0.0.1, and a raw
// TCP responder for what nginx cannot do on purpose (a custom reason phrase, a stall, a body
// cut short, a server that never answers).

#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <thread>

namespace support {

class TNginxMirror {
public:
    TNginxMirror();  // starts nginx; Started() tells whether it answers
    ~TNginxMirror(); // stops it by its pid
    bool Started() const { return FPid > 0; }
    QString Root() const; // the served folder, world-readable
    // The same files at 100 kB/s below /slow/ (http://127.0.0.1:PORT/slow/NAME).
    QString Url(const QString& Path) const;    // http://127.0.0.1:PORT/Path
    QString TlsUrl(const QString& Path) const; // https, with a self-signed certificate
    bool Serve(const QString& Name, const QByteArray& Bytes); // a file in the served folder
    // "METHOD URI STATUS request_length "pragma" "range" body_bytes_sent "if-modified-since""
    QStringList AccessLog() const;
    uint16_t Port() const { return FPort; }

private:
    QTemporaryDir FPrefix;
    uint16_t FPort = 0, FTlsPort = 0;
    long FPid = 0;
};

// Accepts connections on 127.0.0.1 and hands each to Script on its own thread.
class TRawServer {
public:
    using TScript = std::function<void(int Socket)>;
    explicit TRawServer(TScript Script);
    ~TRawServer();
    QString Url(const QString& Path = "x") const;
    int Accepted() const { return FAccepted.load(); }
    // Reads the request head (up to the empty line) from the socket.
    static QByteArray ReadRequestHead(int Socket);
    static void Send(int Socket, const QByteArray& Bytes);
    // Waits until the client hangs up, at most 15 s: a server that just stops sending.
    static void StallUntilClosed(int Socket);

private:
    void AcceptLoop();
    TScript FScript;
    int FListener = -1;
    uint16_t FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FAccepted{0};
    std::thread FThread;
};

// A port on 127.0.0.1 that nobody listens on right now.
uint16_t FreePort();

} // namespace support
