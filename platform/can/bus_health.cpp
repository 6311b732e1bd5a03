// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/bus_health.h"

#include "platform/canlib.h"

#include <libsocketcan.h>
#include <linux/can/netlink.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kolvar::can {

namespace {

// One datagram socket for the interface-flag queries, opened on first use and
// kept for the life of the process (an ioctl needs a socket of some family).
int flagSocket() {
    static const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd;
}

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
    InterfaceHealth health{errorFrameState, 0};
    ifreq request{};
    if (name.empty() || name.size() >= sizeof request.ifr_name) return {canBUSSTATE_GONE, 0};
    std::memcpy(request.ifr_name, name.c_str(), name.size() + 1);
    if (::ioctl(flagSocket(), SIOCGIFFLAGS, &request) < 0)
        return {errno == ENODEV ? canBUSSTATE_GONE : errorFrameState, 0};
    // Only an interface on a device has a controller with bit timing and a
    // state; asked about a virtual one (vcan), libsocketcan fails with a
    // message on standard error, which would come 4 times a second.
    const bool onDevice = ::access(("/sys/class/net/" + name + "/device").c_str(), F_OK) == 0;
    // The bit timing stays readable while the interface is down.
    can_bittiming timing{};
    if (onDevice && can_get_bittiming(name.c_str(), &timing) == 0)
        health.bitRate = static_cast<long>(timing.bitrate);
    if (!(request.ifr_flags & IFF_UP)) {
        health.busState = canBUSSTATE_DOWN;
        return health;
    }
    int kernelState = 0;
    if (onDevice && can_get_state(name.c_str(), &kernelState) == 0)
        health.busState = fromKernelState(kernelState);
    return health;
}

}  // namespace kolvar::can
