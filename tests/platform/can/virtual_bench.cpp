// SPDX-License-Identifier: GPL-3.0-or-later
// Frames per second the virtual bus carries from one process to another:
// the device simulator sends N frames as fast as it is allowed (100000/s),
// this process takes them with canReadWait and reports the rate between the
// first and the last frame. Usage: can_virtual_bench [N]
#include "platform/canlib.h"

#include <QCoreApplication>
#include <QProcess>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const long total = argc > 1 ? std::atol(argv[1]) : 200000;
    setenv("KOLVAR_CAN_CHANNELS", "virtual", 1);
    setenv("KOLVAR_VIRTUALCAN_PORT", std::to_string(20000 + getpid() % 12000).c_str(), 1);
    if (canInitializeLibrary() != canOK) return 1;
    const int handle = canOpenChannel(0, canOPEN_EXCLUSIVE);
    if (handle < 0 || canBusOn(handle) != canOK || canWaitConnected(handle, 10000) != canOK) return 1;

    QProcess sender;
    sender.start(QStringLiteral(KOLVAR_DEVICE_SIM),
                 {"--channel", "virtual:0", "--id", "0x100", "--rate", "100000", "--count",
                  QString::number(total)});
    if (!sender.waitForStarted()) return 1;

    using Clock = std::chrono::steady_clock;
    Clock::time_point first, last;
    long received = 0;
    int32_t id = 0;
    unsigned char data[8];
    while (received < total && canReadWait(handle, &id, data, nullptr, nullptr, nullptr, 3000) == canOK) {
        last = Clock::now();
        if (received++ == 0) first = last;
    }
    sender.waitForFinished();
    uint64_t dropped = 0;
    canGetDroppedCount(handle, &dropped);
    const double seconds = std::chrono::duration<double>(last - first).count();
    std::printf("received %ld of %ld frames (dropped %llu) in %.3f s: %.0f frames/s\n", received, total,
                static_cast<unsigned long long>(dropped), seconds, seconds > 0 ? received / seconds : 0.0);
    canClose(handle);
    canUnloadLibrary();
    return 0;
}
