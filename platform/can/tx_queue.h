// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Transmit queue of one open channel: callers append without blocking, the
// I/O thread takes everything queued at once. [any-thread]

#include "platform/can/frame_ring.h"

#include <mutex>
#include <vector>

namespace kolvar::can {

class TxQueue {
public:
    static constexpr size_t kDefaultCapacity = 4096;

    explicit TxQueue(size_t capacity = kDefaultCapacity) : ring_(capacity) {}

    // False when the queue is full.
    bool push(const Frame& frame) {
        std::lock_guard lock(mutex_);
        return ring_.tryPush(frame);
    }
    // Moves every queued frame into out (cleared first).
    void takeAll(std::vector<Frame>& out) {
        out.clear();
        std::lock_guard lock(mutex_);
        while (!ring_.empty()) {
            out.push_back(ring_.front());
            ring_.popFront();
        }
    }
    void clear() {
        std::lock_guard lock(mutex_);
        ring_.clear();
    }

private:
    std::mutex mutex_;
    FrameRing ring_;
};

}  // namespace kolvar::can
