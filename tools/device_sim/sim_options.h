// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Command line of kolvar-device-sim. Plain C++, no Qt.

#include "tools/device_sim/sim_frame.h"
#include "tools/device_sim/waveform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kolvar::sim {

struct SimOptions {
    // "vcan0" style SocketCAN name, or "virtual 0" / "virtual 1" as the
    // layer names the virtual bus channels.
    std::string channelName = "virtual 0";
    uint32_t id = 0x200;
    double rate = 100.0;  // frames per second
    Waveform channel1{Waveform::Shape::Sine, 100.0, 2.0, 0.0};
    Waveform channel2{Waveform::Shape::Ramp, 100.0, 2.0, 0.0};
    int byteOrder = 0;
    std::optional<uint64_t> count;    // stop after this many frames
    std::optional<double> duration;   // stop after this many seconds
    std::string replayFile;           // play a candump -l log instead
    std::vector<SimFrame> sendFrames; // send these once, then exit
    bool help = false;
};

// Parses argv[1..]. On failure returns nullopt and sets error to one line.
// Options take their value as "--opt value" or "--opt=value".
std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& args, std::string& error);

// The --help text.
std::string simUsage();

}  // namespace kolvar::sim
