// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Interface selection (Vector or Kvaser) and the channel list.

#include <cstdint>

// Entries of CAN_HARDWARE by index.
constexpr int32_t kVectorIndex = 0;
constexpr int32_t kKvaserIndex = 1;

// Selected index of CAN_HARDWARE: kVectorIndex or kKvaserIndex. [main-thread]
extern int32_t can_hardware_index;

// Applies the selection of CAN_HARDWARE. A running connection is taken down
// first and the bus button shows "OFF BUS" afterwards. [main-thread]
void CanChangeHardware();
// Refills CAN_CHANNEL with "Ch 1".."Ch n" (values 0..n-1), n = channels / 2,
// and selects the entry of can_channel; when the list no longer offers it,
// selects "Ch 1" and sets can_channel to 0, so that the ring always shows
// the channel the next connection opens. [main-thread]
void KVCanGetChannelNums();

int canHardware(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);
