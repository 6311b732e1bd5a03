#include "can/decimate.h"

#include <algorithm>

void decimate(const TrendSamples& samples, int64_t fromMicros, int64_t columnMicros, int count,
              std::vector<TrendColumn>& columns) {
    columns.assign(static_cast<size_t>(std::max(count, 0)), TrendColumn{});
    if (count <= 0 || columnMicros <= 0) return;
    const int64_t toMicros = fromMicros + columnMicros * count;
    for (size_t i = samples.lowerBound(fromMicros); i < samples.size(); ++i) {
        const TrendSample sample = samples.at(i);
        if (sample.micros >= toMicros) break;
        TrendColumn& column = columns[static_cast<size_t>((sample.micros - fromMicros) / columnMicros)];
        const int readings[2] = {sample.word1 >> 4, sample.word2 >> 4};
        if (column.count == 0) {
            column.firstMicros = sample.micros;
            for (int c = 0; c < 2; ++c) column.ch[c] = {readings[c], readings[c], readings[c], readings[c]};
        } else {
            for (int c = 0; c < 2; ++c) {
                ChannelColumn& ch = column.ch[c];
                ch.last = readings[c];
                ch.min = std::min(ch.min, readings[c]);
                ch.max = std::max(ch.max, readings[c]);
            }
        }
        column.lastMicros = sample.micros;
        ++column.count;
    }
}
