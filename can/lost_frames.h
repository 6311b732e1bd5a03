// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Frames lost on their way from the bus to the meters, the trend and the
// recording: those the CAN layer dropped before the receive worker took them
// (the kernel's socket drops, the controller's overruns, a full receive
// queue) and those the hand-over to the trend or the recording refused
// (FrameTap::dropped()).

#include <cstdint>
#include <string>

// [main-thread] At switch-on: the hand-over's refusals count from here.
void LostFramesSwitchedOn();
// [any-thread] Frames the layer dropped on the open channel `handle` since
// bus on; 0 for a closed one.
uint64_t LayerDroppedOn(int handle);
// [main-thread] After a channel is closed, with what LayerDroppedOn() said
// just before: keeps it in the running total of LayerDroppedFrames().
void LostFramesChannelClosed(uint64_t droppedOnIt);
// [main-thread] Frames lost since switch-on on the open channel `handle`.
uint64_t LostSinceSwitchOn(int handle);
// [any-thread] Frames the layer dropped since the process started, on every
// connection so far and the open one. Never decreases by more than the
// running connection's count between its close and LostFramesChannelClosed.
uint64_t LayerDroppedFrames();

// [any-thread] 19445 -> "19,445".
std::string groupedCount(uint64_t count);
