// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Recording of the accepted frames to a candump -l log, written by a thread
// of its own fed by recordTap(): neither the receive worker nor the UI thread
// ever waits for the disk. A write failure stops the recording; the file
// keeps the whole lines written before it. Plain C++, no Qt.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "can/line_file.h"

class Recorder {
public:
    Recorder() = default;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    ~Recorder() { stop(); }

    // [main-thread] Creates `path`, opens recordTap() and starts the writer.
    // Lines carry `interface` and arrival times moved onto the wall clock by
    // adding `wallMinusMonotonicMicros`. False, with the reason in *error,
    // when the file cannot be created.
    bool start(const std::string& path, const std::string& interface,
               int64_t wallMinusMonotonicMicros, std::string* error);
    // [main-thread] Closes the tap, writes what it still holds and closes the
    // file. Harmless when not recording.
    void stop();

    // [any-thread] True from start() until stop() or a failure.
    bool recording() const { return recording_.load(); }
    // [any-thread] Lines written so far.
    uint64_t lines() const { return lines_.load(); }
    // [main-thread] The failure that ended the recording (empty if none),
    // e.g. "No space left on device".
    std::string failure() const;

private:
    void run();
    bool writePending();

    LineFile file_;
    std::string interface_;
    int64_t wallOffset_ = 0;
    std::string block_;
    std::thread writer_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopRequested_ = false;  // guarded by mutex_
    std::string failure_;         // guarded by mutex_
    std::atomic<bool> recording_{false};
    std::atomic<uint64_t> lines_{0};
};
