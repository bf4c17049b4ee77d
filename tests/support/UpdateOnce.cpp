// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// Updates databases in a process of its own, so that a test can kill it mid-download or run it
// as another user:
//   UpdateOnce DATABASE_PATH MIRROR            one database
//   UpdateOnce --default MIRROR PROGRAM_FOLDER the program's own list, for that program folder
//   UpdateOnce --dns TXT PROGRAM_FOLDER        the official route through DNS, offline
// Exits 0 when the update has ended.
//
// --dns must run in a network and mount namespace of its own (unshare --net --mount): it brings
// the loopback up, puts a resolv.conf naming 127.0.0.1 over the system's, and answers DNS on
// 127.0.0.1:53 itself: TXT for current.cvd.clamav.net, "no such name" for anything else. It
// prints the journal, then "dns-queries N". Nothing can be reached over HTTP from there.

#include "platform/NativePath.h"
#include "platform/ProgramPath.h"
#include "update/uFreshClam.h"
#include "update/uSignatureNetwork.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<int> DnsQueries{0};

bool BringLoopbackUp() {
    const int Socket = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq Request{};
    strncpy(Request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool Up =
        Socket >= 0 && ioctl(Socket, SIOCGIFFLAGS, &Request) == 0 &&
        (Request.ifr_flags |= IFF_UP | IFF_RUNNING, ioctl(Socket, SIOCSIFFLAGS, &Request) == 0);
    if (Socket >= 0)
        close(Socket);
    return Up;
}

// The name a query asks for, as "a.b.c", and the offset after its question.
QByteArray QuestionName(const QByteArray& Query, qsizetype& End) {
    QByteArray Name;
    qsizetype At = 12;
    while (At < Query.size() && Query[At] != 0) {
        const int Length = uint8_t(Query[At]);
        if (!Name.isEmpty())
            Name += '.';
        Name += Query.mid(At + 1, Length);
        At += Length + 1;
    }
    End = At + 5; // the zero, the type and the class
    return Name.toLower();
}

void AnswerDns(int Socket, const QByteArray& Text) {
    char Buffer[512];
    for (;;) {
        sockaddr_in From{};
        socklen_t FromLength = sizeof From;
        const ssize_t Got = recvfrom(Socket, Buffer, sizeof Buffer, 0,
                                     reinterpret_cast<sockaddr*>(&From), &FromLength);
        if (Got < 12)
            continue;
        ++DnsQueries;
        const QByteArray Query(Buffer, Got);
        qsizetype End = 0;
        const bool Ours = QuestionName(Query, End) == "current.cvd.clamav.net" &&
                          End <= Query.size() && uint8_t(Query[End - 3]) == 16; // TXT
        QByteArray Reply = Query.left(End);
        Reply[2] = char(0x81);
        Reply[3] = char(Ours ? 0x80 : 0x83); // "no such name" for anything else
        Reply[6] = 0;
        Reply[7] = char(Ours ? 1 : 0);
        Reply[8] = Reply[9] = Reply[10] = Reply[11] = 0;
        if (Ours)
            Reply += QByteArray("\xC0\x0C\x00\x10\x00\x01\x00\x00\x00\x3C", 10) +
                     char((Text.size() + 1) >> 8) + char((Text.size() + 1) & 0xFF) +
                     char(Text.size()) + Text;
        sendto(Socket, Reply.constData(), size_t(Reply.size()), 0,
               reinterpret_cast<sockaddr*>(&From), FromLength);
    }
}

bool StartDnsAnswerer(const QByteArray& Text, const QTemporaryDir& Scratch) {
    const QByteArray Resolv = QFile::encodeName(Scratch.filePath("resolv.conf"));
    FILE* File = fopen(Resolv.constData(), "w");
    if (File == nullptr || fputs("nameserver 127.0.0.1\n", File) < 0 || fclose(File) != 0)
        return false;
    if (!BringLoopbackUp() ||
        mount(Resolv.constData(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
        return false;
    const int Socket = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(53);
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (Socket < 0 || bind(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0)
        return false;
    std::thread(AnswerDns, Socket, Text).detach();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication Application(argc, argv);
    const QStringList Arguments = Application.arguments();
    const bool DefaultList = Arguments.size() == 4 && Arguments[1] == "--default";
    const bool ThroughDns = Arguments.size() == 4 && Arguments[1] == "--dns";
    if (Arguments.size() != 3 && !DefaultList && !ThroughDns)
        return 2;
    QTemporaryDir Scratch;
    if (ThroughDns && !StartDnsAnswerer(argv[2], Scratch))
        return 3;
    TInterfacePtr<IFreshClam> Service(ThroughDns ? static_cast<IFreshClam*>(new TSignatureNetwork)
                                                 : new TFreshClam);
    Service->SetOnTerminate([](IFreshClam*) { QCoreApplication::quit(); });
    if (ThroughDns)
        Service->SetOnProgress([](void*, const QString& Text, const QString&, int32_t) {
            if (!Text.isEmpty())
                std::printf("%s\n", qPrintable(Text));
        });
    std::unique_ptr<TSafeArray> Databases;
    if (DefaultList || ThroughDns)
        testing::SetProgramFolder(PathFromNative(argv[3]));
    else
        Databases = StringsToSafeArray({Arguments[1]});
    if (Service->Start(Databases.get(), Arguments[2], {}, 0, {}, {}) != S_OK)
        return 1;
    const int Status = Application.exec();
    if (ThroughDns)
        std::printf("dns-queries %d\n", DnsQueries.load());
    return Status;
}
