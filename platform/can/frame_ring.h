// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Fixed-capacity FIFO of frames, allocated once. Not thread-safe: the owner
// holds its own lock around every call.

#include "platform/can/can_frame.h"

#include <cstddef>
#include <vector>

namespace kolvar::can {

class FrameRing {
public:
    explicit FrameRing(size_t capacity) : slots_(capacity) {}

    size_t capacity() const { return slots_.size(); }
    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == slots_.size(); }

    // Appends; when full, the oldest frame is overwritten. Returns true when
    // a frame was dropped to make room.
    bool pushDroppingOldest(const Frame& frame) {
        bool dropped = false;
        if (full()) {
            popFront();
            dropped = true;
        }
        slots_[(head_ + count_) % slots_.size()] = frame;
        ++count_;
        return dropped;
    }

    // Appends unless full; returns false when full.
    bool tryPush(const Frame& frame) {
        if (full()) return false;
        slots_[(head_ + count_) % slots_.size()] = frame;
        ++count_;
        return true;
    }

    const Frame& front() const { return slots_[head_]; }
    void popFront() {
        head_ = (head_ + 1) % slots_.size();
        --count_;
    }
    void clear() {
        head_ = 0;
        count_ = 0;
    }

private:
    std::vector<Frame> slots_;
    size_t head_ = 0;
    size_t count_ = 0;
};

}  // namespace kolvar::can
