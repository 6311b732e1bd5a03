// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/recorder.h"

#include <condition_variable>
#include <mutex>

#include "can/frame_tap.h"
#include "can/line_file.h"
#include "can/log_lines.h"

namespace {
// How long the writer sleeps between batches: 160 frames at 8,000 frames/s,
// far below the tap's capacity.
constexpr auto kWriterPeriod = std::chrono::milliseconds(20);
}  // namespace

// What the writer thread uses; shared with it, so that a writer left behind
// by stop() never touches a Recorder that is gone.
struct Recorder::Session {
    std::string path;
    std::string interface;
    int64_t wallOffset = 0;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopRequested = false;    // guarded by mutex
    std::string failure;           // guarded by mutex
    std::atomic<bool> recording{true};
    std::atomic<bool> opened{false};
    // Set when stop() leaves the writer behind: it must not drain the tap
    // again, which the next recording's writer owns.
    std::atomic<bool> abandoned{false};
    std::atomic<uint64_t> lines{0};

    void run(int cancelFd);
    bool writePending(LineFile& file, std::string& block);
};

bool Recorder::start(const std::string& path, const std::string& interface,
                     int64_t wallMinusMonotonicMicros, std::string* error) {
    stop();
    auto session = std::make_shared<Session>();
    session->path = path;
    session->interface = interface;
    session->wallOffset = wallMinusMonotonicMicros;
    recordTap().open();
    if (!writer_.start([session](int cancelFd) { session->run(cancelFd); })) {
        recordTap().close();
        *error = "no thread to write the file";
        return false;
    }
    session_ = std::move(session);
    return true;
}

void Recorder::stop() {
    if (!writer_.started()) return;
    recordTap().close();
    {
        std::lock_guard<std::mutex> lock(session_->mutex);
        session_->stopRequested = true;
    }
    session_->wake.notify_all();
    // First the writer may finish the lines the tap still holds; a file that
    // takes nothing for that long is cancelled, and a writer stuck in a call
    // that even a cancel does not end is left behind.
    if (writer_.release(kFinishWait)) return;
    session_->abandoned.store(true);
    session_->recording.store(false);
    std::lock_guard<std::mutex> lock(session_->mutex);
    if (session_->failure.empty()) session_->failure = "the file does not answer";
}

bool Recorder::recording() const { return session_ && session_->recording.load(); }

bool Recorder::opened() const { return session_ && session_->opened.load(); }

uint64_t Recorder::lines() const { return session_ ? session_->lines.load() : 0; }

std::string Recorder::failure() const {
    if (!session_) return {};
    std::lock_guard<std::mutex> lock(session_->mutex);
    return session_->failure;
}

void Recorder::Session::run(int cancelFd) {
    LineFile file;
    bool ok = file.open(path, cancelFd);
    if (ok) opened.store(true);
    std::string block;
    while (ok) {
        bool stopping;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait_for(lock, kWriterPeriod, [this] { return stopRequested; });
            stopping = stopRequested;
        }
        // After a stop the tap is closed: this last pass takes all it holds.
        ok = writePending(file, block);
        if (stopping) break;
    }
    if (!ok && !abandoned.load()) recordTap().close();
    const bool closed = file.close();
    if (!ok || !closed) {
        std::lock_guard<std::mutex> lock(mutex);
        if (failure.empty()) failure = file.error();
    }
    recording.store(false);
}

bool Recorder::Session::writePending(LineFile& file, std::string& block) {
    if (abandoned.load()) return false;
    block.clear();
    uint64_t count = 0;
    recordTap().drain([&](const TappedFrame& frame) {
        block += candumpLine(frame.arrivalMicros + wallOffset, interface, frame.id, frame.length, frame.data);
        ++count;
    });
    if (block.empty()) return true;
    if (!file.append(block)) return false;
    lines.fetch_add(count);
    return true;
}
