// SPDX-License-Identifier: GPL-3.0-or-later
// The CAN layer on real SocketCAN. Runs inside user-mode Linux (uml-run.sh
// creates vcan0 and vcan1, or none); on a host without those interfaces the
// tests skip.
#include "platform/base/steady_clock.h"
#include "platform/canlib.h"

#include <QProcess>
#include <QThread>
#include <QStringList>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

bool interfacePresent(const char* name) {
    return std::filesystem::exists(std::string("/sys/class/net/") + name);
}

std::vector<std::string> channelNames() {
    std::vector<std::string> names;
    int count = 0;
    if (canGetNumberOfChannels(&count) != canOK) return names;
    for (int i = 0; i < count; ++i) {
        char name[64] = {};
        canGetChannelName(i, name, sizeof name);
        names.emplace_back(name);
    }
    return names;
}

void printChannelList(const char* heading) {
    std::printf("%s:", heading);
    for (const auto& name : channelNames()) std::printf(" [%s]", name.c_str());
    std::printf("\n");
}

// Runs a program to its end; its exit status, or -1.
int run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output) *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

class SocketCan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!interfacePresent("vcan0") || !interfacePresent("vcan1"))
            GTEST_SKIP() << "needs vcan0 and vcan1 (run through tests/uml/uml-run.sh --vcan 2)";
        unsetenv("KOLVAR_CAN_CHANNELS");
        ASSERT_EQ(canInitializeLibrary(), canOK);
    }
    void TearDown() override { canUnloadLibrary(); }

    int openOnBus(const std::string& wanted) {
        const auto names = channelNames();
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] != wanted) continue;
            const int handle = canOpenChannel(static_cast<int>(i), canOPEN_EXCLUSIVE);
            EXPECT_GE(handle, 0);
            EXPECT_EQ(canSetBusParams(handle, canBITRATE_500K, 0, 0, 0, 0, 0), canOK)
                << "a bit rate the interface cannot take does not refuse the connection";
            EXPECT_EQ(canBusOn(handle), canOK);
            return handle;
        }
        ADD_FAILURE() << "no channel " << wanted;
        return -1;
    }
};

}  // namespace

TEST_F(SocketCan, ChannelListHasTheInterfacesThenTheVirtualBus) {
    printChannelList("channels with vcan0 and vcan1");
    EXPECT_EQ(channelNames(), (std::vector<std::string>{"vcan0", "vcan1", "virtual 0", "virtual 1"}));
    canUnloadLibrary();
    setenv("KOLVAR_CAN_CHANNELS", "socketcan", 1);
    ASSERT_EQ(canInitializeLibrary(), canOK);
    EXPECT_EQ(channelNames(), (std::vector<std::string>{"vcan0", "vcan1"}));
    unsetenv("KOLVAR_CAN_CHANNELS");
}

TEST(NoSocketCan, ChannelListHasOnlyTheVirtualBus) {
    if (interfacePresent("vcan0")) GTEST_SKIP() << "runs where no CAN interface exists (uml-run.sh --vcan 0)";
    unsetenv("KOLVAR_CAN_CHANNELS");
    ASSERT_EQ(canInitializeLibrary(), canOK);
    printChannelList("channels with no SocketCAN interface");
    EXPECT_EQ(channelNames(), (std::vector<std::string>{"virtual 0", "virtual 1"}));
    canUnloadLibrary();
}

TEST_F(SocketCan, FramesFromCansendAreReadWithTheirIdentifiersAndBytes) {
    const int handle = openOnBus("vcan0");
    const int64_t beforeSendUs = kolvar::steadyMicros();
    // The error frames between them are counted, never returned; the
    // controller's receive overrun (data[1] 0x01) is a frame lost, its
    // transmit overrun (0x02) is not.
    for (const char* frame : {"1A5#F0FF100000000000", "20000004#0000000000000000", "12345678#0102",
                              "20000004#0001000000000000", "20000004#0002000000000000", "123#R", "7FF#"})
        ASSERT_EQ(run("cansend", {"vcan0", frame}), 0) << frame;
    struct Expected {
        int32_t id;
        unsigned flags, dlc;
        std::vector<uint8_t> bytes;
    } expected[] = {{0x1A5, canMSG_STD, 8, {0xF0, 0xFF, 0x10, 0, 0, 0, 0, 0}},
                    {0x12345678, canMSG_EXT, 2, {0x01, 0x02}},
                    {0x123, canMSG_STD | canMSG_RTR, 0, {}},
                    {0x7FF, canMSG_STD, 0, {}}};
    for (const auto& want : expected) {
        int32_t id = 0;
        uint8_t data[8] = {};
        unsigned dlc = 99, flags = 0;
        ASSERT_EQ(canReadWait(handle, &id, data, &dlc, &flags, nullptr, 5000), canOK);
        EXPECT_EQ(id, want.id);
        EXPECT_EQ(flags, want.flags);
        ASSERT_EQ(dlc, want.dlc);
        EXPECT_EQ(std::vector<uint8_t>(data, data + dlc), want.bytes);
    }
    // Arrival comes from the kernel's receive stamp (wall clock), carried
    // over to the steady clock that latency and trend compare it with.
    int64_t arrivalUs = 0;
    ASSERT_EQ(canGetLastArrivalMicros(handle, &arrivalUs), canOK);
    EXPECT_GE(arrivalUs, beforeSendUs);
    EXPECT_LE(arrivalUs, kolvar::steadyMicros());
    uint64_t errorFrames = 0;
    ASSERT_EQ(canGetErrorFrameCount(handle, &errorFrames), canOK);
    EXPECT_EQ(errorFrames, 3u);
    uint64_t lost = 0;
    ASSERT_EQ(canGetDroppedCount(handle, &lost), canOK);
    EXPECT_EQ(lost, 1u) << "one receive overrun of the controller";
    EXPECT_EQ(run("cansend", {"vcan1", "1A5#01"}), 0);
    int32_t id = 0;
    uint8_t data[8];
    EXPECT_EQ(canReadWait(handle, &id, data, nullptr, nullptr, nullptr, 300), canERR_NOMSG)
        << "vcan1 traffic does not reach vcan0";
}

TEST_F(SocketCan, CangenBurstArrivesCompleteAndInOrder) {
    const int handle = openOnBus("vcan0");
    constexpr int kFrames = 300;
    // -D i: payload counts up per frame; -g paces the slow guest.
    ASSERT_EQ(run("cangen", {"vcan0", "-g", "2", "-n", QString::number(kFrames), "-I", "1A5", "-L", "8", "-D", "i"}), 0);
    for (int i = 0; i < kFrames; ++i) {
        int32_t id = 0;
        uint8_t data[8] = {};
        unsigned dlc = 0;
        ASSERT_EQ(canReadWait(handle, &id, data, &dlc, nullptr, nullptr, 5000), canOK) << "frame " << i;
        ASSERT_EQ(id, 0x1A5);
        ASSERT_EQ(dlc, 8u);
        ASSERT_EQ(data[0], static_cast<uint8_t>(i)) << "frame " << i;
    }
    uint64_t dropped = 1;
    ASSERT_EQ(canGetDroppedCount(handle, &dropped), canOK);
    EXPECT_EQ(dropped, 0u);
}

TEST_F(SocketCan, SpecificSkipPicksTheIdentifierOutOfMixedTraffic) {
    const int handle = openOnBus("vcan1");
    for (const char* frame : {"100#01", "1A5#0A", "12345678#FF", "200#02", "1A5#0B"})
        ASSERT_EQ(run("cansend", {"vcan1", frame}), 0);
    ASSERT_EQ(canReadSync(handle, 5000), canOK);
    unsigned level = 0;
    for (int i = 0; i < 100 && level < 5; ++i) {
        canGetQueueLevel(handle, &level);
        if (level < 5) canReadSync(handle, 50);
    }
    ASSERT_EQ(level, 5u);
    uint8_t data[8] = {};
    ASSERT_EQ(canReadSpecificSkip(handle, 0x1A5, data, nullptr, nullptr, nullptr), canOK);
    EXPECT_EQ(data[0], 0x0A);
    ASSERT_EQ(canReadSpecificSkip(handle, 0x1A5, data, nullptr, nullptr, nullptr), canOK);
    EXPECT_EQ(data[0], 0x0B);
    EXPECT_EQ(canReadSpecificSkip(handle, 0x1A5, data, nullptr, nullptr, nullptr), canERR_NOMSG);
}

// candump -L prints "(seconds) vcan0 200#F0FF000000000000" per frame.
TEST_F(SocketCan, SimulatorFramesAppearInCandumpWithLayoutAndRate) {
    QProcess candump;
    candump.start("candump", {"-L", "-n", "50", "vcan0"});
    ASSERT_TRUE(candump.waitForStarted());
    QThread::msleep(300);  // candump has its socket bound before the first frame
    ASSERT_EQ(run(QStringLiteral(KOLVAR_DEVICE_SIM), {"--channel", "vcan0", "--rate", "100", "--count", "50",
                                                     "--ch1", "constant:amp=100", "--ch2", "constant:amp=-99.95"}),
              0);
    ASSERT_TRUE(candump.waitForFinished(10000)) << "candump saw fewer than 50 frames";
    const QList<QByteArray> lines = candump.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 50);
    std::vector<double> stamps;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        ASSERT_EQ(fields.size(), 3) << line.toStdString();
        EXPECT_EQ(fields[1], "vcan0");
        EXPECT_EQ(fields[2], "200#F0FF100000000000") << "channel 1 +100, channel 2 -99.95, low byte first";
        stamps.push_back(fields[0].mid(1, fields[0].size() - 2).toDouble());
    }
    const double rate = 49.0 / (stamps.back() - stamps.front());
    std::printf("simulator rate seen by candump: %.1f frames/s\n", rate);
    EXPECT_GT(rate, 50.0);
    EXPECT_LT(rate, 150.0);
}

TEST_F(SocketCan, SimulatorFramesReachTheLayerInAnotherProcess) {
    const int handle = openOnBus("vcan1");
    ASSERT_EQ(run(QStringLiteral(KOLVAR_DEVICE_SIM), {"--channel", "vcan1", "--send", "1A5#F0FF100000000000",
                                                     "--send", "12345678#01"}),
              0);
    int32_t id = 0;
    uint8_t data[8] = {};
    unsigned flags = 0;
    ASSERT_EQ(canReadWait(handle, &id, data, nullptr, &flags, nullptr, 5000), canOK);
    EXPECT_EQ(id, 0x1A5);
    EXPECT_EQ(data[0], 0xF0);
    ASSERT_EQ(canReadWait(handle, &id, data, nullptr, &flags, nullptr, 5000), canOK);
    EXPECT_EQ(id, 0x12345678);
    EXPECT_EQ(flags, canMSG_EXT);
}

TEST_F(SocketCan, FrameRefusedByADownedInterfaceIsCountedAsASendError) {
    const int handle = openOnBus("vcan1");
    ASSERT_GE(handle, 0);
    unsigned char data[2] = {0xF0, 0xFF};
    ASSERT_EQ(run("ip", {"link", "set", "vcan1", "down"}), 0);
    // Lost, as on a bus nobody listens to, but counted where the loss happened.
    EXPECT_EQ(canWrite(handle, 0x1A5, data, 2, canMSG_STD), canOK);
    ASSERT_EQ(run("ip", {"link", "set", "vcan1", "up"}), 0);
    EXPECT_EQ(canWrite(handle, 0x1A5, data, 2, canMSG_STD), canOK);
    canBusStatus status{};
    ASSERT_EQ(canGetBusStatus(handle, &status), canOK);
    EXPECT_EQ(status.sendErrors, 1u);
    EXPECT_EQ(status.shortReads, 0u);
    canClose(handle);
}
