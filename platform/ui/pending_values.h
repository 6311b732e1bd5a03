#pragma once
// Hand-over of control values from other threads to the main thread. Each
// control keeps only its latest value; each panel has at most one flush
// waiting in the main thread's event queue, which applies every pending
// value in one batch. Memory stays bounded however fast a thread sets values.

#include <memory>

struct PanelRecord;
struct ControlRecord;

// [any-thread] Stores `value` as the control's latest value and makes sure a
// flush is on its way. Never blocks on the main thread.
void postPendingValue(const std::shared_ptr<PanelRecord>& panel, ControlRecord& control, double value);

// [main-thread] Shows `value` now, dropping an older value still pending
// from another thread. Returns false when the control cannot take it.
bool applyValueNow(ControlRecord& control, double value);

// [any-thread] Flushes posted to the main thread and not yet run.
int pendingFlushCount();
