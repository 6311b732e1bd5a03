// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/base/frame_text.h"

#include <algorithm>

namespace kolvar::text {

void appendHexBytes(std::string& text, const uint8_t* bytes, size_t count, HexCase letters) {
    for (size_t i = 0; i < count; ++i) {
        text += hexDigit(bytes[i] >> 4, letters);
        text += hexDigit(bytes[i], letters);
    }
}

bool parseCanSend(std::string_view text, TextFrame& frame) {
    const size_t hash = text.find('#');
    if (hash != 3 && hash != 8) return false;
    TextFrame parsed;
    parsed.extended = hash == 8;
    for (size_t i = 0; i < hash; ++i) {
        const int digit = hexDigitValue(text[i]);
        if (digit < 0) return false;
        parsed.id = parsed.id * 16 + static_cast<uint32_t>(digit);
    }
    if (parsed.id > (parsed.extended ? kMaxExtendedId : kMaxStandardId)) return false;
    const std::string_view rest = text.substr(hash + 1);
    if (!rest.empty() && (rest[0] == 'R' || rest[0] == 'r')) {
        parsed.remote = true;
        if (rest.size() == 2) {
            if (rest[1] < '0' || rest[1] > '8') return false;
            parsed.dlc = static_cast<uint8_t>(rest[1] - '0');
        } else if (rest.size() != 1) {
            return false;
        }
        frame = parsed;
        return true;
    }
    int high = -1;  // the first digit of a byte, while its second is awaited
    for (const char c : rest) {
        if (c == '.' && high < 0) continue;
        const int digit = hexDigitValue(c);
        if (digit < 0) return false;
        if (high < 0) {
            high = digit;
            continue;
        }
        if (parsed.dlc == kMaxDataBytes) return false;
        parsed.data[parsed.dlc++] = static_cast<uint8_t>(high << 4 | digit);
        high = -1;
    }
    if (high >= 0) return false;
    frame = parsed;
    return true;
}

void appendCanSend(std::string& text, const TextFrame& frame) {
    const uint32_t id = frame.id & (frame.extended ? kMaxExtendedId : kMaxStandardId);
    const int digits = frame.extended ? 8 : 3;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text += hexDigit(id >> shift, HexCase::Upper);
    text += '#';
    const uint8_t length = std::min<uint8_t>(frame.dlc, kMaxDataBytes);
    if (frame.remote) {
        text += 'R';
        if (length > 0) text += static_cast<char>('0' + length);
        return;
    }
    appendHexBytes(text, frame.data, length, HexCase::Upper);
}

std::string candumpLine(int64_t wallMicros, std::string_view interface, const TextFrame& frame) {
    std::string line = "(";
    line += std::to_string(wallMicros / 1'000'000);
    line += '.';
    const std::string micros = std::to_string(wallMicros % 1'000'000);
    line.append(6 - micros.size(), '0');
    line += micros;
    line += ") ";
    line += interface;
    line += ' ';
    appendCanSend(line, frame);
    line += '\n';
    return line;
}

}  // namespace kolvar::text
