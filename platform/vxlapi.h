// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Second vendor's driver: the system only opens and closes it. There is no
// hardware behind it on this platform; the layer keeps the open state so
// that closing when not open stays harmless.
//
// Status: a 16-bit value, XL_SUCCESS (0) or a negative error. [any-thread]

#include <cstdint>

using XLstatus = int16_t;

constexpr XLstatus XL_SUCCESS = 0;

XLstatus xlOpenDriver();
XLstatus xlCloseDriver();  // harmless when not open

// True while the driver is open (for tests).
bool xlDriverIsOpen();
