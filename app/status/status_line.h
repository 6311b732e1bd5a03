// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bus status line (BUS_STATUS_LINE) and the stale mark of the meters'
// and raw words' displays, refreshed by a run-time timer: 4 times a second
// while frames come or the last one is young, once a second otherwise, and
// at once when the measurement reports a change (can/measurement_events.h).

// [main-thread] Shows the line at once, starts its timer and listens to the
// measurement's changes; called at start-up once the panel is loaded.
// Returns false when no timer could start.
bool StartBusStatusLine();
// [main-thread] Stops listening and stops the timer; harmless when it does
// not run.
void StopBusStatusLine();
// [main-thread] Refreshes the line and the marks now (what the timer does).
void RefreshBusStatusLine();
