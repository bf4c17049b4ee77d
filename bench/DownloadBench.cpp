// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// Downloads one 200 MB file from a local nginx mirror into a file, with TWinInetHTTP::Get and
// with the curl command line, in one run. Prints each one's throughput, their ratio, and the
// client's peak memory above the process's memory before the download.
//
//   DownloadBench [--megabytes N] [--rounds N]

#include "Median.h"
#include "Memory.h"
#include "net/uWinInetHttp.h"
#include "support/TestMirror.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication Application(argc, argv);
    qint64 Megabytes = 200;
    int Rounds = 3;
    const QStringList Arguments = Application.arguments();
    for (int I = 1; I + 1 < Arguments.size(); I += 2) {
        if (Arguments[I] == "--megabytes")
            Megabytes = Arguments[I + 1].toLongLong();
        else if (Arguments[I] == "--rounds")
            Rounds = std::max(1, Arguments[I + 1].toInt());
    }
    support::TNginxMirror Mirror;
    if (!Mirror.Started()) {
        std::fprintf(stderr, "nginx did not start\n");
        return 1;
    }
    QByteArray Piece(1 << 20, Qt::Uninitialized);
    for (qsizetype I = 0; I < Piece.size(); ++I)
        Piece[I] = char((I * 131 + I / 4099) & 0xFF);
    {
        QFile Big(Mirror.Root() + "/big.bin");
        if (!Big.open(QIODevice::WriteOnly))
            return 1;
        for (qint64 M = 0; M < Megabytes; ++M)
            Big.write(Piece);
        Big.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    }
    const qint64 Bytes = Megabytes << 20;
    const QString Url = Mirror.Url("big.bin");
    QTemporaryDir Target;
    const QString Output = Target.path() + "/big.bin";

    QList<double> Client, Curl;
    long PeakAbove = 0;
    for (int Round = 0; Round < Rounds; ++Round) {
        {
            QFile File(Output);
            File.open(QIODevice::WriteOnly | QIODevice::Truncate);
            TWinInetHTTP Http;
            const long Before = StatusKilobytes("VmRSS:");
            ResetPeakMemory();
            QElapsedTimer Timer;
            Timer.start();
            Http.Get(Url, &File);
            File.close();
            Client << Timer.nsecsElapsed() / 1e9;
            PeakAbove = std::max(PeakAbove, StatusKilobytes("VmHWM:") - Before);
            if (QFile(Output).size() != Bytes)
                return 1;
        }
        QElapsedTimer Timer;
        Timer.start();
        QProcess::execute("curl", {"-s", "-o", Output, Url});
        Curl << Timer.nsecsElapsed() / 1e9;
        std::printf("round %d: client %.3f s, curl %.3f s\n", Round + 1, Client.last(),
                    Curl.last());
    }
    const double ClientRate = Bytes / Median(Client) / 1e6, CurlRate = Bytes / Median(Curl) / 1e6;
    std::printf("%lld MB: client %.0f MB/s, curl %.0f MB/s, client/curl = %.2f (median of %d)\n",
                Megabytes, ClientRate, CurlRate, ClientRate / CurlRate, Rounds);
    std::printf("client peak memory above its start: %.1f MB\n", PeakAbove / 1024.0);
    return 0;
}
