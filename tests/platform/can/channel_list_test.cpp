// SPDX-License-Identifier: GPL-3.0-or-later
// Channel order and the KOLVAR_CAN_CHANNELS / KOLVAR_VIRTUALCAN_PORT switches.
#include "platform/can/channel_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <fstream>

using kolvar::can::buildChannelList;
using kolvar::can::socketCanInterfaces;

namespace {

std::vector<std::string> names(const std::vector<kolvar::can::ChannelInfo>& channels) {
    std::vector<std::string> result;
    for (const auto& channel : channels) result.push_back(channel.name);
    return result;
}

}  // namespace

TEST(ChannelList, SocketCanFirstThenVirtualAndTheFilterNarrowsIt) {
    const std::vector<std::string> socketCan{"can0", "vcan0", "vcan1"};
    using V = std::vector<std::string>;
    EXPECT_EQ(names(buildChannelList(socketCan, nullptr)),
              (V{"can0", "vcan0", "vcan1", "virtual 0", "virtual 1"}));
    EXPECT_EQ(names(buildChannelList(socketCan, "virtual")), (V{"virtual 0", "virtual 1"}));
    EXPECT_EQ(names(buildChannelList(socketCan, "socketcan")), (V{"can0", "vcan0", "vcan1"}));
    EXPECT_EQ(names(buildChannelList({}, "")), (V{"virtual 0", "virtual 1"}));
    EXPECT_TRUE(buildChannelList({}, "socketcan").empty());
}

TEST(ChannelList, VirtualPortMovesTheVirtualBusAndAnInvalidOneIsNoPort) {
    auto channels = buildChannelList({}, nullptr, nullptr);
    EXPECT_EQ(channels[1].interface, "can1");
    EXPECT_EQ(channels[1].port, 35468);
    channels = buildChannelList({}, nullptr, "41234");
    EXPECT_EQ(channels[1].port, 41234);
    EXPECT_EQ(channels[1].name, "virtual 1");
    // Never a silent fall-back to the shared default port.
    for (const char* invalid : {"70000", "0", "abc", "-5", "41901abc", "", "065535", "99999"})
        EXPECT_EQ(buildChannelList({}, nullptr, invalid)[0].port, 0) << invalid;
    EXPECT_EQ(buildChannelList({}, nullptr, "65535")[0].port, 65535);
}

TEST(ChannelList, SysfsScanKeepsOnlyCanLinksSortedByName) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("kolvar-net-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const auto addLink = [&](const std::string& name, int type) {
        fs::create_directories(root / name);
        std::ofstream(root / name / "type") << type << "\n";
    };
    addLink("vcan1", 280);
    addLink("eth0", 1);
    addLink("can0", 280);
    addLink("vcan0", 280);
    addLink("lo", 772);
    EXPECT_EQ(socketCanInterfaces(root.string()), (std::vector<std::string>{"can0", "vcan0", "vcan1"}));
    fs::remove_all(root);
    EXPECT_TRUE(socketCanInterfaces(root.string()).empty());
}
