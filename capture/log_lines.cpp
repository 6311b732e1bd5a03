// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/log_lines.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "platform/base/frame_text.h"

namespace kolvar::capture {

std::string candumpLine(int64_t wallMicros, std::string_view interface, int32_t id,
                        unsigned length, const unsigned char data[8]) {
    kolvar::text::TextFrame frame;
    frame.id = static_cast<uint32_t>(id) & kolvar::text::kMaxStandardId;
    frame.dlc = static_cast<uint8_t>(std::min(length, 8u));
    std::copy(data, data + frame.dlc, frame.data);
    return kolvar::text::candumpLine(wallMicros, interface, frame);
}

std::string logInterfaceName(std::string_view channelName) {
    std::string name;
    for (const char c : channelName) {
        const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '_' || c == '.' || c == '-';
        if (kept) name += c;
    }
    return name.empty() ? std::string("can") : name;
}

std::string trendCsvRow(int64_t microsSinceFirst, int32_t id, uint16_t word1, uint16_t word2,
                        double value1, double value2) {
    char text[96];
    const int length = std::snprintf(text, sizeof text, "%" PRId64 ".%06" PRId64 ",0x%03X,%.2f,%.2f,%u,%u\n",
                                     microsSinceFirst / 1'000'000, microsSinceFirst % 1'000'000,
                                     static_cast<unsigned>(id) & 0x7FFu,
                                     value1, value2,
                                     static_cast<unsigned>(word1), static_cast<unsigned>(word2));
    return std::string(text, static_cast<size_t>(length));
}

}  // namespace kolvar::capture
