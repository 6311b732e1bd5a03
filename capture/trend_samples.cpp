// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/trend_samples.h"

#include <algorithm>
#include <bit>
#include <cstdint>


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
    if (!block.offsets) {
        // Left uninitialised: a page is touched only when samples reach it.
        const size_t n = blockMask_ + 1;
        block.offsets = std::make_unique_for_overwrite<uint32_t[]>(n);
        block.words = std::make_unique_for_overwrite<uint32_t[]>(n);
    }
    const size_t o = offsetOf(s);
    const auto id11 = static_cast<uint16_t>(id & 0x7FF);
    if (o == 0) {
        // A new round in this block: the previous round's samples behind
        // this one keep their runs until they are overwritten too.
        block.olderRuns = std::move(block.runs);
        block.runs.clear();
    }
    // A difference that does not fit (or a time before the run's base, were
    // the caller ever to give one) starts a run of its own.
    if (block.runs.empty() || block.runs.back().id != id11 ||
        static_cast<uint64_t>(micros - block.runs.back().base) > UINT32_MAX)
        block.runs.push_back({static_cast<uint32_t>(o), id11, micros});
    // The last place of the block: no sample of the previous round is left.
    if (o == blockMask_ || s + 1 == capacity_) block.olderRuns = {};
    block.offsets[o] = static_cast<uint32_t>(micros - block.runs.back().base);
    block.words[o] = static_cast<uint32_t>(word1) | static_cast<uint32_t>(word2) << 16;
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
    size_t bytes = 0;
    for (const Block& block : blocks_) {
        if (block.offsets) bytes += (blockMask_ + 1) * (sizeof(uint32_t) + sizeof(uint32_t));
        bytes += (block.runs.capacity() + block.olderRuns.capacity()) * sizeof(Run);
    }
    return bytes;
}

const TrendSamples::Run& TrendSamples::runOf(size_t s) const {
    const Block& block = blockOf(s);
    const size_t o = offsetOf(s);
    // The block written next holds, from the place written next on, the
    // previous round's samples; that place at the block's start means the
    // round has not begun there, and all it holds is the previous round's.
    const size_t next = slot(count_ == capacity_ ? 0 : count_);
    const bool older = count_ == capacity_ && (next >> blockShift_) == (s >> blockShift_) &&
                       offsetOf(next) != 0 && o >= offsetOf(next);
    const std::vector<Run>& runs = older ? block.olderRuns : block.runs;
    if (runs.size() == 1) return runs.front();
    // The last run starting at or before o.
    const auto after = std::upper_bound(runs.begin(), runs.end(), o,
                                        [](size_t place, const Run& run) { return place < run.start; });
    return *(after - 1);
}

TrendSample TrendSamples::at(size_t i) const {
    const size_t s = slot(i);
    const Block& block = blockOf(s);
    const size_t o = offsetOf(s);
    const Run& run = runOf(s);
    const uint32_t words = block.words[o];
    return {run.base + block.offsets[o], static_cast<uint16_t>(words & 0xFFFF), static_cast<uint16_t>(words >> 16),
            run.id};
}

size_t TrendSamples::lowerBound(int64_t micros) const {
    size_t low = 0;
    size_t high = count_;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        const size_t s = slot(middle);
        if (runOf(s).base + blockOf(s).offsets[offsetOf(s)] < micros) low = middle + 1;
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
