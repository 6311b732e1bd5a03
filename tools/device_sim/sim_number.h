// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulator's one way of reading numbers from the command line and from
// logs. Plain C++, no Qt.
//
// Whole numbers are decimal unless written 0x... (hexadecimal): "010" is
// ten, never eight. Real numbers are decimal ("2.5", "1e-3"), finite, with
// no sign other than a leading '-'. Neither takes spaces or a '+'.

#include <cstdint>
#include <string>

namespace kolvar::sim {

// False for anything else; *tooLarge, when given, says whether the text was
// a whole number beyond 2^64 - 1 ("99999999999999999999").
bool parseWhole(const std::string& text, uint64_t& value, bool* tooLarge = nullptr);
bool parseReal(const std::string& text, double& value);

}  // namespace kolvar::sim
