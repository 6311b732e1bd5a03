// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/rx_queue.h"

#include "platform/canlib.h"
#include "platform/can/error_frame_state.h"

#include <algorithm>
#include <chrono>

namespace kolvar::can {

bool RxQueue::matchesIdentifier(const Frame& frame, int32_t id) {
    return (frame.flags & (canMSG_EXT | canMSG_RTR | canMSG_ERROR_FRAME)) == 0 && frame.id == id;
}

void RxQueue::busOn() {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    ring_.clear();
    dropped_.store(0, std::memory_order_relaxed);
    errorFrames_.store(0, std::memory_order_relaxed);
    received_.store(0, std::memory_order_relaxed);
    errorFrameState_.store(canBUSSTATE_ERROR_ACTIVE, std::memory_order_relaxed);
    onBus_.store(true, std::memory_order_relaxed);
}

void RxQueue::busOff() {
    {
        std::lock_guard lock(mutex_);
        onBus_.store(false, std::memory_order_relaxed);
        ring_.clear();
    }
    readable_.notify_all();
    stateChanged_.notify_all();
}

void RxQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        onBus_.store(false, std::memory_order_relaxed);
        ring_.clear();
    }
    readable_.notify_all();
    stateChanged_.notify_all();
}

void RxQueue::pushBatch(const Frame* frames, size_t count) {
    if (count == 0) return;
    uint64_t droppedNow = 0;
    bool awaited = false;
    {
        std::lock_guard lock(mutex_);
        if (!onBus_.load(std::memory_order_relaxed)) return;
        for (size_t i = 0; i < count; ++i) {
            // Arrival times never go back within a queue: on the virtual bus
            // frames carry their senders' stamps, and two senders' batches
            // may overlap in time.
            Frame frame = frames[i];
            frame.arrivalUs = std::max(frame.arrivalUs, lastPushedArrivalUs_);
            lastPushedArrivalUs_ = frame.arrivalUs;
            if (ring_.pushDroppingOldest(frame)) ++droppedNow;
        }
        if (batchAfterUs_ != 0 && !batchCame_ && steadyMicros() >= batchAfterUs_) batchCame_ = awaited = true;
    }
    received_.fetch_add(count, std::memory_order_relaxed);
    if (droppedNow) dropped_.fetch_add(droppedNow, std::memory_order_relaxed);
    readable_.notify_all();
    if (awaited) stateChanged_.notify_all();
}

void RxQueue::countErrorFrame(uint32_t errorClass, uint8_t controller) {
    errorFrames_.fetch_add(1, std::memory_order_relaxed);
    // The controller's own receive buffer overflowed: at least one frame of
    // the bus never reached the kernel.
    if ((errorClass & CAN_ERR_CRTL) && (controller & CAN_ERR_CRTL_RX_OVERFLOW))
        dropped_.fetch_add(1, std::memory_order_relaxed);
    const int now = errorFrameState_.load(std::memory_order_relaxed);
    errorFrameState_.store(busStateAfterErrorFrame(now, errorClass, controller), std::memory_order_relaxed);
}

int RxQueue::stateStatusLocked() const {
    if (closed_) return canERR_INVHANDLE;
    if (!onBus_.load(std::memory_order_relaxed)) return canERR_OFFBUS;
    return canOK;
}

void RxQueue::take(Frame& out) {
    out = ring_.front();
    ring_.popFront();
    lastTakenArrivalUs_.store(out.arrivalUs, std::memory_order_relaxed);
}

int RxQueue::takeWait(Frame& out, unsigned long timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(mutex_);
    const uint64_t interruptions = interruptions_.load(std::memory_order_relaxed);
    for (;;) {
        if (int status = stateStatusLocked(); status != canOK) return status;
        if (!ring_.empty()) {
            take(out);
            return canOK;
        }
        if (interruptions_.load(std::memory_order_relaxed) != interruptions) return canERR_NOMSG;
        if (readable_.wait_until(lock, deadline) == std::cv_status::timeout) {
            if (int status = stateStatusLocked(); status != canOK) return status;
            if (ring_.empty()) return canERR_NOMSG;
        }
    }
}

int RxQueue::takeSpecificSkip(int32_t id, Frame& out) {
    std::lock_guard lock(mutex_);
    if (int status = stateStatusLocked(); status != canOK) return status;
    while (!ring_.empty()) {
        if (matchesIdentifier(ring_.front(), id)) {
            take(out);
            return canOK;
        }
        ring_.popFront();
    }
    return canERR_NOMSG;
}

int RxQueue::waitAny(unsigned long timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(mutex_);
    const uint64_t interruptions = interruptions_.load(std::memory_order_relaxed);
    for (;;) {
        if (int status = stateStatusLocked(); status != canOK) return status;
        if (!ring_.empty()) return canOK;
        if (interruptions_.load(std::memory_order_relaxed) != interruptions) return canERR_NOMSG;
        if (readable_.wait_until(lock, deadline) == std::cv_status::timeout) {
            if (int status = stateStatusLocked(); status != canOK) return status;
            return ring_.empty() ? canERR_NOMSG : canOK;
        }
    }
}

int RxQueue::waitQuietlyForBatch(int64_t micros, int64_t graceMicros, const std::function<void()>& quietOver) {
    const auto quietEnd = std::chrono::steady_clock::now() + std::chrono::microseconds(micros);
    const auto deadline = quietEnd + std::chrono::microseconds(graceMicros);
    std::unique_lock lock(mutex_);
    const uint64_t interruptions = interruptions_.load(std::memory_order_relaxed);
    batchAfterUs_ = steadyMicros() + micros;
    batchCame_ = false;
    const auto ended = [&] {
        return batchCame_ || stateStatusLocked() != canOK ||
               interruptions_.load(std::memory_order_relaxed) != interruptions;
    };
    if (quietOver && !stateChanged_.wait_until(lock, quietEnd, ended)) {
        // Unlocked: it may act on the thread that pushes the batches.
        lock.unlock();
        quietOver();
        lock.lock();
    }
    stateChanged_.wait_until(lock, deadline, ended);
    batchAfterUs_ = 0;
    batchCame_ = false;
    if (int status = stateStatusLocked(); status != canOK) return status;
    return ring_.empty() ? canERR_NOMSG : canOK;
}

int RxQueue::tryTake(Frame& out) {
    std::lock_guard lock(mutex_);
    if (int status = stateStatusLocked(); status != canOK) return status;
    if (ring_.empty()) return canERR_NOMSG;
    take(out);
    return canOK;
}

int RxQueue::readyStatus() const {
    std::lock_guard lock(mutex_);
    if (int status = stateStatusLocked(); status != canOK) return status;
    return ring_.empty() ? canERR_NOMSG : canOK;
}

void RxQueue::interruptWaits() {
    {
        std::lock_guard lock(mutex_);
        interruptions_.fetch_add(1, std::memory_order_relaxed);
    }
    readable_.notify_all();
    stateChanged_.notify_all();
}

}  // namespace kolvar::can
