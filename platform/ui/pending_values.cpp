#include "platform/ui/pending_values.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <bit>
#include <cstdint>

#include "platform/ui/control_widget.h"
#include "platform/ui/panel_registry.h"

namespace {
std::atomic<int> flushesInQueue{0};

bool applyToWidget(ControlRecord& control, double value) {
    if (!control.control) return false;
    control.appliedCount.fetch_add(1, std::memory_order_relaxed);
    return control.control->setNumericValue(value);
}

// [main-thread] Applies every pending value of the panel.
void flush(const std::weak_ptr<PanelRecord>& weakPanel) {
    flushesInQueue.fetch_sub(1);
    const std::shared_ptr<PanelRecord> panel = weakPanel.lock();
    if (!panel || !panel->window) return;
    // Cleared before the values are read: a value stored after this point
    // posts a new flush, so none is left behind.
    panel->flushPosted.store(false);
    for (auto& [id, control] : panel->controls) {
        if (control->pendingDirty.exchange(false))
            applyToWidget(*control, std::bit_cast<double>(control->pendingBits.load()));
    }
}
}  // namespace

void postPendingValue(const std::shared_ptr<PanelRecord>& panel, ControlRecord& control, double value) {
    control.pendingBits.store(std::bit_cast<std::uint64_t>(value));
    control.pendingDirty.store(true);
    if (panel->flushPosted.exchange(true)) return;
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) return;
    flushesInQueue.fetch_add(1);
    const std::weak_ptr<PanelRecord> weakPanel = panel;
    if (!QMetaObject::invokeMethod(application, [weakPanel] { flush(weakPanel); }, Qt::QueuedConnection)) {
        flushesInQueue.fetch_sub(1);
        panel->flushPosted.store(false);
    }
}

bool applyValueNow(ControlRecord& control, double value) {
    control.pendingDirty.store(false);
    return applyToWidget(control, value);
}

int pendingFlushCount() { return flushesInQueue.load(); }
