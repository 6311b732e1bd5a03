// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/callback_names.h"

#include <iterator>

#include "app/KolvarCanView.h"
#include "app/trend/trend_entry.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "can/hardware.h"

namespace {
const UiNameEntry kNames[] = {
    {"panelCB", nullptr, panelCB},
    {"plotChannel", plotChannel, nullptr},
    {"canHardware", canHardware, nullptr},
    {"canChannel", canChannel, nullptr},
    {"bus_on_off", bus_on_off, nullptr},
    {"canBitrate", canBitrate, nullptr},
    {"PRE_ID0", PRE_ID0, nullptr},
    {"PRE_ID1", PRE_ID1, nullptr},
    {"PRE2", PRE2, nullptr},
    {"PRE1", PRE1, nullptr},
    {"PRE0", PRE0, nullptr},
    {"trendWindow", trendWindow, nullptr},
};
}  // namespace

const UiNameTable kolvarCanViewNames{kNames, static_cast<int>(std::size(kNames))};
