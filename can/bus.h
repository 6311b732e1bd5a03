// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Bus connection control: opens the chosen channel at the chosen bit rate,
// starts and stops the receive worker.

#include <atomic>
#include <cstdint>

extern int32_t can_channel;  // [main-thread] channel the next connection opens
extern int32_t bitrate;      // [main-thread] bit-rate code (-2 500k, -1 1M)
extern int32_t onoff;        // [main-thread] last value of BUS_BUTTON
// Handle of the open channel; written before the worker starts.
extern std::atomic<int32_t> handle1;
// The worker runs while this equals 1.
extern std::atomic<int32_t> threadrun;
extern int32_t threadFunctionID;  // [main-thread]

// Starts a connection when onoff is 1, stops the running one otherwise.
// Acts only with the Kvaser interface selected. [main-thread]
void CanReadBus(int32_t onoff);
// Opens `channel` exclusively, sets the bit rate, goes on the bus and returns
// the handle. On an opening failure prints the failure line and ends the
// process with status 1. [main-thread]
int32_t KVCanInitCtrl(int32_t channel);
// Prints "<id>: failed, stat=<stat> (<text>)" on standard output when stat
// is nonzero, e.g. "canOpenChannel: failed, stat=-3 (Channel not found)".
void KVCanCheck(const char* id, int32_t stat);
// Close-time stop: when onoff is 1 with Kvaser selected, stops the running
// connection, if there is one. [main-thread]
void CanCloseTimeStop();
// True while a connection runs (channel open, worker scheduled). [main-thread]
bool CanConnectionRuns();
// The channel number the running connection opened, -1 when none runs.
// can_channel may name another one, for the next switch-on. [any-thread]
int32_t CanConnectedChannel();
// Stops the running connection: bus off, clears threadrun, waits for the
// worker to leave its loop, releases its id, closes the channel. Does nothing
// when no connection runs. [main-thread]
void CanStopConnection();
// Stops the running connection, if any, and shows the bus as off: onoff 0,
// "OFF BUS" on the button. [main-thread]
void CanBusDown();

int canChannel(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int canBitrate(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int bus_on_off(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
