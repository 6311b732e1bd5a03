// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recording's frames: what the receive worker hands over to the
// recording (recordTap()), and what was lost on the way there, in the
// layer before the worker (LayerDroppedFrames()) and at the full hand-over.

#include "capture/frame_source.h"

// [any-thread] The one source over recordTap(); it lives for the process.
kolvar::capture::FrameSource& recordTapSource();
