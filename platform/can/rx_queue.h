// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Receive queue of one open channel: a bounded FIFO filled in batches (by the
// I/O thread for the virtual bus, by the reading thread from the socket for
// SocketCAN) and drained by reader threads. Frames are kept only while the channel
// is on the bus; when full, the oldest frames are dropped and counted.
//
// Which frames match an identifier: only standard-identifier data frames.
// Extended-identifier and remote frames are queued (canReadWait returns them
// with their flags) but never match; error frames are not queued, only counted.
//
// Every method is [any-thread]; statuses are canStatus codes.

#include "platform/can/can_frame.h"
#include "platform/can/frame_ring.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace kolvar::can {

class RxQueue {
public:
    static constexpr size_t kDefaultCapacity = 65536;

    explicit RxQueue(size_t capacity = kDefaultCapacity) : ring_(capacity) {}

    // Bus on: starts keeping frames, with empty queue and zeroed counters.
    void busOn();
    // Bus off: empties the queue and wakes every waiting read.
    void busOff();
    // Closed for good: like bus off, and reads then report an invalid handle.
    void close();

    // Appends a batch of received frames under one lock and wakes the
    // readers once. Ignored while off the bus.
    void pushBatch(const Frame* frames, size_t count);
    // Counts one received error frame and follows the bus state it reports:
    // `errorClass` is the class bits of its identifier, `controller` its data
    // byte 1. One writer per channel, so the state needs no lock. A
    // controller's receive overrun (CAN_ERR_CRTL, CAN_ERR_CRTL_RX_OVERFLOW)
    // also counts one frame as dropped.
    void countErrorFrame(uint32_t errorClass = 0, uint8_t controller = 0);
    // Counts frames lost before they reached the queue (the kernel's socket
    // buffer overflowed).
    void addDropped(uint64_t count) { dropped_.fetch_add(count, std::memory_order_relaxed); }

    // Takes the oldest frame, waiting up to timeoutMs. canOK, canERR_NOMSG on
    // time-out, canERR_OFFBUS when off the bus (at once, or as soon as the
    // channel leaves it), canERR_INVHANDLE once closed.
    int takeWait(Frame& out, unsigned long timeoutMs);
    // Takes the next standard data frame with identifier id, discarding the
    // frames ahead of it; when none is queued, empties the queue and returns
    // canERR_NOMSG. Never waits.
    int takeSpecificSkip(int32_t id, Frame& out);
    // Waits up to timeoutMs for a queued frame without taking it.
    int waitAny(unsigned long timeoutMs);
    // Waits `micros` whatever frames arrive meanwhile, so that they collect:
    // only an interruption, bus off or close ends it early. Then up to
    // graceMicros more, until the first batch pushed after those `micros`:
    // frames that come in batches (the virtual bus sends a window's frames
    // at once) are then taken with the newest just arrived, not up to a
    // window old. Still one wake-up: a batch wakes the waiter only once its
    // first `micros` are over. Returns canOK when a frame is queued,
    // canERR_NOMSG when none is, or why the channel cannot deliver
    // (canERR_OFFBUS, canERR_INVHANDLE). quietOver, when given, is called
    // without the lock once the `micros` have passed uninterrupted: the
    // waiter then wakes for it too, a second wake-up.
    int waitQuietlyForBatch(int64_t micros, int64_t graceMicros, const std::function<void()>& quietOver = {});
    // takeWait and waitAny without waiting.
    int tryTake(Frame& out);
    int readyStatus() const;

    // Ends every wait in progress (takeWait, waitAny) with canERR_NOMSG, or
    // with a frame queued meanwhile; the channel's state is unchanged.
    void interruptWaits();
    // How many times the waits were interrupted; a waiter compares it with
    // the value it started with.
    uint64_t interruptions() const { return interruptions_.load(std::memory_order_relaxed); }

    size_t size() const {
        std::lock_guard lock(mutex_);
        return ring_.size();
    }
    uint64_t droppedCount() const { return dropped_.load(std::memory_order_relaxed); }
    uint64_t errorFrameCount() const { return errorFrames_.load(std::memory_order_relaxed); }
    // Data and remote frames received while on the bus, since bus on (dropped
    // ones included).
    uint64_t receivedCount() const { return received_.load(std::memory_order_relaxed); }
    // The bus state (canBUSSTATE_) the error frames since bus on report.
    int errorFrameBusState() const { return errorFrameState_.load(std::memory_order_relaxed); }
    // Arrival time (steadyMicros) of the frame taken last; 0 before the first.
    int64_t lastTakenArrivalUs() const { return lastTakenArrivalUs_.load(std::memory_order_relaxed); }
    bool onBus() const { return onBus_.load(std::memory_order_relaxed); }

    // True for a frame that canReadSpecificSkip may match against an identifier.
    static bool matchesIdentifier(const Frame& frame, int32_t id);

private:
    int stateStatusLocked() const;  // canOK while on the bus, else why not
    void take(Frame& out);          // pops the front into out; lock held

    mutable std::mutex mutex_;
    std::condition_variable readable_;
    // Told of bus off, close and interruptions only, so that a quiet wait is
    // not woken by every frame.
    std::condition_variable stateChanged_;
    FrameRing ring_;
    bool closed_ = false;
    std::atomic<bool> onBus_{false};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> errorFrames_{0};
    std::atomic<uint64_t> received_{0};
    std::atomic<int> errorFrameState_{0};  // canBUSSTATE_ERROR_ACTIVE
    std::atomic<int64_t> lastTakenArrivalUs_{0};
    std::atomic<uint64_t> interruptions_{0};  // written under mutex_
    // Under mutex_: a waitQuietlyForBatch wants the first batch pushed from
    // batchAfterUs_ on (0: nobody does), and batchCame_ says one was.
    int64_t batchAfterUs_ = 0;
    bool batchCame_ = false;
    int64_t lastPushedArrivalUs_ = 0;  // under mutex_
};

}  // namespace kolvar::can
