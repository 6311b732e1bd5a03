// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding of the two channel words and their scaling onto -100..+100, over
// the edges of the 12-bit reading and for both byte orders.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "can/frame_format.h"

namespace {

using Buffer = std::array<unsigned char, 8>;

// Places `word` at `offset` in the order the byte order asks for.
void putWord(Buffer& buffer, int offset, int word, int32_t byteOrder) {
    const unsigned char low = static_cast<unsigned char>(word & 0xFF);
    const unsigned char high = static_cast<unsigned char>((word >> 8) & 0xFF);
    buffer[offset] = byteOrder == 0 ? low : high;
    buffer[offset + 1] = byteOrder == 0 ? high : low;
}

struct ScaleRow {
    const char* name;
    int word;
    double value;
};

// Values worked out by hand from r = word >> 4, 200 r / 4095 - 100.
const ScaleRow kScaleRows[] = {
    {"zero", 0x0000, -100.0},
    {"lowNibbleIgnored", 0x000F, -100.0},
    {"oneStep", 0x0010, 200.0 / 4095.0 - 100.0},
    {"justBelowMiddle", 0x7FF0, 200.0 * 2047 / 4095.0 - 100.0},
    {"justAboveMiddle", 0x8000, 200.0 * 2048 / 4095.0 - 100.0},
    {"fullScale", 0xFFF0, 100.0},
    {"fullScaleLowNibble", 0xFFFF, 100.0},
};

TEST(FrameScaling, WordsMapOntoTheSpanAtTheEdges) {
    for (const ScaleRow& row : kScaleRows) {
        SCOPED_TRACE(row.name);
        EXPECT_DOUBLE_EQ(scaleChannelWord(row.word), row.value);
    }
}

TEST(FrameScaling, EndsAreExactAndMiddleStraddlesZero) {
    // The ends are exact values, not approximations: the meter must show
    // exactly 100.00 and -100.00.
    EXPECT_EQ(scaleChannelWord(0xFFF0), 100.0);
    EXPECT_EQ(scaleChannelWord(0x0000), -100.0);
    EXPECT_NEAR(scaleChannelWord(0x7FF0), -0.0244, 1e-4);
    EXPECT_NEAR(scaleChannelWord(0x8000), 0.0244, 1e-4);
    EXPECT_NEAR(scaleChannelWord(0x0010), -99.951, 1e-3);
}

TEST(FrameScaling, IsMonotonicOverEveryReading) {
    double previous = scaleChannelWord(0);
    for (int reading = 1; reading <= 4095; ++reading) {
        const double value = scaleChannelWord(reading << 4);
        ASSERT_GT(value, previous) << "reading " << reading;
        ASSERT_LE(value, 100.0);
        previous = value;
    }
}

TEST(FrameDecoding, BuiltByteOrderIsLowByteFirst) { EXPECT_EQ(byte_order, 0); }

TEST(FrameDecoding, RoadFrameGivesFullScaleAndOneStep) {
    const Buffer buffer = {0xF0, 0xFF, 0x10, 0x00, 0, 0, 0, 0};
    const ChannelWords words = decodeChannelWords(buffer.data(), 0);
    EXPECT_EQ(words.word1, 0xFFF0);
    EXPECT_EQ(words.word2, 0x0010);
}

TEST(FrameDecoding, ByteOrderSelectsWhichByteIsHigh) {
    const Buffer buffer = {0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0};
    const ChannelWords lowFirst = decodeChannelWords(buffer.data(), 0);
    EXPECT_EQ(lowFirst.word1, 0x3412);
    EXPECT_EQ(lowFirst.word2, 0x7856);
    // Any nonzero value means high byte first, not just 1.
    for (int32_t highFirstOrder : {1, -1, 7}) {
        const ChannelWords highFirst = decodeChannelWords(buffer.data(), highFirstOrder);
        EXPECT_EQ(highFirst.word1, 0x1234) << highFirstOrder;
        EXPECT_EQ(highFirst.word2, 0x5678) << highFirstOrder;
    }
}

TEST(FrameDecoding, EdgeWordsRoundTripInBothOrders) {
    const int edges[] = {0x0000, 0x000F, 0x7FF0, 0x8000, 0xFFF0, 0xFFFF};
    for (int32_t order : {0, 1}) {
        for (int word1 : edges) {
            for (int word2 : edges) {
                Buffer buffer{};
                putWord(buffer, 0, word1, order);
                putWord(buffer, 2, word2, order);
                const ChannelWords words = decodeChannelWords(buffer.data(), order);
                ASSERT_EQ(words.word1, word1) << "order " << order;
                ASSERT_EQ(words.word2, word2) << "order " << order;
            }
        }
    }
}

TEST(FrameDecoding, BytesFourToSevenNeverMatter) {
    Buffer buffer = {0x30, 0x80, 0xF0, 0x0F, 0, 0, 0, 0};
    const ChannelWords reference = decodeChannelWords(buffer.data(), 0);
    for (int position = 4; position < 8; ++position) {
        for (int fill : {0x01, 0x80, 0xFF}) {
            Buffer changed = buffer;
            changed[position] = static_cast<unsigned char>(fill);
            for (int32_t order : {0, 1}) {
                const ChannelWords expected = decodeChannelWords(buffer.data(), order);
                const ChannelWords words = decodeChannelWords(changed.data(), order);
                EXPECT_EQ(words.word1, expected.word1);
                EXPECT_EQ(words.word2, expected.word2);
            }
        }
    }
    EXPECT_EQ(reference.word1, 0x8030);
    EXPECT_EQ(reference.word2, 0x0FF0);
}

}  // namespace
