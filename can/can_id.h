#pragma once
// CAN identifier composition from three switches (bits 8-10) and two
// hexadecimal knobs (bits 0-7).

#include <atomic>
#include <cstdint>

extern int32_t pre0, pre1, pre2, pre_id0, pre_id1;  // [main-thread]
// The identifier the receive worker accepts. Written on the UI thread, read
// by the worker on every pass.
extern std::atomic<int32_t> can_id;

// [any-thread] ((pre2 << 2) + (pre1 << 1) + pre0) << 8, plus (preId1 << 4),
// plus preId0; the parts are added, not or-ed. (0,1,0,5,10) -> 0x2A5.
int32_t composeCanId(int32_t pre0, int32_t pre1, int32_t pre2, int32_t preId0,
                     int32_t preId1);

// Reads the five controls, sets can_id and shows it on NUMERIC_DEC and
// NUMERIC_DEC_2. [main-thread]
void calcCanID();

// Commit callbacks of the five identifier controls: each calls calcCanID().
int PRE0(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int PRE1(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int PRE2(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int PRE_ID0(int panel, int control, int event, void* callbackData, int eventData1,
            int eventData2);
int PRE_ID1(int panel, int control, int event, void* callbackData, int eventData1,
            int eventData2);
