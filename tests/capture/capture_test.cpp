// SPDX-License-Identifier: GPL-3.0-or-later
// The trend's plain parts: decimation, statistics, the worker's hand-over
// ring, the CSV export and a recording whose file stops taking writes.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "can/frame_format.h"
#include "can/frame_tap.h"
#include "capture/decimate.h"
#include "capture/frame_source.h"
#include "capture/log_lines.h"
#include "capture/recorder.h"
#include "capture/trend_csv.h"
#include "capture/trend_samples.h"
#include "capture/trend_stats.h"

using namespace kolvar::capture;

namespace {

// A frame whose channel-1 reading is r1 and channel-2 reading r2 (byte
// order 0, the built one), as the worker hands it over.
TappedFrame frameAt(int64_t micros, int r1, int r2 = 0, int32_t id = 0x200) {
    const unsigned w1 = static_cast<unsigned>(r1) << 4;
    const unsigned w2 = static_cast<unsigned>(r2) << 4;
    return {micros, id, 8, {static_cast<unsigned char>(w1 & 0xFF), static_cast<unsigned char>(w1 >> 8),
                         static_cast<unsigned char>(w2 & 0xFF), static_cast<unsigned char>(w2 >> 8), 0, 0, 0, 0},
            0};
}

// The same frame appended to the trend, its words decoded.
void appendAt(TrendSamples& samples, int64_t micros, int r1, int r2 = 0, int32_t id = 0x200) {
    samples.append(micros, id, static_cast<uint16_t>(r1 << 4), static_cast<uint16_t>(r2 << 4));
}

// The recording's source: the worker's hand-over to it, and the frames the
// full hand-over refused as the losses.
class TapSource final : public FrameSource {
public:
    void open() override { tap.open(); }
    void close() override { tap.close(); }
    void drain(const std::function<void(const Frame&)>& take) override {
        tap.drain([&](const TappedFrame& t) {
            Frame frame{t.arrivalMicros, t.id, t.length, {}, t.channel};
            std::copy(t.data, t.data + 8, frame.data);
            take(frame);
        });
    }
    uint64_t lost() const override { return tap.dropped(); }
    FrameTap tap;
};

struct DecimationRow {
    const char* name;
    std::vector<std::pair<int64_t, int>> series;  // (micros, channel-1 reading)
    int64_t from, columnMicros;
    int columns;
    std::vector<ChannelColumn> expected;  // {first, last, min, max}; count 0 -> all -1
};

class Decimation : public ::testing::TestWithParam<DecimationRow> {};

TEST_P(Decimation, KeepsTheTrueMinimumAndMaximumOfEachColumn) {
    const DecimationRow& row = GetParam();
    TrendSamples samples(scaleChannelWord, 8);  // small: the rows that overflow it lose their oldest
    for (const auto& [micros, reading] : row.series) appendAt(samples, micros, reading, 4095 - reading);
    std::vector<TrendColumn> columns;
    decimate(samples, row.from, row.columnMicros, row.columns, columns);
    ASSERT_EQ(columns.size(), row.expected.size());
    for (size_t k = 0; k < columns.size(); ++k) {
        const ChannelColumn want = row.expected[k];
        if (want.first < 0) {
            EXPECT_EQ(columns[k].count, 0) << "column " << k;
            continue;
        }
        const ChannelColumn got = columns[k].ch[0];
        EXPECT_EQ(got.first, want.first) << "column " << k;
        EXPECT_EQ(got.last, want.last) << "column " << k;
        EXPECT_EQ(got.min, want.min) << "column " << k;
        EXPECT_EQ(got.max, want.max) << "column " << k;
        // Channel 2 mirrors channel 1, so its extremes swap.
        EXPECT_EQ(columns[k].ch[1].min, 4095 - want.max) << "column " << k;
        EXPECT_EQ(columns[k].ch[1].max, 4095 - want.min) << "column " << k;
    }
}

const ChannelColumn kEmpty{-1, -1, -1, -1};

INSTANTIATE_TEST_SUITE_P(
    Series, Decimation,
    ::testing::Values(
        DecimationRow{"SpikeInsideAColumn", {{0, 100}, {1, 4095}, {2, 100}, {3, 0}, {4, 100}}, 0, 10, 1,
                      {{100, 100, 0, 4095}}},
        DecimationRow{"ColumnEdgesBelongToTheLaterColumn", {{0, 5}, {9, 7}, {10, 1}, {19, 9}, {20, 3}}, 0, 10, 3,
                      {{5, 7, 5, 7}, {1, 9, 1, 9}, {3, 3, 3, 3}}},
        DecimationRow{"SilentColumnStaysEmpty", {{0, 10}, {25, 20}}, 0, 10, 3, {{10, 10, 10, 10}, kEmpty, {20, 20, 20, 20}}},
        DecimationRow{"SamplesOutsideTheWindowLeftOut", {{0, 4095}, {15, 50}, {16, 60}, {40, 0}}, 10, 10, 2,
                      {{50, 60, 50, 60}, kEmpty}},
        DecimationRow{"FullRingKeepsItsNewest", {{0, 0}, {1, 4095}, {2, 9}, {3, 8}, {4, 7}, {5, 6}, {6, 5}, {7, 4}, {8, 3}, {9, 2}},
                      0, 10, 1, {{9, 2, 2, 9}}},
        DecimationRow{"FullScaleEdges", {{0, 0}, {1, 4095}, {2, 2047}, {3, 2048}}, 0, 2, 2, {{0, 4095, 0, 4095}, {2047, 2048, 2047, 2048}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The view kept between redraws shows what a fresh decimation of the same
// window shows, as the window moves on by whole columns and by more than
// its width, and as samples keep arriving in the newest column.
TEST(TrendViewTest, MovingWindowMatchesAFreshDecimation) {
    TrendSamples samples(scaleChannelWord, 64);
    TrendView view;
    std::vector<TrendColumn> fresh;
    int64_t micros = 0;
    for (int64_t step : {0, 1, 1, 2, 0, 3, 9, 1, 40, 1}) {
        for (int k = 0; k < 4; ++k, micros += 7) appendAt(samples, micros, static_cast<int>((micros * 37) % 4096));
        const int64_t from = micros / 10 * 10 - 60 + step * 10;
        view.update(samples, from, 10, 8);
        decimate(samples, from, 10, 8, fresh);
        for (size_t c = 0; c < fresh.size(); ++c) {
            const TrendColumn& got = view.columns()[c];
            ASSERT_EQ(got.count, fresh[c].count) << "from " << from << " column " << c;
            if (!got.count) continue;
            EXPECT_EQ(got.firstMicros, fresh[c].firstMicros);
            EXPECT_EQ(got.lastMicros, fresh[c].lastMicros);
            EXPECT_EQ(got.ch[0].first, fresh[c].ch[0].first);
            EXPECT_EQ(got.ch[0].last, fresh[c].ch[0].last);
            EXPECT_EQ(got.ch[0].min, fresh[c].ch[0].min);
            EXPECT_EQ(got.ch[0].max, fresh[c].ch[0].max);
        }
    }
}

// A ring of 10 in blocks of 4 (the last one half used), filled past its
// capacity twice over: the oldest are overwritten across the block edges,
// the search finds every sample, and after clear() the blocks are taken again.
// The second series puts more than the 32-bit offset's 71 minutes between
// samples of one block and changes the identifier inside blocks, so samples
// of two rounds share a block with runs of their own.
TEST(TrendSamplesTest, RingWrapsAndSearchesAcrossBlockEdges) {
    const struct {
        const char* name;
        int64_t (*micros)(int k);
        int32_t (*id)(int k);
    } rows[] = {
        {"EvenSteps", [](int k) { return int64_t{10} * k; }, [](int) { return 0x200; }},
        {"HoursApartAndChangingIdentifiers", [](int k) { return int64_t{10} * k + (k / 3) * (int64_t{1} << 32); },
         [](int k) { return 0x200 + k / 2 % 3; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TrendSamples samples(scaleChannelWord, 10, 2);
        for (int round = 0; round < 2; ++round) {
            for (int k = 0; k < 23; ++k) appendAt(samples, row.micros(k), k, 0, row.id(k));
            ASSERT_EQ(samples.size(), 10u);
            for (size_t i = 0; i < samples.size(); ++i) {
                const int k = 13 + static_cast<int>(i);
                EXPECT_EQ(samples.at(i).micros, row.micros(k)) << "sample " << i;
                EXPECT_EQ(samples.at(i).id, row.id(k)) << "sample " << i;
                EXPECT_EQ(samples.at(i).word1 >> 4, k) << "sample " << i;
                EXPECT_EQ(samples.lowerBound(row.micros(k)), i);
                EXPECT_EQ(samples.lowerBound(row.micros(k) - 5), i);
            }
            EXPECT_EQ(samples.lowerBound(0), 0u);
            EXPECT_EQ(samples.lowerBound(row.micros(22) + 1), 10u);
            samples.clear();
            EXPECT_EQ(samples.size(), 0u);
            EXPECT_EQ(samples.lowerBound(0), 0u);
        }
    }
}

TEST(TrendSamplesTest, MarksWhereTheIdentifierChangedAndGapsWhereTheDeviceWasSilent) {
    TrendSamples samples(scaleChannelWord, 16);
    appendAt(samples, 0, 1, 0, 0x200);
    appendAt(samples, 100'000, 1, 0, 0x200);
    appendAt(samples, 200'000, 1, 0, 0x1A5);
    appendAt(samples, 200'000 + kTrendGapMicros + 1, 1, 0, 0x1A5);
    ASSERT_EQ(samples.marks().size(), 1u);
    EXPECT_EQ(samples.marks()[0].micros, 200'000);
    EXPECT_EQ(samples.marks()[0].id, 0x1A5);
    std::vector<TrendColumn> columns;
    decimate(samples, 0, 100'000, 10, columns);
    EXPECT_TRUE(columnsJoin(columns[1], columns[2]));
    EXPECT_FALSE(columnsJoin(columns[2], columns[7]));
}

// A sine of amplitude 90 (100 frames a period) on channel 1 and a constant
// on channel 2, 1,000 frames at 1 ms, 2 s of silence, 1,000 more under
// another identifier. Figures worked out by hand: the sine's mean is 0, its
// RMS and standard deviation 90/sqrt(2) = 63.64 and its extremes +-90, each
// within a reading's rounding (0.025); the constant's reading 3071 is
// 200 * 3071 / 4095 - 100 = 49.9878 with a spread of exactly 0.
TEST(TrendStatsTest, SineAndConstantAcrossASilenceMatchTheHandFigures) {
    TrendSamples samples(scaleChannelWord, 4096);
    const double kPi = std::acos(-1.0);
    int64_t micros = 0;
    for (int half = 0; half < 2; ++half) {
        for (int k = 0; k < 1000; ++k, micros += 1000) {
            const int reading = static_cast<int>(std::lround(2047.5 + 0.9 * 2047.5 * std::sin(2 * kPi * k / 100)));
            appendAt(samples, micros, reading, 3071, half ? 0x1A5 : 0x200);
        }
        micros += 2'000'000;
    }
    const struct {
        const char* name;
        int64_t from, to;
        size_t frames, silences, changes;
    } rows[] = {
        {"Everything", 0, micros, 2000, 1, 1},
        {"SecondRunOnly", 2'999'000, micros, 1000, 0, 1},
        {"FirstRunEndsAtItsLastFrame", 0, 999'000, 1000, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const StretchStats stats = trendStats(samples, row.from, row.to);
        ASSERT_EQ(stats.frames, row.frames);
        EXPECT_EQ(stats.silences, row.silences);
        EXPECT_EQ(stats.silentMicros, row.silences ? 2'001'000 : 0);
        EXPECT_EQ(stats.identifierChanges, row.changes);
        EXPECT_NEAR(stats.ch[0].mean, 0.0, 0.025);
        EXPECT_NEAR(stats.ch[0].rms, 63.64, 0.03);
        EXPECT_NEAR(stats.ch[0].stddev, 63.64, 0.03);
        EXPECT_NEAR(stats.ch[0].min, -90.0, 0.025);
        EXPECT_NEAR(stats.ch[0].max, 90.0, 0.025);
        EXPECT_NEAR(stats.ch[0].peakToPeak(), 180.0, 0.05);
        for (const double value : {stats.ch[1].min, stats.ch[1].max, stats.ch[1].mean, stats.ch[1].rms})
            EXPECT_NEAR(value, 49.9878, 1e-4);
        EXPECT_EQ(stats.ch[1].stddev, 0.0);
    }
    EXPECT_EQ(trendStats(samples, 1'200'000, 2'800'000).frames, 0u) << "inside the silence";

    // The header's example, exact: full scale both ways.
    TrendSamples square(scaleChannelWord, 8);
    for (int k = 0; k < 4; ++k) appendAt(square, k, k % 2 ? 4095 : 0);
    const ChannelStats full = trendStats(square, 0, 3).ch[0];
    EXPECT_EQ(full.min, -100.0);
    EXPECT_EQ(full.max, 100.0);
    EXPECT_EQ(full.mean, 0.0);
    EXPECT_DOUBLE_EQ(full.stddev, 100.0);
    EXPECT_DOUBLE_EQ(full.rms, 100.0);
}

// A log line carries the frame's own length, as candump -l writes it, so
// canplayer and the simulator replay frames of the length that arrived.
TEST(LogLineTest, WritesTheFramesOwnDataLength) {
    const unsigned char data[8] = {0xF0, 0xFF, 0x10, 0x00, 0xAB, 0xCD, 0xEF, 0x01};
    const struct {
        int32_t id;
        unsigned length;
        const char* line;
    } rows[] = {
        {0x1A5, 8, "(1700000000.000123) vcan0 1A5#F0FF1000ABCDEF01\n"},
        {0x200, 3, "(1700000000.000123) vcan0 200#F0FF10\n"},
        {0x7FF, 0, "(1700000000.000123) vcan0 7FF#\n"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(candumpLine(1'700'000'000'000'123, "vcan0", row.id, row.length, data), row.line);
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Each row names its frame's identifier: a knob turned from 0x200 to 0x201
// between two rows shows as a change of device, not a jump of one signal.
TEST(TrendCsvTest, KnownSeriesGivesKnownRows) {
    const std::string path = ::testing::TempDir() + "trend.csv";
    TrendSamples held(scaleChannelWord, 8);
    appendAt(held, 5'000'000, 0x000, 0xFFF);
    appendAt(held, 5'000'125, 0xFFF, 0x001, 0x200);
    appendAt(held, 6'500'000, 0x800, 0x7FF, 0x201);
    std::vector<TrendSample> series;
    for (size_t i = 0; i < held.size(); ++i) series.push_back(held.at(i));
    std::string error;
    ASSERT_TRUE(writeTrendCsv(path, series, scaleChannelWord, &error)) << error;
    EXPECT_EQ(readAll(path),
              "time (s),identifier (hex),ch1 (% of full scale),ch2 (% of full scale),word1 (raw),word2 (raw)\n"
              "0.000000,0x200,-100.00,100.00,0,65520\n"
              "0.000125,0x200,100.00,-99.95,65520,16\n"
              "1.500000,0x201,0.02,-0.02,32768,32752\n");
}

// Records `frames` frames onto `path` in a child process whose files may
// grow to `sizeLimit` bytes (0: no limit); the child exits 0 when the
// recording stopped by itself with `failure` as its reason.
int recordInChild(const std::string& path, rlim_t sizeLimit, int frames, const std::string& failure) {
    const pid_t child = fork();
    if (child == 0) {
        if (sizeLimit) {
            std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
            const rlimit limit{sizeLimit, sizeLimit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
        }
        TapSource source;
        Recorder recorder(source);
        std::string error;
        if (!recorder.start(path, {"vcan0"}, 1'700'000'000'000'000, &error)) _exit(4);
        for (int i = 0; i < frames; ++i) {
            source.tap.offer(frameAt(i * 125, i % 4096));
            if (i % 100 == 99) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        for (int wait = 0; wait < 200 && recorder.recording(); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const bool stoppedByItself = !recorder.recording() && recorder.failure() == failure;
        if (!stoppedByItself) std::fprintf(stderr, "recording ended with \"%s\"\n", recorder.failure().c_str());
        recorder.stop();
        if (!stoppedByItself) _exit(5);
        // The count the message gives is the count in the file (/dev/full
        // reads as endless zeros and keeps nothing).
        if (path == "/dev/full") _exit(recorder.lines() == 0 ? 0 : 6);
        std::ifstream in(path);
        uint64_t inFile = 0;
        for (std::string line; std::getline(in, line);) inFile += line.rfind("# ", 0) != 0;
        if (inFile != recorder.lines()) {
            std::fprintf(stderr, "%llu lines counted, %llu in the file\n",
                         static_cast<unsigned long long>(recorder.lines()), static_cast<unsigned long long>(inFile));
            _exit(6);
        }
        _exit(0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

// The file holds at most `limit` bytes, in whole lines, each the frame
// recorded in its place.
void expectWholeRecordedLines(const std::string& path, size_t limit) {
    const std::string text = readAll(path);
    ASSERT_FALSE(text.empty());
    EXPECT_LE(text.size(), limit);
    EXPECT_EQ(text.back(), '\n');
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        char expected[64];
        const unsigned w = static_cast<unsigned>(count % 4096) << 4;
        std::snprintf(expected, sizeof expected, "(1700000000.%06d) vcan0 200#%02X%02X000000000000",
                      count * 125, w & 0xFF, w >> 8);
        ASSERT_EQ(line, expected) << "line " << count + 1;
    }
    EXPECT_GT(count, 10);
}

// A full disk (/dev/full refuses every write), a file that cannot grow past
// 1,000 bytes (the write breaks off inside a line) and, where a small tmpfs
// is mounted for it (KOLVAR_SMALL_FS, inside user-mode Linux), a real file
// system that fills up mid-way: the recording stops by itself with the
// reason, and the file holds whole lines only.
TEST(RecorderTest, FailingFileStopsTheRecordingAndKeepsWholeLines) {
    EXPECT_EQ(recordInChild("/dev/full", 0, 500, "No space left on device"), 0);

    const std::string limited = ::testing::TempDir() + "limited.log";
    ASSERT_EQ(recordInChild(limited, 1000, 2000, "File too large"), 0);
    expectWholeRecordedLines(limited, 1000);

    const char* smallFs = std::getenv("KOLVAR_SMALL_FS");
    if (!smallFs) return;
    // 16 kB of tmpfs; 4,000 lines of 46 bytes need over 180 kB.
    const std::string full = std::string(smallFs) + "/full.log";
    ASSERT_EQ(recordInChild(full, 0, 4000, "No space left on device"), 0);
    expectWholeRecordedLines(full, 16 * 1024);
}

// Frames offered faster than the writer takes them: the full hand-over
// refuses some, and the file says where and how many ("# lost N frames",
// a line can-utils' readers pass over); the frames in it and those marked
// lost add up to what was offered, and the counts match the file.
TEST(RecorderTest, FramesRefusedByTheHandOverAreCountedAndMarkedInTheLog) {
    const std::string path = ::testing::TempDir() + "refused.log";
    TapSource source;
    Recorder recorder(source);
    std::string error;
    ASSERT_TRUE(recorder.start(path, {"vcan0"}, 1'700'000'000'000'000, &error)) << error;
    constexpr int kFrames = 4 * static_cast<int>(FrameTap::kCapacity);
    for (int i = 0; i < kFrames; ++i) source.tap.offer(frameAt(i, i % 4096));
    recorder.stop();
    ASSERT_TRUE(recorder.failure().empty()) << recorder.failure();

    std::ifstream in(path);
    uint64_t frames = 0, marked = 0, marks = 0;
    for (std::string line; std::getline(in, line);) {
        unsigned long long lost = 0;
        if (std::sscanf(line.c_str(), "# lost %llu frames", &lost) == 1) {
            marked += lost;
            ++marks;
            ASSERT_GT(frames, 0u) << "a mark before the frames it follows";
        } else {
            ASSERT_EQ(line.rfind("(1700000000.", 0), 0u) << line;
            ++frames;
        }
    }
    EXPECT_GT(marks, 0u);
    EXPECT_EQ(frames, recorder.lines());
    EXPECT_EQ(marked, recorder.lost());
    EXPECT_EQ(frames + marked, static_cast<uint64_t>(kFrames));
}

}  // namespace
