// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The screen's refresh period, known on the main thread (QScreen) and wanted
// by threads that pace their work to it: the value hand-over and the receive
// worker. The main thread keeps one atomic copy up to date.

// [main-thread] Takes the primary screen's refresh rate now and again
// whenever it or the primary screen changes. Harmless when called again.
void followScreenRefresh();

// [any-thread] Microseconds between two refreshes: from the screen's rate
// (limited to 30..240 Hz) once followScreenRefresh has run, else those of a
// 60 Hz screen (16,666).
int screenRefreshMicros();
