// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Recording of the accepted frames to a candump -l log, written by a thread
// of its own fed by recordTap(): neither the receive worker nor the UI thread
// ever waits for the disk. A write failure stops the recording; the file
// keeps the whole lines written before it. Frames lost on the way while it
// runs (dropped by the CAN layer before the worker, or refused by the full
// hand-over) are marked where the writer finds them, with a comment line
// that can-utils' readers and the simulator pass over:
//   "# lost 17289 frames\n"
// Plain C++, no Qt.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "can/line_file.h"

class Recorder {
public:
    Recorder() = default;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    ~Recorder() { stop(); }

    // [main-thread] Creates `path`, opens recordTap() and starts the writer.
    // A frame's line carries the name of the channel it came in on,
    // channelNames[frame.channel] ("can" for one outside the table), and its
    // arrival time moved onto the wall clock by adding
    // `wallMinusMonotonicMicros`. False, with the reason in *error, when the
    // file cannot be created.
    bool start(const std::string& path, std::vector<std::string> channelNames,
               int64_t wallMinusMonotonicMicros, std::string* error);
    // [main-thread] Closes the tap, writes what it still holds and closes the
    // file. Harmless when not recording.
    void stop();

    // [any-thread] True from start() until stop() or a failure.
    bool recording() const { return recording_.load(); }
    // [any-thread] Frames in the file so far (its lines less the marks).
    uint64_t lines() const { return lines_.load(); }
    // [any-thread] Frames lost while it ran, as marked in the file.
    uint64_t lost() const { return lost_.load(); }
    // [main-thread] The failure that ended the recording (empty if none),
    // e.g. "No space left on device".
    std::string failure() const;

private:
    void run();
    bool writePending();
    uint64_t lostSinceStart();

    LineFile file_;
    std::vector<std::string> names_;
    int64_t wallOffset_ = 0;
    std::string block_;
    std::thread writer_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopRequested_ = false;  // guarded by mutex_
    std::string failure_;         // guarded by mutex_
    std::atomic<bool> recording_{false};
    std::atomic<uint64_t> lines_{0};
    std::atomic<uint64_t> lost_{0};
    // [writer] The loss counts at start, and the most the layer's has shown.
    uint64_t tapDropsAtStart_ = 0;
    uint64_t layerDropsAtStart_ = 0;
    uint64_t layerDropsSeen_ = 0;
};
