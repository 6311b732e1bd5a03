// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/read_thread.h"

#include "platform/base/steady_clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "panel/panel_contract.h"
#include "can/accepted_frames.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "can/frame_format.h"
#include "can/frame_tap.h"
#include "can/measurement_events.h"
#include "platform/canlib.h"
#include "platform/userint.h"

unsigned char data[8] = {};

namespace {
// Identifier of the frame the first read took.
int32_t id = 0;
// Status of the latest read. Kept inside this file: a global named "stat"
// would clash with the C library's stat().
int32_t stat = 0;

constexpr unsigned long kFirstReadTimeoutMs = 1000;
// How long the worker sleeps on a silent bus before it looks again. Frames,
// bus off, close and a new identifier all wake it, so on a silent bus there
// is nothing to look at: the bound only keeps the loop from depending on a
// wait that never ends.
constexpr unsigned long kSilentWaitMs = 60'000;
// The pause after a failed read (off the bus, bad handle).
constexpr unsigned long kPassWaitMs = 100;

// Set by the worker when the first frame fills the buffer; never cleared.
std::atomic<bool> bufferHoldsFrame{false};

// Lets a stop cut short the pause that follows a failed read.
std::mutex pauseMutex;
std::condition_variable pauseWake;

// Waits up to one pass time for the run flag to leave 1. Used when the
// channel cannot deliver frames (off the bus, bad handle), where a read
// returns at once and would otherwise make the loop spin.
void pauseAfterFailure() {
    std::unique_lock<std::mutex> lock(pauseMutex);
    pauseWake.wait_for(lock, std::chrono::milliseconds(kPassWaitMs),
                       [] { return threadrun.load() != 1; });
}

// Counts a frame of `wanted` just taken into the buffer and hands it to the
// trend and the recording, all at its arrival time: the channel stamped it
// on the way in, so no clock is read per frame. A frame that makes values
// live (or one channel stale) is told at once, for the marks to follow.
void takeAccepted(int handle, int32_t wanted, unsigned dlc) {
    int64_t arrivalUs = 0;
    const bool stamped = canGetLastArrivalMicros(handle, &arrivalUs) == canOK && arrivalUs > 0;
    if (!stamped) arrivalUs = kolvar::steadyMillis() * 1000;
    bufferHoldsFrame.store(true, std::memory_order_relaxed);
    const AcceptedFrame before = acceptedFrames.last();
    acceptedFrames.record(wanted, dlc, arrivalUs / 1000);
    if (freshnessChanges(before, wanted, dlc, arrivalUs / 1000)) notifyMeasurementChanged();
    tapAcceptedFrame(arrivalUs, wanted, dlc, data, CanConnectedChannel());
}

// Waits up to one second for a standard data frame of can_id and takes it
// into the buffer. Frames of other identifiers, extended and remote frames
// never reach the buffer: right after switching on, the meters show the
// chosen device or nothing new.
int32_t firstRead(int handle) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kFirstReadTimeoutMs);
    for (;;) {
        const int32_t wanted = can_id.load();
        unsigned dlc = 0;
        const int32_t status = canReadSpecificSkip(handle, wanted, data, &dlc, nullptr, nullptr);
        if (status == canOK) {
            id = wanted;
            takeAccepted(handle, wanted, dlc);
        }
        if (status != canERR_NOMSG) return status;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return canERR_NOMSG;
        const int waited = canReadSync(handle, static_cast<unsigned long>(left));
        if (waited != canOK && waited != canERR_NOMSG) return waited;
    }
}

void showBuffer() {
    const ChannelWords words = decodeChannelWords(data, byte_order);
    const double value1 = scaleChannelWord(words.word1);
    const double value2 = scaleChannelWord(words.word2);
    // The run-time takes these from any thread without blocking; a failure
    // (the panel being discarded) changes nothing in the loop.
    const int panel = panelHandle.load();
    SetCtrlVal(panel, NUMERIC_CH1_RAW, static_cast<int>(words.word1));
    SetCtrlVal(panel, NUMERIC_CH2_RAW, static_cast<int>(words.word2));
    SetCtrlVal(panel, NUMERICMETER1, value1);
    SetCtrlVal(panel, NUMERICMETER2, value2);
}
}  // namespace

bool KVCanBufferHoldsFrame() { return bufferHoldsFrame.load(std::memory_order_relaxed); }

void KVCanWakeReadThread() {
    { std::lock_guard<std::mutex> lock(pauseMutex); }
    pauseWake.notify_all();
    canWakeReads(handle1.load());  // a stale handle is refused, harmlessly
}

int KVCanReadThread(void*) {
    const int handle = handle1.load();
    stat = firstRead(handle);
    // The buffer is shown once the first read is over, a frame or none.
    showBuffer();

    while (threadrun.load() == 1) {
        // can_id is read afresh on every pass, so a new identifier applies
        // from the next pass on.
        const int32_t wanted = can_id.load();
        // Everything queued is taken in one go: every frame of can_id goes
        // to the trend and the recording, and the buffer ends up holding the
        // newest, which alone is shown.
        bool took = false;
        unsigned dlc = 0;
        while ((stat = canReadSpecificSkip(handle, wanted, data, &dlc, nullptr, nullptr)) == canOK) {
            takeAccepted(handle, wanted, dlc);
            took = true;
        }
        if (took) showBuffer();
        if (stat == canERR_NOMSG) {
            // Sleeps until a frame arrives, the bus goes off or a new
            // identifier is chosen (the buffer, already shown, is unchanged
            // meanwhile). While frames stream it returns once per screen
            // refresh, with the refresh's frames queued: nobody sees more.
            const auto refresh = static_cast<unsigned long>(GetScreenRefreshMicros());
            const int waited = canReadSyncPaced(handle, refresh, kSilentWaitMs);
            if (waited == canOK || waited == canERR_NOMSG) continue;
        }
        // The channel cannot deliver (off the bus, bad handle): keep showing
        // the buffer, pausing between passes.
        showBuffer();
        pauseAfterFailure();
    }
    return 0;
}
