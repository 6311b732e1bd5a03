// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/trend_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "capture/decimate.h"

namespace kolvar::capture {

namespace {
// A reading r is shown as 200 r / 4095 - 100 = kUnit * d with d = 2 r - 4095,
// an odd integer in -4095 .. 4095; sums of d and d*d stay exact in integers.
constexpr double kUnit = 100.0 / 4095.0;

struct Sums {
    int64_t sum = 0;
    int64_t squares = 0;
    int min = 4096;
    int max = -4096;

    void add(int d) {
        sum += d;
        squares += static_cast<int64_t>(d) * d;
        min = std::min(min, d);
        max = std::max(max, d);
    }
    ChannelStats stats(size_t frames) const {
        const auto n = static_cast<__int128>(frames);
        const double count = static_cast<double>(frames);
        // n * sum(d^2) - sum(d)^2 = n^2 * variance, exactly.
        const __int128 spread = n * squares - static_cast<__int128>(sum) * sum;
        ChannelStats s;
        s.min = kUnit * min;
        s.max = kUnit * max;
        s.mean = kUnit * static_cast<double>(sum) / count;
        s.stddev = kUnit * std::sqrt(static_cast<double>(spread)) / count;
        s.rms = kUnit * std::sqrt(static_cast<double>(squares) / count);
        return s;
    }
};

int centred(uint16_t word) { return 2 * (word >> 4) - 4095; }
}  // namespace

StretchStats trendStats(const TrendSamples& samples, int64_t fromMicros, int64_t toMicros) {
    StretchStats out;
    out.fromMicros = fromMicros;
    out.toMicros = toMicros;
    Sums sums[2];
    int64_t previous = 0;
    for (size_t i = samples.lowerBound(fromMicros); i < samples.size(); ++i) {
        const TrendSample s = samples.at(i);
        if (s.micros > toMicros) break;
        if (out.frames && s.micros - previous > kTrendGapMicros) {
            ++out.silences;
            out.silentMicros += s.micros - previous;
        }
        previous = s.micros;
        sums[0].add(centred(s.word1));
        sums[1].add(centred(s.word2));
        ++out.frames;
    }
    if (out.frames)
        for (int c = 0; c < 2; ++c) out.ch[c] = sums[c].stats(out.frames);
    for (const IdentifierMark& mark : samples.marks())
        if (mark.micros >= fromMicros && mark.micros <= toMicros) ++out.identifierChanges;
    return out;
}

PointValues trendValuesAt(const TrendSamples& samples, int64_t micros, int64_t reachMicros) {
    PointValues out;
    if (samples.size() == 0) return out;
    const size_t after = samples.lowerBound(micros);
    const bool haveAfter = after < samples.size();
    const bool haveBefore = after > 0;
    const TrendSample next = haveAfter ? samples.at(after) : TrendSample{};
    const TrendSample prior = haveBefore ? samples.at(after - 1) : TrendSample{};
    const bool joined = haveAfter && haveBefore && next.micros - prior.micros <= kTrendGapMicros;
    const bool nearNext = haveAfter && next.micros - micros <= reachMicros;
    const bool nearPrior = haveBefore && micros - prior.micros <= reachMicros;
    if (!joined && !nearNext && !nearPrior) return out;
    bool takeNext = haveAfter && (!haveBefore || next.micros - micros < micros - prior.micros);
    if (!joined) takeNext = nearNext && (!nearPrior || next.micros - micros < micros - prior.micros);
    const TrendSample s = takeNext ? next : prior;
    out.frame = true;
    out.micros = s.micros;
    out.value[0] = samples.value(s.word1);
    out.value[1] = samples.value(s.word2);
    return out;
}

}  // namespace kolvar::capture
