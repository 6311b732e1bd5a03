// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One CAN frame as the layer stores it in its receive and transmit queues.

#include <cstdint>

#include "platform/base/steady_clock.h"

namespace kolvar::can {

struct Frame {
    int32_t id = 0;
    uint32_t flags = 0;     // canMSG_* bits
    uint8_t dlc = 0;        // data bytes carried (0..8)
    uint8_t data[8] = {};
    int64_t arrivalUs = 0;  // steadyMicros() at arrival (received frames) or when
                            // written (frames to send on the virtual bus)
};

}  // namespace kolvar::can
