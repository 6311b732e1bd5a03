// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bus state that a channel's error frames report. Plain C++, no Qt.

#include <linux/can/error.h>

#include <cstdint>

#include "platform/canlib.h"

namespace kolvar::can {

// [any-thread] The bus state (a canBUSSTATE_ code) after an error frame with
// error class `errorClass` (the class bits of its identifier) and controller
// detail `controller` (its data byte 1), starting from `current`. Bus off
// wins; a restart or a recovery report returns to error active; controller
// reports of passive or warning level set that level.
// Example: (active, 0x04 controller, 0x10 rx passive) -> error passive.
inline int busStateAfterErrorFrame(int current, uint32_t errorClass, uint8_t controller) {
    if (errorClass & CAN_ERR_BUSOFF) return canBUSSTATE_BUS_OFF;
    if (errorClass & CAN_ERR_RESTARTED) return canBUSSTATE_ERROR_ACTIVE;
    if (!(errorClass & CAN_ERR_CRTL)) return current;
    if (controller & (CAN_ERR_CRTL_RX_PASSIVE | CAN_ERR_CRTL_TX_PASSIVE)) return canBUSSTATE_ERROR_PASSIVE;
    if (controller & (CAN_ERR_CRTL_RX_WARNING | CAN_ERR_CRTL_TX_WARNING)) return canBUSSTATE_ERROR_WARNING;
    if (controller & CAN_ERR_CRTL_ACTIVE) return canBUSSTATE_ERROR_ACTIVE;
    return current;
}

}  // namespace kolvar::can
