// SPDX-License-Identifier: GPL-3.0-or-later
// Timers: callbacks the event loop runs at an interval on the main thread.
#include <QTimer>
#include <map>
#include <memory>

#include "platform/ui/runtime.h"

namespace {
constexpr int kLongestIntervalMs = 86400000;  // a day
// [main-thread] The running timers by id; ids grow and are never reused.
std::map<int, std::unique_ptr<QTimer>> timers;
int lastTimerId = 0;
}  // namespace

int NewTimer(int intervalMs, TimerCallbackPtr fn, void* data) {
    if (!ui_runtime::isInitialised()) return UIE_NOT_INITIALISED;
    if (!ui_runtime::onMainThread()) return UIE_WRONG_THREAD;
    if (!fn || intervalMs < 1 || intervalMs > kLongestIntervalMs) return UIE_BAD_ATTRIBUTE;
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(intervalMs);
    QObject::connect(timer.get(), &QTimer::timeout, [fn, data] { fn(data); });
    timer->start();
    timers.emplace(++lastTimerId, std::move(timer));
    return lastTimerId;
}

int DiscardTimer(int timerId) {
    if (!ui_runtime::onMainThread()) return UIE_WRONG_THREAD;
    const auto found = timers.find(timerId);
    if (found == timers.end()) return UIE_BAD_ATTRIBUTE;
    // The timer may be the one whose callback is running: delete it later.
    found->second->stop();
    found->second.release()->deleteLater();
    timers.erase(found);
    return 0;
}
