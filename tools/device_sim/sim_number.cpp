// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/device_sim/sim_number.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kolvar::sim {

bool parseWhole(const std::string& text, uint64_t& value, bool* tooLarge) {
    if (tooLarge) *tooLarge = false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty()) return false;
    for (const char c : digits) {
        const bool decimal = c >= '0' && c <= '9';
        const bool hexLetter = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!decimal && !(hex && hexLetter)) return false;
    }
    errno = 0;
    value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE && tooLarge) *tooLarge = true;
    return errno == 0;
}

bool parseReal(const std::string& text, double& value) {
    // strtod would also take spaces, "0x1p3", "inf" and "nan".
    if (text.empty() || text.find_first_not_of("0123456789.eE-") != std::string::npos) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

}  // namespace kolvar::sim
