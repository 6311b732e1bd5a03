#include "platform/can/channel_list.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kolvar::can {

namespace {
constexpr int kArphrdCan = 280;  // link type of CAN interfaces in sysfs
constexpr int kVirtualChannels = 2;

// The virtualcan plugin takes "canN" for its default port, or a URL naming
// another one.
std::string virtualInterface(int index, const char* port) {
    const std::string name = "can" + std::to_string(index);
    const int number = port ? std::atoi(port) : 0;
    if (number <= 0 || number > 65535) return name;
    return "tcp://127.0.0.1:" + std::to_string(number) + "/" + name;
}
}  // namespace

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
                                          const char* filter, const char* virtualPort) {
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
            channels.push_back({"virtualcan", virtualInterface(i, virtualPort), "virtual " + std::to_string(i)});
    return channels;
}

std::vector<ChannelInfo> enumerateChannels() {
    return buildChannelList(socketCanInterfaces(), std::getenv("KOLVAR_CAN_CHANNELS"),
                            std::getenv("KOLVAR_VIRTUALCAN_PORT"));
}

}  // namespace kolvar::can
