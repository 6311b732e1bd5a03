// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A SocketCAN network interface as the kernel's routing netlink (rtnetlink)
// describes it and changes it: its kind, up or down, and for a CAN
// controller its bit rate and state. Plain C++, no Qt; nothing is printed.
//
// Every function is [any-thread], asks the kernel once or a few times and
// returns 0 or a negative errno (-ENODEV: no such interface, -EPERM: the
// process lacks CAP_NET_ADMIN).

#include <string>

namespace kolvar::can {

struct CanLink {
    // "can" for a controller (serial-line, USB, on-board alike), "vcan" or
    // "vxcan" for a virtual interface; empty when the kernel names none.
    std::string kind;
    bool up = false;          // administratively up (IFF_UP)
    long bitRate = 0;         // bits per second; 0 where none is set or none exists
    bool hasState = false;    // the kernel reports a controller state
    int state = 0;            // CAN_STATE_ (linux/can/netlink.h) when hasState
};

// Reads interface `name`.
// Example: can0 of a serial-line adapter set to 500 kbit/s and up ->
// {"can", true, 500000, true, CAN_STATE_ERROR_ACTIVE}; vcan0 -> {"vcan", true, 0, false, 0}.
int readCanLink(const std::string& name, CanLink& out);

// Sets interface `name` up or down. Taking a controller down stops it;
// bringing it up starts it afresh, in error-active state (also after bus off).
int setCanLinkUp(const std::string& name, bool up);

// Sets the bit rate of the controller `name`, which must be down; the kernel
// picks the timing (-EINVAL when the controller cannot run at that rate).
int setCanLinkBitRate(const std::string& name, long bitsPerSecond);

}  // namespace kolvar::can
