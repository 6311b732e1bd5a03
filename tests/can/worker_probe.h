// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the tests can see of the receive worker from outside: whether it
// still refreshes the displays, and the CPU time of the threads it may run
// on. The run-time's pool threads carry no name of their own, so they show
// the process's name; every other thread of the process either is the main
// thread or has a name (Qt's, the CAN layer's I/O thread).

#include <cstdint>

// Values applied to the channel-1 meter so far; a running worker raises it
// at least every pass.
std::uint64_t meterUpdates();
// True when, once values already set have landed, no further value reaches
// the channel-1 meter for `quietMs`.
bool meterStaysQuiet(int quietMs);
// CPU seconds used so far by every thread of the process except the main
// (user-interface) thread: an upper bound for the worker's.
double backgroundThreadsCpuSeconds();
// The run-time's pool threads (named "kolvar-pool").
int poolThreadCount();
