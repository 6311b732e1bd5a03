// SPDX-License-Identifier: GPL-3.0-or-later
// The application shell: start-up (the run-time, the panel, the bus status
// line), service mode, the panel's own events, the second channel's
// visibility and the shutdown.
#include "app/KolvarCanView.h"

#include <cstdio>
#include <cstring>

#include "app/callback_names.h"
#include "app/shutdown.h"
#include "app/trend/trend_entry.h"
#include "app/window_icon.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "can/hardware.h"
#include "app/status/status_line.h"
#include "platform/userint.h"

int debug = 0;
int plot_channel = 0;

namespace app {

int main(int argc, char* argv[]) {
    // Each failed step skips to the end, which shuts down (discarding the
    // panel is harmless when none was loaded) and returns 1: a viewer that
    // never showed its panel has failed, and a script must not take it for a
    // clean run. The run-time, the panel loader and the status line's start
    // say on standard error what failed.
    int status = 1;
    if (InitCVIRTE(nullptr, argv, &kolvarCanViewNames) != 0) {
        setViewerWindowIcon();
        panelHandle.store(LoadPanel(0, "KolvarCanView.uir", PANEL));
        if (panelHandle.load() >= 0) {
            if (argc == 2 && std::strcmp(argv[1], "Lantern") == 0) debug = 1;
            CanChangeHardware();
            calcCanID();
            const bool lineRuns = StartBusStatusLine();
            const int shown = lineRuns ? DisplayPanel(panelHandle.load()) : -1;
            if (!lineRuns) {
                std::fprintf(stderr, "bus status line: cannot start its timer\n");
            } else if (shown >= 0) {
                RunUserInterface();
                status = 0;
            } else {
                std::fprintf(stderr, "user interface: cannot show the panel: %s\n", GetUILErrorString(shown));
            }
        }
    }
    runShutdown(viewerShutdownSteps());
    return status;
}

}  // namespace app

int panelCB(int panel, int event, void*, int, int) {
    switch (event) {
    case EVENT_GOT_FOCUS:
        if (debug) SetCtrlAttribute(panel, NUMERIC_CH1_RAW, ATTR_VISIBLE, 1);
        break;
    case EVENT_CLOSE:
        CanCloseTimeStop();
        // After the worker has stopped: the trend window ends any recording
        // with the last frames the worker handed over.
        closeTrendWindow();
        QuitUserInterface(0);
        break;
    default:
        break;
    }
    return 0;
}

int plotChannel(int panel, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    if (GetCtrlVal(panel, control, &plot_channel) < 0) return 0;
    SetCtrlAttribute(panel, NUMERICMETER2, ATTR_VISIBLE, plot_channel);
    if (debug) SetCtrlAttribute(panel, NUMERIC_CH2_RAW, ATTR_VISIBLE, plot_channel);
    return 0;
}
