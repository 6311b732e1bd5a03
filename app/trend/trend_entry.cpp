// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trend/trend_entry.h"

#include <memory>

#include "app/trend/trend_window.h"
#include "platform/userint.h"

namespace {
std::unique_ptr<TrendWindow> window;
}  // namespace

int trendWindow(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    if (!window) window = std::make_unique<TrendWindow>();
    window->openOrRaise();
    return 0;
}

TrendWindow* trendWindowIfOpen() { return window.get(); }

void closeTrendWindow() {
    if (!window) return;
    window->close();
    window.reset();
}
