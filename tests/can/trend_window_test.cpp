// The trend window on the real panel, fed by the real worker from the
// simulator on the virtual bus: a recording plays back through the
// simulator into a fresh trend with the same values, and a recording onto a
// full disk stops with a message.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "app/trend/trend_entry.h"
#include "app/trend/trend_window.h"
#include "can/bus.h"
#include "can/frame_tap.h"
#include "panel/panel_contract.h"
#include "tests/can/bus_peers.h"
#include "tests/can/measured_panel.h"

namespace {

class TrendWindowTest : public MeasuredPanelTest {
protected:
    void TearDown() override {
        closeTrendWindow();
        MeasuredPanelTest::TearDown();
    }
    // Opens the trend with the "Trend" button and switches the bus on.
    static TrendWindow* openTrendWithBusOn() {
        click(TREND_BUTTON);
        TrendWindow* window = trendWindowIfOpen();
        if (!window || !window->isVisible()) return nullptr;
        switchBus(true);
        // Past the worker's first read, which takes a frame of any identifier.
        QTest::qWait(1200);
        return window;
    }
    static std::vector<uint32_t> words(const TrendSamples& samples) {
        std::vector<uint32_t> held;
        for (size_t i = 0; i < samples.size(); ++i)
            held.push_back(samples.at(i).word1 | uint32_t(samples.at(i).word2) << 16);
        return held;
    }
};

TEST_F(TrendWindowTest, RecordingOfTheSimulatorReplaysIntoAFreshTrendWithIdenticalValues) {
    TrendWindow* window = openTrendWithBusOn();
    ASSERT_NE(window, nullptr);
    QTemporaryDir directory;
    const QString log = directory.filePath("run.log");
    ASSERT_TRUE(window->startRecording(log)) << window->message().toStdString();
    const size_t before = window->samples().size();
    ASSERT_EQ(runDeviceSim({"--count", "400", "--rate", "2000", "--ch1", "ramp:amp=90:period=0.1",
                            "--ch2", "sine:amp=70:period=0.07"}),
              "");
    ASSERT_TRUE(waitFor([&] { return window->samples().size() >= before + 400; }, 5000))
        << window->samples().size() - before;
    window->stopRecording();
    EXPECT_EQ(window->recorder().lines(), 400u) << window->message().toStdString();
    const std::vector<uint32_t> recorded = words(window->samples());

    // A fresh window holds nothing; the simulator plays the log back.
    closeTrendWindow();
    click(TREND_BUTTON);
    window = trendWindowIfOpen();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->samples().size(), 0u);
    ASSERT_EQ(runDeviceSim({"--replay", log}), "");
    ASSERT_TRUE(waitFor([&] { return window->samples().size() >= 400; }, 5000)) << window->samples().size();
    const std::vector<uint32_t> replayed = words(window->samples());
    ASSERT_EQ(replayed.size(), 400u);
    EXPECT_TRUE(std::equal(replayed.begin(), replayed.end(), recorded.end() - 400));
    EXPECT_EQ(trendTap().dropped(), 0u);
}

TEST_F(TrendWindowTest, RecordingOntoAFullDiskStopsWithAMessage) {
    TrendWindow* window = openTrendWithBusOn();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->startRecording("/dev/full"));
    ASSERT_EQ(runDeviceSim({"--count", "50", "--rate", "1000"}), "");
    EXPECT_TRUE(waitFor([&] { return window->message().contains("No space left on device"); }, 5000))
        << window->message().toStdString();
    EXPECT_FALSE(window->recorder().recording());
}

}  // namespace
