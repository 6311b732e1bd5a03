// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hand-over of control values from other threads to the main thread. Each
// control keeps only its latest value; each panel has at most one wake-up
// of the main thread outstanding, and that wake-up applies every pending
// value of the panel in one batch. Memory stays bounded however fast a
// thread sets values, and the setting thread never waits for the main one.
// Batches are applied at most once per frame of the screen's refresh rate.
//
// The wake-up is an eventfd watched by a socket notifier on the main thread
// (watchedWakeFd): the setting thread writes a counter, nothing is allocated
// on its side.

#include <memory>

struct PanelRecord;
struct ControlRecord;

// [main-thread] Creates the wake-up channel; called by InitCVIRTE once the
// application object exists. Returns false, with a message on standard
// error, when it cannot be created. Harmless when called again.
bool startValueHandOver();

// [any-thread] Stores `value` as the control's latest value and makes sure a
// wake-up is on its way. Never blocks on the main thread.
void postPendingValue(const std::shared_ptr<PanelRecord>& panel, ControlRecord& control, double value);

// [main-thread] Shows `value` now, dropping an older value still pending
// from another thread. Returns false when the control cannot take it.
bool applyValueNow(ControlRecord& control, double value);

// [any-thread] Wake-ups sent to the main thread and not yet handled.
int pendingFlushCount();
