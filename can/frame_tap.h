// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hand-over of the frames the receive worker accepts (those of the chosen
// identifier) to the trend window and to the recording, each through a
// bounded lock-free ring of its own. The worker never waits: a tap that is
// closed costs it one atomic load, a full ring drops the frame and counts it.
// Plain C++, no Qt.

#include <atomic>
#include <cstdint>

#include "can/spsc_ring.h"

struct TappedFrame {
    int64_t arrivalMicros;  // CLOCK_MONOTONIC, as canGetLastArrivalMicros gives it
    int32_t id;
    unsigned char length;  // data bytes the frame carried, 0..8
    unsigned char data[8];
    int16_t channel;       // the layer's channel number it came in on
};

class FrameTap {
public:
    // 2 s at 8,000 frames/s: a consumer that drains at screen rate, or a
    // writer waking every 20 ms, has room to spare.
    static constexpr size_t kCapacity = 16384;

    FrameTap() : ring_(kCapacity) {}

    // [consumer-thread] Starts collecting: first discards whatever an earlier
    // opening left in the ring.
    void open();
    // [any-thread] Stops collecting; what is queued stays for drain().
    void close() { open_.store(false, std::memory_order_release); }
    bool isOpen() const { return open_.load(std::memory_order_relaxed); }

    // [worker-thread] Queues the frame when the tap is open; never blocks.
    void offer(const TappedFrame& frame);

    // [consumer-thread] Passes every queued frame to take(frame), oldest first.
    template <typename Take>
    size_t drain(Take&& take) {
        return ring_.drain(take);
    }

    // [any-thread] Frames refused because the ring was full.
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    SpscRing<TappedFrame> ring_;
    std::atomic<bool> open_{false};
    std::atomic<uint64_t> dropped_{0};
};

// The two consumers: the trend window (drained on the UI thread) and the
// recording (drained by its writer thread).
FrameTap& trendTap();
FrameTap& recordTap();

// [worker-thread] Hands an accepted frame (its data length code `dlc`,
// its arrival time on the monotonic clock, the channel it came in on) to
// every open tap.
void tapAcceptedFrame(int64_t arrivalMicros, int32_t id, unsigned dlc, const unsigned char data[8],
                      int channel);
