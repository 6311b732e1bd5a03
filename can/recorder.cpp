// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/recorder.h"

#include <chrono>

#include <algorithm>

#include "can/frame_tap.h"
#include "can/log_lines.h"
#include "can/lost_frames.h"

namespace {
// How long the writer sleeps between batches: 160 frames at 8,000 frames/s,
// far below the tap's capacity.
constexpr auto kWriterPeriod = std::chrono::milliseconds(20);
}  // namespace

bool Recorder::start(const std::string& path, std::vector<std::string> channelNames,
                     int64_t wallMinusMonotonicMicros, std::string* error) {
    stop();
    if (!file_.open(path)) {
        *error = file_.error();
        return false;
    }
    names_ = std::move(channelNames);
    for (std::string& name : names_) name = logInterfaceName(name);
    wallOffset_ = wallMinusMonotonicMicros;
    lines_.store(0);
    lost_.store(0);
    tapDropsAtStart_ = recordTap().dropped();
    layerDropsAtStart_ = layerDropsSeen_ = LayerDroppedFrames();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = false;
        failure_.clear();
    }
    recording_.store(true);
    recordTap().open();
    writer_ = std::thread([this] { run(); });
    return true;
}

void Recorder::stop() {
    if (!writer_.joinable()) return;
    recordTap().close();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
    writer_.join();
}

std::string Recorder::failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

void Recorder::run() {
    bool ok = true;
    for (;;) {
        bool stopping;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, kWriterPeriod, [this] { return stopRequested_; });
            stopping = stopRequested_;
        }
        // After a stop the tap is closed: this last pass takes all it holds.
        ok = writePending();
        if (!ok || stopping) break;
    }
    if (!ok) recordTap().close();
    const bool closed = file_.close();
    if (!ok || !closed) {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = file_.error();
    }
    recording_.store(false);
}

uint64_t Recorder::lostSinceStart() {
    // The layer's total may dip for a moment while a channel closes; the
    // highest seen stands.
    layerDropsSeen_ = std::max(layerDropsSeen_, LayerDroppedFrames());
    return recordTap().dropped() - tapDropsAtStart_ + layerDropsSeen_ - layerDropsAtStart_;
}

bool Recorder::writePending() {
    static const std::string kUnnamed = "can";
    block_.clear();
    uint64_t count = 0;
    recordTap().drain([&](const TappedFrame& frame) {
        const bool named = frame.channel >= 0 && static_cast<size_t>(frame.channel) < names_.size();
        block_ += candumpLine(frame.arrivalMicros + wallOffset_, named ? names_[frame.channel] : kUnnamed,
                              frame.id, frame.length, frame.data);
        ++count;
    });
    // Frames refused by the full hand-over came after those it held, and
    // those the layer dropped before the ones still queued there: the mark
    // goes after this batch.
    const uint64_t lost = lostSinceStart();
    const uint64_t newlyLost = lost - lost_.load();
    if (newlyLost > 0) block_ += "# lost " + std::to_string(newlyLost) + " frames\n";
    if (block_.empty()) return true;
    const long long before = file_.size();
    const bool ok = file_.append(block_);
    // After a failure the file keeps the whole lines of the block that
    // reached it: those are what the counts say.
    const size_t kept = static_cast<size_t>(file_.size() - before);
    if (ok) {
        lines_.fetch_add(count);
        if (newlyLost > 0) lost_.store(lost);
    } else {
        lines_.fetch_add(static_cast<uint64_t>(std::count(block_.begin(), block_.begin() + kept, '\n')));
    }
    return ok;
}
