// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs the whole program (app::main) inside the test process, offscreen,
// with a private virtual CAN bus, and lets a test act while its event loop
// runs.

#include <functional>
#include <string>
#include <vector>

struct ViewerRun {
    int exitStatus = -1;
    bool closedByTest = false;  // false: the watchdog had to end the loop
};

// Starts app::main with the program name and `arguments`. Once the panel is
// shown and active, calls `whileRunning(panel)` on the UI thread, then asks
// the panel to close as the window system does. debug is reset first.
ViewerRun runViewer(const std::vector<std::string>& arguments,
                    const std::function<void(int panel)>& whileRunning);
