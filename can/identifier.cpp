// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/identifier.h"

int32_t composeCanId(int32_t pre0, int32_t pre1, int32_t pre2, int32_t preId0, int32_t preId1) {
    const int32_t prefix = (pre2 << 2) + (pre1 << 1) + pre0;
    return (prefix << 8) + (preId1 << 4) + preId0;
}
