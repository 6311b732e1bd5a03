// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/reliability/read_audit.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "app/KolvarCanView.h"
#include "platform/canlib.h"

// The real functions, reached through the linker's --wrap renaming; the
// layer's functions are C++, so they go by their mangled names.
extern "C" {
int __real__Z11canReadWaitiPiPvPjS1_Pmm(int handle, int32_t* id, void* msg, unsigned* dlc, unsigned* flags,
                       unsigned long* time, unsigned long timeoutMs);
int __real__Z19canReadSpecificSkipiiPvPjS0_Pm(int handle, int32_t id, void* msg, unsigned* dlc,
                               unsigned* flags, unsigned long* time);
int __real__Z11canReadSyncim(int handle, unsigned long timeoutMs);
// SetCtrlVal(int, int, int) and SetCtrlVal(int, int, double), by their
// mangled names.
int __real__Z10SetCtrlValiii(int panel, int control, int value);
int __real__Z10SetCtrlValiid(int panel, int control, double value);
}

namespace {

std::atomic<AllowedWords> predicate{nullptr};
std::atomic<std::uint64_t> reads{0}, invalidHandleReads{0}, firstReads{0}, specificTaken{0},
    specificNotStandard{0}, passes{0}, passesByPredicate{0}, badPasses{0};

std::mutex allowedMutex;
std::set<std::uint32_t> allowedAtConnection;  // the buffer before the first read
std::atomic<int> connectionHandle{-1};         // handle of the worker's latest read
std::vector<std::string> problems;

std::uint32_t wordsOf(const void* buffer) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    const std::uint32_t word1 = bytes[0] + 256u * bytes[1];
    const std::uint32_t word2 = bytes[2] + 256u * bytes[3];
    return word1 << 16 | word2;
}

void noteProblem(const std::string& text) {
    std::lock_guard lock(allowedMutex);
    if (problems.size() < 10) problems.push_back(text);
}

void countRead(int status) {
    reads.fetch_add(1);
    if (status == canERR_INVHANDLE) invalidHandleReads.fetch_add(1);
}

bool onWorkerThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() != application->thread();
}

// A connection's first read is the worker's first read on a new handle
// (handles are never reused). The buffer as it stood then may be shown; the
// first read itself takes only frames of the chosen identifier.
void noteRead(int handle, const void* buffer) {
    if (!onWorkerThread() || connectionHandle.exchange(handle) == handle) return;
    firstReads.fetch_add(1);
    std::lock_guard lock(allowedMutex);
    allowedAtConnection = {buffer ? wordsOf(buffer) : 0u};
}

// One display update of the worker, assembled from its four calls.
struct Pass {
    int step = 0;
    int raw1 = 0;
    int raw2 = 0;
    double meter1 = 0;
};
thread_local Pass pass;

void finishPass(double meter2) {
    pass.step = 0;
    passes.fetch_add(1);
    const std::uint32_t words = static_cast<std::uint32_t>(pass.raw1) << 16 |
                                static_cast<std::uint32_t>(pass.raw2 & 0xFFFF);
    bool allowed = false;
    if (AllowedWords accepts = predicate.load(); !accepts || accepts(words)) {
        allowed = true;
        if (accepts) passesByPredicate.fetch_add(1);
    } else {
        std::lock_guard lock(allowedMutex);
        allowed = allowedAtConnection.count(words) != 0;
    }
    const bool metersMatch = pass.meter1 == expectedMeterValue(pass.raw1) &&
                             meter2 == expectedMeterValue(pass.raw2);
    if (allowed && metersMatch && pass.raw1 >= 0 && pass.raw1 <= 0xFFFF && pass.raw2 >= 0 &&
        pass.raw2 <= 0xFFFF)
        return;
    badPasses.fetch_add(1);
    char text[160];
    std::snprintf(text, sizeof text, "shown %04X %04X %.6f %.6f (%s)", pass.raw1, pass.raw2,
                  pass.meter1, meter2, allowed ? "meters do not match the words" : "words not allowed");
    noteProblem(text);
}

}  // namespace

extern "C" {

int __wrap__Z11canReadWaitiPiPvPjS1_Pmm(int handle, int32_t* id, void* msg, unsigned* dlc, unsigned* flags,
                       unsigned long* time, unsigned long timeoutMs) {
    noteRead(handle, msg);
    const int status = __real__Z11canReadWaitiPiPvPjS1_Pmm(handle, id, msg, dlc, flags, time, timeoutMs);
    countRead(status);
    return status;
}

int __wrap__Z19canReadSpecificSkipiiPvPjS0_Pm(int handle, int32_t id, void* msg, unsigned* dlc, unsigned* flags,
                               unsigned long* time) {
    // Asks for the frame's flags even when the caller does not, to see what
    // kind of frame the filter let through.
    unsigned seenFlags = 0;
    noteRead(handle, msg);
    const int status =
        __real__Z19canReadSpecificSkipiiPvPjS0_Pm(handle, id, msg, dlc, flags ? flags : &seenFlags, time);
    countRead(status);
    if (status == canOK) {
        specificTaken.fetch_add(1);
        const unsigned kind = flags ? *flags : seenFlags;
        if (kind & (canMSG_EXT | canMSG_RTR | canMSG_ERROR_FRAME)) {
            specificNotStandard.fetch_add(1);
            noteProblem("canReadSpecificSkip took a frame with flags " + std::to_string(kind));
        }
    }
    return status;
}

int __wrap__Z11canReadSyncim(int handle, unsigned long timeoutMs) {
    noteRead(handle, nullptr);
    const int status = __real__Z11canReadSyncim(handle, timeoutMs);
    countRead(status);
    return status;
}

int __wrap__Z10SetCtrlValiii(int panel, int control, int value) {
    if (onWorkerThread()) {
        if (control == NUMERIC_CH1_RAW) {
            pass.step = 1;
            pass.raw1 = value;
        } else if (control == NUMERIC_CH2_RAW && pass.step == 1) {
            pass.step = 2;
            pass.raw2 = value;
        }
    }
    return __real__Z10SetCtrlValiii(panel, control, value);
}

int __wrap__Z10SetCtrlValiid(int panel, int control, double value) {
    if (onWorkerThread()) {
        if (control == NUMERICMETER1 && pass.step == 2) {
            pass.step = 3;
            pass.meter1 = value;
        } else if (control == NUMERICMETER2 && pass.step == 3) {
            finishPass(value);
        }
    }
    return __real__Z10SetCtrlValiid(panel, control, value);
}

}  // extern "C"

double expectedMeterValue(std::int32_t word) {
    // 12-bit reading in the upper bits; full scale 4095 maps onto +100.
    const double reading = static_cast<double>(word >> 4);
    return (200.0 * reading) / 4095.0 - 100.0;
}

void resetReadAudit(AllowedWords accepts) {
    predicate.store(accepts);
    for (auto* counter : {&reads, &invalidHandleReads, &firstReads, &specificTaken,
                          &specificNotStandard, &passes, &passesByPredicate, &badPasses})
        counter->store(0);
    connectionHandle.store(-1);
    std::lock_guard lock(allowedMutex);
    allowedAtConnection.clear();
    problems.clear();
}

ReadAuditCounts readAuditCounts() {
    ReadAuditCounts counts;
    counts.reads = reads.load();
    counts.invalidHandleReads = invalidHandleReads.load();
    counts.firstReads = firstReads.load();
    counts.specificTaken = specificTaken.load();
    counts.specificNotStandard = specificNotStandard.load();
    counts.passes = passes.load();
    counts.passesByPredicate = passesByPredicate.load();
    counts.badPasses = badPasses.load();
    std::lock_guard lock(allowedMutex);
    counts.firstProblems = problems;
    return counts;
}

std::string describe(const ReadAuditCounts& counts) {
    std::string text = "reads " + std::to_string(counts.reads) + ", invalid-handle reads " +
                       std::to_string(counts.invalidHandleReads) + ", first reads " +
                       std::to_string(counts.firstReads) + ", frames taken " +
                       std::to_string(counts.specificTaken) + " (not standard data: " +
                       std::to_string(counts.specificNotStandard) + "), passes " +
                       std::to_string(counts.passes) + " (by predicate " +
                       std::to_string(counts.passesByPredicate) + ", bad " +
                       std::to_string(counts.badPasses) + ")";
    for (const std::string& problem : counts.firstProblems) text += "\n  " + problem;
    return text;
}
