// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/accepted_frames.h"

#include <algorithm>

AcceptedFrames acceptedFrames;

namespace {
constexpr uint64_t kIdMask = 0x7FF;
constexpr int kDlcShift = 11;
constexpr uint64_t kDlcMask = 0xF;
constexpr uint64_t kPresent = uint64_t{1} << 15;
constexpr int kTimeShift = 16;
}  // namespace

void AcceptedFrames::record(int32_t id, unsigned dlc, int64_t atMs) {
    const uint64_t packed = (static_cast<uint64_t>(atMs) << kTimeShift) | kPresent |
                            (uint64_t{std::min(dlc, 8u)} << kDlcShift) |
                            (static_cast<uint64_t>(id) & kIdMask);
    last_.store(packed, std::memory_order_relaxed);
    count_.fetch_add(1, std::memory_order_relaxed);
}

void AcceptedFrames::reset() {
    last_.store(0, std::memory_order_relaxed);
    count_.store(0, std::memory_order_relaxed);
}

AcceptedFrame AcceptedFrames::last() const {
    const uint64_t packed = last_.load(std::memory_order_relaxed);
    AcceptedFrame frame;
    frame.any = (packed & kPresent) != 0;
    frame.id = static_cast<int32_t>(packed & kIdMask);
    frame.dlc = static_cast<unsigned>((packed >> kDlcShift) & kDlcMask);
    frame.atMs = static_cast<int64_t>(packed >> kTimeShift);
    return frame;
}

int channelWords(unsigned dlc) { return dlc >= 4 ? 2 : dlc >= 2 ? 1 : 0; }

bool freshnessChanges(const AcceptedFrame& before, int32_t id, unsigned dlc, int64_t atMs) {
    return !before.any || before.id != id || atMs - before.atMs > kStaleAfterMs ||
           channelWords(before.dlc) != channelWords(dlc);
}
