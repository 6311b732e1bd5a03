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

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

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

std::optional<SimFrame> parseCanSend(const std::string& text) {
    const size_t hash = text.find('#');
    if (hash != 3 && hash != 8) return std::nullopt;
    SimFrame frame;
    frame.extended = hash == 8;
    for (size_t i = 0; i < hash; ++i) {
        const int digit = hexValue(text[i]);
        if (digit < 0) return std::nullopt;
        frame.id = frame.id * 16 + static_cast<uint32_t>(digit);
    }
    if (frame.id > (frame.extended ? 0x1FFFFFFFu : 0x7FFu)) return std::nullopt;
    std::string rest = text.substr(hash + 1);
    if (!rest.empty() && (rest[0] == 'R' || rest[0] == 'r')) {
        frame.remote = true;
        if (rest.size() == 1) return frame;
        if (rest.size() != 2 || rest[1] < '0' || rest[1] > '8') return std::nullopt;
        frame.dlc = static_cast<uint8_t>(rest[1] - '0');
        return frame;
    }
    rest.erase(std::remove(rest.begin(), rest.end(), '.'), rest.end());
    if (rest.size() % 2 != 0 || rest.size() > 16) return std::nullopt;
    for (size_t i = 0; i < rest.size(); i += 2) {
        const int high = hexValue(rest[i]);
        const int low = hexValue(rest[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        frame.data[frame.dlc++] = static_cast<uint8_t>(high * 16 + low);
    }
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
        if (hexValue(frameText[i]) < 0) return nullptr;
    if (frameText.compare(hash, 2, "##") == 0) return "CAN FD";
    // candump writes an error frame with its error flag in the identifier.
    constexpr uint32_t kErrorFlag = 0x20000000;
    if (hash == 8 && (std::strtoul(frameText.substr(0, 8).c_str(), nullptr, 16) & kErrorFlag) != 0)
        return "error frame";
    return nullptr;
}

}  // namespace kolvar::sim
