// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/virtual_bus_protocol.h"

#include <charconv>

#include "platform/base/decimal.h"
#include "platform/base/frame_text.h"
#include "platform/canlib.h"

namespace kolvar::can::vbus {

namespace {

using text::appendHexBytes;
using text::HexCase;
using text::hexDigitValue;
using text::kMaxDataBytes;
using text::kMaxExtendedId;
using text::kMaxStandardId;

// Decimal digits only, no sign, no leading zeros beyond "0", at most max.
bool parseDecimal(std::string_view digits, uint32_t max, uint32_t& value) {
    uint64_t number = 0;
    if (text::parseDecimal(digits, max, number) != text::Decimal::Ok) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

constexpr std::string_view kLostPrefix = "lost:";

// Appends value in decimal without a temporary string.
void appendDecimal(std::string& out, uint64_t value) {
    char digits[20];  // UINT64_MAX has 20
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// "can" followed by a decimal number up to kMaxInterface.
bool parseInterface(std::string_view text, int& interface) {
    if (text.substr(0, 3) != "can") return false;
    uint32_t number = 0;
    if (!parseDecimal(text.substr(3), kMaxInterface, number)) return false;
    interface = static_cast<int>(number);
    return true;
}

}  // namespace

const char* rejectText(Reject reason) {
    switch (reason) {
    case Reject::None: return "accepted";
    case Reject::TooLong: return "line too long";
    case Reject::UnknownCommand: return "unknown command";
    case Reject::BadInterface: return "bad interface";
    case Reject::BadIdentifier: return "bad identifier";
    case Reject::BadHex: return "bad hex";
    case Reject::PayloadTooLong: return "payload too long";
    case Reject::UnknownFlag: return "unknown flag";
    case Reject::BadStamp: return "bad stamp";
    }
    return "unknown";
}

Reject parseFrame(std::string_view text, Frame& frame) {
    int64_t stamp = 0;
    if (const size_t at = text.find('@'); at != std::string_view::npos) {
        uint64_t value = 0;
        if (text::parseDecimal(text.substr(at + 1), INT64_MAX, value) != text::Decimal::Ok || value == 0)
            return Reject::BadStamp;
        stamp = static_cast<int64_t>(value);
        text = text.substr(0, at);
    }
    const size_t first = text.find('#');
    if (first == std::string_view::npos) return Reject::UnknownCommand;
    const size_t second = text.find('#', first + 1);
    if (second == std::string_view::npos) return Reject::UnknownCommand;
    const std::string_view idText = text.substr(0, first);
    const std::string_view flagText = text.substr(first + 1, second - first - 1);
    const std::string_view hex = text.substr(second + 1);

    bool extended = false;
    bool remote = false;
    for (const char flag : flagText) {
        bool& seen = flag == 'X' ? extended : remote;
        if ((flag != 'X' && flag != 'R') || seen) return Reject::UnknownFlag;
        seen = true;
    }
    uint32_t id = 0;
    if (!parseDecimal(idText, extended ? kMaxExtendedId : kMaxStandardId, id)) return Reject::BadIdentifier;
    if (hex.size() % 2 != 0) return Reject::BadHex;
    for (const char c : hex)
        if (hexDigitValue(c) < 0) return Reject::BadHex;
    if (hex.size() / 2 > kMaxDataBytes) return Reject::PayloadTooLong;

    Frame parsed;
    parsed.id = static_cast<int32_t>(id);
    parsed.flags = (extended ? canMSG_EXT : canMSG_STD) | (remote ? canMSG_RTR : 0u);
    parsed.dlc = static_cast<uint8_t>(hex.size() / 2);
    if (!remote)
        for (size_t i = 0; i < parsed.dlc; ++i)
            parsed.data[i] = static_cast<uint8_t>(hexDigitValue(hex[2 * i]) << 4 | hexDigitValue(hex[2 * i + 1]));
    parsed.arrivalUs = stamp;
    frame = parsed;
    return Reject::None;
}

void appendFrame(std::string& out, const Frame& frame) {
    const bool remote = (frame.flags & canMSG_RTR) != 0;
    appendDecimal(out, static_cast<uint32_t>(frame.id));
    out += '#';
    if (frame.flags & canMSG_EXT) out += 'X';
    if (remote) out += 'R';
    out += '#';
    const size_t dlc = frame.dlc > kMaxDataBytes ? kMaxDataBytes : frame.dlc;
    static constexpr uint8_t kZeros[kMaxDataBytes] = {};
    appendHexBytes(out, remote ? kZeros : frame.data, dlc, HexCase::Lower);
}

void appendStamp(std::string& out, const Frame& frame) {
    out += '@';
    appendDecimal(out, static_cast<uint64_t>(frame.arrivalUs));
}

int64_t believedStamp(int64_t stamp, int64_t nowUs) {
    if (stamp <= 0 || stamp > nowUs || nowUs - stamp > kMaxStampAgeUs) return nowUs;
    return stamp;
}

std::string formatFrame(const Frame& frame) {
    std::string text;
    appendFrame(text, frame);
    return text;
}

bool parseLost(std::string_view line, uint64_t& count) {
    if (line.substr(0, kLostPrefix.size()) != kLostPrefix) return false;
    return text::parseDecimal(line.substr(kLostPrefix.size()), UINT64_MAX, count) == text::Decimal::Ok;
}

void appendLost(std::string& out, uint64_t count) {
    out += kLostPrefix;
    appendDecimal(out, count);
    out += '\n';
}

Reject parseCommand(std::string_view line, Command& command) {
    if (line.size() > kMaxLineLength) return Reject::TooLong;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return Reject::UnknownCommand;
    const std::string_view head = line.substr(0, colon);
    const std::string_view rest = line.substr(colon + 1);
    if (head == "options") {
        if (line == kStampsOption) {
            command.kind = Command::Kind::Stamps;
            return Reject::None;
        }
        if (rest != "lostcount") return Reject::UnknownCommand;
        command.kind = Command::Kind::CountLost;
        return Reject::None;
    }
    if (head == "connect" || head == "disconnect") {
        if (!parseInterface(rest, command.interface)) return Reject::BadInterface;
        command.kind = head == "connect" ? Command::Kind::Connect : Command::Kind::Disconnect;
        return Reject::None;
    }
    if (!parseInterface(head, command.interface)) return Reject::UnknownCommand;
    command.kind = Command::Kind::Send;
    return parseFrame(rest, command.frame);
}

}  // namespace kolvar::can::vbus
