// SPDX-License-Identifier: GPL-3.0-or-later
// Frame layout, waveforms and the cansend/candump text forms.
#include "tools/device_sim/sim_frame.h"
#include "tools/device_sim/waveform.h"

#include <gtest/gtest.h>

#include <array>

using namespace kolvar::sim;

namespace {

std::array<uint8_t, 8> encode(double v1, double v2, int byteOrder) {
    std::array<uint8_t, 8> out;
    out.fill(0xEE);
    encodeMeasurement(v1, v2, byteOrder, out.data());
    return out;
}

}  // namespace

TEST(SimFrame, WordsAtTheEdgesOfTheSpan) {
    struct Row {
        double value;
        uint16_t reading;
        uint16_t word;
    } rows[] = {{-100.0, 0, 0x0000},   {100.0, 4095, 0xFFF0}, {0.0, 2048, 0x8000},
                {-0.0244, 2047, 0x7FF0}, {-150.0, 0, 0x0000}, {150.0, 4095, 0xFFF0},
                {-99.95, 1, 0x0010}};
    for (const Row& row : rows) {
        EXPECT_EQ(readingOf(row.value), row.reading) << row.value;
        EXPECT_EQ(wordOf(row.value), row.word) << row.value;
    }
}

TEST(SimFrame, ByteOrdersAndUnusedBytes) {
    using Bytes = std::array<uint8_t, 8>;
    EXPECT_EQ(encode(100.0, -99.95, 0), (Bytes{0xF0, 0xFF, 0x10, 0x00, 0, 0, 0, 0}));
    EXPECT_EQ(encode(100.0, -99.95, 1), (Bytes{0xFF, 0xF0, 0x00, 0x10, 0, 0, 0, 0}));
    EXPECT_EQ(encode(0.0, -100.0, 0), (Bytes{0x00, 0x80, 0x00, 0x00, 0, 0, 0, 0}));
    EXPECT_EQ(encode(0.0, 0.0, 7), (Bytes{0x80, 0x00, 0x80, 0x00, 0, 0, 0, 0}))
        << "any nonzero byte order is high byte first";
}

TEST(SimFrame, CanSendForms) {
    auto frame = parseCanSend("1A5#F0FF100000000000");
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->id, 0x1A5u);
    EXPECT_FALSE(frame->extended);
    EXPECT_EQ(frame->dlc, 8);
    EXPECT_EQ(frame->data[0], 0xF0);
    EXPECT_EQ(frame->data[2], 0x10);

    frame = parseCanSend("12345678#01.02");
    ASSERT_TRUE(frame);
    EXPECT_TRUE(frame->extended);
    EXPECT_EQ(frame->id, 0x12345678u);
    EXPECT_EQ(frame->dlc, 2);

    frame = parseCanSend("123#R");
    ASSERT_TRUE(frame);
    EXPECT_TRUE(frame->remote);
    EXPECT_EQ(frame->dlc, 0);
    frame = parseCanSend("123#R3");
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->dlc, 3);

    frame = parseCanSend("7FF#");
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->dlc, 0);

    for (const char* bad : {"", "1A5", "1A#00", "800#00", "1A5#0", "1A5#GG", "1A5#000000000000000000",
                            "3FFFFFFF#00", "123#R9", "1A5F0FF"})
        EXPECT_FALSE(parseCanSend(bad)) << bad;
}

TEST(SimFrame, CandumpLogLines) {
    auto line = parseCandumpLine("(1436509052.249713) vcan0 044#2A366C2BBA");
    ASSERT_TRUE(line);
    EXPECT_DOUBLE_EQ(line->timestamp, 1436509052.249713);
    EXPECT_EQ(line->interface, "vcan0");
    EXPECT_EQ(line->frame.id, 0x44u);
    EXPECT_EQ(line->frame.dlc, 5);
    EXPECT_TRUE(parseCandumpLine("(0.5) can1 12345678#R T"));
    for (const char* bad : {"", "vcan0 044#00", "(abc) vcan0 044#00", "(1.0) vcan0", "(1.0) vcan0 044-00"})
        EXPECT_FALSE(parseCandumpLine(bad)) << bad;
}

TEST(Waveform, ShapesOverOnePeriod) {
    std::string error;
    auto sine = parseWaveform("sine:amp=50:period=4", error);
    ASSERT_TRUE(sine);
    EXPECT_NEAR(sine->valueAt(0.0), 0.0, 1e-9);
    EXPECT_NEAR(sine->valueAt(1.0), 50.0, 1e-9);
    EXPECT_NEAR(sine->valueAt(3.0), -50.0, 1e-9);
    EXPECT_NEAR(sine->valueAt(5.0), 50.0, 1e-9) << "periodic";

    auto ramp = parseWaveform("ramp:period=2", error);
    ASSERT_TRUE(ramp);
    EXPECT_NEAR(ramp->valueAt(0.0), -100.0, 1e-9);
    EXPECT_NEAR(ramp->valueAt(1.0), 0.0, 1e-9);
    EXPECT_NEAR(ramp->valueAt(1.999), 99.9, 1e-6);

    auto square = parseWaveform("square:amp=30:offset=10:period=1", error);
    ASSERT_TRUE(square);
    EXPECT_DOUBLE_EQ(square->valueAt(0.25), 40.0);
    EXPECT_DOUBLE_EQ(square->valueAt(0.75), -20.0);

    auto constant = parseWaveform("constant:amp=-20", error);
    ASSERT_TRUE(constant);
    EXPECT_DOUBLE_EQ(constant->valueAt(123.0), -20.0);

    auto clipped = parseWaveform("constant:amp=100:offset=50", error);
    ASSERT_TRUE(clipped);
    EXPECT_DOUBLE_EQ(clipped->valueAt(0.0), 100.0) << "values stay within the span";
}

TEST(Waveform, BadTextsAreRefusedWithAReason) {
    for (const char* bad : {"", "triangle", "sine:amp", "sine:amp=abc", "sine:amp=101", "ramp:period=0",
                            "ramp:period=-1", "sine:freq=2", "square:amp=50:"}) {
        std::string error;
        EXPECT_FALSE(parseWaveform(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}
