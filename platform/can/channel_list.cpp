// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/channel_list.h"

#include "platform/base/decimal.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kolvar::can {

namespace {
constexpr int kArphrdCan = 280;  // link type of CAN interfaces in sysfs
constexpr int kVirtualChannels = 2;

}  // namespace

uint16_t virtualPort(const char* text) {
    if (text == nullptr) return kDefaultVirtualPort;
    uint64_t number = 0;
    if (text::parseDecimal(text, 65535, number) != text::Decimal::Ok) return 0;
    return static_cast<uint16_t>(number);
}

std::vector<std::string> socketCanInterfaces(const std::string& sysfsNet) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(sysfsNet, error);
    if (error) return names;
    for (const auto& entry : it) {
        std::ifstream typeFile(entry.path() / "type");
        int type = 0;
        if (typeFile >> type && type == kArphrdCan) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<ChannelInfo> buildChannelList(const std::vector<std::string>& socketCan,
                                          const char* filter, const char* portText) {
    const uint16_t port = virtualPort(portText);
    // Any other value, or none, offers every channel.
    const bool virtualOnly = filter != nullptr && std::strcmp(filter, "virtual") == 0;
    const bool socketCanOnly = filter != nullptr && std::strcmp(filter, "socketcan") == 0;
    const bool wantSocketCan = !virtualOnly;
    const bool wantVirtual = !socketCanOnly;
    std::vector<ChannelInfo> channels;
    if (wantSocketCan)
        for (const auto& name : socketCan) channels.push_back({"socketcan", name, name});
    if (wantVirtual)
        for (int i = 0; i < kVirtualChannels; ++i)
            channels.push_back({"virtualcan", "can" + std::to_string(i), "virtual " + std::to_string(i), port});
    return channels;
}

std::vector<ChannelInfo> enumerateChannels() {
    return buildChannelList(socketCanInterfaces(), std::getenv("KOLVAR_CAN_CHANNELS"),
                            std::getenv("KOLVAR_VIRTUALCAN_PORT"));
}

}  // namespace kolvar::can
