// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The receive worker: turns frames of can_id into meter readings.

#include <cstdint>

extern unsigned char data[8];  // last frame read; kept across connections

// Thread-pool function; runs while threadrun is 1. Returns 0. [worker-thread]
// The first read waits up to 1000 ms for a standard data frame of can_id and
// then shows the buffer on the meters and raw displays; each pass takes every
// queued frame of can_id (each to the trend and the recording) and shows the
// newest. A pass that finds nothing sleeps until the next frame arrives, so
// a silent bus costs nothing; while frames stream, it wakes once per screen
// refresh. The first frame after a silence is shown at once.
int KVCanReadThread(void* functionData);
// [any-thread] True once a frame has been taken into the buffer since the
// process started: before that, what the buffer holds was never measured.
bool KVCanBufferHoldsFrame();
// [any-thread] Wakes the worker wherever it waits, so that it sees a cleared
// threadrun or a new can_id at once; called by the stop after clearing
// threadrun and after every change of identifier.
void KVCanWakeReadThread();
