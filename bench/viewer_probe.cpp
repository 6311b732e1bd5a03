// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/viewer_probe.h"

#include <QEvent>
#include <QObject>
#include <QWidget>
#include <array>
#include <atomic>
#include <mutex>
#include <unistd.h>

#include "app/KolvarCanView.h"
#include "bench/bench_frame.h"
#include "platform/canlib.h"
#include "platform/ui/control_widget.h"

// The real functions, reached through the linker's --wrap (their C++ names).
extern "C" {
int __real__Z19canReadSpecificSkipiiPvPjS0_Pm(int handle, int32_t id, void* msg, unsigned* dlc,
                                              unsigned* flags, unsigned long* time);
int __real__Z11canReadWaitiPiPvPjS1_Pmm(int handle, int32_t* id, void* msg, unsigned* dlc,
                                        unsigned* flags, unsigned long* time,
                                        unsigned long timeoutMs);
int __real__Z10SetCtrlValiid(int panel, int control, double value);
}

namespace bench::probe {
namespace {

std::atomic<bool> timing{false};
std::atomic<uint64_t> framesTaken{0};
std::atomic<uint64_t> meterSets{0};
std::atomic<uint64_t> meterPaints{0};
std::atomic<uint64_t> paintsWithUnknownValue{0};
std::atomic<int64_t> maxStaleness{0};
std::atomic<int> workerThreadId{0};

LatencyHistogram arrivalToSetHistogram;
LatencyHistogram sentToArrivalHistogram;
LatencyHistogram setToPaintHistogram;
LatencyHistogram stalenessHistogram;
LatencyHistogram paintIntervalHistogram;

// The frame the worker took last and has not shown yet.
thread_local bool freshFrame = false;
thread_local int64_t freshArrivalMicros = 0;

// Values set on NUMERICMETER1, newest last, so that a repaint can tell which
// set it shows and what newer ones it leaves unshown.
struct SetRecord {
    double value;
    int64_t setMicros;
};
constexpr uint64_t kRingSize = 16384;
std::mutex ringMutex;
std::array<SetRecord, kRingSize> ring;
uint64_t ringHead = 0;        // records written so far
uint64_t firstUnpainted = 0;  // oldest record not yet covered by a repaint
int64_t lastPaintMicros = 0;

int64_t nowMicros() { return static_cast<int64_t>(monotonicMicros()); }

void noteTakenFrame(int handle, const void* msg) {
    framesTaken.fetch_add(1, std::memory_order_relaxed);
    // gettid() is a system call; the worker's id does not change.
    thread_local const int workerTid = static_cast<int>(gettid());
    workerThreadId.store(workerTid, std::memory_order_relaxed);
    if (!timing.load(std::memory_order_relaxed)) return;
    int64_t arrival = 0;
    if (canGetLastArrivalMicros(handle, &arrival) != canOK || arrival == 0) return;
    freshFrame = true;
    freshArrivalMicros = arrival;
    if (msg) {
        // 32-bit microsecond stamps: the difference modulo 2^32 is right for
        // any delay under an hour.
        const uint32_t sent = frameSentMicros(static_cast<const uint8_t*>(msg));
        const uint32_t delta = static_cast<uint32_t>(arrival) - sent;
        sentToArrivalHistogram.add(static_cast<int32_t>(delta));
    }
}

// Called just before the value is handed to the run-time: the main thread
// may apply and paint it before the call returns, and a repaint must never
// see a value that is not yet in the ring.
void recordMeterSet(double value) {
    const int64_t now = nowMicros();
    std::lock_guard<std::mutex> lock(ringMutex);
    if (ringHead > 0 && ring[(ringHead - 1) % kRingSize].value == value) return;  // shown again
    ring[ringHead % kRingSize] = {value, now};
    ++ringHead;
    if (ringHead - firstUnpainted > kRingSize) firstUnpainted = ringHead - kRingSize;
}

// Called when the run-time has taken the value.
void noteMeterSetDone() {
    if (!freshFrame) return;
    freshFrame = false;
    meterSets.fetch_add(1, std::memory_order_relaxed);
    arrivalToSetHistogram.add(nowMicros() - freshArrivalMicros);
}

void notePaint(double shown) {
    const int64_t now = nowMicros();
    meterPaints.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(ringMutex);
    if (lastPaintMicros != 0) paintIntervalHistogram.add(now - lastPaintMicros);
    lastPaintMicros = now;
    if (ringHead == 0) return;
    const uint64_t oldest = ringHead > kRingSize ? ringHead - kRingSize : 0;
    uint64_t shownIndex = ringHead;
    for (uint64_t k = ringHead; k > oldest; --k) {
        if (ring[(k - 1) % kRingSize].value == shown) {
            shownIndex = k - 1;
            break;
        }
    }
    if (shownIndex == ringHead) {
        paintsWithUnknownValue.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    // Every set up to the one painted is now on the screen (or superseded).
    for (uint64_t k = firstUnpainted; k <= shownIndex; ++k)
        setToPaintHistogram.add(now - ring[k % kRingSize].setMicros);
    if (shownIndex + 1 > firstUnpainted) firstUnpainted = shownIndex + 1;
    // The oldest newer value is how far behind this repaint is.
    int64_t staleness = 0;
    if (shownIndex + 1 < ringHead) staleness = now - ring[(shownIndex + 1) % kRingSize].setMicros;
    stalenessHistogram.add(staleness);
    int64_t seen = maxStaleness.load();
    while (staleness > seen && !maxStaleness.compare_exchange_weak(seen, staleness)) {
    }
}

class MeterPaintWatch : public QObject {
public:
    explicit MeterPaintWatch(ControlWidget* meter) : meter_(meter) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && timing.load(std::memory_order_relaxed))
            notePaint(meter_->numericValue());
        return QObject::eventFilter(watched, event);
    }

private:
    ControlWidget* meter_;
};

}  // namespace

void enableTiming(bool on) { timing.store(on); }

void watchMeter(QWidget* meter) {
    auto* control = dynamic_cast<ControlWidget*>(meter);
    if (!control) return;
    auto* watch = new MeterPaintWatch(control);
    watch->setParent(meter);
    meter->installEventFilter(watch);
}

Figures figures() {
    Figures f;
    f.framesTaken = framesTaken.load();
    f.meterSets = meterSets.load();
    f.meterPaints = meterPaints.load();
    f.maxStalenessMicros = maxStaleness.load();
    f.paintsWithUnknownValue = paintsWithUnknownValue.load();
    f.workerThreadId = workerThreadId.load();
    return f;
}

const LatencyHistogram& arrivalToSet() { return arrivalToSetHistogram; }
const LatencyHistogram& sentToArrival() { return sentToArrivalHistogram; }
const LatencyHistogram& setToPaint() { return setToPaintHistogram; }
const LatencyHistogram& paintStaleness() { return stalenessHistogram; }
const LatencyHistogram& paintInterval() { return paintIntervalHistogram; }

}  // namespace bench::probe

// ---- The wrapped calls -------------------------------------------------------
extern "C" {

int __wrap__Z19canReadSpecificSkipiiPvPjS0_Pm(int handle, int32_t id, void* msg, unsigned* dlc,
                                              unsigned* flags, unsigned long* time) {
    const int status = __real__Z19canReadSpecificSkipiiPvPjS0_Pm(handle, id, msg, dlc, flags, time);
    if (status == canOK) bench::probe::noteTakenFrame(handle, msg);
    return status;
}

int __wrap__Z11canReadWaitiPiPvPjS1_Pmm(int handle, int32_t* id, void* msg, unsigned* dlc,
                                        unsigned* flags, unsigned long* time,
                                        unsigned long timeoutMs) {
    const int status = __real__Z11canReadWaitiPiPvPjS1_Pmm(handle, id, msg, dlc, flags, time, timeoutMs);
    if (status == canOK) bench::probe::noteTakenFrame(handle, msg);
    return status;
}

int __wrap__Z10SetCtrlValiid(int panel, int control, double value) {
    const bool timed = control == NUMERICMETER1 && bench::probe::timing.load(std::memory_order_relaxed);
    if (timed) bench::probe::recordMeterSet(value);
    const int status = __real__Z10SetCtrlValiid(panel, control, value);
    if (timed) bench::probe::noteMeterSetDone();
    return status;
}

}  // extern "C"
