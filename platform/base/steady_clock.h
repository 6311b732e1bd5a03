// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one steady clock: std::chrono::steady_clock, which is CLOCK_MONOTONIC
// on Linux, the clock frames' arrival times are taken on. [any-thread]

#include <chrono>
#include <cstdint>

namespace kolvar {

inline int64_t steadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline int64_t steadyMillis() { return steadyMicros() / 1000; }

}  // namespace kolvar
