// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The text forms of a CAN frame, written and read in one place: the hex
// digits, the identifier limits and the cansend/candump form. Plain C++, no
// Qt, no allocation except where a std::string is returned or appended to.
//
// The cansend form ("<id>#<data>"), as cansend takes it and candump -l
// writes it:
//   - the identifier in hex: 3 digits for a standard (11-bit) identifier,
//     8 digits for an extended (29-bit) one;
//   - '#';
//   - 0 to 8 data bytes, two hex digits each; a '.' may stand between bytes
//     when reading ("F0.FF" is "F0FF"); or 'R' for a remote frame, with an
//     optional length digit 0..8.
// Examples:
//   "1A5#F0FF1000"         standard 0x1A5, 4 bytes F0 FF 10 00
//   "1A5#"                 standard 0x1A5, no data
//   "12345678#00"          extended 0x12345678, 1 byte 00
//   "123#R"  "123#R4"      remote frame, length 0 and 4
//   "800#00"               refused: 0x800 is beyond the standard limit 0x7FF
//   "1A5#F0F"              refused: an odd number of hex digits
// Written in upper case, as candump writes; read in either case.
//
// A candump -l line is "(<seconds>.<microseconds>) <interface> <frame>\n":
//   "(1700000000.000123) vcan0 1A5#F0FF1000\n"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kolvar::text {

constexpr uint32_t kMaxStandardId = 0x7FF;
constexpr uint32_t kMaxExtendedId = 0x1FFFFFFF;
constexpr size_t kMaxDataBytes = 8;

// The one hex table. Lower case is an upper-case digit with bit 0x20 set
// ('A' | 0x20 == 'a'; the digits 0-9 already have it).
inline constexpr char kHexDigits[] = "0123456789ABCDEF";
enum class HexCase : uint8_t { Upper, Lower };

namespace detail {
constexpr std::array<int8_t, 256> hexValues() {
    std::array<int8_t, 256> values{};
    for (auto& value : values) value = -1;
    for (int digit = 0; digit < 16; ++digit) {
        const auto c = static_cast<unsigned char>(kHexDigits[digit]);
        values[c] = static_cast<int8_t>(digit);
        values[c | 0x20u] = static_cast<int8_t>(digit);
    }
    return values;
}
inline constexpr std::array<int8_t, 256> kHexValues = hexValues();
}  // namespace detail

// 0..15 for a hex digit of either case ('a' -> 10), -1 for anything else.
inline int hexDigitValue(char c) { return detail::kHexValues[static_cast<unsigned char>(c)]; }

// The hex digit for 0..15 in the case asked for (11 -> 'B' or 'b').
inline char hexDigit(unsigned value, HexCase letters) {
    const char c = kHexDigits[value & 0xFu];
    return letters == HexCase::Upper ? c : static_cast<char>(c | 0x20);
}

// Appends two hex digits for each of the count bytes: {0xF0, 0x0A} -> "F00A".
void appendHexBytes(std::string& text, const uint8_t* bytes, size_t count, HexCase letters);

// A frame as its text carries it.
struct TextFrame {
    uint32_t id = 0;
    bool extended = false;
    bool remote = false;
    uint8_t dlc = 0;  // data bytes, or a remote frame's length
    uint8_t data[kMaxDataBytes] = {};
};

// Reads the cansend form (above); false for anything else.
bool parseCanSend(std::string_view text, TextFrame& frame);
// Appends the cansend form: {0x1A5, 4 bytes F0 FF 10 00} -> "1A5#F0FF1000";
// a remote frame of length 2 -> "1A5#R2". The identifier is cut to its limit
// and the length to 8.
void appendCanSend(std::string& text, const TextFrame& frame);

// One candump -l line with its '\n', the time given in microseconds of the
// wall clock: (1700000000000123, "vcan0", 0x1A5 F0 FF 10 00) ->
// "(1700000000.000123) vcan0 1A5#F0FF1000\n".
std::string candumpLine(int64_t wallMicros, std::string_view interface, const TextFrame& frame);

}  // namespace kolvar::text
