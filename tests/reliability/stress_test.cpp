// SPDX-License-Identifier: GPL-3.0-or-later
// Connection stress on the real panel offscreen, with a flood on the
// virtual bus from another process: thousands of on/off cycles with the
// identifier changing under a running worker, interface switches while a
// connection runs, and the panel closed at random moments of a connection.
// After each: nothing left open, no thread or descriptor more than before,
// no read of the worker ever answered "invalid handle".
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QThreadPool>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "app/KolvarCanView.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "can/hardware.h"
#include "platform/canlib.h"
#include "platform/ui/qt_access.h"
#include "platform/userint.h"
#include "tests/can/bus_peers.h"
#include "tests/can/measured_panel.h"
#include "tests/can/worker_probe.h"
#include "tests/reliability/process_census.h"
#include "tests/reliability/read_audit.h"

namespace {

constexpr int kVector = 0;
constexpr int kKvaser = 1;

int countFromEnvironment(const char* name, int fallback) {
    const char* text = std::getenv(name);
    const int value = text ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

class ConnectionStress : public MeasuredPanelTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(MeasuredPanelTest::SetUp());
        resetReadAudit(nullptr);
        QString error;
        // The flood outlasts any run; the test ends it.
        ASSERT_TRUE(startSender(sender, {"flood", "0", "1800"}, error)) << error.toStdString();
    }
    void TearDown() override {
        MeasuredPanelTest::TearDown();
        sender.kill();
        sender.waitForFinished(3000);
    }
    // The figures a connection must not leave behind, once the cycles are
    // over: compared with what was there after a warm-up.
    void takeBaseline() {
        threadsBefore = threadCount();
        fdsBefore = openFdCount();
        qtPoolBefore = qtPoolThreadCount();
        listingBefore = censusListing();
    }
    void expectNothingLeftBehind() {
        EXPECT_FALSE(CanConnectionRuns());
        EXPECT_EQ(threadrun.load(), 0);
        EXPECT_TRUE(meterStaysQuiet(300)) << "a worker still writes to the panel";
        EXPECT_EQ(openCanHandles(handle1.load() + 2), 0) << "channels left open";
        // Qt's own pool threads come and go on their own (each with one
        // event descriptor); everything else must be back where it was, but
        // for one more parked thread of the run-time's pool, which starts a
        // thread when a worker is scheduled just as the last one returns.
        const int qtPoolNow = qtPoolThreadCount();
        EXPECT_LE(qtPoolNow, QThreadPool::globalInstance()->maxThreadCount());
        EXPECT_LE(threadCount() - qtPoolNow, threadsBefore - qtPoolBefore + 1)
            << "before:\n" << listingBefore << "now:\n" << censusListing();
        EXPECT_LE(openFdCount() - qtPoolNow, fdsBefore - qtPoolBefore + 1)
            << "before:\n" << listingBefore << "now:\n" << censusListing();
        const ReadAuditCounts audit = readAuditCounts();
        EXPECT_EQ(audit.invalidHandleReads, 0u) << describe(audit);
        EXPECT_EQ(audit.specificNotStandard, 0u) << describe(audit);
    }

    QProcess sender;
    int threadsBefore = 0;
    int fdsBefore = 0;
    int qtPoolBefore = 0;
    std::string listingBefore;
};

TEST_F(ConnectionStress, TenThousandOnOffCyclesWithIdentifierChangesDuringAFlood) {
    const int cycles = countFromEnvironment("KOLVAR_STRESS_CYCLES", 10000);
    composeIdentifier(0, 0, 1, 10, 5);
    // Frames of the flood reach the display before the cycles begin.
    switchBus(true);
    ASSERT_TRUE(waitFor([] { return intValue(NUMERIC_CH1_RAW) != 0; }, 5000));
    switchBus(false);
    for (int warmUp = 0; warmUp < 20; ++warmUp) {
        switchBus(true);
        switchBus(false);
    }
    takeBaseline();
    resetReadAudit(nullptr);

    QElapsedTimer elapsed;
    elapsed.start();
    std::mt19937 random(20261207);
    for (int cycle = 0; cycle < cycles; ++cycle) {
        switchBus(true);
        ASSERT_TRUE(CanConnectionRuns()) << "cycle " << cycle;
        if (cycle % 50 == 0) {
            // Now and then the flood's frames are seen to reach the worker
            // before the stop, so that the cycles really run under traffic.
            const std::uint64_t taken = readAuditCounts().specificTaken;
            ASSERT_TRUE(waitFor([&] { return readAuditCounts().specificTaken > taken; }, 5000))
                << "cycle " << cycle << ": no frame of the flood reached the worker";
        }
        // The identifier changes under the running worker: 0x1A5 <-> 0x5A5.
        const int32_t before = can_id.load();
        click(RADIOBUTTON_PRE2);
        ASSERT_EQ(can_id.load(), before ^ 0x400) << "cycle " << cycle;
        // Stops land at different points of the worker's pass.
        if (random() % 4 == 0) QTest::qWait(static_cast<int>(random() % 3));
        switchBus(false);
        ASSERT_FALSE(CanConnectionRuns()) << "cycle " << cycle;
        ASSERT_EQ(threadrun.load(), 0);
    }
    const double seconds = elapsed.elapsed() / 1000.0;
    std::printf("[ FIGURE   ] %d on/off cycles in %.1f s (%.0f per second)\n", cycles, seconds,
                cycles / seconds);
    RecordProperty("on_off_cycles", cycles);

    expectNothingLeftBehind();
    const ReadAuditCounts audit = readAuditCounts();
    // Every connection's worker ran its first read and ended before the
    // channel closed: one first read per cycle.
    EXPECT_EQ(audit.firstReads, static_cast<std::uint64_t>(cycles)) << describe(audit);
    EXPECT_GT(audit.specificTaken, 0u) << "the flood never reached the worker";

    // And the viewer still works end to end afterwards, on an identifier
    // that the flood does not use.
    composeIdentifier(1, 0, 1, 10, 5);
    ASSERT_EQ(can_id.load(), 0x5A5);
    switchBus(true);
    ASSERT_TRUE(waitFor([] { return meterUpdates() > 0; }, 3000));
    ASSERT_EQ(runDeviceSim({"--send", "5A5#F0FF100000000000"}), "");
    EXPECT_TRUE(waitFor([] { return intValue(NUMERIC_CH1_RAW) == 0xFFF0; }, 5000));
}

TEST_F(ConnectionStress, InterfaceSwitchesWhileRunningNeverStrandAWorker) {
    const int steps = countFromEnvironment("KOLVAR_STRESS_SWITCH_STEPS", 600);
    composeIdentifier(0, 0, 1, 10, 5);
    switchBus(true);
    switchBus(false);
    takeBaseline();
    resetReadAudit(nullptr);

    std::mt19937 random(6);
    for (int step = 0; step < steps; ++step) {
        switch (random() % 5) {
        case 0:
        case 1: click(BUS_BUTTON); break;
        case 2: selectRingIndex(CAN_HARDWARE, kVector); break;
        case 3: selectRingIndex(CAN_HARDWARE, kKvaser); break;
        default: click(RADIOBUTTON_PRE2); break;
        }
        if (random() % 3 == 0) QTest::qWait(static_cast<int>(random() % 4));
        // A connection runs only under Kvaser, with the button on, and it
        // always has its worker.
        if (CanConnectionRuns()) {
            ASSERT_EQ(can_hardware_index, kKvaser) << "step " << step;
            ASSERT_EQ(intValue(BUS_BUTTON), 1) << "step " << step;
            ASSERT_EQ(threadrun.load(), 1) << "step " << step;
        } else {
            ASSERT_EQ(threadrun.load(), 0) << "step " << step;
        }
    }
    selectRingIndex(CAN_HARDWARE, kKvaser);
    switchBus(false);
    expectNothingLeftBehind();

    // Kvaser again, bus on: frames of the flood's identifier flow.
    composeIdentifier(0, 0, 1, 10, 5);
    switchBus(true);
    if (!CanConnectionRuns()) {  // the button was on without a connection
        switchBus(false);
        switchBus(true);
    }
    ASSERT_TRUE(CanConnectionRuns());
    const int shownBefore = intValue(NUMERIC_CH1_RAW);
    EXPECT_TRUE(waitFor([&] { return intValue(NUMERIC_CH1_RAW) != shownBefore; }, 5000));
}

// The window system's close request at a random moment of a connection,
// with and without traffic; then the process would end. Here the test takes
// the button off again (a stop with no connection, which touches nothing)
// and goes on with the next connection.
TEST_F(ConnectionStress, PanelClosedAtRandomMomentsOfAConnection) {
    const int floodCloses = countFromEnvironment("KOLVAR_STRESS_CLOSES", 300);
    const int silentCloses = countFromEnvironment("KOLVAR_STRESS_SILENT_CLOSES", 12);
    QWidget* window = uiPanelWidget(panel);
    ASSERT_NE(window, nullptr);
    switchBus(true);
    switchBus(false);
    takeBaseline();
    resetReadAudit(nullptr);

    std::mt19937 random(11);
    auto closeOnce = [&](int delayMs, int round) {
        switchBus(true);
        ASSERT_TRUE(CanConnectionRuns()) << "round " << round;
        if (delayMs > 0) QTest::qWait(delayMs);
        window->close();  // the panel callback's close handling runs
        ASSERT_FALSE(CanConnectionRuns()) << "round " << round << ", closed after " << delayMs;
        ASSERT_EQ(threadrun.load(), 0);
        ASSERT_EQ(onoff, 1);
        switchBus(false);
        ASSERT_FALSE(CanConnectionRuns());
    };
    for (int round = 0; round < floodCloses; ++round)
        ASSERT_NO_FATAL_FAILURE(closeOnce(static_cast<int>(random() % 4 == 0 ? 0 : random() % 25), round));

    // Silent bus: closes during the first read's wait and after it.
    sender.kill();
    sender.waitForFinished(3000);
    for (int round = 0; round < silentCloses; ++round)
        ASSERT_NO_FATAL_FAILURE(closeOnce(static_cast<int>(random() % 1300), round));

    expectNothingLeftBehind();
    const ReadAuditCounts audit = readAuditCounts();
    EXPECT_EQ(audit.firstReads, static_cast<std::uint64_t>(floodCloses + silentCloses))
        << describe(audit);
}

}  // namespace
