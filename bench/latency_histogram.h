// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Fixed-size latency histogram: 10 µs buckets up to 200 ms, one overflow
// bucket. Its memory never grows, so it cannot disturb the resident-size
// measurement. Add from one thread, read from any (relaxed counters).

#include <array>
#include <atomic>
#include <cstdint>

namespace bench {

class LatencyHistogram {
public:
    static constexpr int64_t kBucketMicros = 10;
    static constexpr size_t kBuckets = 20000;  // 200 ms

    void add(int64_t micros) {
        if (micros < 0) micros = 0;
        const size_t bucket = static_cast<size_t>(micros / kBucketMicros);
        counts_[bucket < kBuckets ? bucket : kBuckets].fetch_add(1, std::memory_order_relaxed);
        total_.fetch_add(1, std::memory_order_relaxed);
        int64_t seen = max_.load(std::memory_order_relaxed);
        while (micros > seen && !max_.compare_exchange_weak(seen, micros, std::memory_order_relaxed)) {
        }
    }

    uint64_t count() const { return total_.load(std::memory_order_relaxed); }
    int64_t maxMicros() const { return max_.load(std::memory_order_relaxed); }

    // Upper edge of the bucket holding the q-quantile (0 < q <= 1), in µs;
    // -1 when empty. An overflowing quantile reports the maximum.
    int64_t quantileMicros(double q) const {
        const uint64_t total = count();
        if (total == 0) return -1;
        uint64_t rank = static_cast<uint64_t>(q * static_cast<double>(total));
        if (rank == 0) rank = 1;
        uint64_t seen = 0;
        for (size_t b = 0; b < kBuckets; ++b) {
            seen += counts_[b].load(std::memory_order_relaxed);
            if (seen >= rank) return static_cast<int64_t>(b + 1) * kBucketMicros;
        }
        return maxMicros();
    }

private:
    std::array<std::atomic<uint64_t>, kBuckets + 1> counts_{};
    std::atomic<uint64_t> total_{0};
    std::atomic<int64_t> max_{0};
};

}  // namespace bench
