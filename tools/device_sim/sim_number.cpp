// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/device_sim/sim_number.h"

#include "platform/base/decimal.h"
#include "platform/base/frame_text.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kolvar::sim {

bool parseWhole(const std::string& written, uint64_t& value, bool* tooLarge) {
    if (tooLarge) *tooLarge = false;
    const bool hex = written.size() > 2 && written[0] == '0' && (written[1] == 'x' || written[1] == 'X');
    if (!hex) {
        const text::Decimal read = text::parseDecimal(written, UINT64_MAX, value, text::LeadingZeros::Allowed);
        if (read == text::Decimal::TooLarge && tooLarge) *tooLarge = true;
        return read == text::Decimal::Ok;
    }
    const std::string digits = written.substr(2);
    for (const char c : digits)
        if (text::hexDigitValue(c) < 0) return false;
    errno = 0;
    value = std::strtoull(digits.c_str(), nullptr, 16);
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
