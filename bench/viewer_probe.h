// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Measurements taken inside the viewer while it runs unchanged.
//
// The benchmark links the viewer with the linker's --wrap for the receive
// worker's two reads and for SetCtrlVal(int, int, double): every call the
// worker makes goes through viewer_probe.cpp, which times it and passes it
// on to the real function. Nothing in the viewer's own code changes.
//
// Per frame of the chosen identifier that the worker takes:
//   arrival in the CAN layer -> NUMERICMETER1 set by the worker
//   sender's clock (bytes 4-7) -> arrival in the CAN layer
// Per repaint of the meter (watched on the main thread, see watchMeter):
//   value set -> first repaint showing it or a newer value ("lag")
//   age of the oldest value newer than the one painted ("staleness": how far
//   the screen is behind when it repaints)

#include <cstdint>

#include "bench/latency_histogram.h"

class QWidget;

namespace bench::probe {

struct Figures {
    uint64_t framesTaken = 0;  // successful reads of the worker
    uint64_t meterSets = 0;    // NUMERICMETER1 values the worker set after a fresh frame
    uint64_t meterPaints = 0;  // repaints of NUMERICMETER1
    int64_t maxStalenessMicros = 0;
    uint64_t paintsWithUnknownValue = 0;  // value no longer in the record ring
    int workerThreadId = 0;               // kernel thread id of the worker, 0 before it reads
};

// Starts timing (off until then, so start-up and idle stay untouched by it).
void enableTiming(bool on);
// [main-thread] Watches the meter's repaints from now on.
void watchMeter(QWidget* meter);

Figures figures();
const LatencyHistogram& arrivalToSet();
const LatencyHistogram& sentToArrival();
const LatencyHistogram& setToPaint();
const LatencyHistogram& paintStaleness();
const LatencyHistogram& paintInterval();

}  // namespace bench::probe
