// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/device_sim/sim_frame.h"

#include "tools/device_sim/sim_number.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace kolvar::sim {

namespace {

void putWord(uint16_t word, int byteOrder, uint8_t* out) {
    const uint8_t low = static_cast<uint8_t>(word & 0xFF);
    const uint8_t high = static_cast<uint8_t>(word >> 8);
    out[0] = byteOrder == 0 ? low : high;
    out[1] = byteOrder == 0 ? high : low;
}

}  // namespace

uint16_t readingOf(double value) {
    const double clamped = std::clamp(value, -100.0, 100.0);
    return static_cast<uint16_t>(std::lround((clamped + 100.0) * 4095.0 / 200.0));
}

uint16_t wordOf(double value) { return static_cast<uint16_t>(readingOf(value) << 4); }

void encodeMeasurement(double channel1, double channel2, int byteOrder, uint8_t out[8]) {
    std::fill(out, out + 8, uint8_t{0});
    putWord(wordOf(channel1), byteOrder, out);
    putWord(wordOf(channel2), byteOrder, out + 2);
}

std::optional<SimFrame> parseCanSend(const std::string& written) {
    SimFrame frame;
    if (!text::parseCanSend(written, frame)) return std::nullopt;
    return frame;
}

std::optional<LogLine> parseCandumpLine(const std::string& line) {
    std::istringstream in(line);
    std::string stamp, interface, frameText, extra;
    if (!(in >> stamp >> interface >> frameText)) return std::nullopt;
    if (stamp.size() < 3 || stamp.front() != '(' || stamp.back() != ')') return std::nullopt;
    double timestamp = 0;
    if (!parseReal(stamp.substr(1, stamp.size() - 2), timestamp)) return std::nullopt;
    auto frame = parseCanSend(frameText);
    if (!frame) return std::nullopt;
    // candump may append a direction or flags column ("R", "T"); ignore it.
    return LogLine{timestamp, interface, *frame};
}

const char* unsendableCandumpKind(const std::string& line) {
    std::istringstream in(line);
    std::string stamp, interface, frameText;
    if (!(in >> stamp >> interface >> frameText) || stamp.front() != '(') return nullptr;
    const size_t hash = frameText.find('#');
    if (hash == std::string::npos || hash == 0 || hash > 8) return nullptr;
    for (size_t i = 0; i < hash; ++i)
        if (text::hexDigitValue(frameText[i]) < 0) return nullptr;
    if (frameText.compare(hash, 2, "##") == 0) return "CAN FD";
    // candump writes an error frame with its error flag in the identifier.
    constexpr int kErrorFlagDigit = 0x2;  // 0x20000000: a bit of the identifier's first digit
    if (hash == 8 && (text::hexDigitValue(frameText[0]) & kErrorFlagDigit) != 0) return "error frame";
    return nullptr;
}

}  // namespace kolvar::sim
