// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Measurement frame layout and scaling. Plain C++, no Qt, no UI.
//
// Bytes 0-1 carry channel 1's word, bytes 2-3 channel 2's, bytes 4-7 are
// unused. byte_order 0: low byte first (word = b0 + 256*b1); nonzero: high
// byte first (word = 256*b0 + b1). The reading is the word's upper 12 bits.
//
// Example: F0 FF 10 00 .. with byte order 0 -> words 0xFFF0 and 0x0010,
// values +100.0 and about -99.951.

#include <cstdint>

// The byte order this program is built with: low byte first.
extern const int32_t byte_order;

struct ChannelWords {
    int32_t word1;  // 0..65535
    int32_t word2;  // 0..65535
};

// [any-thread] Decodes the two channel words from an 8-byte buffer.
ChannelWords decodeChannelWords(const unsigned char data[8], int32_t byteOrder);

// [any-thread] Maps a word onto -100.0..+100.0: r = word >> 4,
// value = (200.0 * r) / 4095.0 - 100.0. 0x0000 -> -100.0, 0xFFF0 -> +100.0.
double scaleChannelWord(int32_t word);
