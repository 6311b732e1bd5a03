// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Measurements over a stretch of what the trend holds, from the samples
// themselves (not the decimated picture), and the values at a point in
// time. Plain C++, no Qt. [any-thread] on a TrendSamples no one appends to
// meanwhile; the trend window calls them on the UI thread.

#include <cstddef>
#include <cstdint>

#include "capture/trend_samples.h"

namespace kolvar::capture {

struct ChannelStats {
    double min = 0, max = 0, mean = 0, stddev = 0, rms = 0;
    double peakToPeak() const { return max - min; }
};

struct StretchStats {
    int64_t fromMicros = 0;  // the stretch asked for, [from, to]
    int64_t toMicros = 0;
    size_t frames = 0;       // frames in it; 0: no channel figures
    ChannelStats ch[2];
    size_t silences = 0;     // pauses longer than kTrendGapMicros between two of its frames
    int64_t silentMicros = 0;  // their length together
    size_t identifierChanges = 0;
};

// Statistics of the frames arriving in [fromMicros, toMicros], values on the
// -100 .. +100 scale. The standard deviation is the population's (divided by
// the frame count); silences and identifier changes split nothing, they are
// counted. The sums run on the integer readings, so a constant gives a
// standard deviation of exactly 0.
// Example: readings 0, 4095, 0, 4095 -> min -100, max +100, mean 0,
// stddev 100, rms 100, peak-to-peak 200.
StretchStats trendStats(const TrendSamples& samples, int64_t fromMicros, int64_t toMicros);

struct PointValues {
    bool frame = false;  // false: the point lies in a silence or outside what is held
    int64_t micros = 0;  // arrival of the frame read
    double value[2] = {0, 0};
};

// The frame nearest to `micros`, when the point lies on the line the trend
// draws: between two frames no further apart than kTrendGapMicros, or within
// `reachMicros` (about a pixel column) of a frame. Otherwise frame = false.
PointValues trendValuesAt(const TrendSamples& samples, int64_t micros, int64_t reachMicros);

}  // namespace kolvar::capture
