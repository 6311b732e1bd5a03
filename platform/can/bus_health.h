// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the kernel says about a SocketCAN interface beyond its frames: up or
// down, present or deleted, the controller's state and its bit timing.
// Plain C++, no Qt.

#include <cstdint>
#include <string>

namespace kolvar::can {

struct InterfaceHealth {
    int busState;  // canBUSSTATE_ code
    long bitRate;  // bits per second; 0 where the kernel reports no bit timing (vcan)
};

// [any-thread] Asks the kernel about SocketCAN interface `name`: deleted ->
// canBUSSTATE_GONE, administratively down -> canBUSSTATE_DOWN, else the
// controller's state where the kernel reports one, and `errorFrameState`
// where it does not (vcan has no controller). A few system calls, no waiting.
InterfaceHealth socketCanHealth(const std::string& name, int errorFrameState);

}  // namespace kolvar::can
