// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/lost_frames.h"

#include <atomic>

#include "can/bus.h"
#include "can/frame_tap.h"
#include "platform/canlib.h"

namespace {
// What the layer dropped on connections already closed.
std::atomic<uint64_t> closedConnectionDrops{0};
// The hand-over's refusals at the last switch-on. [main-thread]
uint64_t tapDropsAtSwitchOn = 0;

uint64_t tapDrops() { return trendTap().dropped() + recordTap().dropped(); }

}  // namespace

uint64_t LayerDroppedOn(int handle) {
    uint64_t dropped = 0;
    // A closed handle answers an error: nothing dropped on it any more.
    if (canGetDroppedCount(handle, &dropped) != canOK) return 0;
    return dropped;
}

void LostFramesSwitchedOn() { tapDropsAtSwitchOn = tapDrops(); }

void LostFramesChannelClosed(uint64_t droppedOnIt) {
    closedConnectionDrops.fetch_add(droppedOnIt, std::memory_order_relaxed);
}

uint64_t LostSinceSwitchOn(int handle) { return LayerDroppedOn(handle) + tapDrops() - tapDropsAtSwitchOn; }

uint64_t LayerDroppedFrames() {
    return closedConnectionDrops.load(std::memory_order_relaxed) + LayerDroppedOn(handle1.load());
}

std::string groupedCount(uint64_t count) {
    std::string digits = std::to_string(count);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
    return digits;
}
