// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/screen_refresh.h"

#include "platform/userint.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <atomic>

namespace {
constexpr double kDefaultRateHz = 60.0;
// A platform without a real screen may report 0, or an odd figure; outside
// this range the screen's rate is not believed.
constexpr double kSlowestRateHz = 30.0;
constexpr double kFastestRateHz = 240.0;

int periodMicros(double rateHz) {
    const double rate = rateHz > 0 ? std::clamp(rateHz, kSlowestRateHz, kFastestRateHz) : kDefaultRateHz;
    return static_cast<int>(1'000'000.0 / rate);
}

std::atomic<int> refreshMicros{periodMicros(kDefaultRateHz)};
bool following = false;  // [main-thread]

void takeRate(const QScreen* screen) {
    refreshMicros.store(periodMicros(screen ? screen->refreshRate() : kDefaultRateHz));
}

// [main-thread] Watches the rate of `screen`, the primary one now.
void watchScreen(QScreen* screen) {
    takeRate(screen);
    if (!screen) return;
    QObject::connect(screen, &QScreen::refreshRateChanged, screen, [screen] {
        if (screen == QGuiApplication::primaryScreen()) takeRate(screen);
    });
}
}  // namespace

void followScreenRefresh() {
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (following || !application) return;
    following = true;
    watchScreen(QGuiApplication::primaryScreen());
    QObject::connect(application, &QGuiApplication::primaryScreenChanged, application, &watchScreen);
}

int screenRefreshMicros() { return refreshMicros.load(std::memory_order_relaxed); }

int GetScreenRefreshMicros() { return screenRefreshMicros(); }
