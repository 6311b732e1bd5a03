// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/recorder.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "capture/line_file.h"
#include "capture/log_lines.h"

namespace kolvar::capture {

namespace {
// How long the writer sleeps between batches: 160 frames at 8,000 frames/s,
// far below the tap's capacity.
constexpr auto kWriterPeriod = std::chrono::milliseconds(20);
}  // namespace

// What the writer thread uses, shared with it.
struct Recorder::Session {
    explicit Session(FrameSource& from) : source(from) {}
    FrameSource& source;
    std::string path;
    std::vector<std::string> names;
    int64_t wallOffset = 0;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopRequested = false;    // guarded by mutex
    std::string failure;           // guarded by mutex
    std::atomic<bool> recording{true};
    std::atomic<bool> opened{false};
    std::atomic<uint64_t> lines{0};
    std::atomic<uint64_t> lost{0};
    // [writer] The source's loss count at start, and the most it has shown.
    uint64_t lostAtStart = 0;
    uint64_t lostSeen = 0;

    void run(int cancelFd);
    bool writePending(LineFile& file, std::string& block);
    uint64_t lostSinceStart();
};

bool Recorder::start(const std::string& path, std::vector<std::string> channelNames,
                     int64_t wallMinusMonotonicMicros, std::string* error) {
    stop();
    auto session = std::make_shared<Session>(source_);
    session->path = path;
    session->names = std::move(channelNames);
    for (std::string& name : session->names) name = logInterfaceName(name);
    session->lostAtStart = session->lostSeen = source_.lost();
    session->wallOffset = wallMinusMonotonicMicros;
    source_.open();
    if (!writer_.start([session](int cancelFd) { session->run(cancelFd); })) {
        source_.close();
        *error = "no thread to write the file";
        return false;
    }
    session_ = std::move(session);
    return true;
}

void Recorder::stop() {
    if (!writer_.started()) return;
    source_.close();
    {
        std::lock_guard<std::mutex> lock(session_->mutex);
        session_->stopRequested = true;
    }
    session_->wake.notify_all();
    // First the writer may finish the lines the source still holds; a file
    // that takes nothing for that long is cancelled.
    writer_.release(kFinishWait);
}

bool Recorder::recording() const { return session_ && session_->recording.load(); }

bool Recorder::opened() const { return session_ && session_->opened.load(); }

uint64_t Recorder::lines() const { return session_ ? session_->lines.load() : 0; }

uint64_t Recorder::lost() const { return session_ ? session_->lost.load() : 0; }

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
        // After a stop the source is closed: this last pass takes all it holds.
        ok = writePending(file, block);
        if (stopping) break;
    }
    if (!ok) source.close();
    const bool closed = file.close();
    if (!ok || !closed) {
        std::lock_guard<std::mutex> lock(mutex);
        if (failure.empty()) failure = file.error();
    }
    recording.store(false);
}

uint64_t Recorder::Session::lostSinceStart() {
    // The source's count may dip for a moment while a channel closes; the
    // highest seen stands.
    lostSeen = std::max(lostSeen, source.lost());
    return lostSeen - lostAtStart;
}

bool Recorder::Session::writePending(LineFile& file, std::string& block) {
    static const std::string kUnnamed = "can";
    block.clear();
    uint64_t count = 0;
    source.drain([&](const Frame& frame) {
        const bool named = frame.channel >= 0 && static_cast<size_t>(frame.channel) < names.size();
        block += candumpLine(frame.arrivalMicros + wallOffset, named ? names[frame.channel] : kUnnamed,
                             frame.id, frame.length, frame.data);
        ++count;
    });
    // Frames refused by the full hand-over came after those it held, and
    // those the layer dropped before the ones still queued there: the mark
    // goes after this batch.
    const uint64_t lostNow = lostSinceStart();
    const uint64_t newlyLost = lostNow - lost.load();
    if (newlyLost > 0) block += "# lost " + std::to_string(newlyLost) + " frames\n";
    if (block.empty()) return true;
    const long long before = file.size();
    const bool ok = file.append(block);
    if (ok) {
        lines.fetch_add(count);
        if (newlyLost > 0) lost.store(lostNow);
        return true;
    }
    // After a failure the file keeps the whole lines of the block that
    // reached it; the mark comes last, so those lines are all frames unless
    // the whole block got there.
    const size_t kept = static_cast<size_t>(file.size() - before);
    const auto keptLines = static_cast<uint64_t>(std::count(block.begin(), block.begin() + kept, '\n'));
    lines.fetch_add(std::min(keptLines, count));
    return false;
}

}  // namespace kolvar::capture
