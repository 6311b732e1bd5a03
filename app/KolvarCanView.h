#pragma once
// The main panel's constants and the application shell's shared state.
// These values are fixed: the panel definition (KolvarCanView.ui) carries the
// same numbers, and every module addresses controls only through them.

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

// Handle of the loaded main panel. Written once at start-up on the UI thread,
// read by the receive worker; atomic so that the read is race-free.
extern std::atomic<int> panelHandle;
// 1 in the service mode (command line "Lantern"), else 0. [main-thread]
extern int debug;
// Last committed value of PLOT_CHANNEL; nonzero shows channel 2. [main-thread]
extern int plot_channel;

namespace app {
// The program: starts the run-time, loads and shows the panel, runs the event
// loop until the panel is closed. argv[1] == "Lantern" (and nothing more)
// selects the service mode. Returns the exit status (0).
int main(int argc, char* argv[]);
}  // namespace app

// Panel callback of PANEL: focus shows channel 1's raw word in the service
// mode; close stops a running connection and ends the event loop.
int panelCB(int panel, int event, void* callbackData, int eventData1, int eventData2);
// PLOT_CHANNEL: shows or hides the second meter (and its raw word in the
// service mode).
int plotChannel(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);
