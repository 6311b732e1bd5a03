// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main panel's contract, shared by the application shell (which loads the
// panel) and the CAN code (whose callbacks and worker address its controls):
// the control constants and the handle of the loaded panel. These values are
// fixed: the panel definition (app/KolvarCanView.ui) carries the same numbers,
// and every module addresses controls only through them.

#include <atomic>

constexpr int PANEL = 1;

constexpr int PLOT_CHANNEL = 2;       // ring, callback plotChannel
constexpr int CAN_HARDWARE = 3;       // ring, callback canHardware
constexpr int CAN_CHANNEL = 4;        // ring, callback canChannel
constexpr int BUS_BUTTON = 5;         // toggle button, callback bus_on_off
constexpr int NUMERICMETER2 = 6;      // meter "Channel 2"
constexpr int NUMERICMETER1 = 7;      // meter "Channel 1"
constexpr int CAN_BITRATE = 8;        // ring, callback canBitrate
constexpr int NUMERICKNOB_ID0 = 9;    // knob, callback PRE_ID0
constexpr int NUMERICKNOB_ID1 = 10;   // knob, callback PRE_ID1
constexpr int RADIOBUTTON_PRE2 = 11;  // radio button, callback PRE2
constexpr int RADIOBUTTON_PRE1 = 12;  // radio button, callback PRE1
constexpr int RADIOBUTTON_PRE0 = 13;  // radio button, callback PRE0
constexpr int TEXTMSG = 14;
constexpr int DECORATION = 15;
constexpr int NUMERIC_CH2_RAW = 16;
constexpr int NUMERIC_CH1_RAW = 17;
constexpr int NUMERIC_DEC_2 = 18;     // identifier, hexadecimal
constexpr int NUMERIC_DEC = 19;       // identifier, decimal
constexpr int TEXTMSG_2 = 20;
constexpr int BUS_STATUS_LINE = 21;   // text message: bus state, rates, why values are stale
constexpr int TREND_BUTTON = 22;     // command button "Trend" (Ctrl+T), callback trendWindow

// Handle of the loaded main panel. Written once at start-up on the UI thread,
// read by the receive worker; atomic so that the read is race-free.
inline std::atomic<int> panelHandle{0};
