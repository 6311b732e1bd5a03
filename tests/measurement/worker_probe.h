#pragma once
// What the tests can see of the receive worker from outside: whether it
// still refreshes the displays, and the CPU time of the run-time's pool
// threads, on which it runs.

#include <cstdint>

// Values applied to the channel-1 meter so far; a running worker raises it
// at least every pass.
std::uint64_t meterUpdates();
// True when, once values already set have landed, no further value reaches
// the channel-1 meter for `quietMs`.
bool meterStaysQuiet(int quietMs);
// CPU seconds used so far by the threads of the run-time's default pool.
double poolThreadsCpuSeconds();
// Number of threads of the run-time's default pool.
int poolThreadCount();
