// SPDX-License-Identifier: GPL-3.0-or-later
// kolvar-bench-send: writes a paced stream of 8-byte frames on a channel of
// the CAN layer (on the host: the virtual bus), a mix of the viewer's chosen
// identifier and other identifiers, in the layout of bench_frame.h, each
// stamped with the clock reading taken just before it is handed to the layer.
//
// Usage: kolvar-bench-send CHANNEL RATE CHOSEN_ID CHOSEN_EVERY
//   RATE is frames per second, 0 for as fast as the layer takes them.
// Goes on the bus, prints "ready", then reads frame counts from standard
// input, one a line: sends that many frames and prints one line (frames
// written, seconds, achieved rate, full-queue waits). Leaves at end of input.
// Started first, it hosts the virtual bus, as the measuring device (or its
// simulator) would; the viewer is then a plain client of the bus.

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "bench/bench_frame.h"
#include "platform/canlib.h"

namespace {

constexpr unsigned long kSettleMicros = 1000000;  // connect before, drain after

void sleepUntilMicros(uint64_t due) {
    const timespec ts{static_cast<time_t>(due / 1000000u), static_cast<long>((due % 1000000u) * 1000u)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
}

int fail(const char* what, int status) {
    char text[50] = "";
    canGetErrorText(status, text, sizeof text);
    std::fprintf(stderr, "kolvar-bench-send: %s: %s (%d)\n", what, text, status);
    canUnloadLibrary();
    return 1;
}

// Sends `frames` frames, paced at `rate` per second (0: unpaced).
int sendBatch(int handle, unsigned long long frames, double rate, uint32_t chosenId,
              uint32_t chosenEvery, uint32_t& chosenSequence) {
    unsigned long fullWaits = 0;
    const uint64_t start = bench::monotonicMicros();
    for (unsigned long long n = 0; n < frames; ++n) {
        if (rate > 0) sleepUntilMicros(start + static_cast<uint64_t>(static_cast<double>(n) * 1e6 / rate));
        const uint32_t id = bench::frameIdentifier(n, chosenId, chosenEvery);
        const uint32_t sequence = id == chosenId ? chosenSequence++ : static_cast<uint32_t>(n);
        uint8_t data[8];
        int status;
        for (;;) {
            bench::fillFrame(data, sequence, static_cast<uint32_t>(bench::monotonicMicros()));
            status = canWrite(handle, static_cast<int32_t>(id), data, 8, canMSG_STD);
            if (status != canERR_TXFULL) break;
            ++fullWaits;
            sleepUntilMicros(bench::monotonicMicros() + 200);
        }
        if (status != canOK) return status;
    }
    const double seconds = static_cast<double>(bench::monotonicMicros() - start) / 1e6;
    std::printf("sent %llu frames in %.3f s (%.0f frames/s), %lu full-queue waits\n", frames, seconds,
                static_cast<double>(frames) / seconds, fullWaits);
    std::fflush(stdout);
    return canOK;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s CHANNEL RATE CHOSEN_ID CHOSEN_EVERY\n", argv[0]);
        return 2;
    }
    const int channel = std::atoi(argv[1]);
    const double rate = std::strtod(argv[2], nullptr);
    const uint32_t chosenId = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0));
    const uint32_t chosenEvery = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 0));
    if (rate < 0 || chosenId > 0x7FF) {
        std::fprintf(stderr, "%s: bad RATE or CHOSEN_ID\n", argv[0]);
        return 2;
    }

    QCoreApplication application(argc, argv);
    int status = canInitializeLibrary();
    if (status != canOK) return fail("canInitializeLibrary", status);
    const int handle = canOpenChannel(channel, canOPEN_EXCLUSIVE);
    if (handle < 0) return fail("canOpenChannel", handle);
    status = canBusOn(handle);
    if (status != canOK) return fail("canBusOn", status);
    status = canWaitConnected(handle, 2000);
    if (status != canOK) return fail("canWaitConnected", status);
    // Frames written before the bus connection stands are lost: let it settle.
    sleepUntilMicros(bench::monotonicMicros() + kSettleMicros);
    std::printf("ready\n");
    std::fflush(stdout);

    uint32_t chosenSequence = 0;
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        const unsigned long long frames = std::strtoull(line, nullptr, 10);
        if (frames == 0) continue;
        status = sendBatch(handle, frames, rate, chosenId, chosenEvery, chosenSequence);
        if (status != canOK) return fail("canWrite", status);
    }
    sleepUntilMicros(bench::monotonicMicros() + kSettleMicros);  // let the last frames leave
    canClose(handle);
    canUnloadLibrary();
    return 0;
}
