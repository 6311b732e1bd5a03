// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What every sending peer program of the tests does the same way: going on
// the bus on one channel, writing through a full transmit queue, and saying
// why it failed.

#include <cstdint>

namespace bus_peer {

// Prints "<program>: <what>: <status> (<text>)" on standard error and
// returns 2, the peers' exit status for a CAN failure.
int fail(const char* program, const char* what, int status);

// Loads the CAN library and opens `channel` exclusively at 500 kbit/s, bus
// on. The handle; or, when a step fails, the library unloaded again, the
// reason printed (see fail) and a negative result.
int goOnBus(const char* program, int channel);

// Queues one frame, retrying every `pauseMicros` while the transmit queue
// is full. The status of the write that was taken or refused otherwise.
int writeFrame(int handle, std::int32_t id, const void* bytes, unsigned dlc, unsigned flags,
               int pauseMicros);

}  // namespace bus_peer
