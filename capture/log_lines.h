// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text forms of accepted frames: candump -l log lines for a recording and
// CSV rows for an export of the trend. Plain C++, no Qt. [any-thread]

#include <cstdint>
#include <string>
#include <string_view>

namespace kolvar::capture {

// "(1700000000.000123) vcan0 1A5#F0FF100000000000\n": wall-clock seconds
// with microseconds, the interface, the standard identifier in three hex
// digits and the frame's own `length` data bytes (0..8; "1A5#" for none),
// as candump -l writes them.
std::string candumpLine(int64_t wallMicros, std::string_view interface, int32_t id,
                        unsigned length, const unsigned char data[8]);

// A channel name as one word for a log line: spaces and other characters
// outside [A-Za-z0-9_.-] are left out ("virtual 0" -> "virtual0").
std::string logInterfaceName(std::string_view channelName);

// The columns with their units: the scaled values run from -100 to +100,
// the span of a channel's 12-bit reading.
constexpr std::string_view kTrendCsvHeader =
    "time (s),identifier (hex),ch1 (% of full scale),ch2 (% of full scale),word1 (raw),word2 (raw)\n";

// "1.500000,0x1A5,100.00,-99.95,65520,16\n": seconds since the first
// sample, the frame's identifier, the two scaled values (`value1`,
// `value2`) with two decimals, the two words as integers.
std::string trendCsvRow(int64_t microsSinceFirst, int32_t id, uint16_t word1, uint16_t word2,
                        double value1, double value2);

}  // namespace kolvar::capture
