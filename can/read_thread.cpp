#include "can/read_thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "panel/panel_contract.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "can/frame_format.h"
#include "platform/canlib.h"
#include "platform/userint.h"

unsigned char data[8] = {};
int32_t id = 0;

namespace {
// Status of the latest read. Kept inside this file: a global named "stat"
// would clash with the C library's stat().
int32_t stat = 0;

constexpr unsigned long kFirstReadTimeoutMs = 1000;
constexpr unsigned long kPassWaitMs = 100;

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

void KVCanWakeReadThread() {
    { std::lock_guard<std::mutex> lock(pauseMutex); }
    pauseWake.notify_all();
}

int KVCanReadThread(void*) {
    const int handle = handle1.load();
    stat = canReadWait(handle, &id, data, nullptr, nullptr, nullptr, kFirstReadTimeoutMs);

    while (threadrun.load() == 1) {
        // can_id is read afresh on every pass, so a new identifier applies
        // from the next pass on.
        stat = canReadSpecificSkip(handle, can_id.load(), data, nullptr, nullptr, nullptr);
        showBuffer();
        if (stat == canOK) continue;  // more of the identifier may be queued

        int waited = stat;
        // Nothing of the identifier was queued: sleep until any frame arrives
        // (at most one pass time), so a silent bus costs next to nothing.
        if (stat == canERR_NOMSG) waited = canReadSync(handle, kPassWaitMs);
        if (waited != canOK && waited != canERR_NOMSG) pauseAfterFailure();
    }
    return 0;
}
