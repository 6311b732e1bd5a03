// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Layout of the frames the benchmark senders write, shared by the senders and
// the viewer driver that measures them.
//
// Bytes 0-1: channel-1 word, low byte first, carrying a 12-bit sequence
//            number in its upper 12 bits, so each value the meter shows names
//            the frame it came from.
// Bytes 2-3: channel-2 word, the inverted sequence number.
// Bytes 4-7: the sender's CLOCK_MONOTONIC time in microseconds (low 32 bits,
//            low byte first) when the frame was handed to the bus (the
//            SocketCAN flood reads the clock once per burst). The viewer
//            decodes only bytes 0-3, so these never change what it shows.

#include <cstdint>
#include <ctime>

namespace bench {

inline uint64_t monotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

inline void fillFrame(uint8_t data[8], uint32_t sequence, uint32_t sentMicros) {
    const uint16_t word1 = static_cast<uint16_t>((sequence & 0xFFFu) << 4);
    const uint16_t word2 = static_cast<uint16_t>(((~sequence) & 0xFFFu) << 4);
    data[0] = static_cast<uint8_t>(word1 & 0xFF);
    data[1] = static_cast<uint8_t>(word1 >> 8);
    data[2] = static_cast<uint8_t>(word2 & 0xFF);
    data[3] = static_cast<uint8_t>(word2 >> 8);
    for (int i = 0; i < 4; ++i) data[4 + i] = static_cast<uint8_t>(sentMicros >> (8 * i));
}

inline uint32_t frameSentMicros(const uint8_t data[8]) {
    uint32_t t = 0;
    for (int i = 0; i < 4; ++i) t |= static_cast<uint32_t>(data[4 + i]) << (8 * i);
    return t;
}

// The identifier of frame number n: every `chosenEvery`-th frame carries the
// chosen identifier, the others cycle through 64 other standard identifiers.
inline uint32_t frameIdentifier(uint64_t n, uint32_t chosenId, uint32_t chosenEvery) {
    if (chosenEvery != 0 && n % chosenEvery == 0) return chosenId;
    uint32_t other = 0x100u + static_cast<uint32_t>(n % 64u) * 7u;
    if (other == chosenId) other += 1;
    return other & 0x7FFu;
}

}  // namespace bench
