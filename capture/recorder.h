// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Recording of the accepted frames to a candump -l log, written by a thread
// of its own fed by a FrameSource: neither the receive worker nor the UI
// thread ever waits for the disk, not even to create the file (a FIFO, a
// stalled network share). A write failure stops the recording; the file
// keeps the whole lines written before it. Frames lost on the way while it
// runs (FrameSource::lost()) are marked where the writer finds them, with a
// comment line that can-utils' readers and the simulator pass over:
//   "# lost 17289 frames\n"
// Plain C++, no Qt.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/file_job.h"
#include "capture/frame_source.h"

namespace kolvar::capture {

class Recorder {
public:
    // How long stop() lets the writer finish what the tap holds before it
    // cancels the writes: a reader that takes nothing does not hold Stop.
    static constexpr std::chrono::milliseconds kFinishWait{200};

    // `source` outlives the recorder.
    explicit Recorder(FrameSource& source) : source_(source) {}
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    ~Recorder() { stop(); }

    // [main-thread] Opens the source and starts the writer, which creates
    // `path`. A frame's line carries the name of the channel it came in on,
    // channelNames[frame.channel] ("can" for one outside the table), and its
    // arrival time moved onto the wall clock by adding
    // `wallMinusMonotonicMicros`. False, with the reason in *error, when no
    // writer thread could start; a file that cannot be created ends the
    // recording at once: recording() turns false and failure() says why,
    // with opened() false.
    bool start(const std::string& path, std::vector<std::string> channelNames,
               int64_t wallMinusMonotonicMicros, std::string* error);
    // [main-thread] Closes the source, writes what it still holds and closes
    // the file, and joins the writer. A writer still waiting on the file
    // after kFinishWait is cancelled, which ends its wait at once (see
    // LineFile). Harmless when not recording.
    void stop();

    // [main-thread] True from start() until stop() or a failure.
    bool recording() const;
    // [main-thread] True once the file was created.
    bool opened() const;
    // [main-thread] Frames in the file so far (its lines less the marks).
    uint64_t lines() const;
    // [main-thread] Frames lost while it ran, as marked in the file.
    uint64_t lost() const;
    // [main-thread] The failure that ended the recording (empty if none),
    // e.g. "No space left on device".
    std::string failure() const;

private:
    struct Session;
    FrameSource& source_;
    std::shared_ptr<Session> session_;
    FileJob writer_;
};

}  // namespace kolvar::capture
