// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the receive worker accepted of the chosen identifier on the running
// connection: how many frames, and of the last one its identifier, data
// length and arrival. The worker writes it without locks; the status line
// reads it a few times a second.

#include <atomic>
#include <cstdint>

struct AcceptedFrame {
    bool any = false;     // false before the connection's first accepted frame
    int32_t id = 0;       // 11-bit identifier
    unsigned dlc = 0;     // data bytes it carried
    int64_t atMs = 0;     // its arrival, in kolvar::steadyMillis()
};

class AcceptedFrames {
public:
    // [worker-thread] One frame of `id` with `dlc` data bytes, arrived at
    // `atMs` (kolvar::steadyMillis()), taken.
    void record(int32_t id, unsigned dlc, int64_t atMs);
    // [main-thread] Forgets the previous connection's frames; called before
    // a new worker starts.
    void reset();

    uint64_t count() const { return count_.load(std::memory_order_relaxed); }
    // The last frame, read as one piece: identifier, length and time belong
    // to the same frame.
    AcceptedFrame last() const;

private:
    std::atomic<uint64_t> count_{0};
    // milliseconds << 16 | 1 << 15 | dlc << 11 | identifier; 0 when none.
    std::atomic<uint64_t> last_{0};
};

extern AcceptedFrames acceptedFrames;

// A frame of the chosen identifier older than this no longer counts as live.
constexpr int64_t kStaleAfterMs = 1000;

// [any-thread] How many channel words a frame of `dlc` data bytes carries:
// 0 below 2 bytes, 1 below 4, else 2.
int channelWords(unsigned dlc);

// [any-thread] True when a frame of `id` with `dlc` data bytes arriving at
// `atMs`, after `before`, changes which values are live: the first of its
// identifier, the first after a stale gap, or one that carries a channel
// word more or fewer than the frame before.
bool freshnessChanges(const AcceptedFrame& before, int32_t id, unsigned dlc, int64_t atMs);
