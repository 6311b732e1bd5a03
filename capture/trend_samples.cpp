// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/trend_samples.h"

#include <algorithm>


namespace kolvar::capture {

TrendSamples::TrendSamples(WordScale scale, size_t capacity)
    : scale_(scale), micros_(capacity), words_(capacity), ids_(capacity) {
    marks_.reserve(kMaxMarks);
}

void TrendSamples::append(int64_t micros, int32_t id, uint16_t word1, uint16_t word2) {
    if (count_ == micros_.size()) {
        first_ = (first_ + 1) % micros_.size();
        --count_;
    }
    const size_t s = slot(count_);
    micros_[s] = micros;
    words_[s] = static_cast<uint32_t>(word1) | static_cast<uint32_t>(word2) << 16;
    ids_[s] = static_cast<uint16_t>(id & 0x7FF);
    ++count_;

    if (haveId_ && id != lastId_) {
        if (marks_.size() == kMaxMarks) marks_.erase(marks_.begin());
        marks_.push_back({micros, id});
    }
    haveId_ = true;
    lastId_ = id;
}

void TrendSamples::clear() {
    first_ = 0;
    count_ = 0;
    marks_.clear();
    haveId_ = false;
}

TrendSample TrendSamples::at(size_t i) const {
    const size_t s = slot(i);
    return {micros_[s], static_cast<uint16_t>(words_[s] & 0xFFFF), static_cast<uint16_t>(words_[s] >> 16),
            ids_[s]};
}

size_t TrendSamples::lowerBound(int64_t micros) const {
    size_t low = 0;
    size_t high = count_;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (micros_[slot(middle)] < micros) low = middle + 1;
        else high = middle;
    }
    return low;
}

std::vector<IdentifierMark> TrendSamples::marks() const {
    std::vector<IdentifierMark> held;
    const int64_t oldest = count_ ? micros_[slot(0)] : INT64_MAX;
    for (const IdentifierMark& mark : marks_)
        if (mark.micros >= oldest) held.push_back(mark);
    return held;
}

}  // namespace kolvar::capture
