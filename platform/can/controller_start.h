// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Switching a SocketCAN controller on the way the panel's hardware is
// switched on: at the bit rate chosen for it, and out of bus off.
// Plain C++, no Qt; nothing is printed.

#include <string>

namespace kolvar::can {

// [any-thread] Makes SocketCAN interface `name` ready for a connection at
// `chosenBitRate` bits per second (0: none chosen). Only a controller (link
// kind "can") is touched, and only when it runs at another rate, is bus off
// or is down: it is taken down, given the chosen rate, and brought up, which
// also restarts it. A virtual interface (vcan, vxcan) is left as it is.
// Returns the canSETUP_ bits (canlib.h) of what the process was not
// permitted to do (it lacks CAP_NET_ADMIN); every other failure leaves the
// interface as the kernel has it, which the bus status then shows.
// Example: can0 up at 500 kbit/s, 1 Mbit/s chosen, run by root -> 0, and
// can0 runs at 1 Mbit/s; run by another user -> canSETUP_BITRATE_DENIED.
int startController(const std::string& name, long chosenBitRate);

}  // namespace kolvar::can
