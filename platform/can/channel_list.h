#pragma once
// The numbered channels the layer offers: SocketCAN interfaces sorted by
// name, then the two channels of the virtual bus. KOLVAR_CAN_CHANNELS narrows
// the list ("virtual" or "socketcan"). Plain C++, no Qt.

#include <string>
#include <vector>

namespace kolvar::can {

struct ChannelInfo {
    std::string plugin;     // QtSerialBus plugin: "socketcan" or "virtualcan"
    std::string interface;  // the plugin's interface name: "vcan0", "can0"
    std::string name;       // shown name: "vcan0", "virtual 0"
};

// SocketCAN interface names found under sysfsNet (each entry whose "type"
// holds 280, the CAN link type), sorted by name.
std::vector<std::string> socketCanInterfaces(const std::string& sysfsNet = "/sys/class/net");

// The channel list for a KOLVAR_CAN_CHANNELS value (null or empty: all) and
// a KOLVAR_VIRTUALCAN_PORT value (null: the virtual bus's default port).
std::vector<ChannelInfo> buildChannelList(const std::vector<std::string>& socketCan,
                                          const char* filter, const char* virtualPort = nullptr);

// The machine's channel list, read now.
std::vector<ChannelInfo> enumerateChannels();

}  // namespace kolvar::can
