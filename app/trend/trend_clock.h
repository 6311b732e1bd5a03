// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trend's clocks: frames carry CLOCK_MONOTONIC arrival times; the wall
// clock's offset from it turns them into times of day. [any-thread]

#include <chrono>
#include <cstdint>

#include "platform/base/steady_clock.h"

inline int64_t wallMinusMonotonicMicros() {
    const int64_t wall = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    return wall - kolvar::steadyMicros();
}
