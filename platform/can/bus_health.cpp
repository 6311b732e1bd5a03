// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/bus_health.h"

#include "platform/can/can_link.h"
#include "platform/canlib.h"

#include <linux/can/netlink.h>

#include <cerrno>

namespace kolvar::can {

namespace {

int fromKernelState(int state) {
    switch (state) {
    case CAN_STATE_ERROR_ACTIVE: return canBUSSTATE_ERROR_ACTIVE;
    case CAN_STATE_ERROR_WARNING: return canBUSSTATE_ERROR_WARNING;
    case CAN_STATE_ERROR_PASSIVE: return canBUSSTATE_ERROR_PASSIVE;
    case CAN_STATE_BUS_OFF: return canBUSSTATE_BUS_OFF;
    default: return canBUSSTATE_DOWN;  // stopped or sleeping: takes no part in the bus
    }
}

}  // namespace

InterfaceHealth socketCanHealth(const std::string& name, int errorFrameState) {
    CanLink link;
    const int result = readCanLink(name, link);
    if (result == -ENODEV) return {canBUSSTATE_GONE, 0};
    if (result != 0) return {errorFrameState, 0};
    // The bit timing stays readable while the interface is down.
    if (!link.up) return {canBUSSTATE_DOWN, link.bitRate};
    return {link.hasState ? fromKernelState(link.state) : errorFrameState, link.bitRate};
}

}  // namespace kolvar::can
