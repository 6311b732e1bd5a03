// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One hook from the measurement to whatever shows its state. The
// measurement calls notifyMeasurementChanged() after each change a display
// must show at once: a new identifier, the bus on or off, another channel,
// bit rate or interface, a frame that makes values live or stale. The one
// listener, set at start-up, decides what to redraw. The measurement thus
// knows nothing of its displays, and the listener may live above it.

// The listener: it runs on the thread that notifies, the receive worker
// among them, so it must neither block nor touch widgets (post a redraw).
using MeasurementListener = void (*)();

// [main-thread] Sets the one listener; nullptr removes it. Lock-free.
void onMeasurementChanged(MeasurementListener listener);
// [any-thread] Calls the listener, if one is set. Lock-free.
void notifyMeasurementChanged();
