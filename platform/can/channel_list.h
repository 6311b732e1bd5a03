// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The numbered channels the layer offers: SocketCAN interfaces sorted by
// name, then the two channels of the virtual bus. KOLVAR_CAN_CHANNELS narrows
// the list ("virtual" or "socketcan"). Plain C++, no Qt.

#include <cstdint>
#include <string>
#include <vector>

namespace kolvar::can {

struct ChannelInfo {
    std::string kind;       // "socketcan" (a kernel SocketCAN interface) or "virtualcan" (the virtual bus)
    std::string interface;  // the interface name: "vcan0"; "can0" on the virtual bus
    std::string name;       // shown name: "vcan0", "virtual 0"
    uint16_t port = 0;      // the virtual bus's loopback port; 0 for SocketCAN
};

constexpr uint16_t kDefaultVirtualPort = 35468;

// The virtual bus's port for a KOLVAR_VIRTUALCAN_PORT value: the default for
// null, the number for a decimal from 1 to 65535, 0 for anything else.
uint16_t virtualPort(const char* text);

// SocketCAN interface names found under sysfsNet (each entry whose "type"
// holds 280, the CAN link type), sorted by name.
std::vector<std::string> socketCanInterfaces(const std::string& sysfsNet = "/sys/class/net");

// The channel list for a KOLVAR_CAN_CHANNELS value (null or empty: all) and
// a KOLVAR_VIRTUALCAN_PORT value (null: the virtual bus's default port; an
// invalid value leaves the virtual channels with port 0, which do not open).
std::vector<ChannelInfo> buildChannelList(const std::vector<std::string>& socketCan,
                                          const char* filter, const char* virtualPort = nullptr);

// The machine's channel list, read now.
std::vector<ChannelInfo> enumerateChannels();

}  // namespace kolvar::can
