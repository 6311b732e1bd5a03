// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application shell: entry, start-up and shutdown, service mode, and the
// callbacks of the panel itself and of PLOT_CHANNEL.

#include "panel/panel_contract.h"

// 1 in the service mode (command line "Lantern"), else 0. [main-thread]
extern int debug;
// Last committed value of PLOT_CHANNEL; nonzero shows channel 2. [main-thread]
extern int plot_channel;

namespace app {
// The program: starts the run-time, loads the panel, starts the bus status
// line, shows the panel and runs the event loop until the panel is closed,
// then runs the shutdown's steps (app/shutdown.h), which join every thread
// it started.
// argv[1] == "Lantern" (and nothing more) selects the service mode. Returns
// the exit status: 0 after the event loop ended, 1 when a step of start-up
// failed (said on standard error).
int main(int argc, char* argv[]);
}  // namespace app

// Panel callback of PANEL: focus shows channel 1's raw word in the service
// mode; close stops a running connection, closes the trend window and ends
// the event loop.
int panelCB(int panel, int event, void* callbackData, int eventData1, int eventData2);
// PLOT_CHANNEL: shows or hides the second meter (and its raw word in the
// service mode).
int plotChannel(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);
