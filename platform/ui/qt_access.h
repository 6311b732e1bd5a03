// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Qt-side access to loaded panels, for tests and benchmarks only; the
// program itself uses platform/userint.h.

#include <cstdint>

class QLabel;
class QWidget;

// [main-thread] The panel's window or a control's widget (null when the
// handle or the constant is unknown).
QWidget* uiPanelWidget(int panel);
QWidget* uiControlWidget(int panel, int control);
// [main-thread] The label drawn for a control, or null when it has none.
QLabel* uiControlLabel(int panel, int control);

// [any-thread] How many values the control's widget has been given so far,
// from any thread (values set off the main thread count when applied).
std::uint64_t uiAppliedValueCount(int panel, int control);
// [main-thread] How often a custom-drawn control has painted itself.
std::uint64_t uiPaintCount(int panel, int control);
// [any-thread] Flushes of off-thread values posted to the main thread and
// not yet run, over all panels.
int uiPendingFlushCount();
