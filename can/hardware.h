#pragma once
// Interface selection (Vector or Kvaser) and the channel list.

#include <cstdint>

// Selected index of CAN_HARDWARE: 0 Vector, 1 Kvaser. [main-thread]
extern int32_t can_hardware_index;

// Applies the selection of CAN_HARDWARE. [main-thread]
void CanChangeHardware();
// Refills CAN_CHANNEL with "Ch 1".."Ch n" (values 0..n-1), n = channels / 2,
// and selects index 0. [main-thread]
void KVCanGetChannelNums();

int canHardware(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);
