// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one reader of whole decimal numbers, for command lines, environment
// variables and wire protocols. Plain C++, no Qt, no allocation.
//
// Digits 0-9 only: no sign, no spaces, no "0x". Examples with max 65535:
//   "512" -> 512;  "65535" -> 65535;  "65536" -> TooLarge;  "" "-1" "5 " -> NotDecimal;
//   "007" -> NotDecimal, unless leading zeros are allowed (then 7).

#include <cstdint>
#include <string_view>

namespace kolvar::text {

enum class Decimal : uint8_t { Ok, NotDecimal, TooLarge };
enum class LeadingZeros : uint8_t { Refused, Allowed };

inline Decimal parseDecimal(std::string_view text, uint64_t max, uint64_t& value,
                            LeadingZeros zeros = LeadingZeros::Refused) {
    if (text.empty()) return Decimal::NotDecimal;
    if (zeros == LeadingZeros::Refused && text.size() > 1 && text[0] == '0') return Decimal::NotDecimal;
    uint64_t number = 0;
    bool tooLarge = false;
    for (const char c : text) {
        if (c < '0' || c > '9') return Decimal::NotDecimal;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (number > (max - digit) / 10) tooLarge = true;
        else number = number * 10 + digit;
    }
    if (tooLarge) return Decimal::TooLarge;
    value = number;
    return Decimal::Ok;
}

}  // namespace kolvar::text
