// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a recording takes its frames from, and how many were lost on their
// way to it. The recorder's writer thread drains it; the code that wires the
// recorder to the measurement implements it. Plain C++, no Qt.

#include <cstdint>
#include <functional>

namespace kolvar::capture {

struct Frame {
    int64_t arrivalMicros;  // CLOCK_MONOTONIC
    int32_t id;             // 11-bit identifier
    unsigned char length;   // data bytes it carried, 0..8
    unsigned char data[8];
    int channel;            // the channel it came in on: an index into the recording's names
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // [owner-thread] Starts collecting, from an empty queue.
    virtual void open() = 0;
    // [any-thread] Stops collecting; what is queued stays for drain().
    virtual void close() = 0;
    // [writer-thread] Passes every queued frame to take(frame), oldest first.
    virtual void drain(const std::function<void(const Frame&)>& take) = 0;
    // [any-thread] Frames lost on the way since the process started. It may
    // dip for a moment (a channel closing); the recorder keeps the highest.
    virtual uint64_t lost() const = 0;
};

}  // namespace kolvar::capture
