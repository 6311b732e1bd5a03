// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/controller_start.h"

#include "platform/can/can_link.h"
#include "platform/canlib.h"

#include <linux/can/netlink.h>

#include <cerrno>

namespace kolvar::can {

int startController(const std::string& name, long chosenBitRate) {
    CanLink link;
    if (readCanLink(name, link) != 0 || link.kind != "can") return 0;
    const bool otherRate = chosenBitRate > 0 && link.bitRate != chosenBitRate;
    const bool busOff = link.up && link.hasState && link.state == CAN_STATE_BUS_OFF;
    if (!otherRate && !busOff && link.up) return 0;

    const int wanted = (otherRate ? canSETUP_BITRATE_DENIED : 0) | (busOff ? canSETUP_RESTART_DENIED : 0);
    if (link.up) {
        const int result = setCanLinkUp(name, false);
        if (result == -EPERM) return wanted;
        if (result != 0) return 0;
    }
    int denied = 0;
    if (otherRate) {
        // A rate the controller cannot run at (-EINVAL) leaves it at its own.
        const int result = setCanLinkBitRate(name, chosenBitRate);
        if (result == -EPERM) denied |= canSETUP_BITRATE_DENIED;
    }
    // Brought up even where the rate was refused: a connection always runs.
    if (setCanLinkUp(name, true) == -EPERM) denied |= wanted & ~canSETUP_BITRATE_DENIED;
    return denied;
}

}  // namespace kolvar::can
