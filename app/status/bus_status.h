// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bus status line's words and the stale mark of the meters, decided from
// what the CAN layer and the receive worker report. Plain C++, no Qt, no UI.

#include <cstdint>
#include <string>

#include "can/accepted_frames.h"

// Ages below this are said in tenths of a second ("4.2 s"), older ones in
// whole seconds ("42 s"): only a young age needs the line redrawn often.
constexpr int64_t kAgeInTenthsBelowMs = 10000;

struct BusStatusInputs {
    bool on = false;            // a connection runs
    // Vector chosen: the bus button opens no channel in this build.
    bool vectorChosen = false;
    bool buttonOn = false;      // BUS_BUTTON shows ON BUS
    // The layer's name of the open channel while on, else of the channel
    // the next switch-on opens: "vcan0", "virtual 0".
    std::string channelName;
    // While on: the channel the next switch-on opens when another is chosen.
    std::string nextChannelName;
    // A connection has run since the viewer started, and whether a frame
    // has ever been shown: until then the displays show no value.
    bool everOn = false;
    bool frameEverShown = false;
    long chosenBitRate = 0;     // bits per second chosen on CAN_BITRATE
    // The rest only while on.
    bool statusKnown = false;   // the layer answered canGetBusStatus
    int busState = 0;           // canBusState
    long bitRate = 0;           // what the interface runs at; 0 where none exists
    int setupDenied = 0;        // canSETUP_ bits: what switching on was not permitted to do
    uint64_t errorFrames = 0;
    uint64_t lostFrames = 0;    // lost since switch-on (can/lost_frames.h)
    uint64_t sendErrors = 0;    // frames the interface refused to send (canBusStatus)
    uint64_t shortReads = 0;    // reads that brought no whole frame (canBusStatus)
    double busFramesPerSecond = 0;
    double idFramesPerSecond = 0;
    int32_t chosenId = 0;
    AcceptedFrame last;         // the worker's last accepted frame on this connection
    int64_t nowMs = 0;          // kolvar::steadyMillis()
};

struct BusStatusView {
    std::string text;           // the line's lines, separated by '\n'
    bool channel1Stale = true;  // draw NUMERICMETER1 and NUMERIC_CH1_RAW greyed
    bool channel2Stale = true;  // draw NUMERICMETER2 and NUMERIC_CH2_RAW greyed
    // Show "—" and no needle on the four displays: no frame has ever been
    // shown, only the empty buffer.
    bool noValue = false;
};

// [any-thread] Example: on vcan0 at 500 kbit/s chosen, error active, last
// frame of 0x1A5 4.2 s ago ->
//   "vcan0 · bit rate —\nerror active · bus 0 frames/s · 0x1A5 0 frames/s\n"
//   "error frames 0 · last 0x1A5 4.2 s ago\nno frame of 0x1A5 for 4.2 s", both stale.
// With 19445 frames lost: "error frames 0 · lost 19,445 · last 0x1A5 ...";
// with send errors and short reads as well:
//   "error frames 0 · lost 19,445 · send errors 1,234 · short reads 3 · last 0x1A5 ...".
// With vcan1 chosen for next time: "vcan0 · bit rate — · next: vcan1\n...".
// Where switching on was not permitted to set the chosen rate or restart a
// bus-off controller and that still shows, a last line gives the commands:
//   "can0 · 500 kbit/s (chosen 1 Mbit/s not applied: only root may set it)\n...\n"
//   "to run at 1 Mbit/s, as root: ip link set can0 down; "
//   "ip link set can0 type can bitrate 1000000; ip link set can0 up"
BusStatusView describeBusStatus(const BusStatusInputs& in);

// [any-thread] "500 kbit/s", "1 Mbit/s", "33.3 kbit/s".
std::string bitRateText(long bitsPerSecond);
