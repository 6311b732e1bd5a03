// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/bus.h"

#include <cstdio>
#include <cstdlib>

#include "panel/panel_contract.h"
#include "can/accepted_frames.h"
#include "can/hardware.h"
#include "can/lost_frames.h"
#include "can/measurement_events.h"
#include "can/read_thread.h"
#include "platform/canlib.h"
#include "platform/userint.h"
#include "platform/vxlapi.h"

int32_t can_channel = 0;
int32_t bitrate = canBITRATE_500K;
int32_t onoff = 0;
std::atomic<int32_t> handle1{0};
std::atomic<int32_t> threadrun{0};
int32_t threadFunctionID = 0;

namespace {
constexpr int kErrorTextSize = 50;

// True from a successful start to the matching stop. The bus button may be
// switched under one interface and back under the other, so its value alone
// does not say whether a channel is open and a worker runs.
bool connectionRuns = false;
// The channel the running connection opened, set before its worker starts;
// can_channel may since name another for the next switch-on.
std::atomic<int32_t> connectedChannel{-1};

char errMsg[kErrorTextSize];

// The line KVCanCheck reports, without its newline.
constexpr int kFailureLineSize = 128;
void formatFailure(const char* id, int32_t stat, char (&line)[kFailureLineSize]) {
    errMsg[0] = '\0';
    if (canGetErrorText(stat, errMsg, sizeof errMsg) < 0) errMsg[0] = '\0';
    std::snprintf(line, sizeof line, "%s: failed, stat=%d (%s)", id, static_cast<int>(stat), errMsg);
}

// Ends the process after an opening failure, with the failure line on
// standard output for scripts and, on a display, in a box for a user who
// started the viewer from the desktop and sees no output; the process ends
// when the box is closed. No worker runs at this point (a start never
// happens while a connection runs); unloading the CAN library stops its I/O
// thread, so nothing is left running when the process exits.
[[noreturn]] void exitAfterOpenFailure(int32_t stat) {
    KVCanCheck("canOpenChannel", stat);
    char line[kFailureLineSize];
    formatFailure("canOpenChannel", stat, line);
    MessagePopup("Kolvar CAN Viewer: no connection", line);
    canUnloadLibrary();
    xlCloseDriver();
    std::exit(1);
}

void showBusOff() {
    onoff = 0;
    SetCtrlVal(panelHandle.load(), BUS_BUTTON, 0);
}

void startConnection() {
    acceptedFrames.reset();  // nothing of the identifier yet on this connection
    handle1.store(KVCanInitCtrl(can_channel));
    LostFramesSwitchedOn();
    connectedChannel.store(can_channel);
    threadrun.store(1);
    int functionId = 0;
    if (CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, KVCanReadThread, nullptr,
                                      &functionId) < 0) {
        // Without a worker the connection would show nothing: take it down
        // again and let the button say so.
        threadrun.store(0);
        connectedChannel.store(-1);
        canBusOff(handle1.load());
        canClose(handle1.load());
        showBusOff();
        return;
    }
    threadFunctionID = functionId;
    connectionRuns = true;
    notifyMeasurementChanged();
}
}  // namespace

bool CanConnectionRuns() { return connectionRuns; }

int32_t CanConnectedChannel() { return connectedChannel.load(); }

void CanStopConnection() {
    if (!connectionRuns) return;
    // Off the bus first: that wakes the worker's read at once. Only when the
    // worker has left its loop is the channel closed, so no read of it ever
    // reaches a closed handle. The worker never waits on this thread.
    canBusOff(handle1.load());
    threadrun.store(0);
    KVCanWakeReadThread();
    CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, threadFunctionID);
    CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, threadFunctionID);
    // Read before the close, counted after it: a reader of the running total
    // may see it low for a moment, never twice.
    const uint64_t dropped = LayerDroppedOn(handle1.load());
    canClose(handle1.load());
    LostFramesChannelClosed(dropped);
    connectionRuns = false;
    connectedChannel.store(-1);
    notifyMeasurementChanged();
}

void CanBusDown() {
    CanStopConnection();
    showBusOff();
}

void CanReadBus(int32_t onOff) {
    if (can_hardware_index != kKvaserIndex) return;
    if (onOff == 1) {
        if (!connectionRuns) startConnection();
    } else {
        CanStopConnection();
    }
}

int32_t KVCanInitCtrl(int32_t channel) {
    const int handle = canOpenChannel(channel, canOPEN_EXCLUSIVE);
    if (handle < 0) exitAfterOpenFailure(handle);
    // A predefined bit-rate code makes the timing arguments irrelevant. These
    // two statuses change nothing: a channel that cannot go on the bus simply
    // receives nothing.
    canSetBusParams(handle, bitrate, 0, 0, 0, 0, 0);
    canBusOn(handle);
    return handle;
}

void KVCanCheck(const char* id, int32_t stat) {
    if (stat == canOK) return;
    char line[kFailureLineSize];
    formatFailure(id, stat, line);
    std::printf("%s\n", line);
    std::fflush(stdout);
}

void CanCloseTimeStop() {
    if (onoff == 1 && can_hardware_index == kKvaserIndex) CanStopConnection();
}

int canChannel(int panel, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    int value = 0;
    if (GetCtrlVal(panel, control, &value) >= 0) can_channel = value;
    notifyMeasurementChanged();  // the line names the channel the next switch-on opens
    return 0;
}

int canBitrate(int panel, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    int value = 0;
    if (GetCtrlVal(panel, control, &value) >= 0) bitrate = value;
    notifyMeasurementChanged();
    return 0;
}

int bus_on_off(int panel, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    int value = 0;
    if (GetCtrlVal(panel, control, &value) < 0) return 0;
    onoff = value;
    CanReadBus(onoff);
    notifyMeasurementChanged();  // under Vector the line says what the button did not do
    return 0;
}
