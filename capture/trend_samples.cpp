// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/trend_samples.h"

#include <algorithm>
#include <bit>


namespace kolvar::capture {

namespace {
unsigned blockShiftFor(size_t capacity, unsigned blockShift) {
    const size_t whole = std::bit_ceil(std::max<size_t>(capacity, 1));
    return std::min(blockShift, static_cast<unsigned>(std::countr_zero(whole)));
}
}  // namespace

TrendSamples::TrendSamples(WordScale scale, size_t capacity, unsigned blockShift)
    : scale_(scale),
      capacity_(std::max<size_t>(capacity, 1)),
      blockShift_(blockShiftFor(capacity_, blockShift)),
      blockMask_((size_t{1} << blockShift_) - 1),
      blocks_((capacity_ + blockMask_) >> blockShift_) {
    marks_.reserve(kMaxMarks);
}

void TrendSamples::append(int64_t micros, int32_t id, uint16_t word1, uint16_t word2) {
    if (count_ == capacity_) {
        first_ = first_ + 1 < capacity_ ? first_ + 1 : 0;
        --count_;
    }
    const size_t s = slot(count_);
    Block& block = blocks_[s >> blockShift_];
    if (!block.micros) {
        // Left uninitialised: a page is touched only when samples reach it.
        const size_t n = blockMask_ + 1;
        block.micros = std::make_unique_for_overwrite<int64_t[]>(n);
        block.words = std::make_unique_for_overwrite<uint32_t[]>(n);
        block.ids = std::make_unique_for_overwrite<uint16_t[]>(n);
    }
    const size_t o = offsetOf(s);
    block.micros[o] = micros;
    block.words[o] = static_cast<uint32_t>(word1) | static_cast<uint32_t>(word2) << 16;
    block.ids[o] = static_cast<uint16_t>(id & 0x7FF);
    ++count_;

    if (haveId_ && id != lastId_) {
        if (marks_.size() == kMaxMarks) marks_.erase(marks_.begin());
        marks_.push_back({micros, id});
    }
    haveId_ = true;
    lastId_ = id;
}

void TrendSamples::clear() {
    for (Block& block : blocks_) block = Block{};
    first_ = 0;
    count_ = 0;
    marks_.clear();
    haveId_ = false;
}

size_t TrendSamples::heldBytes() const {
    const size_t taken = static_cast<size_t>(
        std::count_if(blocks_.begin(), blocks_.end(), [](const Block& block) { return block.micros != nullptr; }));
    return taken * ((blockMask_ + 1) * (sizeof(int64_t) + sizeof(uint32_t) + sizeof(uint16_t)));
}

TrendSample TrendSamples::at(size_t i) const {
    const size_t s = slot(i);
    const Block& block = blockOf(s);
    const size_t o = offsetOf(s);
    const uint32_t words = block.words[o];
    return {block.micros[o], static_cast<uint16_t>(words & 0xFFFF), static_cast<uint16_t>(words >> 16),
            block.ids[o]};
}

size_t TrendSamples::lowerBound(int64_t micros) const {
    size_t low = 0;
    size_t high = count_;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        const size_t s = slot(middle);
        if (blockOf(s).micros[offsetOf(s)] < micros) low = middle + 1;
        else high = middle;
    }
    return low;
}

std::vector<IdentifierMark> TrendSamples::marks() const {
    std::vector<IdentifierMark> held;
    const int64_t oldest = count_ ? at(0).micros : INT64_MAX;
    for (const IdentifierMark& mark : marks_)
        if (mark.micros >= oldest) held.push_back(mark);
    return held;
}

}  // namespace kolvar::capture
