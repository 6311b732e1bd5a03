// SPDX-License-Identifier: GPL-3.0-or-later
// The whole program in process: start-up state, service mode, the second
// channel's visibility and the shutdown.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/KolvarCanView.h"
#include "app/trend/trend_entry.h"
#include "app/trend/trend_window.h"
#include "can/frame_tap.h"
#include "can/bus.h"
#include "can/hardware.h"
#include "platform/ui/qt_access.h"
#include "platform/userint.h"
#include "tests/support/silent_fifo.h"
#include "tests/support/thread_list.h"
#include "viewer_run.h"

// The embedded panel definition taken away and given back: the block-scope
// declarations these macros make need a named namespace.
void hidePanelDefinition() { Q_CLEANUP_RESOURCE(kolvar_panel); }
void restorePanelDefinition() { Q_INIT_RESOURCE(kolvar_panel); }

namespace {

bool isShown(int panel, int control) {
    int visible = -1;
    EXPECT_EQ(GetCtrlAttribute(panel, control, ATTR_VISIBLE, &visible), 0);
    return visible != 0;
}

QString ringText(int panel, int control) {
    auto* ring = qobject_cast<QComboBox*>(uiControlWidget(panel, control));
    return ring ? ring->currentText() : QString();
}

// Chooses an entry of PLOT_CHANNEL as the user does, with the keyboard.
void choosePlotChannel(int panel, int index) {
    auto* ring = qobject_cast<QComboBox*>(uiControlWidget(panel, PLOT_CHANNEL));
    ASSERT_NE(ring, nullptr);
    ring->setFocus();
    QTest::keyClick(ring, index > ring->currentIndex() ? Qt::Key_Down : Qt::Key_Up);
    ASSERT_EQ(ring->currentIndex(), index);
}

TEST(Shell, FreshStartShowsThePanelAsDefinedAndEndsWithZero) {
    int panel = 0;
    const ViewerRun run = runViewer({}, [&](int handle) {
        panel = handle;
        EXPECT_EQ(ringText(handle, CAN_HARDWARE), "Kvaser");
        EXPECT_EQ(ringText(handle, CAN_CHANNEL), "Ch 1");
        EXPECT_EQ(ringText(handle, CAN_BITRATE), "500 kbps");
        EXPECT_EQ(ringText(handle, PLOT_CHANNEL), "Ch 1");
        EXPECT_EQ(qobject_cast<QPushButton*>(uiControlWidget(handle, BUS_BUTTON))->text(), "OFF BUS");
        int decimal = -1, hexadecimal = -1;
        EXPECT_EQ(GetCtrlVal(handle, NUMERIC_DEC, &decimal), 0);
        EXPECT_EQ(GetCtrlVal(handle, NUMERIC_DEC_2, &hexadecimal), 0);
        EXPECT_EQ(decimal, 512);
        EXPECT_EQ(hexadecimal, 512);
        EXPECT_TRUE(isShown(handle, NUMERICMETER1));
        EXPECT_FALSE(isShown(handle, NUMERICMETER2));
        EXPECT_FALSE(isShown(handle, NUMERIC_CH1_RAW)) << "focus alone shows nothing outside service mode";
        EXPECT_FALSE(isShown(handle, NUMERIC_CH2_RAW));
    });
    EXPECT_TRUE(run.closedByTest);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_GT(panel, 0);
    EXPECT_EQ(uiPanelWidget(panel), nullptr) << "main discards the panel before it returns";
}

struct CommandLine {
    const char* name;
    std::vector<std::string> arguments;
    int serviceMode;
};

void PrintTo(const CommandLine& line, std::ostream* out) { *out << line.name; }

class CommandLineTest : public ::testing::TestWithParam<CommandLine> {};

TEST_P(CommandLineTest, OnlyTheSingleExactWordSelectsServiceMode) {
    bool rawShownOnFocus = false;
    const ViewerRun run = runViewer(GetParam().arguments, [&](int panel) {
        rawShownOnFocus = isShown(panel, NUMERIC_CH1_RAW);
    });
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(debug, GetParam().serviceMode);
    EXPECT_EQ(rawShownOnFocus, GetParam().serviceMode == 1);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    ::testing::Values(CommandLine{"None", {}, 0}, CommandLine{"Lantern", {"Lantern"}, 1},
                      CommandLine{"LowerCase", {"lantern"}, 0}, CommandLine{"UpperCase", {"LANTERN"}, 0},
                      CommandLine{"TwoWords", {"Lantern", "Lantern"}, 0},
                      CommandLine{"FollowedByAnother", {"Lantern", "x"}, 0},
                      CommandLine{"TrailingBlank", {"Lantern "}, 0}, CommandLine{"Empty", {""}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Shell, PlotChannelShowsTheSecondMeterAndInServiceModeItsRawWord) {
    for (const bool service : {false, true}) {
        SCOPED_TRACE(service ? "service mode" : "normal mode");
        runViewer(service ? std::vector<std::string>{"Lantern"} : std::vector<std::string>{}, [&](int panel) {
            choosePlotChannel(panel, 1);
            EXPECT_EQ(plot_channel, 1);
            EXPECT_TRUE(isShown(panel, NUMERICMETER2));
            EXPECT_EQ(isShown(panel, NUMERIC_CH2_RAW), service);
            EXPECT_TRUE(isShown(panel, NUMERICMETER1)) << "channel 1 stays";
            choosePlotChannel(panel, 0);
            EXPECT_EQ(plot_channel, 0);
            EXPECT_FALSE(isShown(panel, NUMERICMETER2));
            EXPECT_FALSE(isShown(panel, NUMERIC_CH2_RAW));
            EXPECT_EQ(isShown(panel, NUMERIC_CH1_RAW), service) << "channel 1's raw word is not touched";
        });
    }
}

// A panel that cannot be loaded must not end the run with status 0, as
// if it had been used and closed.
TEST(Shell, PanelThatCannotBeLoadedEndsWithOneAndSaysWhy) {
    hidePanelDefinition();
    testing::internal::CaptureStderr();
    const ViewerRun run = runViewer({}, [](int) { ADD_FAILURE() << "a panel was shown"; });
    const std::string said = testing::internal::GetCapturedStderr();
    restorePanelDefinition();
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(said.find("cannot load panel 1 from \"KolvarCanView.uir\""), std::string::npos) << said;
}

// The threads the viewer starts that are still there: the pool's (the
// receive worker's) and the file writers'.
std::vector<std::string> viewerThreadsLeft() {
    std::vector<std::string> left;
    forEachThread([&](const std::string&, const std::string& name) {
        if (name == "kolvar-pool" || name == "kolvar-file") left.push_back(name);
    });
    return left;
}

// With the trend window open (Ctrl+T on the panel), the bus on, a recording
// and an export each waiting for a FIFO reader that takes nothing, closing
// the panel stops the connection, closes the trend, still ends with 0, and
// leaves no thread of the viewer's running.
TEST(Shell, ClosingWithTheBusOnStopsTheConnectionFirst) {
    QTemporaryDir directory;
    const SilentFifo logFifo(directory.filePath("log").toStdString());
    const SilentFifo csvFifo(directory.filePath("csv").toStdString());
    ASSERT_TRUE(logFifo.ready());
    ASSERT_TRUE(csvFifo.ready());
    const ViewerRun run = runViewer({}, [&](int panel) {
        auto* button = qobject_cast<QPushButton*>(uiControlWidget(panel, BUS_BUTTON));
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(onoff, 1);
        EXPECT_EQ(threadrun.load(), 1);
        QTest::keyClick(uiPanelWidget(panel), Qt::Key_T, Qt::ControlModifier);
        // A button's shortcut clicks it after a short press animation.
        ASSERT_TRUE(QTest::qWaitFor([] { return trendWindowIfOpen() != nullptr; }, 2000));
        TrendWindow* window = trendWindowIfOpen();
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(trendTap().isOpen());
        // More than a pipe holds (64 KB) of log lines and of CSV rows.
        constexpr int kFrames = 4000;
        const auto frame = [](int i) { return TappedFrame{i * 1000, 0x200, 8, {0xF0, 0xFF, 0x10}, 0}; };
        for (int i = 0; i < kFrames; ++i) trendTap().offer(frame(i));
        window->collect();
        ASSERT_TRUE(window->startRecording(QString::fromStdString(logFifo.path())));
        for (int i = 0; i < kFrames; ++i) recordTap().offer(frame(i));
        ASSERT_TRUE(window->exportCsv(QString::fromStdString(csvFifo.path())));
        EXPECT_FALSE(viewerThreadsLeft().empty());
    });
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_TRUE(run.closedByTest);
    EXPECT_EQ(threadrun.load(), 0);
    EXPECT_EQ(trendWindowIfOpen(), nullptr);
    EXPECT_FALSE(trendTap().isOpen());
    EXPECT_TRUE(viewerThreadsLeft().empty()) << viewerThreadsLeft().size() << " left";
}

}  // namespace
