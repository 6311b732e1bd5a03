// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Bounded single-producer single-consumer ring, allocated once, lock-free:
// the producer never waits for the consumer. When the ring is full, tryPush
// refuses the item and the producer carries on. Plain C++, no Qt.

#include <atomic>
#include <cstddef>
#include <vector>

template <typename T>
class SpscRing {
public:
    // capacity: a power of two (the index arithmetic masks with it).
    explicit SpscRing(size_t capacity) : slots_(capacity), mask_(capacity - 1) {}

    size_t capacity() const { return slots_.size(); }

    // [producer-thread] Appends, or returns false when the ring is full.
    bool tryPush(const T& item) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - headSeen_ == slots_.size()) {
            headSeen_ = head_.load(std::memory_order_acquire);
            if (tail - headSeen_ == slots_.size()) return false;
        }
        slots_[tail & mask_] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // [consumer-thread] Passes every item queued now to take(item), oldest
    // first, and frees their slots in one step. Returns how many.
    template <typename Take>
    size_t drain(Take&& take) {
        const size_t head = head_.load(std::memory_order_relaxed);
        const size_t tail = tail_.load(std::memory_order_acquire);
        for (size_t i = head; i != tail; ++i) take(slots_[i & mask_]);
        head_.store(tail, std::memory_order_release);
        return tail - head;
    }

private:
    std::vector<T> slots_;
    const size_t mask_;
    alignas(64) std::atomic<size_t> head_{0};  // written by the consumer
    alignas(64) std::atomic<size_t> tail_{0};  // written by the producer
    size_t headSeen_ = 0;                      // producer's copy of head_
};
