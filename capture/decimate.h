// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The decimated view the trend draws: a time window cut into pixel columns,
// and for each column and channel the first, last, smallest and largest
// 12-bit reading (word >> 4) of the samples in it, as an oscilloscope keeps
// them. A stroke from min to max per column, in the direction from first to
// last, shows every extreme whatever the frame rate. Plain C++, no Qt.

#include <cstdint>
#include <vector>

#include "capture/trend_samples.h"

namespace kolvar::capture {

struct ChannelColumn {
    int first, last, min, max;  // readings 0..4095
};

struct TrendColumn {
    int count = 0;  // samples in the column; 0: nothing arrived
    int64_t firstMicros = 0;
    int64_t lastMicros = 0;
    ChannelColumn ch[2]{};
};

// A silence longer than this between two frames is drawn as a gap.
constexpr int64_t kTrendGapMicros = 500'000;

// Fills `columns` (resized to `count`) with column k covering
// [fromMicros + k*columnMicros, fromMicros + (k+1)*columnMicros).
// Example: samples at 0, 10, 20 us with readings 5, 1, 9, fromMicros 0,
// columnMicros 15, count 2 -> column 0 {first 5, last 1, min 1, max 5},
// column 1 {9, 9, 9, 9}.
void decimate(const TrendSamples& samples, int64_t fromMicros, int64_t columnMicros, int count,
              std::vector<TrendColumn>& columns);

// The columns the trend shows, kept between redraws: the window moves by
// whole columns, so only the columns that new samples reach are decimated
// again, not the whole span. Arrival times never decrease, so a sample
// appended later never falls into a column before the newest one seen.
class TrendView {
public:
    // Brings columns() to the window of `count` columns of `columnMicros`
    // starting at `fromMicros`, as decimate() would give it.
    void update(const TrendSamples& samples, int64_t fromMicros, int64_t columnMicros, int count);
    const std::vector<TrendColumn>& columns() const { return columns_; }

private:
    std::vector<TrendColumn> columns_;
    int64_t from_ = 0;
    int64_t columnMicros_ = 0;
    int64_t newest_ = 0;  // arrival of the newest sample decimated
    size_t held_ = 0;     // samples held at the last update
};

// True when the line runs on from `before` to `after` (two filled columns,
// in this order) without a silence longer than kTrendGapMicros.
inline bool columnsJoin(const TrendColumn& before, const TrendColumn& after) {
    return after.firstMicros - before.lastMicros <= kTrendGapMicros;
}

}  // namespace kolvar::capture
