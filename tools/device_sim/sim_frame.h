// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Frames as the measuring device sends them, and the cansend/candump text
// forms of a frame. Plain C++, no Qt.
//
// Data layout: bytes 0-1 carry the channel 1 word, bytes 2-3 the channel 2
// word, bytes 4-7 are zero. A word holds the 12-bit reading in its upper
// bits: word = r << 4 with r = round((v + 100) * 4095 / 200) for a value v
// in -100..100 (values outside are clamped).
// Example: v1 = +100, v2 = -100, byte order 0 -> F0 FF 00 00 00 00 00 00.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/base/frame_text.h"

namespace kolvar::sim {

using SimFrame = text::TextFrame;

// The 12-bit reading of v (clamped to -100..100).
uint16_t readingOf(double value);
// The channel word of v: readingOf(v) << 4.
uint16_t wordOf(double value);
// Writes the 8-byte data field for the two values. byteOrder 0: low byte
// first; any other value: high byte first.
void encodeMeasurement(double channel1, double channel2, int byteOrder, uint8_t out[8]);

// Parses the cansend form (platform/base/frame_text.h): "1A5#F0FF100000000000"
// -> std 0x1A5, 8 bytes; "123#R" -> remote, length 0; "12345678#00" ->
// extended 0x12345678, 1 byte.
std::optional<SimFrame> parseCanSend(const std::string& text);

// One line of a `candump -l` log: "(1436509052.249713) vcan0 044#2A366C2BBA".
struct LogLine {
    double timestamp = 0;  // seconds
    std::string interface;
    SimFrame frame;
};
std::optional<LogLine> parseCandumpLine(const std::string& line);
// For a candump -l line of a kind the simulator cannot send - "CAN FD"
// ("123##1AABB") or "error frame" (identifier with the error flag
// 0x20000000) - that kind; null for any other line.
const char* unsendableCandumpKind(const std::string& line);

}  // namespace kolvar::sim
