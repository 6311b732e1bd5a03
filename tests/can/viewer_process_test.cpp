// SPDX-License-Identifier: GPL-3.0-or-later
// The whole program as a user meets it: kolvar-can-viewer on a virtual X
// server, its bus button clicked with the pointer, its window closed as a
// window manager would, its standard output, error and exit status read.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>

#include "platform/canlib.h"
#include "tests/can/bus_peers.h"
#include "tests/support/virtual_display.h"

namespace {

// Places in the panel's client area (top, left, height x width).
const QPoint kBusButtonCentre(537 + 62 / 2, 62 + 33 / 2);
const QRect kMeter1Area(159, 310, 181, 125);

class ViewerProcess : public ::testing::Test {
protected:
    void startViewer(const VirtualDisplay& display, const QProcessEnvironment& base) {
        QProcessEnvironment environment = base;
        environment.insert("DISPLAY", display.name());
        environment.insert("QT_QPA_PLATFORM", "xcb");
        viewer.setProcessEnvironment(environment);
        viewer.start(KOLVAR_VIEWER_PATH, {"Lantern"});
        ASSERT_TRUE(viewer.waitForStarted(5000));
        // The window with the viewer's pid that is mapped: its panel.
        for (int attempt = 0; attempt < 100 && window.isEmpty(); ++attempt) {
            window = display
                         .run("xdotool",
                              {"search", "--onlyvisible", "--pid",
                               QString::number(viewer.processId()), "--name",
                               "^Kolvar CAN Viewer$"},
                              2000)
                         .value_or(QString())
                         .section('\n', 0, 0);
            if (window.isEmpty()) QTest::qWait(100);
        }
        ASSERT_FALSE(window.isEmpty()) << "no viewer window on " << display.name().toStdString();
        QTest::qWait(300);  // let it paint its first frame
    }
    bool clickBusButton(const VirtualDisplay& display) {
        return display
            .run("xdotool", {"mousemove", "--sync", "--window", window,
                             QString::number(kBusButtonCentre.x()),
                             QString::number(kBusButtonCentre.y()), "click", "1"})
            .has_value();
    }
    QImage screenshot(const VirtualDisplay& display, const QString& path) {
        display.run("import", {"-window", window, "png:" + path});
        return QImage(path);
    }
    bool closeWindow(const VirtualDisplay& display) {
        return display.run(KOLVAR_X_CLOSE_PATH, {window}).has_value();
    }
    // The device simulator on the tests' private virtual bus; TearDown
    // stops it.
    void startSimulator(const QStringList& arguments) {
        simulator.setProcessEnvironment(peerEnvironment());
        simulator.start(KOLVAR_DEVICE_SIM_PATH, arguments);
        ASSERT_TRUE(simulator.waitForStarted(5000));
    }
    void TearDown() override {
        if (viewer.state() != QProcess::NotRunning) {
            viewer.kill();
            viewer.waitForFinished(3000);
        }
        if (simulator.state() != QProcess::NotRunning) {
            simulator.terminate();
            if (!simulator.waitForFinished(3000)) simulator.kill();
            simulator.waitForFinished(1000);
        }
    }

    QProcess viewer;
    QProcess simulator;
    QString window;
};

bool hasSocketCanInterfaces() {
    const QDir net("/sys/class/net");
    for (const QString& link : net.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile type(net.filePath(link + "/type"));
        if (type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "280") return true;
    }
    return false;
}

int differingPixels(const QImage& first, const QImage& second, const QRect& area) {
    int differing = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (first.pixel(x, y) != second.pixel(x, y)) ++differing;
    return differing;
}

// The opening failure prints its one line, shows the same text in a
// box for a user who sees no output, and ends the process with status 1 when
// the box is closed, without a crash, a hang or a warning about running
// threads.
TEST_F(ViewerProcess, OpeningFailurePrintsItsLineAndExitsWithOne) {
    if (hasSocketCanInterfaces()) GTEST_SKIP() << "SocketCAN interfaces present: channel 0 opens";
    VirtualDisplay display(94);
    ASSERT_TRUE(display.ready()) << "no X server on :94";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KOLVAR_CAN_CHANNELS", "socketcan");  // no channel at all
    ASSERT_NO_FATAL_FAILURE(startViewer(display, environment));
    ASSERT_TRUE(clickBusButton(display));

    QString box;
    for (int attempt = 0; attempt < 100 && box.isEmpty(); ++attempt) {
        box = display
                  .run("xdotool", {"search", "--all", "--onlyvisible", "--pid", QString::number(viewer.processId()),
                                   "--name", "^Kolvar CAN Viewer: no connection$"},
                       2000)
                  .value_or(QString())
                  .section('\n', 0, 0);
        if (box.isEmpty()) QTest::qWait(100);
    }
    ASSERT_FALSE(box.isEmpty()) << "no message box";
    EXPECT_FALSE(viewer.waitForFinished(300)) << "the viewer ended before its box was closed";
    ASSERT_TRUE(display.run(KOLVAR_X_CLOSE_PATH, {box}).has_value());
    ASSERT_TRUE(viewer.waitForFinished(10000)) << "the viewer hangs after the box was closed";
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 1);
    const QString out = QString::fromLocal8Bit(viewer.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(viewer.readAllStandardError());
    const QRegularExpressionMatch line =
        QRegularExpression("^canOpenChannel: failed, stat=(-\\d+) \\((.*)\\)\\n$").match(out);
    ASSERT_TRUE(line.hasMatch()) << "standard output: [" << out.toStdString() << "]";
    char text[50] = "";
    ASSERT_EQ(canGetErrorText(line.captured(1).toInt(), text, sizeof text), canOK);
    EXPECT_EQ(line.captured(2), QString::fromLatin1(text));
    EXPECT_FALSE(err.contains("QThread")) << err.toStdString();
}

// Without a display Qt would abort the process (status 134, a core dump on
// some systems): one line says which display failed and what is needed,
// and the status is 1.
TEST_F(ViewerProcess, NoDisplaySaysSoAndExitsWithOne) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", ":1999");  // nobody serves it
    environment.insert("QT_QPA_PLATFORM", "xcb");
    viewer.setProcessEnvironment(environment);
    viewer.start(KOLVAR_VIEWER_PATH, {});
    ASSERT_TRUE(viewer.waitForFinished(20000));
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit) << "ended by a signal";
    EXPECT_EQ(viewer.exitCode(), 1);
    const QStringList lines =
        QString::fromLocal8Bit(viewer.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << lines.join('|').toStdString();
    EXPECT_TRUE(lines[0].contains("\":1999\"") && lines[0].contains("xvfb-run")) << lines[0].toStdString();
}

TEST_F(ViewerProcess, ClosingWithTheBusOnStopsAndExitsWithZero) {
    VirtualDisplay display(94);
    ASSERT_TRUE(display.ready()) << "no X server on :94";
    ASSERT_NO_FATAL_FAILURE(startViewer(display, peerEnvironment()));
    ASSERT_TRUE(clickBusButton(display));
    ASSERT_EQ(runDeviceSim({"--send", "200#F0FF100000000000"}), "");
    QTest::qWait(1200);  // past the first read: the worker loops
    ASSERT_EQ(viewer.state(), QProcess::Running) << viewer.readAllStandardOutput().toStdString();

    ASSERT_TRUE(closeWindow(display));
    ASSERT_TRUE(viewer.waitForFinished(10000)) << "the viewer does not end after closing";
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(viewer.readAllStandardError());
    EXPECT_FALSE(err.contains("QThread")) << err.toStdString();
    EXPECT_TRUE(viewer.readAllStandardOutput().isEmpty());
}

// The whole program: while the simulator sends, one click on the bus button
// of the real window makes the meter move.
TEST_F(ViewerProcess, BusButtonClickMakesTheMeterFollowTheSimulator) {
    VirtualDisplay display(93);
    ASSERT_TRUE(display.ready()) << "no X server on :93";
    QTemporaryDir shots;
    ASSERT_TRUE(shots.isValid());

    // Channel 1 rises from 10 to 90 over 4 s and starts again: never the
    // meter's resting 0, and two screenshots taken well under 4 s apart never
    // show the same value. (The default sine returns to a value 400 ms later
    // whenever the peak falls midway, and the test then saw a still meter.)
    ASSERT_NO_FATAL_FAILURE(
        startSimulator({"--channel", "virtual:0", "--duration", "30", "--ch1", "ramp:amp=40:offset=50:period=4"}));
    ASSERT_NO_FATAL_FAILURE(startViewer(display, peerEnvironment()));

    const QImage before = screenshot(display, shots.filePath("before.png"));
    ASSERT_FALSE(before.isNull());
    ASSERT_TRUE(clickBusButton(display));
    QTest::qWait(1500);
    const QImage on = screenshot(display, shots.filePath("on.png"));
    QTest::qWait(600);
    const QImage later = screenshot(display, shots.filePath("later.png"));
    ASSERT_FALSE(on.isNull());
    ASSERT_FALSE(later.isNull());
    ASSERT_EQ(before.size(), on.size());

    EXPECT_GT(differingPixels(before, on, kMeter1Area), 50) << "meter unchanged after bus on";
    EXPECT_GT(differingPixels(on, later, kMeter1Area), 20) << "meter does not follow the bus";

    ASSERT_TRUE(closeWindow(display));
    ASSERT_TRUE(viewer.waitForFinished(10000));
    EXPECT_EQ(viewer.exitCode(), 0);
}

// The whole program: with the simulator sending and the bus on, Ctrl+T
// opens the trend window, which draws both channels in their colours.
TEST_F(ViewerProcess, CtrlTOpensTheTrendDrawingBothChannels) {
    VirtualDisplay display(93);
    ASSERT_TRUE(display.ready()) << "no X server on :93";
    ASSERT_NO_FATAL_FAILURE(startSimulator({"--channel", "virtual:0", "--duration", "30", "--rate", "1000"}));
    ASSERT_NO_FATAL_FAILURE(startViewer(display, peerEnvironment()));
    ASSERT_TRUE(clickBusButton(display));
    ASSERT_TRUE(display.run("xdotool", {"key", "--window", window, "ctrl+t"}).has_value());

    QString trend;
    for (int attempt = 0; attempt < 50 && trend.isEmpty(); ++attempt) {
        trend = display
                    .run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(viewer.processId()),
                                     "--name", "Trend$"})
                    .value_or(QString())
                    .section('\n', 0, 0);
        if (trend.isEmpty()) QTest::qWait(100);
    }
    ASSERT_FALSE(trend.isEmpty()) << "no trend window";
    // Pixels in each channel's colour: a line that moves, not a dot. A loaded
    // machine (the sanitizer builds) draws slower, so look again each second
    // for up to ten seconds of both channels.
    const QRgb colours[2] = {qRgb(0x1f, 0x5f, 0xbf), qRgb(0xc0, 0x50, 0x10)};
    const QString path = QDir::current().filePath("trend-window.png");
    int counts[2] = {0, 0};
    for (int second = 0; second < 10 && (counts[0] <= 200 || counts[1] <= 200); ++second) {
        QTest::qWait(1000);
        display.run("import", {"-window", "root", "png:" + path});
        const QImage shot(path);
        ASSERT_FALSE(shot.isNull());
        for (int c = 0; c < 2; ++c) {
            counts[c] = 0;
            for (int y = 0; y < shot.height(); ++y)
                for (int x = 0; x < shot.width(); ++x)
                    if (shot.pixel(x, y) == colours[c]) ++counts[c];
        }
    }
    for (int c = 0; c < 2; ++c) EXPECT_GT(counts[c], 200) << "too little of colour " << std::hex << colours[c];

    ASSERT_TRUE(closeWindow(display));
    ASSERT_TRUE(viewer.waitForFinished(10000));
    EXPECT_EQ(viewer.exitCode(), 0);
}

}  // namespace
