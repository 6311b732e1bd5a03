// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Run-time state shared by the platform/ui sources: the name table handed
// over at initialisation and the main thread.

#include "platform/userint.h"

namespace ui_runtime {
// [any-thread] True once InitCVIRTE has succeeded.
bool isInitialised();
// [any-thread] True on the thread that owns the QApplication.
bool onMainThread();
// [main-thread] The name table's entries of that name, or null.
CtrlCallbackPtr findControlCallback(const char* name);
PanelCallbackPtr findPanelCallback(const char* name);
// [main-thread] Writes "user interface: <message>" to standard error.
void reportError(const char* message);
}  // namespace ui_runtime
