#include "can/status_line.h"

#include "can/accepted_frames.h"
#include "can/bus.h"
#include "can/bus_status.h"
#include "can/can_id.h"
#include "panel/panel_contract.h"
#include "platform/canlib.h"
#include "platform/userint.h"

namespace {

constexpr int kRefreshMs = 250;  // 4 times a second
constexpr unsigned kNameSize = 64;

int timerId = 0;

// The counts at the previous refresh of the same connection, for the rates.
struct RateBase {
    int handle = -1;
    int64_t atMs = 0;
    uint64_t busFrames = 0;
    uint64_t idFrames = 0;
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

}  // namespace

void RefreshBusStatusLine() {
    BusStatusInputs in;
    char name[kNameSize] = "";
    if (canGetChannelName(can_channel, name, sizeof name) == canOK) in.channelName = name;
    in.chosenBitRate = chosenBitRate();
    in.on = CanConnectionRuns();
    if (in.on) {
        const int handle = handle1.load();
        canBusStatus bus{};
        in.statusKnown = canGetBusStatus(handle, &bus) == canOK;
        in.busState = bus.busState;
        in.bitRate = bus.bitRate;
        in.errorFrames = bus.errorFrames;
        in.chosenId = can_id.load();
        in.last = acceptedFrames.last();
        in.nowMs = steadyMillis();
        const uint64_t idFrames = acceptedFrames.count();
        if (base.handle == handle) {
            in.busFramesPerSecond = perSecond(bus.receivedFrames, base.busFrames, in.nowMs - base.atMs);
            in.idFramesPerSecond = perSecond(idFrames, base.idFrames, in.nowMs - base.atMs);
        }
        base = {handle, in.nowMs, bus.receivedFrames, idFrames};
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
}

bool StartBusStatusLine() {
    RefreshBusStatusLine();
    if (timerId > 0) return true;
    const int id = NewTimer(kRefreshMs, timerTick, nullptr);
    if (id < 0) return false;
    timerId = id;
    return true;
}

void StopBusStatusLine() {
    if (timerId > 0) DiscardTimer(timerId);
    timerId = 0;
}
