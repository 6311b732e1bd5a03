// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bus status line (BUS_STATUS_LINE) and the stale mark of the meters'
// and raw words' displays, refreshed by a run-time timer: 4 times a second
// while frames come or the last one is young, once a second otherwise, and
// at once when nudged.

// [main-thread] Shows the line at once and starts its timer; called at
// start-up once the panel is loaded. Returns false when no timer could start.
bool StartBusStatusLine();
// [main-thread] Stops the timer; harmless when it does not run.
void StopBusStatusLine();
// [main-thread] Refreshes the line and the marks now (what the timer does).
void RefreshBusStatusLine();
// [any-thread] Asks for a refresh at the main thread's next pass: after a
// change the line must show without waiting for its timer (a new identifier,
// bus on or off, another channel, a frame that makes the values live).
// Nothing while the line is not shown.
void NudgeBusStatusLine();
