// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the trend holds: the accepted frames' arrival times and channel words
// in a ring of fixed capacity, oldest overwritten when full, and the places
// where the identifier changed. It takes decoded words, not frames: the code
// that feeds it decodes them, and gives the scale that turns a word into the
// value shown. The ring's storage comes in blocks taken as samples arrive, so
// it holds about what the data needs (a device sending 100 frames/s fills one
// block in ten minutes), and clear() gives the blocks back. A sample takes 8
// bytes: its time as a 32-bit offset from a base its block keeps, and its two
// words whole (the CSV export carries them raw). The identifier and the base
// are kept once per run of samples in a block: a run ends where the
// identifier changes or where the offset would pass 32 bits (71 minutes).
// Plain C++, no Qt. [main-thread]

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>


namespace kolvar::capture {

// A channel word (0..65535) as the value shown, e.g. -100.0 .. +100.0.
using WordScale = double (*)(int32_t word);

struct TrendSample {
    int64_t micros;  // arrival time, CLOCK_MONOTONIC
    uint16_t word1;
    uint16_t word2;
    int32_t id;      // the frame's 11-bit identifier
};

// The first frame after a change of identifier.
struct IdentifierMark {
    int64_t micros;
    int32_t id;
};

class TrendSamples {
public:
    // 10 minutes at 8,333 frames/s, more than a 1 Mbit/s bus carries of
    // 8-byte frames; 8 bytes a sample (about 40 MB when full).
    static constexpr size_t kDefaultCapacity = 5'000'000;
    // 64 Ki samples a block (512 KiB): 65 s at 1,000 frames/s.
    static constexpr unsigned kDefaultBlockShift = 16;
    static constexpr size_t kMaxMarks = 256;

    // Blocks hold 2^blockShift samples, or the capacity rounded up to a power
    // of two when that is less. Example: capacity 10, blockShift 2 -> three
    // blocks of 4, the last one half used.
    explicit TrendSamples(WordScale scale, size_t capacity = kDefaultCapacity,
                          unsigned blockShift = kDefaultBlockShift);

    // Appends a frame of `id` arriving at `micros` (CLOCK_MONOTONIC, never
    // before the previous one) with its two channel words. A frame whose
    // identifier differs from the previous frame's adds a mark.
    void append(int64_t micros, int32_t id, uint16_t word1, uint16_t word2);
    // Forgets every sample and mark and frees the blocks.
    void clear();

    size_t size() const { return count_; }
    size_t capacity() const { return capacity_; }
    // Bytes of the blocks taken so far, their runs included.
    size_t heldBytes() const;
    // A word as the value shown, by the scale given at construction.
    double value(uint16_t word) const { return scale_(word); }
    WordScale scale() const { return scale_; }
    // Sample i, counted from the oldest held.
    TrendSample at(size_t i) const;
    // Index of the first sample arriving at or after `micros` (size() if none).
    // Arrival times never decrease, so this is a binary search.
    size_t lowerBound(int64_t micros) const;
    // Identifier changes, oldest first; those older than the oldest sample
    // are gone.
    std::vector<IdentifierMark> marks() const;

private:
    // Samples of one identifier from `start` on in a block, their times
    // counted from `base`; the run goes on to the next one's start.
    struct Run {
        uint32_t start;
        uint16_t id;
        int64_t base;
    };
    struct Block {
        std::unique_ptr<uint32_t[]> offsets;  // micros - the run's base
        std::unique_ptr<uint32_t[]> words;    // word1 | word2 << 16
        // The runs of the samples written since the block was last entered
        // at its first place, and, while the ring overwrites it, those of the
        // previous round's samples still held behind the place written next.
        std::vector<Run> runs;
        std::vector<Run> olderRuns;
    };

    // The run sample `s` belongs to.
    const Run& runOf(size_t s) const;

    // i < capacity(): one compare instead of a division, as decimation calls
    // this for every sample in view; the block and the place in it are then
    // a shift and a mask.
    size_t slot(size_t i) const {
        const size_t s = first_ + i;
        return s < capacity_ ? s : s - capacity_;
    }
    const Block& blockOf(size_t s) const { return blocks_[s >> blockShift_]; }
    size_t offsetOf(size_t s) const { return s & blockMask_; }

    WordScale scale_;
    size_t capacity_;
    unsigned blockShift_;
    size_t blockMask_;
    std::vector<Block> blocks_;  // empty ones not yet taken
    size_t first_ = 0;
    size_t count_ = 0;
    std::vector<IdentifierMark> marks_;
    bool haveId_ = false;
    int32_t lastId_ = 0;
};

}  // namespace kolvar::capture
