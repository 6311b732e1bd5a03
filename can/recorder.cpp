// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/recorder.h"

#include <chrono>

#include "can/frame_tap.h"
#include "can/log_lines.h"

namespace {
// How long the writer sleeps between batches: 160 frames at 8,000 frames/s,
// far below the tap's capacity.
constexpr auto kWriterPeriod = std::chrono::milliseconds(20);
}  // namespace

bool Recorder::start(const std::string& path, const std::string& interface,
                     int64_t wallMinusMonotonicMicros, std::string* error) {
    stop();
    if (!file_.open(path)) {
        *error = file_.error();
        return false;
    }
    interface_ = interface;
    wallOffset_ = wallMinusMonotonicMicros;
    lines_.store(0);
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

bool Recorder::writePending() {
    block_.clear();
    uint64_t count = 0;
    recordTap().drain([&](const TappedFrame& frame) {
        block_ += candumpLine(frame.arrivalMicros + wallOffset_, interface_, frame.id, frame.length, frame.data);
        ++count;
    });
    if (block_.empty()) return true;
    if (!file_.append(block_)) return false;
    lines_.fetch_add(count);
    return true;
}
