// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/decimate.h"

#include <algorithm>

namespace kolvar::capture {

namespace {
// Adds the samples from `firstColumn` on to columns that start out empty
// from there.
void accumulate(const TrendSamples& samples, int64_t fromMicros, int64_t columnMicros,
                std::vector<TrendColumn>& columns, size_t firstColumn) {
    const int64_t toMicros = fromMicros + columnMicros * static_cast<int64_t>(columns.size());
    const int64_t startMicros = fromMicros + columnMicros * static_cast<int64_t>(firstColumn);
    for (size_t i = samples.lowerBound(startMicros); i < samples.size(); ++i) {
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
}  // namespace

void decimate(const TrendSamples& samples, int64_t fromMicros, int64_t columnMicros, int count,
              std::vector<TrendColumn>& columns) {
    columns.assign(static_cast<size_t>(std::max(count, 0)), TrendColumn{});
    if (count <= 0 || columnMicros <= 0) return;
    accumulate(samples, fromMicros, columnMicros, columns, 0);
}

void TrendView::update(const TrendSamples& samples, int64_t fromMicros, int64_t columnMicros, int count) {
    const bool sameGrid = columnMicros == columnMicros_ && count > 0 &&
                          columns_.size() == static_cast<size_t>(count) && fromMicros >= from_ &&
                          (fromMicros - from_) % columnMicros == 0 && samples.size() >= held_;
    const int64_t shift = sameGrid ? (fromMicros - from_) / columnMicros : 0;
    if (!sameGrid || shift >= count || samples.size() == 0) {
        decimate(samples, fromMicros, columnMicros, count, columns_);
    } else {
        // Columns that left on the left go; empty ones enter on the right.
        columns_.erase(columns_.begin(), columns_.begin() + shift);
        columns_.resize(static_cast<size_t>(count));
        // The column holding the newest sample seen may have grown since.
        const int64_t first = std::clamp<int64_t>((newest_ - fromMicros) / columnMicros, 0, count);
        std::fill(columns_.begin() + first, columns_.end(), TrendColumn{});
        accumulate(samples, fromMicros, columnMicros, columns_, static_cast<size_t>(first));
    }
    from_ = fromMicros;
    columnMicros_ = columnMicros;
    held_ = samples.size();
    newest_ = samples.size() ? samples.at(samples.size() - 1).micros : 0;
}

}  // namespace kolvar::capture
