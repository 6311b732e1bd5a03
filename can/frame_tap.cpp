// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/frame_tap.h"

#include <cstring>

void FrameTap::open() {
    ring_.drain([](const TappedFrame&) {});
    open_.store(true, std::memory_order_release);
}

void FrameTap::offer(const TappedFrame& frame) {
    if (!isOpen()) return;
    if (!ring_.tryPush(frame)) dropped_.fetch_add(1, std::memory_order_relaxed);
}

FrameTap& trendTap() {
    static FrameTap tap;
    return tap;
}

FrameTap& recordTap() {
    static FrameTap tap;
    return tap;
}

void tapAcceptedFrame(int64_t arrivalMicros, int32_t id, unsigned dlc, const unsigned char data[8],
                      int channel) {
    FrameTap& trend = trendTap();
    FrameTap& record = recordTap();
    if (!trend.isOpen() && !record.isOpen()) return;
    TappedFrame frame{};
    frame.arrivalMicros = arrivalMicros;
    frame.id = id;
    // A classic frame carries at most 8 bytes; codes 9..15 also mean 8.
    frame.length = static_cast<unsigned char>(dlc < 8 ? dlc : 8);
    std::memcpy(frame.data, data, sizeof frame.data);
    frame.channel = static_cast<int16_t>(channel);
    trend.offer(frame);
    record.offer(frame);
}
