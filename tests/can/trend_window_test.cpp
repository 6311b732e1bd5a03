// The trend window on the real panel, fed by the real worker from the
// simulator on the virtual bus: a recording plays back through the
// simulator into a second viewer program, which records the same frames,
// and a recording onto a full disk stops with a message.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
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
    // The log's lines without their times: "virtual0 200#F0FF...".
    static std::vector<std::string> framesOfLog(const QString& path) {
        std::ifstream in(path.toStdString());
        std::vector<std::string> frames;
        for (std::string line; std::getline(in, line);) frames.push_back(line.substr(line.find(") ") + 2));
        return frames;
    }
};

TEST_F(TrendWindowTest, RecordingOfTheSimulatorReplaysIntoASecondViewerWithIdenticalValues) {
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
    ASSERT_EQ(window->recorder().lines(), 400u) << window->message().toStdString();

    // A second viewer program records what the simulator plays back.
    const QString replayed = directory.filePath("replayed.log");
    QProcess viewer;
    viewer.setProcessEnvironment(peerEnvironment());
    viewer.start(KOLVAR_RECORDING_VIEWER_PATH, {replayed, "400"});
    ASSERT_TRUE(viewer.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return viewer.canReadLine() || viewer.state() == QProcess::NotRunning; }, 15000));
    ASSERT_EQ(viewer.readLine().trimmed(), "recording") << viewer.readAllStandardError().toStdString();
    ASSERT_EQ(runDeviceSim({"--replay", log}), "");
    // It may have ended while the simulator ran (runDeviceSim runs the event loop).
    ASSERT_TRUE(viewer.state() == QProcess::NotRunning || viewer.waitForFinished(30000))
        << "the second viewer did not end";
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 0) << viewer.readAllStandardError().toStdString();
    EXPECT_EQ(viewer.readAll().trimmed(), "recorded 400");

    const std::vector<std::string> original = framesOfLog(log);
    ASSERT_EQ(original.size(), 400u);
    EXPECT_EQ(framesOfLog(replayed), original);
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
