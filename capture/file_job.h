// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A thread that writes one file for its owner, and that the owner can always
// leave. cancel() makes the file's writes give up at once, also one that
// waits for a FIFO's reader to take data (LineFile::open with cancelFd());
// release() waits a bounded time for the thread and, when it has not ended
// (a call stuck on a stalled network share), leaves it to end by itself.
// The work must therefore own everything it uses (captured by value or
// through a shared_ptr), never its owner. Plain C++, no Qt.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class FileJob {
public:
    // How long release() waits by default, twice at most: a close of the
    // viewer with a recording and an export under way ends within a second.
    static constexpr std::chrono::milliseconds kReleaseWait{200};

    FileJob() = default;
    FileJob(const FileJob&) = delete;
    FileJob& operator=(const FileJob&) = delete;
    ~FileJob() { release(kReleaseWait); }

    // [owner-thread] Runs work(cancelFd) on a thread of its own; cancelFd is
    // the descriptor to give LineFile::open. False when the job still has a
    // thread, or no descriptor or thread could be made.
    bool start(std::function<void(int cancelFd)> work);
    // [owner-thread] True from start() until release().
    bool started() const { return thread_.joinable(); }
    // [owner-thread] True once the work has returned.
    bool ended() const;
    // [owner-thread] Makes the file's writes fail from now on; harmless
    // when not started.
    void cancel();
    // [owner-thread] Waits up to `bound` for the work to return, then cancels
    // it and waits up to `bound` again; joins the thread when the work has
    // returned, otherwise leaves it to end by itself. True when it returned.
    bool release(std::chrono::milliseconds bound);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};
