// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/pending_values.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <bit>
#include <cstdint>
#include <unistd.h>

#include "platform/ui/control_widget.h"
#include "platform/ui/panel_registry.h"
#include "platform/ui/runtime.h"
#include "platform/ui/screen_refresh.h"
#include "platform/ui/wake_fd.h"
#include "platform/ui/window_repaint.h"

namespace {
std::atomic<int> wakeFd{-1};
std::atomic<int> wakeUpsInFlight{0};

bool applyToWidget(ControlRecord& control, double value) {
    if (!control.control) return false;
    control.appliedCount.fetch_add(1, std::memory_order_relaxed);
    return control.control->setNumericValue(value);
}

// [main-thread] Applies every pending value of every panel that asked.
// Returns true when a panel had values: it then stays marked as posted, so
// values stored until the next frame need no wake-up from their thread; the
// caller owes that panel a look at the next frame. With `keepLooking`, a
// panel that had none stays marked as well, and the caller owes it that look
// all the same.
bool applyPendingValues(bool keepLooking) {
    bool applied = false;
    for (const std::shared_ptr<PanelRecord>& panel : ui_registry::all()) {
        if (!panel->window) continue;
        // Cleared before the values are read: a value stored after this
        // point sends a new wake-up, so none is left behind.
        if (keepLooking ? !panel->flushPosted.load() : !panel->flushPosted.exchange(false)) continue;
        bool panelApplied = false;
        for (auto& [id, control] : panel->controls) {
            if (control->pendingDirty.exchange(false)) {
                applyToWidget(*control, std::bit_cast<double>(control->pendingBits.load()));
                panelApplied = true;
            }
        }
        // Values are flowing: claim the next frame's look. Should a thread
        // have posted meanwhile, its wake-up arrives as well, harmlessly.
        if (panelApplied) {
            panel->flushPosted.store(true);
            applied = true;
        }
    }
    return applied;
}

// Batches are applied at most once per frame of the screen: a producer
// that never pauses then costs the main thread one batch and one paint per
// frame, not one per wake-up. While values keep coming, a repeating timer of
// one frame applies them by itself, so a stream costs the main thread one
// wake-up per frame and the producer no write to the eventfd; the first
// value after a pause is shown at once. A producer paced to the screen on a
// clock of its own misses a frame of this timer now and then, so one frame
// without values keeps the panels claimed; the second stops the timer and
// lets the next value wake the main thread. No clock is read here: a
// wake-up that finds the timer stopped comes at least a frame after the
// last batch.
class FramePacer : public QObject {
public:
    explicit FramePacer(QObject* parent) : QObject(parent) {
        everyFrame_.setTimerType(Qt::PreciseTimer);
        connect(&everyFrame_, &QTimer::timeout, this, [this] {
            if (applyBatch(!idleFrame_)) {
                idleFrame_ = false;
            } else if (!idleFrame_) {
                idleFrame_ = true;
            } else {
                idleFrame_ = false;
                everyFrame_.stop();
            }
        });
    }

    // [main-thread] On a wake-up: applies now, or leaves it to the next
    // frame when values are already flowing.
    void wakeUp() {
        std::uint64_t wakeUps = 0;
        if (read(wakeFd.load(), &wakeUps, sizeof wakeUps) == sizeof wakeUps)
            wakeUpsInFlight.fetch_sub(static_cast<int>(wakeUps));
        if (everyFrame_.isActive()) return;
        if (applyBatch(false)) everyFrame_.start(screenRefreshMicros() / 1000);
    }

private:
    // Applies every pending value; the widgets' repaints are collected and
    // painted together, in this pass, once per window.
    static bool applyBatch(bool keepLooking) {
        const WindowRepaintBatch repaints;
        return applyPendingValues(keepLooking);
    }

    QTimer everyFrame_;
    bool idleFrame_ = false;  // the last frame found no values
};
}  // namespace

bool startValueHandOver() {
    if (wakeFd.load() >= 0) return true;
    // The pacer lives as long as the application.
    auto* pacer = new FramePacer(QCoreApplication::instance());
    const int fd = watchedWakeFd(pacer, "the value hand-over", [pacer] { pacer->wakeUp(); });
    if (fd < 0) return false;
    wakeFd.store(fd);
    return true;
}

void postPendingValue(const std::shared_ptr<PanelRecord>& panel, ControlRecord& control, double value) {
    control.pendingBits.store(std::bit_cast<std::uint64_t>(value));
    control.pendingDirty.store(true);
    if (panel->flushPosted.exchange(true)) return;
    wakeUpsInFlight.fetch_add(1);
    const std::uint64_t one = 1;
    if (write(wakeFd.load(), &one, sizeof one) != sizeof one) {
        // Only a full counter (2^64 - 2 wake-ups unread) can refuse; the
        // next value tries again.
        wakeUpsInFlight.fetch_sub(1);
        panel->flushPosted.store(false);
    }
}

bool applyValueNow(ControlRecord& control, double value) {
    control.pendingDirty.store(false);
    return applyToWidget(control, value);
}

int pendingFlushCount() { return wakeUpsInFlight.load(); }
