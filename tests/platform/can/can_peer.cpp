// SPDX-License-Identifier: GPL-3.0-or-later
// kolvar-can-peer: the other node on the bus for the layer's tests. Prints
// "ready" once its channel is on the bus, then:
//   hold NAME                   stays on the bus until stdin closes
//   recv NAME COUNT TIMEOUT_MS  prints COUNT frames as "ID#DATA flags=F";
//                               exits 3 when one does not come in time
//   echo NAME COUNT TIMEOUT_MS  sends each of COUNT frames back with id + 1
// NAME is a channel name of the layer ("virtual 0", "vcan0").
#include "platform/canlib.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

int openByName(const std::string& wanted) {
    if (canInitializeLibrary() != canOK) return -1;
    int count = 0;
    canGetNumberOfChannels(&count);
    for (int i = 0; i < count; ++i) {
        char name[64];
        if (canGetChannelName(i, name, sizeof name) != canOK || wanted != name) continue;
        const int handle = canOpenChannel(i, canOPEN_EXCLUSIVE);
        if (handle < 0 || canBusOn(handle) != canOK || canWaitConnected(handle, 10000) != canOK) return -1;
        return handle;
    }
    return -1;
}

void printFrame(int32_t id, const unsigned char* data, unsigned dlc, unsigned flags) {
    std::printf("%X#", static_cast<unsigned>(id));
    if (flags & canMSG_RTR) std::printf("R%u", dlc);
    else
        for (unsigned i = 0; i < dlc; ++i) std::printf("%02X", data[i]);
    std::printf(" flags=%u\n", flags);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kolvar-can-peer hold|recv|echo NAME [COUNT TIMEOUT_MS]\n");
        return 2;
    }
    QCoreApplication application(argc, argv);
    const std::string mode = argv[1];
    const int handle = openByName(argv[2]);
    if (handle < 0) {
        std::fprintf(stderr, "kolvar-can-peer: cannot open %s\n", argv[2]);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    int result = 0;
    if (mode == "hold") {
        std::string line;
        while (std::getline(std::cin, line)) {
        }
    } else if ((mode == "recv" || mode == "echo") && argc == 5) {
        const long count = std::atol(argv[3]);
        const unsigned long timeoutMs = std::strtoul(argv[4], nullptr, 10);
        for (long i = 0; i < count; ++i) {
            int32_t id = 0;
            unsigned char data[8] = {};
            unsigned dlc = 0, flags = 0;
            const int status = canReadWait(handle, &id, data, &dlc, &flags, nullptr, timeoutMs);
            if (status != canOK) {
                std::printf("timeout\n");
                std::fflush(stdout);
                result = 3;
                break;
            }
            printFrame(id, data, dlc, flags);
            if (mode == "echo" && canWrite(handle, id + 1, data, dlc, flags & canMSG_EXT) != canOK) {
                result = 1;
                break;
            }
        }
        canWriteSync(handle, 1000);
    } else {
        std::fprintf(stderr, "kolvar-can-peer: bad mode or arguments\n");
        result = 2;
    }
    canClose(handle);
    canUnloadLibrary();
    return result;
}
