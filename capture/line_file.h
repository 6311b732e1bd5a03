// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A file written in whole lines: each append writes a block of complete
// lines; when a write fails part-way (disk full, file too large, device
// error), the file is cut back to the end of the last whole line and the
// failure is kept. Nothing waits without a way out: a FIFO nobody reads is
// refused at once, and a write waiting for a slow reader gives up when the
// cancel descriptor fires. Plain C++, no Qt. Used from one thread at a time.

#include <string>
#include <string_view>

namespace kolvar::capture {

class LineFile {
public:
    LineFile() = default;
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;
    ~LineFile() { close(); }

    // Creates or empties the file. False, with the reason in error(), when
    // it cannot be opened for writing ("no program reads this FIFO" for a
    // FIFO without a reader). `cancelFd`, unless -1, is a descriptor that
    // turns readable to cancel (FileJob::start gives one).
    bool open(const std::string& path, int cancelFd = -1);
    // Writes `lines` (complete lines, each ending in '\n'). False after a
    // failure, now or earlier; the file then ends with a whole line. Waits
    // while a pipe's reader takes nothing, until cancelled ("cancelled while
    // its reader took nothing"); once cancelled, writes nothing
    // ("cancelled").
    bool append(std::string_view lines);
    // Closes; false when closing reports a failure (set in error()).
    bool close();

    // Bytes of whole lines in the file, also after a failure.
    long long size() const { return committed_; }
    bool failed() const { return !error_.empty(); }
    // "No space left on device", "Permission denied", ... or empty.
    const std::string& error() const { return error_; }

private:
    void fail(int errorNumber);
    void fail(const char* reason);
    bool cancelled() const;
    // Waits until the file takes data again; false when cancelled first.
    bool waitWritable();

    int fd_ = -1;
    int cancelFd_ = -1;
    long long committed_ = 0;  // bytes of whole lines in the file
    std::string error_;
};

}  // namespace kolvar::capture
