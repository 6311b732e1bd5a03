// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/frame_format.h"

const int32_t byte_order = 0;

namespace {
// Joins two adjacent buffer bytes into one 16-bit word in the given order.
int32_t joinWord(unsigned char first, unsigned char second, int32_t byteOrder) {
    if (byteOrder == 0) return static_cast<int32_t>(first) + 256 * static_cast<int32_t>(second);
    return 256 * static_cast<int32_t>(first) + static_cast<int32_t>(second);
}
}  // namespace

ChannelWords decodeChannelWords(const unsigned char data[8], int32_t byteOrder) {
    return ChannelWords{joinWord(data[0], data[1], byteOrder),
                        joinWord(data[2], data[3], byteOrder)};
}

double scaleChannelWord(int32_t word) {
    // The reading sits in the upper 12 bits; 4095 (not 4096) is full scale,
    // so the top reading maps exactly onto +100.0.
    const int32_t reading = word >> 4;
    const double spanned = 200.0 * static_cast<double>(reading);
    const double fraction = spanned / 4095.0;
    return fraction - 100.0;
}
