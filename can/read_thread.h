#pragma once
// The receive worker: turns frames of can_id into meter readings.

#include <cstdint>

extern unsigned char data[8];  // last frame read; kept across connections
extern int32_t id;             // identifier of the first read's frame
extern int32_t stat;           // status of the latest read

// Thread-pool function; runs while threadrun is 1. Returns 0. [worker-thread]
int KVCanReadThread(void* functionData);
