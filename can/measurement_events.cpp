// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/measurement_events.h"

#include <atomic>

namespace {
std::atomic<MeasurementListener> listener{nullptr};
}  // namespace

void onMeasurementChanged(MeasurementListener newListener) { listener.store(newListener); }

void notifyMeasurementChanged() {
    if (const MeasurementListener current = listener.load(std::memory_order_acquire)) current();
}
