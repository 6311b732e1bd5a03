// SPDX-License-Identifier: GPL-3.0-or-later
// The hand-over of the accepted frames from the receive worker to the trend
// and the recording.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "can/frame_tap.h"

namespace {

TappedFrame frameAt(int64_t micros) { return {micros, 0x200, 8, {}, 0}; }

// The worker's side of the hand-over at 8,000 frames/s while the UI side
// drains at screen rate: every frame arrives, in order. With the consumer
// stalled, the producer still finishes at once and counts what it dropped.
TEST(FrameTapTest, DropsNothingAt8000FramesPerSecondAndNeverBlocksTheWorker) {
    FrameTap tap;
    tap.open();
    constexpr int kFrames = 16000;  // 2 s
    std::atomic<bool> produced{false};
    std::thread worker([&] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kFrames; ++i) {
            if (i % 8 == 0) std::this_thread::sleep_until(start + std::chrono::microseconds(i * 125));
            tap.offer(frameAt(i));
        }
        produced = true;
    });
    std::vector<int64_t> received;
    const auto take = [&](const TappedFrame& f) { received.push_back(f.arrivalMicros); };
    while (!produced.load()) {
        tap.drain(take);
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    tap.drain(take);
    worker.join();
    EXPECT_EQ(tap.dropped(), 0u);
    ASSERT_EQ(received.size(), static_cast<size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) ASSERT_EQ(received[i], i) << "out of order at " << i;

    // Nobody drains: the producer is never held up, the ring keeps the
    // oldest it could take and refuses the rest.
    std::thread flood([&] {
        for (int i = 0; i < 3 * static_cast<int>(FrameTap::kCapacity); ++i) tap.offer(frameAt(i));
    });
    flood.join();
    EXPECT_EQ(tap.dropped(), 2 * FrameTap::kCapacity);
    size_t kept = tap.drain([](const TappedFrame&) {});
    EXPECT_EQ(kept, FrameTap::kCapacity);

    // A closed tap takes nothing.
    tap.close();
    tap.offer(frameAt(1));
    EXPECT_EQ(tap.drain([](const TappedFrame&) {}), 0u);
}

}  // namespace
