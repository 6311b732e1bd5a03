// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/file_job.h"

#include <csignal>
#include <cstdint>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kolvar::capture {

struct FileJob::Shared {
    explicit Shared(int fd) : cancelFd(fd) {}
    ~Shared() { ::close(cancelFd); }
    const int cancelFd;
    std::mutex mutex;
    std::condition_variable endedChanged;
    bool ended = false;  // guarded by mutex
};

bool FileJob::start(std::function<void(int cancelFd)> work) {
    if (thread_.joinable()) return false;
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return false;
    shared_ = std::make_shared<Shared>(fd);
    try {
        thread_ = std::thread([shared = shared_, work = std::move(work)] {
            pthread_setname_np(pthread_self(), "kolvar-file");
            // A FIFO whose reader leaves makes a write fail with EPIPE
            // instead of ending the process: SIGPIPE from a write is sent to
            // the writing thread, which blocks it.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            work(shared->cancelFd);
            {
                std::lock_guard lock(shared->mutex);
                shared->ended = true;
            }
            shared->endedChanged.notify_all();
        });
    } catch (const std::system_error&) {
        shared_.reset();
        return false;
    }
    return true;
}

bool FileJob::ended() const {
    if (!shared_) return false;
    std::lock_guard lock(shared_->mutex);
    return shared_->ended;
}

void FileJob::cancel() {
    if (!shared_) return;
    const uint64_t one = 1;
    // An eventfd write fails only when its counter would overflow: it is
    // readable then, which is all a cancel needs.
    [[maybe_unused]] const ssize_t n = ::write(shared_->cancelFd, &one, sizeof one);
}

bool FileJob::release(std::chrono::milliseconds bound) {
    if (!thread_.joinable()) return true;
    const auto waitEnded = [this](std::chrono::milliseconds wait) {
        std::unique_lock lock(shared_->mutex);
        return shared_->endedChanged.wait_for(lock, wait, [this] { return shared_->ended; });
    };
    const bool ended = waitEnded(bound);
    if (!ended) cancel();
    thread_.join();
    shared_.reset();
    return ended;
}

}  // namespace kolvar::capture
