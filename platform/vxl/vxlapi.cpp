// SPDX-License-Identifier: GPL-3.0-or-later
// The second vendor's driver has no hardware on this platform; only its open
// state is kept.
#include "platform/vxlapi.h"

#include <atomic>

namespace {
std::atomic<bool> g_driverOpen{false};
}

XLstatus xlOpenDriver() {
    g_driverOpen.store(true);
    return XL_SUCCESS;
}

XLstatus xlCloseDriver() {
    g_driverOpen.store(false);
    return XL_SUCCESS;
}

bool xlDriverIsOpen() { return g_driverOpen.load(); }
