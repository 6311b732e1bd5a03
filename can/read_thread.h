#pragma once
// The receive worker: turns frames of can_id into meter readings.

#include <cstdint>

extern unsigned char data[8];  // last frame read; kept across connections
extern int32_t id;             // identifier of the first read's frame

// Thread-pool function; runs while threadrun is 1. Returns 0. [worker-thread]
// The first read waits up to 1000 ms for a frame of any identifier; then each
// pass takes the next queued frame of can_id, if any, and shows the buffer on
// the meters and raw displays. A pass that finds nothing waits up to 100 ms
// for the next frame, so a silent bus does not keep a core busy.
int KVCanReadThread(void* functionData);
// [any-thread] Wakes a worker pausing after a failed read so that it sees a
// cleared threadrun at once; called by the stop after clearing it.
void KVCanWakeReadThread();
