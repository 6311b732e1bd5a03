#pragma once
// The bus status line (BUS_STATUS_LINE) and the stale mark of the meters'
// and raw words' displays, refreshed by a run-time timer 4 times a second.

// [main-thread] Shows the line at once and starts its timer; called at
// start-up once the panel is loaded. Returns false when no timer could start.
bool StartBusStatusLine();
// [main-thread] Stops the timer; harmless when it does not run.
void StopBusStatusLine();
// [main-thread] Refreshes the line and the marks now (what the timer does).
void RefreshBusStatusLine();
