// SPDX-License-Identifier: GPL-3.0-or-later
// A second process on the bus for the measurement tests: floods a channel
// with frames, or sends numbered frames and prints when each one left.
//
//   kolvar-meas-sender flood CHANNEL SECONDS
//       Sends 0x1A5 frames (channel-1 word counting up) between frames of
//       0x100 and 0x7FF as fast as the transmit queue takes them.
//   kolvar-meas-sender stamped CHANNEL COUNT INTERVAL_MS
//       Sends COUNT frames of 0x1A5 whose channel-1 word is (k + 1) << 4 and
//       prints "k <monotonic microseconds>" just before each is queued.
//
// Prints "ready" once the channel is on the bus. Exit status 0, or 2 on a
// usage or CAN failure (with the reason on standard error).
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <sys/prctl.h>
#include <csignal>

#include "platform/base/steady_clock.h"
#include "platform/canlib.h"
#include "tests/support/bus_peer.h"

namespace {

constexpr int32_t kMeasuredId = 0x1A5;

long long monotonicMicroseconds() { return kolvar::steadyMicros(); }

constexpr const char* kProgram = "kolvar-meas-sender";

int fail(const char* what, int status) { return bus_peer::fail(kProgram, what, status); }

// Queues one 8-byte standard frame, waiting out a full transmit queue.
int writeFrame(int handle, int32_t frameId, const unsigned char* bytes) {
    return bus_peer::writeFrame(handle, frameId, bytes, 8, canMSG_STD, 200);
}

int flood(int handle, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    unsigned char measured[8] = {};
    const unsigned char other[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0, 0, 0, 0};
    for (unsigned counter = 0; std::chrono::steady_clock::now() < end; ++counter) {
        const unsigned word = (counter & 0x0FFF) << 4;
        measured[0] = static_cast<unsigned char>(word & 0xFF);
        measured[1] = static_cast<unsigned char>(word >> 8);
        int status = writeFrame(handle, 0x100, other);
        if (status == canOK) status = writeFrame(handle, kMeasuredId, measured);
        if (status == canOK) status = writeFrame(handle, 0x7FF, other);
        if (status != canOK) return fail("canWrite", status);
    }
    return 0;
}

int stamped(int handle, int count, int intervalMs) {
    for (int k = 0; k < count; ++k) {
        const unsigned word = static_cast<unsigned>((k + 1) & 0x0FFF) << 4;
        const unsigned char bytes[8] = {static_cast<unsigned char>(word & 0xFF),
                                        static_cast<unsigned char>(word >> 8), 0, 0, 0, 0, 0, 0};
        std::printf("%d %lld\n", k, monotonicMicroseconds());
        std::fflush(stdout);
        const int status = writeFrame(handle, kMeasuredId, bytes);
        if (status != canOK) return fail("canWrite", status);
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    // A test that dies (a failed assertion, a sanitizer abort) must not leave
    // a flood of up to half an hour behind it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication application(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool floodMode = mode == "flood" && argc == 4;
    const bool stampedMode = mode == "stamped" && argc == 5;
    if (!floodMode && !stampedMode) {
        std::fprintf(stderr,
                     "usage: kolvar-meas-sender flood CHANNEL SECONDS\n"
                     "       kolvar-meas-sender stamped CHANNEL COUNT INTERVAL_MS\n");
        return 2;
    }
    const int channel = std::atoi(argv[2]);

    const int handle = bus_peer::goOnBus(kProgram, channel);
    if (handle < 0) return 2;
    std::printf("ready\n");
    std::fflush(stdout);

    const int result = floodMode ? flood(handle, std::atof(argv[3]))
                                 : stamped(handle, std::atoi(argv[3]), std::atoi(argv[4]));
    // Queued frames leave on the layer's I/O thread; give them time to go
    // before the channel is closed.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    canClose(handle);
    canUnloadLibrary();
    return result;
}
