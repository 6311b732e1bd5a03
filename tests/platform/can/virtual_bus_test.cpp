// SPDX-License-Identifier: GPL-3.0-or-later
// The layer on the virtual bus, with the other nodes in other processes (the
// device simulator and kolvar-can-peer). Each test process gets a bus of its
// own through KOLVAR_VIRTUALCAN_PORT. A client of Qt's own virtual-bus plugin
// joins it too: programs built on that plugin share the bus with ours.
#include "platform/canlib.h"
#include "platform/base/steady_clock.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kVirtual0 = 0;  // with KOLVAR_CAN_CHANNELS=virtual
constexpr int kVirtual1 = 1;

// A helper process whose standard output is read line by line.
class Node {
public:
    explicit Node(const QString& program, const QStringList& arguments) {
        process_.setProgram(program);
        process_.setArguments(arguments);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
    }
    ~Node() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    bool started() { return process_.waitForStarted(5000); }
    // The next line of output, or "" when none comes within timeoutMs.
    std::string readLine(int timeoutMs = 10000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!process_.canReadLine()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !process_.waitForReadyRead(static_cast<int>(left.count()))) {
                if (!process_.canReadLine()) return {};
            }
        }
        return process_.readLine().trimmed().toStdString();
    }
    // Exit status, or -1 when it does not end within timeoutMs.
    int finish(int timeoutMs = 15000) {
        if (!process_.waitForFinished(timeoutMs)) return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    void closeInput() { process_.closeWriteChannel(); }

private:
    QProcess process_;
};

Node simulator(const QStringList& arguments) {
    return Node(QStringLiteral(KOLVAR_DEVICE_SIM), QStringList{"--channel", "virtual:0"} + arguments);
}

Node peer(const QStringList& arguments) { return Node(QStringLiteral(KOLVAR_CAN_PEER), arguments); }

int runSimulator(const QStringList& arguments) { return simulator(arguments).finish(); }

// The address of this process's virtual bus.
sockaddr_in busAddress() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(std::getenv("KOLVAR_VIRTUALCAN_PORT"))));
    return address;
}

// Waits until the channel's queue holds at least count frames.
bool waitForLevel(int handle, unsigned count, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = Clock::now() + timeout;
    unsigned level = 0;
    while (Clock::now() < deadline) {
        if (canGetQueueLevel(handle, &level) != canOK) return false;
        if (level >= count) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

class VirtualBus : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("KOLVAR_CAN_CHANNELS", "virtual", 1);
        // A bus of this process's own, on a port below the ephemeral range.
        setenv("KOLVAR_VIRTUALCAN_PORT", std::to_string(20000 + getpid() % 12000).c_str(), 1);
        ASSERT_EQ(canInitializeLibrary(), canOK);
    }
    void TearDown() override { canUnloadLibrary(); }

    int openOnBus(int channel) {
        const int handle = canOpenChannel(channel, canOPEN_EXCLUSIVE);
        EXPECT_GE(handle, 0);
        EXPECT_EQ(canSetBusParams(handle, canBITRATE_500K, 0, 0, 0, 0, 0), canOK);
        EXPECT_EQ(canBusOn(handle), canOK);
        EXPECT_EQ(canWaitConnected(handle, 10000), canOK);
        return handle;
    }
};

TEST_F(VirtualBus, FramesFromAnotherProcessArriveInOrderWithTheirBytes) {
    const int handle = openOnBus(kVirtual0);
    ASSERT_EQ(runSimulator({"--send", "1A5#F0FF100000000000", "--send", "100#0102", "--send",
                            "7FF#", "--send", "1A5#00112233"}),
              0);
    struct Expected {
        int32_t id;
        unsigned dlc;
        const char* bytes;
    } expected[] = {{0x1A5, 8, "\xF0\xFF\x10\0\0\0\0\0"}, {0x100, 2, "\x01\x02"}, {0x7FF, 0, ""},
                    {0x1A5, 4, "\x00\x11\x22\x33"}};
    for (const auto& want : expected) {
        int32_t id = 0;
        unsigned char data[8];
        std::memset(data, 0xEE, sizeof data);
        unsigned dlc = 99, flags = 0;
        unsigned long time = 0;
        ASSERT_EQ(canReadWait(handle, &id, data, &dlc, &flags, &time, 5000), canOK);
        EXPECT_EQ(id, want.id);
        EXPECT_EQ(dlc, want.dlc);
        EXPECT_EQ(flags, canMSG_STD);
        EXPECT_EQ(std::memcmp(data, want.bytes, dlc), 0);
        EXPECT_EQ(data[dlc < 8 ? dlc : 7], dlc < 8 ? 0xEE : static_cast<unsigned char>(want.bytes[7]))
            << "only the frame's dlc bytes are written";
    }
}

TEST_F(VirtualBus, SpecificSkipDiscardsOtherIdentifiersAndLeavesTheRest) {
    const int handle = openOnBus(kVirtual0);
    ASSERT_EQ(runSimulator({"--send", "100#01", "--send", "1A5#0A", "--send", "200#02", "--send",
                            "1A5#0B"}),
              0);
    ASSERT_TRUE(waitForLevel(handle, 4));
    unsigned char data[8] = {};
    ASSERT_EQ(canReadSpecificSkip(handle, 0x1A5, data, nullptr, nullptr, nullptr), canOK);
    EXPECT_EQ(data[0], 0x0A);
    unsigned level = 0;
    ASSERT_EQ(canGetQueueLevel(handle, &level), canOK);
    EXPECT_EQ(level, 2u) << "0x100 discarded, 0x200 and the second 0x1A5 kept";
    ASSERT_EQ(canReadSpecificSkip(handle, 0x1A5, data, nullptr, nullptr, nullptr), canOK);
    EXPECT_EQ(data[0], 0x0B);
    data[0] = 0x55;
    EXPECT_EQ(canReadSpecificSkip(handle, 0x1A5, data, nullptr, nullptr, nullptr), canERR_NOMSG);
    EXPECT_EQ(data[0], 0x55) << "buffer untouched when nothing matches";
}

TEST_F(VirtualBus, ExtendedAndRemoteFramesAreQueuedButNeverMatch) {
    const int handle = openOnBus(kVirtual0);
    ASSERT_EQ(runSimulator({"--send", "000001A5#01", "--send", "1A5#R4", "--send", "1A5#C3"}), 0);
    ASSERT_TRUE(waitForLevel(handle, 3));
    int32_t id = 0;
    unsigned char data[8] = {0x77};
    unsigned dlc = 0, flags = 0;
    ASSERT_EQ(canReadWait(handle, &id, data, &dlc, &flags, nullptr, 1000), canOK);
    EXPECT_EQ(id, 0x1A5);
    EXPECT_EQ(flags, canMSG_EXT);
    EXPECT_EQ(data[0], 0x01);
    data[0] = 0x77;
    ASSERT_EQ(canReadWait(handle, &id, data, &dlc, &flags, nullptr, 1000), canOK);
    EXPECT_EQ(flags, canMSG_STD | canMSG_RTR);
    EXPECT_EQ(dlc, 4u);
    EXPECT_EQ(data[0], 0x77) << "a remote frame leaves the buffer untouched";

    ASSERT_EQ(runSimulator({"--send", "000001A5#01", "--send", "1A5#R", "--send", "1A5#C4"}), 0);
    ASSERT_TRUE(waitForLevel(handle, 4));  // the earlier 1A5#C3 and the new three
    ASSERT_EQ(canReadSpecificSkip(handle, 0x1A5, data, nullptr, &flags, nullptr), canOK);
    EXPECT_EQ(data[0], 0xC3);
    ASSERT_EQ(canReadSpecificSkip(handle, 0x1A5, data, nullptr, &flags, nullptr), canOK);
    EXPECT_EQ(data[0], 0xC4) << "the extended and remote 0x1A5 frames were skipped";
}

TEST_F(VirtualBus, FloodOfOtherIdentifiersIsBoundedAndCounted) {
    const int handle = openOnBus(kVirtual0);
    constexpr int kFlood = 70000;  // more than the queue holds (65536)
    ASSERT_EQ(runSimulator({"--id", "0x100", "--rate", "100000", "--count", QString::number(kFlood)}), 0);
    ASSERT_EQ(runSimulator({"--send", "1A5#5A"}), 0);
    uint64_t dropped = 0;
    const auto deadline = Clock::now() + 20s;
    while (Clock::now() < deadline) {
        ASSERT_EQ(canGetDroppedCount(handle, &dropped), canOK);
        if (dropped >= kFlood + 1 - 65536) break;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(dropped, uint64_t{kFlood + 1 - 65536});
    unsigned level = 0;
    ASSERT_EQ(canGetQueueLevel(handle, &level), canOK);
    EXPECT_EQ(level, 65536u);
    unsigned char data[8] = {};
    ASSERT_EQ(canReadSpecificSkip(handle, 0x1A5, data, nullptr, nullptr, nullptr), canOK);
    EXPECT_EQ(data[0], 0x5A) << "the newest frame survives the flood";
    ASSERT_EQ(canGetQueueLevel(handle, &level), canOK);
    EXPECT_EQ(level, 0u);
}

TEST_F(VirtualBus, ReadsTimeOutOnASilentBus) {
    const int handle = openOnBus(kVirtual1);
    int32_t id = 0;
    unsigned char data[8];
    auto start = Clock::now();
    EXPECT_EQ(canReadWait(handle, &id, data, nullptr, nullptr, nullptr, 200), canERR_NOMSG);
    EXPECT_GE(Clock::now() - start, 190ms);
    start = Clock::now();
    EXPECT_EQ(canReadSync(handle, 200), canERR_NOMSG);
    EXPECT_GE(Clock::now() - start, 190ms);
    EXPECT_EQ(canReadSpecificSkip(handle, 0x200, data, nullptr, nullptr, nullptr), canERR_NOMSG);
}

TEST_F(VirtualBus, BadClosedAndUnloadedHandlesGiveNegativeStatuses) {
    unsigned char data[8];
    int32_t id = 0;
    for (int handle : {-1, 0, 4711}) {
        EXPECT_EQ(canBusOn(handle), canERR_INVHANDLE);
        EXPECT_EQ(canReadWait(handle, &id, data, nullptr, nullptr, nullptr, 10), canERR_INVHANDLE);
        EXPECT_EQ(canClose(handle), canERR_INVHANDLE);
    }
    EXPECT_EQ(canOpenChannel(2, canOPEN_EXCLUSIVE), canERR_NOTFOUND);
    EXPECT_EQ(canOpenChannel(-1, canOPEN_EXCLUSIVE), canERR_NOTFOUND);

    const int handle = openOnBus(kVirtual0);
    ASSERT_EQ(canClose(handle), canOK);
    EXPECT_EQ(canClose(handle), canERR_INVHANDLE);
    EXPECT_EQ(canBusOff(handle), canERR_INVHANDLE);
    EXPECT_EQ(canWrite(handle, 0x100, data, 8, 0), canERR_INVHANDLE);
    EXPECT_EQ(canReadSpecificSkip(handle, 0x100, data, nullptr, nullptr, nullptr), canERR_INVHANDLE);
    EXPECT_EQ(canSetBusParams(handle, canBITRATE_1M, 0, 0, 0, 0, 0), canERR_INVHANDLE);

    const int reopened = openOnBus(kVirtual0);
    EXPECT_NE(reopened, handle) << "a closed handle is not handed out again at once";
    ASSERT_EQ(canUnloadLibrary(), canOK);
    EXPECT_EQ(canReadSync(reopened, 10), canERR_INVHANDLE);
    int count = 0;
    EXPECT_EQ(canGetNumberOfChannels(&count), canERR_NOTINITIALIZED);
    EXPECT_EQ(canOpenChannel(kVirtual0, canOPEN_EXCLUSIVE), canERR_NOTINITIALIZED);
}

TEST_F(VirtualBus, ExclusiveOpenRefusesASecondOpenOfTheSameChannel) {
    const int first = canOpenChannel(kVirtual0, canOPEN_EXCLUSIVE);
    ASSERT_GE(first, 0);
    EXPECT_EQ(canOpenChannel(kVirtual0, canOPEN_EXCLUSIVE), canERR_INUSE);
    EXPECT_EQ(canOpenChannel(kVirtual0, 0), canERR_INUSE);
    const int other = canOpenChannel(kVirtual1, canOPEN_EXCLUSIVE);
    EXPECT_GE(other, 0);
    ASSERT_EQ(canClose(first), canOK);
    EXPECT_GE(canOpenChannel(kVirtual0, canOPEN_EXCLUSIVE), 0);
}

TEST_F(VirtualBus, WriteChecksItsFrameAndNeedsTheBus) {
    const int handle = canOpenChannel(kVirtual0, canOPEN_EXCLUSIVE);
    ASSERT_GE(handle, 0);
    const unsigned char data[8] = {};
    EXPECT_EQ(canWrite(handle, 0x100, data, 8, 0), canERR_OFFBUS);
    ASSERT_EQ(canBusOn(handle), canOK);
    EXPECT_EQ(canWrite(handle, 0x100, data, 9, 0), canERR_PARAM);
    EXPECT_EQ(canWrite(handle, 0x800, data, 8, 0), canERR_PARAM);
    EXPECT_EQ(canWrite(handle, 0x800, data, 8, canMSG_EXT), canOK);
    EXPECT_EQ(canWrite(handle, 0x100, nullptr, 8, 0), canERR_PARAM);
    EXPECT_EQ(canWaitConnected(handle, 10000), canOK);
    EXPECT_EQ(canWriteSync(handle, 2000), canOK);
}

// The port held by a program that does not listen: bus on returns and the
// channel says it is connecting; once the port comes free it hosts the bus
// itself and connects.
TEST_F(VirtualBus, BusOnWithThePortHeldByAProgramThatDoesNotListenSaysConnecting) {
    const int blocker = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(blocker, 0);
    const sockaddr_in address = busAddress();
    ASSERT_EQ(::bind(blocker, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << errno;

    const int handle = canOpenChannel(kVirtual0, canOPEN_EXCLUSIVE);
    ASSERT_GE(handle, 0);
    ASSERT_EQ(canBusOn(handle), canOK);
    canBusStatus status{};
    ASSERT_EQ(canGetBusStatus(handle, &status), canOK);
    EXPECT_EQ(status.busState, canBUSSTATE_CONNECTING);
    EXPECT_EQ(canWaitConnected(handle, 300), canERR_DEVICE);

    ::close(blocker);
    EXPECT_EQ(canWaitConnected(handle, 3000), canOK);
    ASSERT_EQ(canGetBusStatus(handle, &status), canOK);
    EXPECT_EQ(status.busState, canBUSSTATE_ERROR_ACTIVE);
}

TEST_F(VirtualBus, WaitingReadReturnsAtOnceOnBusOffAndClose) {
    const int handle = openOnBus(kVirtual0);
    auto read = std::async(std::launch::async, [handle] {
        int32_t id = 0;
        unsigned char data[8];
        return canReadWait(handle, &id, data, nullptr, nullptr, nullptr, 20000);
    });
    std::this_thread::sleep_for(100ms);
    auto start = Clock::now();
    ASSERT_EQ(canBusOff(handle), canOK);
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(read.get(), canERR_OFFBUS);
    EXPECT_LT(Clock::now() - start, 2s);

    ASSERT_EQ(canBusOn(handle), canOK);
    auto sync = std::async(std::launch::async, [handle] { return canReadSync(handle, 20000); });
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(canClose(handle), canOK);
    ASSERT_EQ(sync.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(sync.get(), canERR_INVHANDLE);
}

TEST_F(VirtualBus, UnloadClosesOpenChannelsAndTheLayerWorksAfterwards) {
    const int first = openOnBus(kVirtual0);
    const int second = openOnBus(kVirtual1);
    auto read = std::async(std::launch::async, [first] { return canReadSync(first, 20000); });
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(canUnloadLibrary(), canOK);
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    EXPECT_LT(read.get(), 0);
    EXPECT_EQ(canBusOn(second), canERR_INVHANDLE);

    ASSERT_EQ(canInitializeLibrary(), canOK);
    const int handle = openOnBus(kVirtual0);
    ASSERT_EQ(runSimulator({"--send", "321#01"}), 0);
    int32_t id = 0;
    unsigned char data[8];
    EXPECT_EQ(canReadWait(handle, &id, data, nullptr, nullptr, nullptr, 5000), canOK);
    EXPECT_EQ(id, 0x321);
}

// Sends 0x300 with one data byte until the echo (0x301) comes back: a
// node reports itself connected before the server has registered it, and
// frames sent in between reach nobody.
bool exchangeWithEcho(int handle, unsigned char byte) {
    const auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline) {
        if (canWrite(handle, 0x300, &byte, 1, 0) != canOK) return false;
        int32_t id = 0;
        unsigned char data[8] = {};
        while (canReadWait(handle, &id, data, nullptr, nullptr, nullptr, 100) == canOK)
            if (id == 0x301 && data[0] == byte) return true;
    }
    return false;
}

// Three nodes: a peer hosting the bus server, this process and an echoing
// peer. The host leaves; the other two find each other again.
TEST_F(VirtualBus, RemainingNodesCarryOnWhenTheHostLeaves) {
    Node host = peer({"hold", "virtual 0"});
    ASSERT_TRUE(host.started());
    ASSERT_EQ(host.readLine(), "ready");  // first on this port, so it hosts the server
    const int handle = openOnBus(kVirtual0);
    Node echo = peer({"echo", "virtual 0", "100000", "15000"});
    ASSERT_EQ(echo.readLine(), "ready");

    ASSERT_TRUE(exchangeWithEcho(handle, 0x01));
    EXPECT_EQ(echo.readLine(), "300#01 flags=2");

    host.closeInput();
    ASSERT_EQ(host.finish(), 0);
    ASSERT_TRUE(exchangeWithEcho(handle, 0x02)) << "no echo after the host left";
    std::string line;
    do line = echo.readLine();
    while (line == "300#01 flags=2");
    EXPECT_EQ(line, "300#02 flags=2");
}

// A reader taking frames once a refresh keeps the I/O thread from reading the
// batches of its quiet part; when the stream stops, the frames that came last
// are still read and taken, not left in the socket.
TEST_F(VirtualBus, PacedReadsTakeTheLastFramesOfAStreamThatStops) {
    Node host = peer({"hold", "virtual 0"});
    ASSERT_TRUE(host.started());
    ASSERT_EQ(host.readLine(), "ready");  // it hosts: this process reads over a connection
    const int handle = openOnBus(kVirtual0);
    Node echo = peer({"echo", "virtual 0", "100000", "15000"});
    ASSERT_EQ(echo.readLine(), "ready");
    ASSERT_TRUE(exchangeWithEcho(handle, 0x01));

    constexpr int kFrames = 300;
    std::atomic<int> newest{-1};
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            const int waited = canReadSyncPaced(handle, 16'667, 100);
            if (waited != canOK && waited != canERR_NOMSG) return;
            unsigned char data[8] = {};
            unsigned dlc = 0;
            while (canReadSpecificSkip(handle, 0x301, data, &dlc, nullptr, nullptr) == canOK)
                if (dlc == 2) newest.store(data[0] << 8 | data[1]);
        }
    });
    for (int i = 0; i < kFrames; ++i) {
        const unsigned char data[2] = {static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
        if (canWrite(handle, 0x300, data, 2, canMSG_STD) != canOK) break;
        std::this_thread::sleep_for(1ms);
    }
    const auto deadline = Clock::now() + 5s;
    while (newest.load() != kFrames - 1 && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    done.store(true);
    reader.join();
    EXPECT_EQ(newest.load(), kFrames - 1) << "the stream's last frames were not taken";
}

// Runs the calling thread's event loop until done() holds or timeout passes.
bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Qt's own "virtualcan" client on this process's bus: its frame reaches the
// layer with its bytes, and the layer's extended frame reaches it. Checks the
// line protocol both ways against the plugin, not against our own parser.
TEST_F(VirtualBus, FramesCarryTheMomentTheyWereWrittenNotWhenTheirBatchArrived) {
    // Frames wait up to a send window and go out in batches; the moment each
    // was written travels with it. A client of ours, spoken by hand here.
    const int handle = openOnBus(kVirtual0);  // first on the port: this process hosts
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    const sockaddr_in address = busAddress();
    ASSERT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << errno;
    const timeval patience{5, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    // What the host sends, up to the end of the line holding `want`.
    std::string received;
    const auto receiveUntil = [&](const std::string& want) {
        char chunk[512];
        for (;;) {
            const size_t at = received.find(want);
            if (at != std::string::npos && received.find('\n', at) != std::string::npos) return true;
            const ssize_t got = ::recv(client, chunk, sizeof chunk, 0);
            if (got <= 0) return false;
            received.append(chunk, static_cast<size_t>(got));
        }
    };
    const std::string hello = "options:stamps\nconnect:can0\n";
    ASSERT_EQ(::send(client, hello.data(), hello.size(), MSG_NOSIGNAL), static_cast<ssize_t>(hello.size()));
    ASSERT_TRUE(receiveUntil("options:stamps\n")) << "the host says it takes stamps";

    // Written 50 ms ago, then one stamped in the future (not believed: it
    // counts from when it was read), sent in one batch.
    const int64_t now = kolvar::steadyMicros();
    const std::string batch = "can0:256##01@" + std::to_string(now - 50'000) + "\ncan0:256##02@" +
                              std::to_string(now + 10'000'000) + "\n";
    ASSERT_EQ(::send(client, batch.data(), batch.size(), MSG_NOSIGNAL), static_cast<ssize_t>(batch.size()));
    unsigned long times[2] = {};
    for (unsigned long& time : times) {
        int32_t id = 0;
        unsigned char data[8];
        unsigned dlc = 0, flags = 0;
        ASSERT_EQ(canReadWait(handle, &id, data, &dlc, &flags, &time, 5000), canOK);
    }
    EXPECT_GE(times[1] - times[0], 49u) << "the first frame's own moment, 50 ms before the batch";
    EXPECT_LT(times[1] - times[0], 5000u) << "a stamp in the future is not believed";

    // The other way: the host stamps what this process writes.
    const unsigned char byte = 0x5A;
    const int64_t before = kolvar::steadyMicros();
    ASSERT_EQ(canWrite(handle, 0x300, &byte, 1, canMSG_STD), canOK);
    ASSERT_TRUE(receiveUntil("768##5a@"));
    const int64_t stamp = std::stoll(received.substr(received.find("768##5a@") + 8));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, kolvar::steadyMicros());
    ::close(client);
}

TEST_F(VirtualBus, QtVirtualCanClientExchangesFramesWithTheLayer) {
    const int handle = openOnBus(kVirtual0);  // first on the port: this process hosts
    const QString url = QStringLiteral("tcp://127.0.0.1:%1/can0").arg(std::getenv("KOLVAR_VIRTUALCAN_PORT"));
    QString error;
    std::unique_ptr<QCanBusDevice> qtClient(
        QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), url, &error));
    ASSERT_TRUE(qtClient) << error.toStdString();
    ASSERT_TRUE(qtClient->connectDevice()) << qtClient->errorString().toStdString();
    ASSERT_TRUE(processEventsUntil([&] { return qtClient->state() == QCanBusDevice::ConnectedState; }, 5s));

    // Until the host has registered the client its frames reach nobody, so
    // it sends until one arrives.
    QCanBusFrame fromQt(0x123, QByteArray::fromHex("a36e"));
    int32_t id = 0;
    unsigned dlc = 0, flags = 0;
    unsigned char data[8] = {};
    bool arrived = false;
    for (const auto deadline = Clock::now() + 10s; !arrived && Clock::now() < deadline;) {
        ASSERT_TRUE(qtClient->writeFrame(fromQt));
        processEventsUntil([] { return false; }, 20ms);
        arrived = canReadWait(handle, &id, data, &dlc, &flags, nullptr, 30) == canOK;
    }
    ASSERT_TRUE(arrived) << "no frame from Qt's client";
    EXPECT_EQ(id, 0x123);
    EXPECT_EQ(dlc, 2u);
    EXPECT_EQ(flags, static_cast<unsigned>(canMSG_STD));
    EXPECT_EQ(data[0], 0xA3);
    EXPECT_EQ(data[1], 0x6E);

    const unsigned char bytes[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    ASSERT_EQ(canWrite(handle, 0x1ABCDEF, bytes, 8, canMSG_EXT), canOK);
    ASSERT_EQ(canWriteSync(handle, 1000), canOK);
    ASSERT_TRUE(processEventsUntil([&] { return qtClient->framesAvailable() > 0; }, 5s)) << "nothing reached Qt's client";
    const QCanBusFrame toQt = qtClient->readFrame();
    EXPECT_EQ(toQt.frameType(), QCanBusFrame::DataFrame);
    EXPECT_EQ(toQt.frameId(), 0x1ABCDEFu);
    EXPECT_TRUE(toQt.hasExtendedFrameFormat());
    EXPECT_EQ(toQt.payload(), QByteArray(reinterpret_cast<const char*>(bytes), 8));
    qtClient->disconnectDevice();
}

}  // namespace
