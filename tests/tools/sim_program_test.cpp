// SPDX-License-Identifier: GPL-3.0-or-later
// kolvar-device-sim as a program: exit statuses and messages, and the frames
// it puts on the virtual bus (received here through the CAN layer).
#include "platform/canlib.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

struct SimRun {
    int status = -1;
    QString out;
    QString err;
};

SimRun runSim(const QStringList& arguments, int timeoutMs = 20000) {
    QProcess process;
    process.start(QStringLiteral(KOLVAR_DEVICE_SIM), arguments);
    SimRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

struct Received {
    int32_t id;
    std::vector<uint8_t> bytes;
    Clock::time_point at;
};

class SimOnVirtualBus : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KOLVAR_CAN_CHANNELS", "virtual", 1);
        // A bus of this process's own, on a port below the ephemeral range.
        setenv("KOLVAR_VIRTUALCAN_PORT", std::to_string(20000 + getpid() % 12000).c_str(), 1);
        ASSERT_EQ(canInitializeLibrary(), canOK);
        handle_ = canOpenChannel(0, canOPEN_EXCLUSIVE);
        ASSERT_GE(handle_, 0);
        ASSERT_EQ(canBusOn(handle_), canOK);
        ASSERT_EQ(canWaitConnected(handle_, 10000), canOK);
    }
    void TearDown() override { canUnloadLibrary(); }

    std::vector<Received> receive(size_t count, unsigned long timeoutMs = 5000) {
        std::vector<Received> frames;
        while (frames.size() < count) {
            int32_t id = 0;
            uint8_t data[8] = {};
            unsigned dlc = 0;
            if (canReadWait(handle_, &id, data, &dlc, nullptr, nullptr, timeoutMs) != canOK) break;
            frames.push_back({id, std::vector<uint8_t>(data, data + dlc), Clock::now()});
        }
        return frames;
    }

    int handle_ = -1;
};

}  // namespace

TEST(SimProgram, BadOptionsExitTwoWithOneLine) {
    for (const QStringList& args : {QStringList{"--rate", "0"}, QStringList{"--nope"},
                                    QStringList{"--ch2", "sine:amp=500"},
                                    QStringList{"--replay", "/nonexistent/log"}, QStringList{"--rate", "1e-10"},
                                    QStringList{"--replay", "/tmp"}, QStringList{"--replay", "/dev/zero"}}) {
        const SimRun run = runSim(args);
        EXPECT_EQ(run.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.startsWith("kolvar-device-sim: ")) << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST(SimProgram, HelpExitsZero) {
    const SimRun run = runSim({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.contains("--replay FILE"));
    EXPECT_TRUE(run.err.isEmpty());
}

TEST(SimProgram, BusThatCannotBeUsedExitsOneNamingTheCause) {
    // A socket bound to the port but not listening: nobody can host there.
    const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string takenPort = std::to_string(ntohs(address.sin_port));
    const std::vector<std::pair<std::string, QString>> cases = {
        {takenPort, "bus cannot be reached"},           {"70000", "KOLVAR_VIRTUALCAN_PORT"},
        {"0", "KOLVAR_VIRTUALCAN_PORT"},                {"abc", "KOLVAR_VIRTUALCAN_PORT"},
        {"-5", "KOLVAR_VIRTUALCAN_PORT"},               {"41901abc", "KOLVAR_VIRTUALCAN_PORT"}};
    for (const auto& [port, cause] : cases) {
        setenv("KOLVAR_VIRTUALCAN_PORT", port.c_str(), 1);
        const SimRun run = runSim({"--count", "1"});
        EXPECT_EQ(run.status, 1) << port;
        EXPECT_TRUE(run.err.contains(cause)) << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    }
    unsetenv("KOLVAR_VIRTUALCAN_PORT");
    ::close(blocker);
}

TEST(SimProgram, ChannelThatCannotBeOpenedExitsOneWithTheReason) {
    const SimRun run = runSim({"--channel", "nosuchcan7", "--count", "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("nosuchcan7: Channel not found")) << run.err.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1) << "enumerating the channels prints nothing: " << run.err.toStdString();
}

TEST_F(SimOnVirtualBus, StreamCarriesBothChannelsInTheChosenByteOrder) {
    SimRun run = runSim({"--id", "0x1A5", "--rate", "200", "--count", "3", "--ch1", "constant:amp=100", "--ch2",
                      "constant:amp=-100"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    auto frames = receive(3);
    ASSERT_EQ(frames.size(), 3u);
    for (const auto& frame : frames) {
        EXPECT_EQ(frame.id, 0x1A5);
        EXPECT_EQ(frame.bytes, (std::vector<uint8_t>{0xF0, 0xFF, 0x00, 0x00, 0, 0, 0, 0}));
    }

    run = runSim({"--count", "1", "--byte-order", "1", "--ch1", "constant:amp=0", "--ch2", "sine:amp=0"});
    ASSERT_EQ(run.status, 0);
    frames = receive(1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].id, 0x200) << "default identifier";
    EXPECT_EQ(frames[0].bytes, (std::vector<uint8_t>{0x80, 0x00, 0x80, 0x00, 0, 0, 0, 0}));
}

TEST_F(SimOnVirtualBus, RampRisesFrameByFrame) {
    // 10 frames per second over a 1 s ramp from -100: steps of 20.
    const SimRun run = runSim({"--rate", "10", "--count", "5", "--ch1", "ramp:period=1", "--ch2", "constant:amp=0"});
    ASSERT_EQ(run.status, 0);
    const auto frames = receive(5);
    ASSERT_EQ(frames.size(), 5u);
    const double expected[] = {-100, -80, -60, -40, -20};
    for (size_t i = 0; i < frames.size(); ++i) {
        const int word = frames[i].bytes[0] | (frames[i].bytes[1] << 8);
        const double value = 200.0 * (word >> 4) / 4095.0 - 100.0;
        EXPECT_NEAR(value, expected[i], 0.05) << i;
    }
}

TEST_F(SimOnVirtualBus, ReplaysACandumpLogInItsOwnTiming) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("trace.log").toStdString();
    std::ofstream(path) << "(1700000000.100000) vcan0 1A5#F0FF100000000000\n"
                           "(1700000000.400000) vcan0 100#01\n"
                           "\n"
                           "(1700000000.500000) vcan0 20000080#0000000000000000\n"
                           "(1700000000.600000) vcan0 123##1AABB\n"
                           "(1700000000.700000) vcan0 12345678#AABB\n";
    const auto start = Clock::now();
    const SimRun run = runSim({"--replay", QString::fromStdString(path)});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("skipped 1 error frames and 1 CAN FD frames")) << run.err.toStdString();
    EXPECT_GE(Clock::now() - start, 550ms) << "0.6 s between the first and last frame";
    int32_t id = 0;
    uint8_t data[8] = {};
    unsigned dlc = 0, flags = 0;
    ASSERT_EQ(canReadWait(handle_, &id, data, &dlc, &flags, nullptr, 5000), canOK);
    EXPECT_EQ(id, 0x1A5);
    EXPECT_EQ(dlc, 8u);
    EXPECT_EQ(data[1], 0xFF);
    ASSERT_EQ(canReadWait(handle_, &id, data, &dlc, &flags, nullptr, 5000), canOK);
    EXPECT_EQ(id, 0x100);
    ASSERT_EQ(canReadWait(handle_, &id, data, &dlc, &flags, nullptr, 5000), canOK);
    EXPECT_EQ(id, 0x12345678);
    EXPECT_EQ(flags, canMSG_EXT);
    EXPECT_EQ(dlc, 2u);
}

TEST_F(SimOnVirtualBus, MalformedLogIsRefusedBeforeSending) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("bad.log").toStdString();
    // A timestamp far off would overflow the clock and send at once; one
    // that goes back would be sent at once too; a NUL byte is no text.
    const struct {
        std::string second;
        const char* words;
    } rows[] = {
        {"not a log line\n", ":2: not a candump -l line"},
        {"(1e10) vcan0 1A5#00\n", ":2: timestamp more than"},
        {"(0.5) vcan0 1A5#00\n", ":2: timestamp 0.500000 goes back before the line above (1.000000)"},
        {std::string("(2.0) vcan0 1A5#00\0\n", 20), ":2: NUL byte in the line: not a text log"},
    };
    for (const auto& row : rows) {
        std::ofstream(path) << "(1.0) vcan0 1A5#00\n" << row.second;
        const SimRun run = runSim({"--replay", QString::fromStdString(path)});
        EXPECT_EQ(run.status, 2) << row.words;
        EXPECT_TRUE(run.err.contains(row.words)) << run.err.toStdString();
        EXPECT_EQ(canReadSync(handle_, 300), canERR_NOMSG);
    }
}

TEST_F(SimOnVirtualBus, TerminationSignalEndsItCleanly) {
    for (int signal : {SIGINT, SIGTERM}) {
        QProcess process;
        process.start(QStringLiteral(KOLVAR_DEVICE_SIM), {"--rate", "50"});
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_FALSE(receive(3).size() < 3) << "the simulator is sending";
        ::kill(static_cast<pid_t>(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(5000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_TRUE(process.readAllStandardError().isEmpty());
    }
}
