// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The identifier controls: three switches (bits 8-10) and two hexadecimal
// knobs (bits 0-7), composed with composeCanId (can/identifier.h).

#include <atomic>
#include <cstdint>

// The identifier the receive worker accepts. Written on the UI thread, read
// by the worker on every pass.
extern std::atomic<int32_t> can_id;

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
