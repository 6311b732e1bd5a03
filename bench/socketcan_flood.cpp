// SPDX-License-Identifier: GPL-3.0-or-later
// kolvar-bench-flood: writes a paced stream of 8-byte frames on a SocketCAN
// interface (vcan0 inside user-mode Linux), a mix of the viewer's chosen
// identifier and other identifiers, in the layout of bench_frame.h.
//
// Usage: kolvar-bench-flood IFACE FRAMES RATE [CHOSEN_ID [CHOSEN_EVERY]]
//   RATE is frames per second, 0 for as fast as the socket takes them.
// Prints one line: frames written, seconds, achieved rate, ENOBUFS waits.

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench_frame.h"

namespace {

int openRawSocket(const char* iface) {
    const int fd = socket(PF_CAN, SOCK_RAW, CAN_RAW);
    if (fd < 0) {
        std::perror("socket(PF_CAN)");
        return -1;
    }
    // The sender reads nothing: an empty filter keeps its own receive queue
    // from filling with every frame on the bus.
    if (setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FILTER, nullptr, 0) != 0) {
        std::perror("setsockopt(CAN_RAW_FILTER)");
        close(fd);
        return -1;
    }
    ifreq ifr{};
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", iface);
    if (ioctl(fd, SIOCGIFINDEX, &ifr) != 0) {
        std::fprintf(stderr, "interface %s: %s\n", iface, std::strerror(errno));
        close(fd);
        return -1;
    }
    sockaddr_can addr{};
    addr.can_family = AF_CAN;
    addr.can_ifindex = ifr.ifr_ifindex;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("bind");
        close(fd);
        return -1;
    }
    return fd;
}

// Writes one frame, waiting for room when the interface's queue is full.
bool writeFrame(int fd, const can_frame& frame, unsigned long& bufferWaits) {
    for (;;) {
        const ssize_t n = write(fd, &frame, sizeof frame);
        if (n == static_cast<ssize_t>(sizeof frame)) return true;
        if (n < 0 && (errno == ENOBUFS || errno == EAGAIN)) {
            ++bufferWaits;
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 10);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        std::perror("write");
        return false;
    }
}

void sleepUntilMicros(uint64_t due) {
    const timespec ts{static_cast<time_t>(due / 1000000u), static_cast<long>((due % 1000000u) * 1000u)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s IFACE FRAMES RATE [CHOSEN_ID [CHOSEN_EVERY]]\n", argv[0]);
        return 2;
    }
    const char* iface = argv[1];
    const unsigned long long frames = std::strtoull(argv[2], nullptr, 0);
    const double rate = std::strtod(argv[3], nullptr);
    const uint32_t chosenId = argc > 4 ? static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 0)) : 0x200u;
    const uint32_t chosenEvery = argc > 5 ? static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 0)) : 4u;
    if (frames == 0 || rate < 0 || chosenId > 0x7FF) {
        std::fprintf(stderr, "%s: bad FRAMES, RATE or CHOSEN_ID\n", argv[0]);
        return 2;
    }

    const int fd = openRawSocket(iface);
    if (fd < 0) return 1;

    unsigned long bufferWaits = 0;
    uint32_t chosenSequence = 0;
    const uint64_t start = bench::monotonicMicros();
    uint64_t now = start;
    for (unsigned long long n = 0; n < frames; ++n) {
        // The clock is read once per burst, not per frame: inside user-mode
        // Linux every system call is costly and would slow the sender itself.
        if (rate > 0) {
            const uint64_t due = start + static_cast<uint64_t>(static_cast<double>(n) * 1e6 / rate);
            if (due > now + 1000) {
                // A millisecond or more ahead: sleep until this frame is due;
                // the frames due by then go out back to back, so a coarse
                // guest timer still gives the right mean rate.
                sleepUntilMicros(due);
                now = bench::monotonicMicros();
            }
        } else if (n % 256 == 0) {
            now = bench::monotonicMicros();
        }
        can_frame frame{};
        frame.can_id = bench::frameIdentifier(n, chosenId, chosenEvery);
        frame.len = 8;
        const uint32_t sequence = frame.can_id == chosenId ? chosenSequence++ : static_cast<uint32_t>(n);
        bench::fillFrame(frame.data, sequence, static_cast<uint32_t>(now));
        if (!writeFrame(fd, frame, bufferWaits)) {
            close(fd);
            return 1;
        }
    }
    const double seconds = static_cast<double>(bench::monotonicMicros() - start) / 1e6;
    std::printf("sent %llu frames in %.3f s (%.0f frames/s), %lu buffer waits\n", frames, seconds,
                static_cast<double>(frames) / seconds, bufferWaits);
    close(fd);
    return 0;
}
