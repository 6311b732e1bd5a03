// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/bus_peer.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/canlib.h"

namespace bus_peer {

int fail(const char* program, const char* what, int status) {
    char text[50] = "";
    canGetErrorText(status, text, sizeof text);
    std::fprintf(stderr, "%s: %s: %d (%s)\n", program, what, status, text);
    return 2;
}

int goOnBus(const char* program, int channel) {
    int status = canInitializeLibrary();
    if (status != canOK) {
        fail(program, "canInitializeLibrary", status);
        return -1;
    }
    const int handle = canOpenChannel(channel, canOPEN_EXCLUSIVE);
    if (handle < 0) {
        fail(program, "canOpenChannel", handle);
        canUnloadLibrary();
        return -1;
    }
    status = canSetBusParams(handle, canBITRATE_500K, 0, 0, 0, 0, 0);
    if (status == canOK) status = canBusOn(handle);
    // Frames sent, or sent to it, before its connection stands would be lost.
    if (status == canOK) status = canWaitConnected(handle, 10000);
    if (status != canOK) {
        fail(program, "canBusOn", status);
        canUnloadLibrary();
        return -1;
    }
    return handle;
}

int writeFrame(int handle, std::int32_t id, const void* bytes, unsigned dlc, unsigned flags,
               int pauseMicros) {
    for (;;) {
        const int status = canWrite(handle, id, bytes, dlc, flags);
        if (status != canERR_TXFULL) return status;
        std::this_thread::sleep_for(std::chrono::microseconds(pauseMicros));
    }
}

}  // namespace bus_peer
