// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A thread that writes one file for its owner, which stops and joins it.
// cancel() makes the file's writes give up at once, also one that waits for
// a FIFO's reader to take data or for a slow file to take more (LineFile
// opens non-blocking and polls the file together with the cancel
// descriptor); release() lets the work finish for a bounded time, then
// cancels it and joins the thread. The work owns what it uses (captured by
// value or through a shared_ptr), never its owner. Plain C++, no Qt.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kolvar::capture {

class FileJob {
public:
    // How long release() lets the work finish by default before it cancels
    // it: a close of the viewer with a recording and an export under way
    // ends within a second.
    static constexpr std::chrono::milliseconds kReleaseWait{200};

    FileJob() = default;
    FileJob(const FileJob&) = delete;
    FileJob& operator=(const FileJob&) = delete;
    ~FileJob() { release(kReleaseWait); }

    // [owner-thread] Runs work(cancelFd) on a thread of its own, named
    // "kolvar-file"; cancelFd is
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
    // it, and joins the thread. True when the work returned before the cancel.
    bool release(std::chrono::milliseconds bound);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace kolvar::capture
