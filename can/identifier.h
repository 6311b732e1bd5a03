// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// CAN identifier arithmetic. Plain C++, no Qt, no UI.

#include <cstdint>

// [any-thread] The 11-bit identifier from three switch bits and two
// hexadecimal digits: ((pre2 << 2) + (pre1 << 1) + pre0) << 8, plus
// (preId1 << 4), plus preId0. The parts are added, not or-ed, and nothing is
// clamped: the controls' ranges (bits 0..1, digits 0..15) keep the result
// within 0..2047.
// Example: pre0 0, pre1 1, pre2 0, preId0 5, preId1 10 -> 0x2A5 (677).
int32_t composeCanId(int32_t pre0, int32_t pre1, int32_t pre2, int32_t preId0, int32_t preId1);
