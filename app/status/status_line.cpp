// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/status/status_line.h"

#include "platform/base/steady_clock.h"

#include <atomic>
#include <string>

#include "can/accepted_frames.h"
#include "can/bus.h"
#include "app/status/bus_status.h"
#include "can/can_id.h"
#include "can/hardware.h"
#include "can/lost_frames.h"
#include "can/measurement_events.h"
#include "can/read_thread.h"
#include "panel/panel_contract.h"
#include "platform/canlib.h"
#include "platform/userint.h"

namespace {

// While frames come, or the last one is young enough for its age to be
// said in tenths, the line is redrawn 4 times a second; otherwise nothing on
// it changes by itself, and it only looks at the bus state once a second.
// Whatever the user or the worker changes asks for a redraw at once
// (askForRedraw), so a slow refresh never leaves a stale mark behind.
constexpr int kMovingRefreshMs = 250;
constexpr int kQuietRefreshMs = 1000;
// A redraw asked for sooner than this after the last window keeps that
// window's rates: a count over a few milliseconds would read as nonsense.
constexpr int64_t kShortestRateWindowMs = 200;
constexpr unsigned kNameSize = 64;

// [main-thread] A connection has run since start-up.
bool everOn = false;

// [main-thread] The refresh timer and its interval; 0 when none runs.
int timerId = 0;
int timerIntervalMs = 0;
// Between StartBusStatusLine and StopBusStatusLine.
std::atomic<bool> lineShown{false};
// A redraw asked for is posted and has not run yet.
std::atomic<bool> redrawPosted{false};

// The counts at the previous refresh of the same connection, for the rates.
struct RateBase {
    int handle = -1;
    int64_t atMs = 0;
    uint64_t busFrames = 0;
    uint64_t idFrames = 0;
    uint64_t errorFrames = 0;
    uint64_t failures = 0;    // send errors and short reads
    double busPerSecond = 0;  // the rates over the window that ended at atMs
    double idPerSecond = 0;
};
RateBase base;

long chosenBitRate() { return bitrate == canBITRATE_1M ? 1000000 : 500000; }

double perSecond(uint64_t now, uint64_t before, int64_t ms) {
    return ms > 0 && now >= before ? (now - before) * 1000.0 / ms : 0.0;
}

void showMark(int panel, int control, bool stale) {
    SetCtrlAttribute(panel, control, ATTR_GREYED, stale ? 1 : 0);
}

void timerTick(void*) { RefreshBusStatusLine(); }

void postedRedraw(void*) {
    redrawPosted.store(false);
    if (lineShown.load()) RefreshBusStatusLine();
}

// [any-thread] The measurement's change listener: posts one redraw to the
// main thread's next pass, which covers every change asked for before it
// runs. The receive worker calls it too, so it never waits.
void askForRedraw() {
    if (!lineShown.load(std::memory_order_relaxed)) return;
    if (redrawPosted.exchange(true)) return;
    if (PostDeferredCall(postedRedraw, nullptr) < 0) redrawPosted.store(false);
}

// [main-thread] Keeps the timer running every intervalMs.
void refreshEvery(int intervalMs) {
    if (timerId > 0 && timerIntervalMs == intervalMs) return;
    if (timerId > 0) DiscardTimer(timerId);
    const int id = NewTimer(intervalMs, timerTick, nullptr);
    timerId = id > 0 ? id : 0;
    timerIntervalMs = id > 0 ? intervalMs : 0;
}

}  // namespace

void RefreshBusStatusLine() {
    BusStatusInputs in;
    bool moving = false;  // something on the line changes by itself
    char name[kNameSize] = "";
    if (canGetChannelName(can_channel, name, sizeof name) == canOK) in.channelName = name;
    in.chosenBitRate = chosenBitRate();
    in.on = CanConnectionRuns();
    in.vectorChosen = can_hardware_index != kKvaserIndex;
    in.buttonOn = onoff == 1;
    everOn = everOn || in.on;
    in.everOn = everOn;
    in.frameEverShown = KVCanBufferHoldsFrame();
    if (in.on && CanConnectedChannel() != can_channel) {
        // The line names the channel that is open; the choice is for next time.
        in.nextChannelName = in.channelName;
        char open[kNameSize] = "";
        in.channelName = canGetChannelName(CanConnectedChannel(), open, sizeof open) == canOK
                             ? open
                             : "channel " + std::to_string(CanConnectedChannel());
    }
    if (in.on) {
        const int handle = handle1.load();
        canBusStatus bus{};
        in.statusKnown = canGetBusStatus(handle, &bus) == canOK;
        in.busState = bus.busState;
        in.bitRate = bus.bitRate;
        in.setupDenied = bus.setupDenied;
        in.errorFrames = bus.errorFrames;
        in.lostFrames = LostSinceSwitchOn(handle);
        in.sendErrors = bus.sendErrors;
        in.shortReads = bus.shortReads;
        in.chosenId = can_id.load();
        in.last = acceptedFrames.last();
        in.nowMs = kolvar::steadyMillis();
        const uint64_t idFrames = acceptedFrames.count();
        if (base.handle == handle && in.nowMs - base.atMs < kShortestRateWindowMs) {
            in.busFramesPerSecond = base.busPerSecond;
            in.idFramesPerSecond = base.idPerSecond;
        } else {
            if (base.handle == handle) {
                in.busFramesPerSecond = perSecond(bus.receivedFrames, base.busFrames, in.nowMs - base.atMs);
                in.idFramesPerSecond = perSecond(idFrames, base.idFrames, in.nowMs - base.atMs);
                moving = bus.errorFrames != base.errorFrames ||
                         bus.sendErrors + bus.shortReads != base.failures;
            }
            base = {handle, in.nowMs, bus.receivedFrames, idFrames, bus.errorFrames,
                    bus.sendErrors + bus.shortReads, in.busFramesPerSecond, in.idFramesPerSecond};
        }
        const bool youngFrame = in.last.any && in.last.id == in.chosenId &&
                                in.nowMs - in.last.atMs < kAgeInTenthsBelowMs;
        moving = moving || in.busFramesPerSecond > 0 || in.idFramesPerSecond > 0 || youngFrame;
    } else {
        base.handle = -1;
    }
    const BusStatusView view = describeBusStatus(in);
    const int panel = panelHandle.load();
    SetCtrlVal(panel, BUS_STATUS_LINE, view.text.c_str());
    showMark(panel, NUMERICMETER1, view.channel1Stale);
    showMark(panel, NUMERIC_CH1_RAW, view.channel1Stale);
    showMark(panel, NUMERICMETER2, view.channel2Stale);
    showMark(panel, NUMERIC_CH2_RAW, view.channel2Stale);
    for (const int control : {NUMERICMETER1, NUMERIC_CH1_RAW, NUMERICMETER2, NUMERIC_CH2_RAW})
        SetCtrlAttribute(panel, control, ATTR_NO_VALUE, view.noValue ? 1 : 0);
    if (lineShown.load()) refreshEvery(moving ? kMovingRefreshMs : kQuietRefreshMs);
}

bool StartBusStatusLine() {
    lineShown.store(true);
    RefreshBusStatusLine();
    if (timerId > 0) {
        onMeasurementChanged(askForRedraw);
        return true;
    }
    lineShown.store(false);
    return false;
}

void StopBusStatusLine() {
    onMeasurementChanged(nullptr);
    lineShown.store(false);
    if (timerId > 0) DiscardTimer(timerId);
    timerId = 0;
    timerIntervalMs = 0;
}
