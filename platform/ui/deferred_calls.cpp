// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/deferred_calls.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include <unistd.h>

#include "platform/ui/runtime.h"
#include "platform/ui/wake_fd.h"

namespace {

using Call = std::pair<DeferredCallbackPtr, void*>;

std::mutex queueMutex;
std::vector<Call> queued;  // under queueMutex
std::atomic<int> wakeFd{-1};

// [main-thread] Runs every call queued so far, in the order posted. Calls
// posted while these run wake the loop again.
void runQueued() {
    std::uint64_t wakeUps = 0;
    [[maybe_unused]] const ssize_t got = read(wakeFd.load(), &wakeUps, sizeof wakeUps);
    std::vector<Call> batch;
    {
        std::lock_guard lock(queueMutex);
        batch.swap(queued);
    }
    for (const auto& [fn, data] : batch) fn(data);
}

}  // namespace

bool startDeferredCalls() {
    if (wakeFd.load() >= 0) return true;
    const int fd = watchedWakeFd(QCoreApplication::instance(), "the deferred calls' wake-up", [] { runQueued(); });
    if (fd < 0) return false;
    wakeFd.store(fd);
    return true;
}

int PostDeferredCall(DeferredCallbackPtr fn, void* data) {
    const int fd = wakeFd.load();
    if (!ui_runtime::isInitialised() || fd < 0) return UIE_NOT_INITIALISED;
    if (!fn) return UIE_BAD_ATTRIBUTE;
    {
        std::lock_guard lock(queueMutex);
        queued.emplace_back(fn, data);
    }
    const std::uint64_t one = 1;
    // Only a full counter (2^64 - 2 wake-ups unread) can refuse; the calls
    // queued meanwhile then run with the next wake-up that gets through.
    [[maybe_unused]] const ssize_t written = write(fd, &one, sizeof one);
    return 0;
}
