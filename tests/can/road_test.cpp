// SPDX-License-Identifier: GPL-3.0-or-later
// The road of one frame on the virtual bus: another process sends, the
// worker filters and decodes, the real panel shows; and the connection's
// life: stops at awkward moments, many cycles, a silent bus.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <map>
#include <vector>

#include "app/KolvarCanView.h"
#include "can/accepted_frames.h"
#include "platform/base/steady_clock.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "can/read_thread.h"
#include "platform/canlib.h"
#include "platform/userint.h"
#include "tests/can/bus_peers.h"
#include "tests/can/measured_panel.h"
#include "tests/can/worker_probe.h"

namespace {

class FrameRoad : public MeasuredPanelTest {
protected:
    // Looks at the panel every few milliseconds while the event loop runs
    // (runDeviceSim and waitFor both run it) and remembers whether, and until
    // when, `condition` held, with the status line of the first moment.
    class LiveWatch {
    public:
        explicit LiveWatch(std::function<bool()> condition) : condition_(std::move(condition)) {
            QObject::connect(&poll_, &QTimer::timeout, [this] {
                if (!condition_()) return;
                if (!seen_) line_ = statusLine();
                seen_ = true;
                lastSeenMs_ = kolvar::steadyMillis();
            });
            poll_.start(2);
        }
        bool seen() const { return seen_; }
        const QString& sawLine() const { return line_; }
        int64_t lastSeenMs() const { return lastSeenMs_; }

    private:
        std::function<bool()> condition_;
        QTimer poll_;
        bool seen_ = false;
        QString line_;
        int64_t lastSeenMs_ = 0;
    };

    static bool shows(const char* raw1, const char* raw2, const char* meter1,
                      const char* meter2) {
        return shownText(NUMERIC_CH1_RAW).toUpper() == raw1 &&
               shownText(NUMERIC_CH2_RAW).toUpper() == raw2 &&
               shownText(NUMERICMETER1) == meter1 && shownText(NUMERICMETER2) == meter2;
    }
    static QString showing() {
        return shownText(NUMERIC_CH1_RAW) + " " + shownText(NUMERIC_CH2_RAW) + " " +
               shownText(NUMERICMETER1) + " " + shownText(NUMERICMETER2);
    }
};

TEST_F(FrameRoad, FrameOfTheChosenIdentifierReachesTheMetersAmongOthers) {
    composeIdentifier(0, 0, 1, 10, 5);
    ASSERT_EQ(can_id.load(), 0x1A5);
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    ASSERT_EQ(threadrun.load(), 1);
    // Past the first read.
    ASSERT_TRUE(waitFor([] { return meterUpdates() > 0; }, 3000));

    ASSERT_EQ(runDeviceSim({"--send", "100#0102030405060708", "--send", "1A5#F0FF100000000000",
                            "--send", "7FF#FFFFFFFFFFFFFFFF", "--send", "1A4#0000000000000000"}),
              "");
    EXPECT_TRUE(waitFor([] { return shows("FFF0", "10", "100.00", "-99.95"); }, 5000))
        << showing().toStdString();
    EXPECT_EQ(doubleValue(NUMERICMETER1), 100.0);
    EXPECT_NEAR(doubleValue(NUMERICMETER2), -99.951, 1e-3);
    EXPECT_TRUE(isShown(NUMERIC_CH1_RAW));
    EXPECT_TRUE(isShown(NUMERIC_CH2_RAW));
    EXPECT_TRUE(isShown(NUMERICMETER2));
    // The frames of other identifiers behind it never reach the display.
    QTest::qWait(300);
    EXPECT_TRUE(shows("FFF0", "10", "100.00", "-99.95")) << showing().toStdString();

    // A new identifier applies from the next pass, on the same connection.
    const int worker = threadFunctionID;
    click(RADIOBUTTON_PRE2);
    ASSERT_EQ(can_id.load(), 0x5A5);
    ASSERT_EQ(runDeviceSim({"--send", "1A5#0000000000000000", "--send", "5A5#0080F0FF00000000"}),
              "");
    EXPECT_TRUE(waitFor([] { return shows("8000", "FFF0", "0.02", "100.00"); }, 5000))
        << showing().toStdString();
    EXPECT_EQ(threadFunctionID, worker);
    EXPECT_TRUE(CanConnectionRuns());

    switchBus(false);
    EXPECT_FALSE(CanConnectionRuns());
    EXPECT_EQ(threadrun.load(), 0);
    EXPECT_EQ(widget(BUS_BUTTON)->property("text").toString(), "OFF BUS");
    EXPECT_TRUE(meterStaysQuiet(400));
}

TEST_F(FrameRoad, SilentBusShowsTheLastConnectionsValues) {
    composeIdentifier(0, 1, 0, 3, 3);
    switchBus(true);
    ASSERT_TRUE(waitFor([] { return meterUpdates() > 0; }, 3000));
    ASSERT_EQ(runDeviceSim({"--send", "233#10204080AAAAAAAA"}), "");
    ASSERT_TRUE(waitFor([] { return intValue(NUMERIC_CH1_RAW) == 0x2010; }, 5000));
    switchBus(false);

    // Blank the displays, then connect again with nobody sending: after the
    // first read's wait the buffer's old contents come back, and stay.
    ASSERT_GE(SetCtrlVal(panel, NUMERIC_CH1_RAW, 0), 0);
    ASSERT_GE(SetCtrlVal(panel, NUMERICMETER1, 0.0), 0);
    switchBus(true);
    EXPECT_TRUE(waitFor([] { return intValue(NUMERIC_CH1_RAW) == 0x2010; }, 3000));
    EXPECT_EQ(intValue(NUMERIC_CH2_RAW), 0x8040);
    QTest::qWait(500);
    EXPECT_EQ(intValue(NUMERIC_CH1_RAW), 0x2010);
    // The whole frame stays in the buffer, unused bytes too (read once the
    // worker has ended).
    switchBus(false);
    EXPECT_EQ(data[4], 0xAA);
}

// The meters' values are marked stale (greyed, with the reason on the status
// line) until the first frame of the identifier (shown as "—", no value yet),
// again after a silent second,
// for the channel a short frame does not carry, and after an identifier
// change until a frame of the new one; the values themselves stay.
TEST_F(FrameRoad, ValuesAreMarkedStaleWhileNoFrameOfTheIdentifierArrives) {
    const auto allGreyed = [] {
        return greyed(NUMERICMETER1) && greyed(NUMERIC_CH1_RAW) && greyed(NUMERICMETER2) &&
               greyed(NUMERIC_CH2_RAW);
    };
    const auto noneGreyed = [] {
        return !greyed(NUMERICMETER1) && !greyed(NUMERIC_CH1_RAW) && !greyed(NUMERICMETER2) &&
               !greyed(NUMERIC_CH2_RAW);
    };
    composeIdentifier(0, 0, 1, 10, 5);
    EXPECT_TRUE(statusLine().startsWith("Off bus · next: virtual bus 0 at 500 kbit/s"))
        << statusLine().toStdString();
    EXPECT_TRUE(allGreyed());
    switchBus(true);
    ASSERT_TRUE(waitFor([] { return meterUpdates() > 0; }, 3000));
    EXPECT_TRUE(waitFor([] { return statusLine().contains("no frame of 0x1A5 yet"); }, 1000))
        << statusLine().toStdString();
    EXPECT_TRUE(statusLine().startsWith("virtual bus 0 · bit rate —")) << statusLine().toStdString();
    EXPECT_TRUE(allGreyed());
    // Nothing measured yet: no number and no needle, not the empty buffer's
    // -100.00; from the first frame on, values stay when they go stale.
    EXPECT_EQ(showing(), "— — — —");

    // The frame stays fresh for a second, which the simulator can outlive
    // under the sanitizers: the marks are watched while it runs.
    LiveWatch live(noneGreyed);
    ASSERT_EQ(runDeviceSim({"--send", "1A5#F0FF100000000000"}), "");
    ASSERT_TRUE(waitFor([&] { return live.seen(); }, 3000)) << statusLine().toStdString();
    EXPECT_TRUE(live.sawLine().endsWith("live")) << live.sawLine().toStdString();
    EXPECT_TRUE(waitFor(allGreyed, 2500));
    // Not before about a second of silence.
    EXPECT_GE(live.lastSeenMs() - acceptedFrames.last().atMs, 700);
    EXPECT_TRUE(statusLine().contains("no frame of 0x1A5 for 1.")) << statusLine().toStdString();
    EXPECT_EQ(shownText(NUMERIC_CH1_RAW).toUpper(), "FFF0");
    EXPECT_EQ(shownText(NUMERICMETER2), "-99.95");

    // Two data bytes: channel 1's word is new, channel 2's bytes are old.
    LiveWatch channel1Live([] {
        return !greyed(NUMERICMETER1) && !greyed(NUMERIC_CH1_RAW) && greyed(NUMERICMETER2) &&
               greyed(NUMERIC_CH2_RAW);
    });
    ASSERT_EQ(runDeviceSim({"--send", "1A5#F07F"}), "");
    EXPECT_TRUE(waitFor([&] { return channel1Live.seen(); }, 3000)) << statusLine().toStdString();

    click(RADIOBUTTON_PRE2);
    ASSERT_EQ(can_id.load(), 0x5A5);
    EXPECT_TRUE(waitFor([&] { return allGreyed() && statusLine().contains("no frame of 0x5A5 yet"); }, 1000))
        << statusLine().toStdString();
    LiveWatch newIdLive(noneGreyed);
    ASSERT_EQ(runDeviceSim({"--send", "1A5#F0FF100000000000", "--send", "5A5#0080F0FF00000000"}), "");
    EXPECT_TRUE(waitFor([&] { return newIdLive.seen(); }, 3000)) << statusLine().toStdString();
}

// A stop wakes the worker's read instead of waiting out its time-out.
TEST_F(FrameRoad, StopDuringTheFirstReadDoesNotWaitForItsTimeOut) {
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    QElapsedTimer stopping;
    stopping.start();
    switchBus(false);
    const qint64 stopMs = stopping.elapsed();
    EXPECT_FALSE(CanConnectionRuns());
    // The read waits up to 1000 ms; woken by the bus going off it returns at
    // once. A loose bound, far from both.
    EXPECT_LT(stopMs, 700);
}

// A stop closes the channel only after the worker has left, even with
// frames pouring in.
TEST_F(FrameRoad, StopDuringAFloodEndsTheWorkerAndClosesTheChannel) {
    composeIdentifier(0, 0, 1, 10, 5);
    switchBus(true);
    QProcess sender;
    QString error;
    ASSERT_TRUE(startSender(sender, {"flood", "0", "6"}, error)) << error.toStdString();
    // The words count up, so the raw display keeps changing while it floods.
    ASSERT_TRUE(waitFor([] { return intValue(NUMERIC_CH1_RAW) != 0; }, 5000));
    std::vector<int> seen;
    waitFor([&] {
        const int raw = intValue(NUMERIC_CH1_RAW);
        if (seen.empty() || seen.back() != raw) seen.push_back(raw);
        return seen.size() >= 5;
    }, 3000);
    EXPECT_GE(seen.size(), 5u) << "the flood did not reach the display";

    QElapsedTimer stopping;
    stopping.start();
    switchBus(false);
    EXPECT_LT(stopping.elapsed(), 2000);
    EXPECT_FALSE(CanConnectionRuns());
    EXPECT_EQ(threadrun.load(), 0);
    EXPECT_TRUE(meterStaysQuiet(300));
    // The channel is really closed: it can be opened again at once.
    const int reopened = canOpenChannel(0, canOPEN_EXCLUSIVE);
    EXPECT_GE(reopened, 0);
    if (reopened >= 0) canClose(reopened);

    sender.kill();
    sender.waitForFinished(3000);
}

// 200 connections in a row leave no channel open and no worker behind.
TEST_F(FrameRoad, TwoHundredOnOffCyclesLeaveNothingBehind) {
    composeIdentifier(0, 0, 1, 10, 5);
    for (int cycle = 0; cycle < 200; ++cycle) {
        switchBus(true);
        ASSERT_TRUE(CanConnectionRuns()) << "cycle " << cycle;
        ASSERT_EQ(threadrun.load(), 1);
        if (cycle % 2) QTest::qWait(1);  // sometimes let the worker get going
        switchBus(false);
        ASSERT_FALSE(CanConnectionRuns()) << "cycle " << cycle;
        ASSERT_EQ(threadrun.load(), 0);
    }
    EXPECT_TRUE(meterStaysQuiet(300));
    EXPECT_LE(poolThreadCount(), 4);
    // And the next connection still works end to end.
    switchBus(true);
    ASSERT_TRUE(waitFor([] { return meterUpdates() > 0; }, 3000));
    ASSERT_EQ(runDeviceSim({"--send", "1A5#F0FF100000000000"}), "");
    EXPECT_TRUE(waitFor([] { return intValue(NUMERIC_CH1_RAW) == 0xFFF0; }, 5000));
}

// On a silent bus the worker sleeps between passes instead of
// spinning. A spinning worker uses a whole core; the bound is loose.
TEST_F(FrameRoad, SilentBusCostsTheWorkerAlmostNoCpu) {
    switchBus(true);
    ASSERT_TRUE(waitFor([] { return meterUpdates() > 0; }, 3000));
    ASSERT_GE(poolThreadCount(), 1) << "the worker's thread is not where the probe looks";
    const double cpuBefore = backgroundThreadsCpuSeconds();
    const std::uint64_t updatesBefore = meterUpdates();
    QElapsedTimer window;
    window.start();
    QTest::qWait(2500);
    const double seconds = window.elapsed() / 1000.0;
    const double share = (backgroundThreadsCpuSeconds() - cpuBefore) / seconds;
    RecordProperty("worker_cpu_percent_silent_bus", QString::number(share * 100, 'f', 2).toStdString());
    std::printf("[ FIGURE   ] worker CPU on a silent bus: %.2f %% of a core over %.1f s\n",
                share * 100, seconds);
    EXPECT_LT(share, 0.05);
    // Asleep, not dead: the next frame of the identifier is shown.
    const QString frame = QString::number(can_id.load(), 16) + "#3080F0FF00000000";
    ASSERT_EQ(runDeviceSim({"--send", frame}), "");
    EXPECT_TRUE(waitFor([] { return intValue(NUMERIC_CH1_RAW) == 0x8030; }, 5000));
    // The value is read back as soon as the worker set it; the meter takes
    // it on the UI thread's next pass.
    EXPECT_TRUE(waitFor([&] { return meterUpdates() > updatesBefore; }, 1000));
}

// A channel that drops off the bus makes every read fail at once; the
// worker then pauses between passes instead of spinning, and a stop still
// ends it promptly.
TEST_F(FrameRoad, ChannelOffTheBusDoesNotMakeTheWorkerSpin) {
    switchBus(true);
    ASSERT_TRUE(waitFor([] { return meterUpdates() > 0; }, 3000));
    ASSERT_EQ(canBusOff(handle1.load()), canOK);
    QTest::qWait(200);
    const double cpuBefore = backgroundThreadsCpuSeconds();
    const std::uint64_t updatesBefore = meterUpdates();
    QTest::qWait(2000);
    const double share = (backgroundThreadsCpuSeconds() - cpuBefore) / 2.0;
    EXPECT_GE(meterUpdates(), updatesBefore + 5) << "the worker stopped refreshing";
    EXPECT_LT(share, 0.05);

    QElapsedTimer stopping;
    stopping.start();
    switchBus(false);
    EXPECT_LT(stopping.elapsed(), 700);
    EXPECT_FALSE(CanConnectionRuns());
    EXPECT_TRUE(meterStaysQuiet(300));
}

// A figure, not a target: how long from the sender's clock reading before
// queueing a frame to the meter's value being set on the panel.
TEST_F(FrameRoad, ReportsTheTimeFromSendingToTheMeter) {
    composeIdentifier(0, 0, 1, 10, 5);
    switchBus(true);
    ASSERT_TRUE(waitFor([] { return meterUpdates() > 0; }, 3000));
    constexpr int kFrames = 60;
    QProcess sender;
    QString error;
    ASSERT_TRUE(startSender(sender, {"stamped", "0", QString::number(kFrames), "30"}, error))
        << error.toStdString();

    std::map<int, long long> shownAt;  // frame number -> monotonic us
    waitFor([&] {
        const int raw = intValue(NUMERIC_CH1_RAW);
        const int frame = (raw >> 4) - 1;
        if (frame >= 0 && frame < kFrames && !shownAt.count(frame))
            shownAt[frame] = monotonicMicroseconds();
        return frame == kFrames - 1;
    }, 15000);
    ASSERT_TRUE(sender.waitForFinished(10000));

    std::vector<double> delaysMs;
    for (const QByteArray& line : sender.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() != 2) continue;
        const auto found = shownAt.find(fields[0].toInt());
        if (found != shownAt.end()) delaysMs.push_back((found->second - fields[1].toLongLong()) / 1000.0);
    }
    ASSERT_GE(delaysMs.size(), static_cast<size_t>(kFrames / 2)) << "too few frames seen";
    std::sort(delaysMs.begin(), delaysMs.end());
    const double median = delaysMs[delaysMs.size() / 2];
    const double worst = delaysMs.back();
    RecordProperty("send_to_meter_median_ms", QString::number(median, 'f', 2).toStdString());
    RecordProperty("send_to_meter_max_ms", QString::number(worst, 'f', 2).toStdString());
    std::printf("[ FIGURE   ] frame sent -> meter value set: median %.2f ms, min %.2f ms, "
                "max %.2f ms over %zu frames\n",
                median, delaysMs.front(), worst, delaysMs.size());
}

}  // namespace
