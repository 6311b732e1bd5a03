// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bus status line's words and the stale mark of the meters, decided from
// what the CAN layer and the receive worker report. Plain C++, no Qt, no UI.

#include <cstdint>
#include <string>

#include "can/accepted_frames.h"

// A frame of the chosen identifier older than this no longer counts as live.
constexpr int64_t kStaleAfterMs = 1000;
// Ages below this are said in tenths of a second ("4.2 s"), older ones in
// whole seconds ("42 s"): only a young age needs the line redrawn often.
constexpr int64_t kAgeInTenthsBelowMs = 10000;

struct BusStatusInputs {
    bool on = false;            // a connection runs
    std::string channelName;    // the layer's name: "vcan0", "virtual 0"
    long chosenBitRate = 0;     // bits per second chosen on CAN_BITRATE
    // The rest only while on.
    bool statusKnown = false;   // the layer answered canGetBusStatus
    int busState = 0;           // canBusState
    long bitRate = 0;           // what the interface runs at; 0 where none exists
    uint64_t errorFrames = 0;
    double busFramesPerSecond = 0;
    double idFramesPerSecond = 0;
    int32_t chosenId = 0;
    AcceptedFrame last;         // the worker's last accepted frame on this connection
    int64_t nowMs = 0;          // steadyMillis()
};

struct BusStatusView {
    std::string text;           // the line's lines, separated by '\n'
    bool channel1Stale = true;  // draw NUMERICMETER1 and NUMERIC_CH1_RAW greyed
    bool channel2Stale = true;  // draw NUMERICMETER2 and NUMERIC_CH2_RAW greyed
};

// [any-thread] Example: on vcan0 at 500 kbit/s chosen, error active, last
// frame of 0x1A5 4.2 s ago ->
//   "vcan0 · bit rate —\nerror active · bus 0 frames/s · 0x1A5 0 frames/s\n"
//   "error frames 0 · last 0x1A5 4.2 s ago\nno frame of 0x1A5 for 4.2 s", both stale.
BusStatusView describeBusStatus(const BusStatusInputs& in);

// [any-thread] True when a frame of `id` with `dlc` data bytes arriving at
// `atMs`, after `before`, changes which values are live: the first of its
// identifier, the first after a stale gap, or one that carries a channel
// word more or fewer than the frame before.
bool freshnessChanges(const AcceptedFrame& before, int32_t id, unsigned dlc, int64_t atMs);

// [any-thread] "500 kbit/s", "1 Mbit/s", "33.3 kbit/s".
std::string bitRateText(long bitsPerSecond);
