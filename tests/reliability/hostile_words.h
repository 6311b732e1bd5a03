// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The mark that the hostile-traffic tests put on the frames of the chosen
// identifier: the channel-2 word is a fixed scramble of the channel-1 word.
// Every other frame the sender makes is kept off the mark, so a display
// showing a marked pair can only have taken it from a frame of the chosen
// identifier.

#include <cstdint>

constexpr std::int32_t kHostileChosenId = 0x1A5;

constexpr std::uint32_t markedWord2(std::uint32_t word1) {
    return ((word1 * 40503u) ^ 0x5A5Au) & 0xFFFFu;
}

// words = word1 << 16 | word2, as the read audit passes them.
constexpr bool carriesMark(std::uint32_t words) {
    return markedWord2(words >> 16) == (words & 0xFFFFu);
}
