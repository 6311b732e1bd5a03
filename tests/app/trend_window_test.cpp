// SPDX-License-Identifier: GPL-3.0-or-later
// The trend window on the real panel, fed by the real worker from the
// simulator on the virtual bus: a recording plays back through the
// simulator into a second viewer program, which records the same frames,
// and a recording onto a full disk stops with a message. The trend's picture
// of a known series, gap and mark included; cursors and a selection on a
// known ramp, and the picture saved with its caption. A FIFO nobody reads
// holds neither a recording, an export nor the window's close; a window
// closed during an export is destroyed once the export has ended.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/trend/trend_chart.h"
#include "app/trend/trend_entry.h"
#include "app/trend/trend_measure.h"
#include "app/trend/trend_picture.h"
#include "app/trend/trend_window.h"
#include "can/bus.h"
#include "capture/decimate.h"
#include "can/frame_format.h"
#include "can/frame_tap.h"
#include "capture/trend_samples.h"
#include "panel/panel_contract.h"
#include "tests/can/bus_peers.h"
#include "tests/can/measured_panel.h"
#include "tests/support/silent_fifo.h"

using namespace kolvar::capture;

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
    EXPECT_EQ(viewer.readLine().trimmed(), "recorded 400 lost 0");

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

// A FIFO without a reader is refused with a message; one whose reader takes
// nothing fills up under a recording and an export, which then wait. Cancel
// ends the export, and the window closes with both waiting.
TEST_F(TrendWindowTest, AFifoNobodyReadsHoldsNeitherRecordingExportNorClose) {
    click(TREND_BUTTON);
    TrendWindow* window = trendWindowIfOpen();
    ASSERT_NE(window, nullptr);
    QTemporaryDir directory;
    const QString lonely = directory.filePath("lonely");
    ASSERT_EQ(mkfifo(lonely.toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(window->startRecording(lonely));
    EXPECT_TRUE(waitFor([&] { return window->message() == "Cannot record to " + lonely + ": no program reads this FIFO"; },
                        5000))
        << window->message().toStdString();

    // Readers that hold their end open and never read.
    const QString logFifo = directory.filePath("log"), csvFifo = directory.filePath("csv");
    const SilentFifo logSilent(logFifo.toStdString()), csvSilent(csvFifo.toStdString());
    ASSERT_TRUE(logSilent.ready());
    ASSERT_TRUE(csvSilent.ready());
    const int logReader = logSilent.reader(), csvReader = csvSilent.reader();

    // More than a pipe holds (64 KB) of both: 4,000 log lines and CSV rows.
    constexpr int kFrames = 4000;
    const auto frame = [](int i) { return TappedFrame{i * 1000, 0x200, 8, {0xF0, 0xFF, 0x10, 0, 0, 0, 0, 0}, 0}; };
    for (int i = 0; i < kFrames; ++i) trendTap().offer(frame(i));
    window->collect();
    ASSERT_GE(window->samples().size(), size_t{kFrames});

    ASSERT_TRUE(window->startRecording(logFifo));
    for (int i = 0; i < kFrames; ++i) recordTap().offer(frame(i));
    // Full: the pipe holds all it can take.
    const auto full = [](int reader) {
        int held = 0;
        return ::ioctl(reader, FIONREAD, &held) == 0 && held >= ::fcntl(reader, F_GETPIPE_SZ);
    };
    EXPECT_TRUE(waitFor([&] { return full(logReader); }, 5000)) << window->message().toStdString();

    ASSERT_TRUE(window->exportCsv(csvFifo));
    window->cancelExport();
    EXPECT_TRUE(waitFor([&] { return window->message() == "Export to " + csvFifo + " cancelled"; }, 5000))
        << window->message().toStdString();
    ASSERT_TRUE(window->exportCsv(csvFifo));
    EXPECT_TRUE(waitFor([&] { return full(csvReader); }, 5000)) << window->message().toStdString();

    EXPECT_TRUE(window->recorder().recording());
    EXPECT_EQ(window->message(), "Exporting " + QString::number(window->samples().size()) + " samples (all kept) to " + csvFifo);
    closeTrendWindow();  // returns: neither waiting writer holds it
}

// Closed while its export still writes, the window stays until the export
// has ended, and is then destroyed; the next one opens empty, with the span
// and the message the user saw last.
TEST_F(TrendWindowTest, ClosedDuringAnExportGoesOnceItEndsAndTheNextKeepsSpanAndMessage) {
    // A destroyed window takes the font engines no one else holds with it;
    // the panel's text, plain and bold, must paint as before.
    const QImage meterBefore = widget(NUMERICMETER1)->grab().toImage();
    const QImage knobBefore = widget(NUMERICKNOB_ID0)->grab().toImage();
    click(TREND_BUTTON);
    TrendWindow* window = trendWindowIfOpen();
    ASSERT_NE(window, nullptr);
    QTemporaryDir directory;
    const QString csv = directory.filePath("csv");
    const SilentFifo csvSilent(csv.toStdString());
    ASSERT_TRUE(csvSilent.ready());
    // More CSV rows than a pipe holds, so the export waits for its reader.
    for (int i = 0; i < 4000; ++i) trendTap().offer({i * 1000, 0x200, 8, {0xF0, 0xFF, 0x10, 0, 0, 0, 0, 0}, 0});
    window->collect();
    window->findChild<QComboBox*>()->setCurrentIndex(2);
    ASSERT_TRUE(window->exportCsv(csv));
    window->close();
    QTest::qWait(100);
    ASSERT_EQ(trendWindowIfOpen(), window) << "destroyed while its export writes";

    const int reader = csvSilent.reader();
    ASSERT_EQ(::fcntl(reader, F_SETFL, O_NONBLOCK), 0);
    char buffer[65536];
    EXPECT_TRUE(waitFor([&] {
        while (::read(reader, buffer, sizeof buffer) > 0) {}
        return trendWindowIfOpen() == nullptr;
    }, 5000));
    EXPECT_EQ(widget(NUMERICMETER1)->grab().toImage(), meterBefore);
    EXPECT_EQ(widget(NUMERICKNOB_ID0)->grab().toImage(), knobBefore);
    click(TREND_BUTTON);
    window = trendWindowIfOpen();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->findChild<QComboBox*>()->currentText(), "10 min");
    EXPECT_EQ(window->message(), "Exported to " + csv);
    EXPECT_EQ(window->samples().size(), 0u);
}

// The picture: a silent stretch stays the plot's background (no line joins
// across it), live stretches paint each channel at its value on the
// -100 .. +100 scale, the identifier change is a mark at its time, and the
// pointer over the plot reads the values of its column.
TEST(TrendChartTest, SilenceLeavesAGapValuesSitOnTheScaleAndAChangeIsMarked) {
    TrendChart chart;
    chart.resize(640, 320);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    QTest::qWait(50);  // the chart lays out its plot area
    const int n = chart.columnCount();
    ASSERT_GT(n, 300);
    constexpr int64_t kColumn = 20'000;
    // Readings 3071 (+49.99) and 1023 (-50.04), one frame per column, none in
    // the middle third (over 4 s of silence); the last third is 0x1A5.
    const int silentFrom = n / 3, silentTo = 2 * n / 3;
    TrendSamples samples(scaleChannelWord, 4096);
    for (int k = 0; k < n; ++k) {
        if (k >= silentFrom && k < silentTo) continue;
        samples.append(k * kColumn + kColumn / 2, k < silentTo ? 0x200 : 0x1A5, 0xBFF0, 0x3FF0);
    }
    std::vector<TrendColumn> columns;
    decimate(samples, 0, kColumn, n, columns);
    chart.showColumns(columns, 0, kColumn, samples.marks());
    const QImage shot = chart.grab().toImage();
    const QRectF plot = chart.plotRect();
    const double columnWidth = plot.width() / n;
    const QRgb colours[2] = {qRgb(0x1f, 0x5f, 0xbf), qRgb(0xc0, 0x50, 0x10)};
    const int rows[2] = {qRound(plot.top() + plot.height() / 4), qRound(plot.top() + plot.height() * 3 / 4)};
    const auto rowsOf = [&](QRgb colour, int x) {
        std::vector<int> found;
        for (int y = qRound(plot.top()); y < qRound(plot.bottom()); ++y)
            if (shot.pixel(x, y) == colour) found.push_back(y);
        return found;
    };
    for (int k = 2; k < n - 2; ++k) {
        const int x = qRound(plot.left() + (k + 0.5) * columnWidth);
        if (k >= silentFrom + 2 && k < silentTo - 2) {
            for (int c = 0; c < 2; ++c)
                ASSERT_TRUE(rowsOf(colours[c], x).empty()) << "channel " << c + 1 << " in the silence, column " << k;
        } else if (k < silentFrom - 2 || k >= silentTo + 2) {
            for (int c = 0; c < 2; ++c) {
                const std::vector<int> found = rowsOf(colours[c], x);
                ASSERT_EQ(found.size(), 1u) << "channel " << c + 1 << " at column " << k;
                ASSERT_NEAR(found[0], rows[c], 1) << "channel " << c + 1 << " at column " << k;
            }
        }
    }
    const int markX = qRound(plot.left() + (silentTo + 0.5) * columnWidth);
    int marked = 0;
    for (int x = markX - 1; x <= markX + 1; ++x)
        marked += static_cast<int>(rowsOf(QColor(Qt::darkGray).rgb(), x).size());
    EXPECT_GT(marked, plot.height() / 4) << "no dashed mark at the identifier change";

    // The values under the mouse pointer, which passes over the traces.
    QString pointer;
    QObject::connect(&chart, &TrendChart::pointerValues, [&](const QString& text) { pointer = text; });
    QTest::mouseMove(&chart, QPoint(qRound(plot.left() + 10.5 * columnWidth), rows[0] + 20));
    EXPECT_TRUE(pointer.endsWith("Ch 1 49.99   Ch 2 -50.04")) << pointer.toStdString();
    QTest::mouseMove(&chart, QPoint(qRound(plot.center().x()), rows[0]));
    EXPECT_TRUE(pointer.endsWith("no frame")) << pointer.toStdString();

    // The same values from the keyboard: a cursor over the columns.
    chart.setFocus();
    QTest::keyClick(&chart, Qt::Key_Home);
    EXPECT_TRUE(pointer.endsWith("Ch 1 49.99   Ch 2 -50.04")) << pointer.toStdString();
    for (int i = 0; i < 5; ++i) QTest::keyClick(&chart, Qt::Key_PageDown);
    EXPECT_TRUE(pointer.endsWith("no frame")) << "half way lies in the silence: " << pointer.toStdString();
    QTest::keyClick(&chart, Qt::Key_End);
    QTest::keyClick(&chart, Qt::Key_Left);
    EXPECT_TRUE(pointer.endsWith("Ch 1 49.99   Ch 2 -50.04")) << pointer.toStdString();
}

// A ramp on channel 1 (4 readings a column) and -50.04 on channel 2, one
// frame in the middle of each 20 ms column, silent in the last quarter.
// Cursors 200 columns apart read 4 s and 800 readings (39.07) apart; a
// cursor in the silence reads "no frame"; a dragged stretch is measured on
// its own; the picture carries the chart and the statistics.
TEST(TrendMeasureTest, CursorsReadARampASelectionIsMeasuredAndThePictureCarriesIt) {
    TrendChart chart;
    chart.resize(640, 320);
    TrendSamples samples(scaleChannelWord, 4096);
    TrendMeasure measure(&chart, samples);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    QTest::qWait(50);
    const int n = chart.columnCount();
    ASSERT_GT(n, 400);
    constexpr int64_t kColumn = 20'000;
    const int silentFrom = 3 * n / 4;
    for (int k = 0; k < silentFrom; ++k) {
        samples.append(k * kColumn + kColumn / 2, 0x200, static_cast<uint16_t>(4 * k) << 4, 0x3FF0);
    }
    std::vector<TrendColumn> columns;
    decimate(samples, 0, kColumn, n, columns);
    chart.showColumns(columns, 0, kColumn, samples.marks());
    const QRectF plot = chart.plotRect();
    const auto at = [&](int k) {
        return QPoint(qRound(plot.left() + (k + 0.5) * plot.width() / n), qRound(plot.center().y()));
    };
    QWidget* plotArea = &chart;

    QTest::mouseClick(plotArea, Qt::LeftButton, {}, at(100));
    QTest::mouseClick(plotArea, Qt::LeftButton, Qt::ShiftModifier, at(300));
    const QString both = measure.cursorLine()->text();
    EXPECT_TRUE(both.contains("s: Ch 1 -80.46, Ch 2 -50.04 · B")) << both.toStdString();
    EXPECT_TRUE(both.endsWith("B − A: Δt 4.000 s, Δ Ch 1 39.07, Δ Ch 2 0.00")) << both.toStdString();
    // Alt+Right moves A one frame on: 3.98 s and 796 readings (38.88) to B.
    QTest::keyClick(&chart, Qt::Key_Right, Qt::AltModifier);
    EXPECT_TRUE(measure.cursorLine()->text().endsWith("Δt 3.980 s, Δ Ch 1 38.88, Δ Ch 2 0.00"))
        << measure.cursorLine()->text().toStdString();

    QTest::mousePress(plotArea, Qt::LeftButton, {}, at(100));
    QTest::mouseMove(plotArea, at(200));
    QTest::mouseMove(plotArea, at(300));
    QTest::mouseRelease(plotArea, Qt::LeftButton, {}, at(300));
    ASSERT_TRUE(measure.hasSelection());
    EXPECT_TRUE(measure.stretchLine()->text().startsWith("Selection")) << measure.stretchLine()->text().toStdString();
    EXPECT_NEAR(static_cast<double>(measure.stats().frames), 201.0, 1.0);
    EXPECT_NEAR(measure.stats().ch[0].mean, 200.0 * 800 / 4095 - 100, 0.2);
    EXPECT_NEAR(measure.stats().ch[0].peakToPeak(), 39.07, 0.3);

    // The picture, selection and cursors on it, read back.
    QTemporaryDir directory;
    QString error;
    const QString png = directory.filePath("trend.png");
    const QString svg = directory.filePath("trend.svg");
    ASSERT_TRUE(saveTrendPicture(&chart, measure.statisticsText(), png, &error)) << error.toStdString();
    ASSERT_TRUE(saveTrendPicture(&chart, measure.statisticsText(), svg, &error)) << error.toStdString();
    const QImage picture(png);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.width(), chart.width());
    EXPECT_GT(picture.height(), chart.height() + 30) << "no room for the caption";
    int traced = 0;
    for (int y = 0; y < chart.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) traced += picture.pixel(x, y) == qRgb(0x1f, 0x5f, 0xbf);
    // The selection's band tints a third of the trace.
    EXPECT_GT(traced, n / 4) << "channel 1 is not in the picture";
    QFile drawing(svg);
    ASSERT_TRUE(drawing.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(drawing.readAll());
    // The figures the table shows, whichever pixel the drag ended on.
    const QString peak = QString::number(measure.stats().ch[0].peakToPeak(), 'f', 2);
    const QString mean = QString::number(measure.stats().ch[0].mean, 'f', 2);
    for (const QString& caption : {QStringLiteral("Selection"), QStringLiteral("Peak-to-peak"), peak, mean})
        EXPECT_TRUE(text.contains(caption)) << caption.toStdString() << " not in the SVG";

    // A cursor in the silence; a right-click clears back to the span in view.
    QTest::mouseClick(plotArea, Qt::LeftButton, {}, at(silentFrom + 40));
    EXPECT_TRUE(measure.cursorLine()->text().contains("s: no frame")) << measure.cursorLine()->text().toStdString();
    EXPECT_FALSE(measure.cursorLine()->text().contains("Δ Ch 1"));
    QTest::mouseClick(plotArea, Qt::RightButton, {}, at(10));
    EXPECT_FALSE(measure.hasSelection());
    EXPECT_TRUE(measure.stretchLine()->text().startsWith("Span in view"));
    EXPECT_EQ(measure.stats().frames, static_cast<size_t>(silentFrom));
}

// With a stretch dragged across the chart, Export CSV… writes just the
// frames the statistics count, first and last included; with none, all kept.
TEST(TrendMeasureTest, ExportCsvWritesTheSelectedStretchOrAllThatIsKept) {
    TrendWindow window;
    window.openOrRaise();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // 500 frames at 5 ms, the newest now: the middle of the 10 s span.
    const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    for (int k = 0; k < 500; ++k) trendTap().offer({now - (500 - k) * 5000, 0x200, 8, {0x10, 0x20, 0x30, 0x40}, 0});
    window.collect();
    ASSERT_EQ(window.samples().size(), 500u);
    QTest::qWait(200);  // a redraw and a statistics tick
    auto* chart = window.findChild<TrendChart*>();
    ASSERT_NE(chart, nullptr);
    const QRectF plot = chart->plotRect();
    const int y = qRound(plot.center().y());
    const int x0 = qRound(plot.left() + plot.width() * 0.76), x1 = qRound(plot.left() + plot.width() * 0.95);
    QTest::mousePress(chart, Qt::LeftButton, {}, QPoint(x0, y));
    QTest::mouseMove(chart, QPoint(x1, y));
    QTest::mouseRelease(chart, Qt::LeftButton, {}, QPoint(x1, y));
    ASSERT_TRUE(window.measure()->hasSelection());
    const size_t selected = window.measure()->stats().frames;
    ASSERT_GT(selected, 100u);
    ASSERT_LT(selected, 500u);

    QTemporaryDir directory;
    const auto rowsOf = [&](const QString& path) {
        EXPECT_TRUE(window.exportCsv(path));
        EXPECT_TRUE(QTest::qWaitFor([&] {
            window.collect();
            return window.message().startsWith("Exported to");
        }, 5000)) << window.message().toStdString();
        std::ifstream in(path.toStdString());
        size_t rows = 0;
        for (std::string line; std::getline(in, line);) ++rows;
        return rows - 1;  // the header
    };
    EXPECT_EQ(rowsOf(directory.filePath("selected.csv")), selected);
    QTest::mouseClick(chart, Qt::RightButton, {}, QPoint(x0, y));
    EXPECT_EQ(rowsOf(directory.filePath("all.csv")), 500u);
    // Closed, the window forgets what it held: it opens again empty.
    window.close();
    EXPECT_EQ(window.samples().size(), 0u);
}

}  // namespace
