// SPDX-License-Identifier: GPL-3.0-or-later
// Values set from other threads: never blocking, bounded, the latest shown.
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <atomic>
#include <thread>

#include "app/KolvarCanView.h"
#include "panel_fixture.h"
#include "platform/ui/meter.h"
#include "platform/ui/numeric_display.h"

namespace {

void processEventsUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Runs the event loop for a while: long enough for any batch held back to
// the next frame to be applied.
void processEventsFor(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

TEST_F(PanelTest, HammeringFromAThreadQueuesAtMostOneFlush) {
    // The main thread does not run its event loop while the producer works,
    // so every flush the producer posts stays queued: there must be one.
    constexpr int kValues = 1'000'000;
    std::thread producer([this] {
        for (int i = 1; i <= kValues; ++i) {
            SetCtrlVal(panel, NUMERIC_CH1_RAW, i & 0xFFFF);
            SetCtrlVal(panel, NUMERICMETER1, -100.0 + 200.0 * i / kValues);
        }
    });
    producer.join();
    EXPECT_EQ(uiPendingFlushCount(), 1);
    EXPECT_EQ(uiAppliedValueCount(panel, NUMERICMETER1), 0u) << "nothing applied off the main thread";

    processEventsUntil([&] { return uiAppliedValueCount(panel, NUMERICMETER1) > 0; });
    processEventsFor(100);
    EXPECT_EQ(uiPendingFlushCount(), 0);
    EXPECT_EQ(shownText(panel, NUMERIC_CH1_RAW), QString::number(kValues & 0xFFFF, 16).toUpper());
    EXPECT_EQ(shownText(panel, NUMERICMETER1), "100.00");
    EXPECT_EQ(uiAppliedValueCount(panel, NUMERICMETER1), 1u) << "the batch applies the latest value once";
}

TEST_F(PanelTest, ProducerRacingTheEventLoopEndsOnItsLastValue) {
    std::atomic<bool> finished{false};
    constexpr int kValues = 300'000;
    std::thread producer([&] {
        for (int i = 0; i <= kValues; ++i) SetCtrlVal(panel, NUMERIC_CH2_RAW, i % 65536);
        finished.store(true);
    });
    int maxQueued = 0;
    while (!finished.load()) {
        maxQueued = std::max(maxQueued, uiPendingFlushCount());
        QApplication::processEvents();
    }
    producer.join();
    const QString last = QString::number(kValues % 65536, 16).toUpper();
    processEventsUntil([&] { return shownText(panel, NUMERIC_CH2_RAW) == last; });
    EXPECT_LE(maxQueued, 1);
    EXPECT_EQ(shownText(panel, NUMERIC_CH2_RAW), last);
    EXPECT_LT(uiAppliedValueCount(panel, NUMERIC_CH2_RAW), std::uint64_t(kValues))
        << "values are coalesced, not applied one by one";
}

TEST_F(PanelTest, NonStopProducerCostsOneBatchPerFrame) {
    // A worker that never pauses, as the receive worker on a busy bus: the
    // main thread applies values at the screen's refresh rate, not at the
    // producer's rate. Loose bound: twice the rate, plus slack.
    std::atomic<bool> stop{false};
    std::atomic<long> produced{0};
    std::thread producer([&] {
        long n = 0;
        while (!stop.load()) SetCtrlVal(panel, NUMERICMETER1, double(++n % 200 - 100));
        produced.store(n);
    });
    QElapsedTimer timer;
    timer.start();
    processEventsFor(1000);
    stop.store(true);
    producer.join();
    const double seconds = timer.elapsed() / 1000.0;
    const double rate = QGuiApplication::primaryScreen()->refreshRate();
    EXPECT_LE(double(uiAppliedValueCount(panel, NUMERICMETER1)), 2.0 * rate * seconds + 10.0);
    EXPECT_GT(uiAppliedValueCount(panel, NUMERICMETER1), 0u);
    EXPECT_GT(produced.load(), long(uiAppliedValueCount(panel, NUMERICMETER1)));
}

TEST_F(PanelTest, MainThreadValueReplacesAnOlderPendingOne) {
    std::thread([this] { SetCtrlVal(panel, NUMERIC_DEC, 111); }).join();
    ASSERT_EQ(SetCtrlVal(panel, NUMERIC_DEC, 222), 0);
    processEventsFor(100);
    EXPECT_EQ(shownText(panel, NUMERIC_DEC), "222");
}

TEST_F(PanelTest, OffThreadCallsAreCheckedWithoutTouchingWidgets) {
    int wrongPanel = 0, wrongControl = 0, text = 0, attribute = 0;
    std::thread([&] {
        wrongPanel = SetCtrlVal(panel + 100, NUMERICMETER1, 1.0);
        wrongControl = SetCtrlVal(panel, 99, 1.0);
        text = SetCtrlVal(panel, TEXTMSG, 1);
        attribute = SetCtrlAttribute(panel, NUMERICMETER2, ATTR_VISIBLE, 1);
    }).join();
    EXPECT_EQ(wrongPanel, UIE_BAD_PANEL);
    EXPECT_EQ(wrongControl, UIE_BAD_CONTROL);
    EXPECT_EQ(text, UIE_BAD_VALUE_TYPE);
    EXPECT_EQ(attribute, UIE_WRONG_THREAD);
}

TEST(CrossThread, DiscardAndReloadWhileAThreadSetsValues) {
    static char programName[] = "kolvar_ui_tests";
    static char* argv[] = {programName, nullptr};
    ASSERT_EQ(InitCVIRTE(nullptr, argv, recordingNameTable()), 1);
    std::atomic<int> handle{LoadPanel(0, KOLVAR_PANEL_DEFINITION, 1)};
    ASSERT_GT(handle.load(), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0}, refused{0};
    std::thread producer([&] {
        for (int i = 0; !stop.load(); ++i) {
            if (SetCtrlVal(handle.load(), NUMERICMETER1, double(i % 200 - 100)) == 0)
                ++accepted;
            else
                ++refused;
        }
    });
    for (int round = 0; round < 30; ++round) {
        // Each panel is discarded only once the producer has reached it.
        const int acceptedBefore = accepted.load();
        processEventsUntil([&] { return accepted.load() > acceptedBefore; });
        ASSERT_GT(accepted.load(), acceptedBefore) << "round " << round;
        ASSERT_EQ(DiscardPanel(handle.load()), 0);
        QApplication::processEvents();
        const int reloaded = LoadPanel(0, KOLVAR_PANEL_DEFINITION, 1);
        ASSERT_GT(reloaded, 0);
        handle.store(reloaded);
    }
    stop.store(true);
    producer.join();
    processEventsUntil([] { return uiPendingFlushCount() == 0; });
    EXPECT_EQ(DiscardPanel(handle.load()), 0);
    EXPECT_EQ(DiscardPanel(handle.load()), UIE_BAD_PANEL) << "a second discard is harmless";
}

}  // namespace
