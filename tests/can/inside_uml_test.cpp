// SPDX-License-Identifier: GPL-3.0-or-later
// Interface selection and the road of one frame on real SocketCAN
// interfaces. Runs inside user-mode Linux, which creates vcan0 .. vcan(N-1)
// (see tests/uml/uml-run.sh); KOLVAR_MEAS_EXPECT_ENTRIES names the number of
// channel-list entries the N interfaces must give. The OnSerialLineController
// tests run on a serial-line controller (can0, the kernel's slcan driver and
// kolvar-slcan-adapter) that tests/can/with_slcan_adapter.sh sets up.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "app/KolvarCanView.h"
#include "app/trend/trend_entry.h"
#include "app/trend/trend_window.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "can/lost_frames.h"
#include "can/hardware.h"
#include "can/read_thread.h"
#include "platform/canlib.h"
#include "platform/userint.h"
#include "tests/can/measured_panel.h"

namespace {


class OnSocketCan : public MeasuredPanelTest {
protected:
    void chooseChannels() override { setenv("KOLVAR_CAN_CHANNELS", "socketcan", 1); }

    // Sends one frame with can-utils' cansend, "ID#HEXDATA".
    static void cansend(const char* interface, const char* frame) {
        QProcess sender;
        sender.start("cansend", {interface, frame});
        ASSERT_TRUE(sender.waitForFinished(10000)) << "cansend " << frame;
        ASSERT_EQ(sender.exitCode(), 0) << sender.readAllStandardError().toStdString();
    }
    static void ipLink(const char* interface, const char* state) {
        QProcess ip;
        ip.start("ip", {"link", "set", interface, state});
        ASSERT_TRUE(ip.waitForFinished(10000));
        ASSERT_EQ(ip.exitCode(), 0) << ip.readAllStandardError().toStdString();
    }
    static bool rawShows(const char* raw1, const char* raw2) {
        return shownText(NUMERIC_CH1_RAW).toUpper() == raw1 &&
               shownText(NUMERIC_CH2_RAW).toUpper() == raw2;
    }
};

TEST_F(OnSocketCan, ChannelListOffersHalfTheInterfaces) {
    const char* expected = std::getenv("KOLVAR_MEAS_EXPECT_ENTRIES");
    ASSERT_NE(expected, nullptr) << "set KOLVAR_MEAS_EXPECT_ENTRIES";
    int channels = -1;
    ASSERT_EQ(canGetNumberOfChannels(&channels), canOK);
    std::printf("CAN layer counts %d channels\n", channels);

    int entries = -1;
    ASSERT_GE(GetNumListItems(panel, CAN_CHANNEL, &entries), 0);
    EXPECT_EQ(entries, std::atoi(expected));
    EXPECT_EQ(entries, channels / 2);
    for (int index = 0; index < entries; ++index) {
        char label[32] = "";
        int value = -1;
        ASSERT_GE(GetLabelFromIndex(panel, CAN_CHANNEL, index, label, sizeof label), 0);
        ASSERT_GE(GetValueFromIndex(panel, CAN_CHANNEL, index, &value), 0);
        EXPECT_EQ(std::string(label), "Ch " + std::to_string(index + 1));
        EXPECT_EQ(value, index);
    }
    if (entries > 0) {
        int selected = -1;
        ASSERT_GE(GetCtrlIndex(panel, CAN_CHANNEL, &selected), 0);
        EXPECT_EQ(selected, 0);
    }
}

// The channel ring always shows the channel the next connection opens: the
// user's "Ch 2" outlives a refill (the ring once showed "Ch 1" while "Ch 2"
// opened). Picking "Kvaser" again from the list while on the bus changes
// nothing: the connection, its worker and the list stay (it once dropped
// the bus).
TEST_F(OnSocketCan, ChannelRingShowsTheChannelThatOpens) {
    ASSERT_TRUE(std::filesystem::exists("/sys/class/net/vcan3")) << "needs vcan0..vcan3";
    selectRingIndex(CAN_CHANNEL, 1);
    ASSERT_EQ(can_channel, 1);
    selectRingIndex(CAN_HARDWARE, kVectorIndex);
    selectRingIndex(CAN_HARDWARE, kKvaserIndex);
    EXPECT_EQ(shownText(CAN_CHANNEL), "Ch 2");
    EXPECT_EQ(can_channel, 1);

    composeIdentifier(0, 0, 1, 10, 5);
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    QTest::qWait(1200);  // past the first read
    cansend("vcan0", "1A5#1111111100000000");
    cansend("vcan1", "1A5#3080F0FF00000000");
    EXPECT_TRUE(waitFor([] { return rawShows("8030", "FFF0"); }, 10000))
        << shownText(NUMERIC_CH1_RAW).toStdString();
    QTest::qWait(300);
    EXPECT_TRUE(rawShows("8030", "FFF0")) << "a frame on vcan0 reached the display";

    const int worker = threadFunctionID;
    auto* hardware = qobject_cast<QComboBox*>(widget(CAN_HARDWARE));
    ASSERT_NE(hardware, nullptr);
    hardware->showPopup();
    QTest::keyClick(hardware->view(), Qt::Key_Return);
    EXPECT_TRUE(CanConnectionRuns());
    EXPECT_EQ(threadFunctionID, worker);
    EXPECT_EQ(onoff, 1);
    EXPECT_EQ(shownText(CAN_CHANNEL), "Ch 2");
    cansend("vcan1", "1A5#0040000000000000");
    EXPECT_TRUE(waitFor([] { return rawShows("4000", "0"); }, 10000)) << "the bus was dropped";

    // "Ch 1" chosen while on is for next time: the line names the open
    // channel and the choice as such, and a recording names the channel
    // each frame came in on.
    click(TREND_BUTTON);
    ASSERT_NE(trendWindowIfOpen(), nullptr);
    QTemporaryDir directory;
    const QString log = directory.filePath("run.log");
    ASSERT_TRUE(trendWindowIfOpen()->startRecording(log)) << trendWindowIfOpen()->message().toStdString();
    selectRingIndex(CAN_CHANNEL, 0);
    EXPECT_TRUE(waitFor([] { return statusLine().startsWith("vcan1 · bit rate — · next: vcan0\n"); }, 3000))
        << statusLine().toStdString();
    cansend("vcan1", "1A5#F0FF100000000000");
    EXPECT_TRUE(waitFor([] { return rawShows("FFF0", "10"); }, 10000));
    EXPECT_TRUE(waitFor([] { return trendWindowIfOpen()->recorder().lines() == 1; }, 3000));
    trendWindowIfOpen()->stopRecording();
    std::ifstream in(log.toStdString());
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_NE(line.find(") vcan1 1A5#F0FF100000000000"), std::string::npos) << line;
    closeTrendWindow();
    switchBus(false);
    EXPECT_TRUE(waitFor([] { return statusLine() == "Off bus · next: vcan0 at 500 kbit/s"; }, 3000))
        << statusLine().toStdString();
}

// Mend: the first read after switching on takes only a standard data frame
// of the chosen identifier. Frames of another identifier, an extended and a
// remote frame queued during its wait leave the buffer as it was.
TEST_F(OnSocketCan, FirstReadPassesOverFramesOfOtherIdentifiers) {
    ASSERT_TRUE(std::filesystem::exists("/sys/class/net/vcan0")) << "needs vcan0";
    composeIdentifier(0, 0, 1, 10, 5);
    // A first connection leaves a frame in the buffer.
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    cansend("vcan0", "1A5#3412785600000000");
    ASSERT_TRUE(waitFor([] { return rawShows("1234", "5678"); }, 10000));
    switchBus(false);
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    cansend("vcan0", "100#0102030405060708");
    cansend("vcan0", "000001A5#F0FF100000000000");
    cansend("vcan0", "1A5#R");
    EXPECT_TRUE(waitFor([] { return rawShows("1234", "5678"); }, 3000))
        << shownText(NUMERIC_CH1_RAW).toStdString() << " " << shownText(NUMERIC_CH2_RAW).toStdString();
    QTest::qWait(1200);  // past the first read's wait
    EXPECT_TRUE(rawShows("1234", "5678")) << "a frame not of 0x1A5 reached the display";
    cansend("vcan0", "1A5#F0FF100000000000");
    EXPECT_TRUE(waitFor([] { return rawShows("FFF0", "10"); }, 10000));
    switchBus(false);
}

TEST_F(OnSocketCan, RoadOfOneFrameFromCansend) {
    ASSERT_TRUE(std::filesystem::exists("/sys/class/net/vcan0")) << "needs vcan0";
    composeIdentifier(0, 0, 1, 10, 5);
    ASSERT_EQ(can_id.load(), 0x1A5);
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    QTest::qWait(1200);

    cansend("vcan0", "100#0102030405060708");
    cansend("vcan0", "1A5#F0FF100000000000");
    cansend("vcan0", "7FF#FFFFFFFFFFFFFFFF");
    EXPECT_TRUE(waitFor([] {
        return rawShows("FFF0", "10") && shownText(NUMERICMETER1) == "100.00" &&
               shownText(NUMERICMETER2) == "-99.95";
    }, 10000)) << shownText(NUMERIC_CH1_RAW).toStdString() << " "
               << shownText(NUMERICMETER1).toStdString();
    QTest::qWait(300);
    EXPECT_TRUE(rawShows("FFF0", "10")) << "another identifier reached the display";

    click(RADIOBUTTON_PRE2);
    ASSERT_EQ(can_id.load(), 0x5A5);
    cansend("vcan0", "5A5#0080F0FF00000000");
    EXPECT_TRUE(waitFor([] { return rawShows("8000", "FFF0"); }, 10000));
    EXPECT_TRUE(CanConnectionRuns());

    switchBus(false);
    EXPECT_FALSE(CanConnectionRuns());
    EXPECT_EQ(threadrun.load(), 0);
}

// A viewer stopped (SIGSTOP) for 3 s under a cangen burst: what the kernel
// dropped meanwhile is counted, on the status line, in the recording's
// count and as marks in its log; the frames in the log and those marked
// lost add up to what was sent.
TEST_F(OnSocketCan, StalledViewerCountsAndMarksTheFramesTheKernelDropped) {
    ASSERT_TRUE(std::filesystem::exists("/sys/class/net/vcan0")) << "needs vcan0";
    constexpr int kFrames = 20000;
    QTemporaryDir directory;
    const QString log = directory.filePath("stalled.log");
    // The guest's 8 MB receive buffers hold nearly the whole burst, so that
    // whether any frame is dropped would hang on the guest's pace; with the
    // viewer's socket capped at 256 kB (about a thousand frames) most are.
    const auto setReceiveBufferMax = [](const char* bytes) {
        std::ofstream("/proc/sys/net/core/rmem_max") << bytes << "\n";
    };
    setReceiveBufferMax("262144");
    struct Restore {
        std::function<void()> undo;
        ~Restore() { undo(); }
    } restore{[&] { setReceiveBufferMax("8388608"); }};
    QProcess viewer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    viewer.setProcessEnvironment(environment);
    viewer.start(KOLVAR_RECORDING_VIEWER_PATH, {log, QString::number(kFrames)});
    ASSERT_TRUE(viewer.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return viewer.canReadLine() || viewer.state() == QProcess::NotRunning; }, 30000));
    ASSERT_EQ(viewer.readLine().trimmed(), "recording") << viewer.readAllStandardError().toStdString();

    ASSERT_EQ(::kill(static_cast<pid_t>(viewer.processId()), SIGSTOP), 0);
    QProcess generator;
    generator.start("cangen", {"vcan0", "-I", "200", "-L", "8", "-D", "i", "-g", "0", "-n", QString::number(kFrames)});
    const bool sent = generator.waitForFinished(120000);
    QTest::qWait(3000);
    ASSERT_EQ(::kill(static_cast<pid_t>(viewer.processId()), SIGCONT), 0);
    ASSERT_TRUE(sent) << "cangen did not finish";
    ASSERT_EQ(generator.exitCode(), 0) << generator.readAllStandardError().toStdString();
    // The kernel reports its drop count with the next frame it queues: one
    // of another identifier, which the recording does not take, brings the
    // count of drops at the burst's end.
    QTest::qWait(500);
    cansend("vcan0", "100#00");
    ASSERT_TRUE(viewer.waitForFinished(60000)) << "the viewer did not end";
    EXPECT_EQ(viewer.exitCode(), 0) << viewer.readAllStandardError().toStdString();

    unsigned long long recorded = 0, lost = 0;
    const QByteArray said = viewer.readLine().trimmed();
    ASSERT_EQ(std::sscanf(said.constData(), "recorded %llu lost %llu", &recorded, &lost), 2) << said.toStdString();
    const QString line = QString::fromUtf8(viewer.readLine().trimmed());
    std::printf("[ FIGURE   ] stalled 3 s: %llu of %d frames recorded, %llu lost; status line: %s\n", recorded,
                kFrames, lost, qPrintable(line));
    EXPECT_GT(lost, 0u);
    EXPECT_TRUE(line.contains(QString::fromStdString(" · lost " + groupedCount(lost) + " · "))) << line.toStdString();

    std::ifstream in(log.toStdString());
    unsigned long long frames = 0, marked = 0;
    for (std::string text; std::getline(in, text);) {
        unsigned long long n = 0;
        if (std::sscanf(text.c_str(), "# lost %llu frames", &n) == 1) marked += n;
        else ++frames;
    }
    EXPECT_EQ(frames, recorded);
    EXPECT_EQ(marked, lost);
    EXPECT_EQ(frames + marked, static_cast<unsigned long long>(kFrames));

    // can-utils' readers pass over the marks and take every frame.
    const auto framesRead = [&](const char* program, const QStringList& arguments, const char* perFrame) {
        QProcess reader;
        reader.start(program, arguments);
        if (!reader.waitForFinished(120000) || reader.exitCode() != 0) return -1LL;
        return static_cast<long long>(reader.readAllStandardOutput().count(perFrame));
    };
    EXPECT_EQ(framesRead("canplayer", {"-t", "-I", log, "stdout=vcan0"}, "vcan0 200#"),
              static_cast<long long>(frames));
    EXPECT_EQ(framesRead("log2asc", {"-I", log, "vcan0"}, " Rx "), static_cast<long long>(frames));
}

// The status line on a SocketCAN interface: no bit rate on vcan, the
// interface going down and up, error frames counted and followed to bus off.
TEST_F(OnSocketCan, StatusLineFollowsTheInterfaceAndItsErrorFrames) {
    ASSERT_TRUE(std::filesystem::exists("/sys/class/net/vcan0")) << "needs vcan0";
    composeIdentifier(0, 0, 1, 10, 5);
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    const auto live = [] { return !greyed(NUMERICMETER1) && !greyed(NUMERIC_CH2_RAW); };
    const auto stale = [] { return greyed(NUMERICMETER1) && greyed(NUMERIC_CH2_RAW); };
    cansend("vcan0", "1A5#F0FF100000000000");
    EXPECT_TRUE(waitFor(live, 5000)) << statusLine().toStdString();
    EXPECT_TRUE(statusLine().startsWith("vcan0 · bit rate —\nerror active")) << statusLine().toStdString();

    ipLink("vcan0", "down");
    EXPECT_TRUE(waitFor([] { return statusLine().endsWith("vcan0 is down"); }, 3000))
        << statusLine().toStdString();
    EXPECT_TRUE(stale());
    ipLink("vcan0", "up");
    EXPECT_TRUE(waitFor([&] {
        cansend("vcan0", "1A5#F0FF100000000000");
        return live();
    }, 10000)) << statusLine().toStdString();

    // Controller error passive, then bus off (CAN_ERR_FLAG | class bits).
    cansend("vcan0", "20000004#0010000000000000");
    EXPECT_TRUE(waitFor([] { return statusLine().contains("error passive"); }, 3000))
        << statusLine().toStdString();
    EXPECT_TRUE(live());
    cansend("vcan0", "20000040#0000000000000000");
    EXPECT_TRUE(waitFor([] { return statusLine().endsWith("bus off"); }, 3000))
        << statusLine().toStdString();
    EXPECT_TRUE(statusLine().contains("error frames 2")) << statusLine().toStdString();
    EXPECT_TRUE(stale());
    switchBus(false);
}

// A serial-line controller played by kolvar-slcan-adapter, set up at 500
// kbit/s and up by tests/can/with_slcan_adapter.sh before the test starts.
class OnSerialLineController : public OnSocketCan {
protected:
    void SetUp() override {
        for (const char* name : {"KOLVAR_SLCAN_DEVICE", "KOLVAR_SLCAN_IN", "KOLVAR_SLCAN_LOG"})
            ASSERT_NE(std::getenv(name), nullptr) << "run through with_slcan_adapter.sh: " << name;
        ASSERT_STREQ(std::getenv("KOLVAR_SLCAN_DEVICE"), "can0");
        OnSocketCan::SetUp();
        composeIdentifier(0, 0, 1, 10, 5);
    }
    // Sends one message of the adapter to the driver ("t1A5...", "sb255000").
    static void adapterSays(const char* message) {
        std::ofstream in(std::getenv("KOLVAR_SLCAN_IN"));
        in << message << '\n';
        ASSERT_TRUE(in.flush().good()) << message;
    }
    // The commands the driver sent to the adapter, one "command X" a line.
    static std::string adapterLog() {
        std::ifstream log(std::getenv("KOLVAR_SLCAN_LOG"));
        std::stringstream text;
        text << log.rdbuf();
        return text.str();
    }
    static bool heardSince(size_t offset, const char* command) {
        const std::string log = adapterLog();
        return log.size() > offset && log.find(std::string("command ") + command + "\n", offset) != std::string::npos;
    }
    // Waits for the line to begin with `start` (it is redrawn on the main
    // thread's next passes after a switch-on).
    static bool lineStartsWith(const char* start) {
        return waitFor([&] { return statusLine().startsWith(QString::fromUtf8(start)); }, 5000);
    }
    // Waits until the kernel reports the controller bus off.
    static bool kernelSaysBusOff() {
        return waitFor([] {
            QProcess ip;
            ip.start("ip", {"-details", "link", "show", "can0"});
            return ip.waitForFinished(10000) && ip.readAllStandardOutput().contains("state BUS-OFF");
        }, 5000);
    }
    static bool valuesLive() { return !greyed(NUMERICMETER1) && !greyed(NUMERIC_CH2_RAW); }
    // Sends frames of 0x1A5 until its values show live.
    static bool framesMakeValuesLive() {
        return waitFor([] {
            adapterSays("t1A58F0FF100000000000");
            return valuesLive();
        }, 10000);
    }
};

// The line says the controller's own rate; a chosen rate other than the
// controller's reaches the adapter as its command at switch-on (S8 for 1
// Mbit/s); switching on a bus-off controller restarts it.
TEST_F(OnSerialLineController, RunsAtTheChosenRateAndRestartsFromBusOff) {
    ASSERT_EQ(::geteuid(), 0u) << "sets the controller up: runs as root";
    size_t offset = adapterLog().size();
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    EXPECT_TRUE(lineStartsWith("can0 · 500 kbit/s\nerror active")) << statusLine().toStdString();
    EXPECT_TRUE(framesMakeValuesLive()) << statusLine().toStdString();
    EXPECT_EQ(adapterLog().substr(offset).find("command S"), std::string::npos)
        << "the controller at the chosen rate was touched:\n" << adapterLog().substr(offset);
    switchBus(false);

    selectRingIndex(CAN_BITRATE, 1);
    ASSERT_EQ(bitrate, canBITRATE_1M);
    offset = adapterLog().size();
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    EXPECT_TRUE(waitFor([&] { return heardSince(offset, "S8") && heardSince(offset, "O"); }, 5000))
        << adapterLog().substr(offset);
    EXPECT_TRUE(lineStartsWith("can0 · 1 Mbit/s\nerror active")) << statusLine().toStdString();
    EXPECT_TRUE(framesMakeValuesLive()) << statusLine().toStdString();

    adapterSays("sb255000");
    EXPECT_TRUE(waitFor([] { return statusLine().endsWith("\nbus off") && !valuesLive(); }, 5000))
        << statusLine().toStdString();
    switchBus(false);
    offset = adapterLog().size();
    switchBus(true);
    EXPECT_TRUE(waitFor([&] { return heardSince(offset, "O"); }, 5000)) << adapterLog().substr(offset);
    EXPECT_TRUE(lineStartsWith("can0 · 1 Mbit/s\nerror active")) << statusLine().toStdString();
    EXPECT_TRUE(framesMakeValuesLive()) << statusLine().toStdString();
    switchBus(false);
}

// Run without privileges (setpriv): the connection runs at the controller's
// rate and the line gives the commands that would set the chosen one, or
// restart the bus-off controller; a controller that leaves bus off by
// itself shows live again without a click.
TEST_F(OnSerialLineController, OrdinaryUserIsToldTheCommands) {
    ASSERT_NE(::geteuid(), 0u) << "runs as an ordinary user (setpriv)";
    selectRingIndex(CAN_BITRATE, 1);
    ASSERT_EQ(bitrate, canBITRATE_1M);
    const size_t offset = adapterLog().size();
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    EXPECT_TRUE(lineStartsWith("can0 · 500 kbit/s (chosen 1 Mbit/s not applied: only root may set it)\n"))
        << statusLine().toStdString();
    EXPECT_TRUE(framesMakeValuesLive()) << statusLine().toStdString();
    EXPECT_TRUE(statusLine().endsWith("\nlive\nto run at 1 Mbit/s, as root: ip link set can0 down; "
                                      "ip link set can0 type can bitrate 1000000; ip link set can0 up"))
        << statusLine().toStdString();
    EXPECT_EQ(adapterLog().substr(offset).find("command"), std::string::npos) << adapterLog().substr(offset);
    switchBus(false);

    selectRingIndex(CAN_BITRATE, 0);
    adapterSays("sb255000");
    ASSERT_TRUE(kernelSaysBusOff());
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    EXPECT_TRUE(waitFor([] {
        return statusLine().endsWith("\nbus off\nto restart the controller, as root: "
                                     "ip link set can0 down; ip link set can0 up");
    }, 5000)) << statusLine().toStdString();
    EXPECT_FALSE(valuesLive());

    adapterSays("sa000000");
    EXPECT_TRUE(lineStartsWith("can0 · 500 kbit/s\nerror active")) << statusLine().toStdString();
    EXPECT_TRUE(framesMakeValuesLive()) << statusLine().toStdString();
    switchBus(false);
}

}  // namespace
