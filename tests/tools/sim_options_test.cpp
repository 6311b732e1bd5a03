// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator's command line, parsed in process.
#include "tools/device_sim/sim_options.h"

#include <gtest/gtest.h>

using namespace kolvar::sim;

namespace {

std::optional<SimOptions> parse(std::vector<std::string> args, std::string* errorOut = nullptr) {
    std::string error;
    auto options = parseSimOptions(args, error);
    if (errorOut) *errorOut = error;
    return options;
}

}  // namespace

TEST(SimOptions, DefaultsPlayTheDeviceOnVirtualChannelZero) {
    auto options = parse({});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->channelName, "virtual 0");
    EXPECT_EQ(options->id, 0x200u);
    EXPECT_DOUBLE_EQ(options->rate, 100.0);
    EXPECT_EQ(options->byteOrder, 0);
    EXPECT_FALSE(options->count);
    EXPECT_FALSE(options->duration);
}

TEST(SimOptions, ValuesInBothSpellings) {
    auto options = parse({"--channel", "vcan0", "--id=0x1A5", "--rate", "250", "--ch1=square:amp=20",
                          "--ch2", "constant:amp=-5", "--byte-order", "1", "--count=10", "--duration", "2.5"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->channelName, "vcan0");
    EXPECT_EQ(options->id, 0x1A5u);
    EXPECT_DOUBLE_EQ(options->rate, 250.0);
    EXPECT_EQ(options->channel1.shape, Waveform::Shape::Square);
    EXPECT_DOUBLE_EQ(options->channel2.valueAt(0), -5.0);
    EXPECT_EQ(options->byteOrder, 1);
    EXPECT_EQ(options->count, 10u);
    EXPECT_EQ(options->duration, 2.5);

    options = parse({"--channel", "virtual:1", "--id", "421"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->channelName, "virtual 1");
    EXPECT_EQ(options->id, 421u);

    // Decimal unless written 0x: a leading zero is not octal.
    options = parse({"--id", "010", "--count", "010"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->id, 10u);
    EXPECT_EQ(options->count, 10u);

    options = parse({"--send", "1A5#F0FF", "--send=100#"});
    ASSERT_TRUE(options);
    ASSERT_EQ(options->sendFrames.size(), 2u);
    EXPECT_EQ(options->sendFrames[0].id, 0x1A5u);
    EXPECT_EQ(options->sendFrames[1].id, 0x100u);
}

TEST(SimOptions, BadOptionsAndValuesNameTheProblem) {
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},           {"--rate"},           {"--rate", "0"},          {"--rate", "fast"},
        {"--id", "0x800"},     {"--id", "-1"},       {"--byte-order", "2"},    {"--count", "0"},
        {"--duration", "-1"},  {"--ch1", "saw"},     {"--channel", "virtual:2"}, {"--send", "1A5"},
        {"--replay", "a.log", "--send", "1A5#00"}, {"--send", "1A5#00", "--rate", "10"}, {"extra"},
        {"--rate", "1e-10"},   {"--rate", "inf"},    {"--id", "0x"},           {"--count", " 5"},
        {"--duration", "0x1p3"}};
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(parse(args, &error)) << args[0];
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
    }
    // A count past 2^64 - 1 is a whole number, only too large.
    std::string error;
    EXPECT_FALSE(parse({"--count", "99999999999999999999"}, &error));
    EXPECT_EQ(error, "bad value '99999999999999999999' for --count: too large, at most 18446744073709551615");
}

TEST(SimOptions, HelpDescribesEveryOption) {
    auto options = parse({"--help"});
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->help);
    const std::string usage = simUsage();
    for (const char* option : {"--channel", "--id", "--rate", "--ch1", "--ch2", "--byte-order", "--count",
                               "--duration", "--replay", "--send"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}
