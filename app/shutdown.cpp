// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shutdown.h"

#include <iterator>

#include "app/status/status_line.h"
#include "app/trend/trend_entry.h"
#include "can/bus.h"
#include "panel/panel_contract.h"
#include "platform/userint.h"

namespace app {
namespace {

void discardPanel() { DiscardPanel(panelHandle.load()); }

// The CAN layer's I/O thread is not among them: it ends when the process
// exits (IoThread::stopAtProcessExit), after the devices on it are closed.
constexpr ShutdownStep kSteps[] = {
    // The worker leaves its loop within one pass and is waited for; the
    // channel is closed after it.
    {"stop the connection", CanStopConnection},
    // After the worker: the recording ends with the last frames it handed
    // over. The recording's writer and a CSV export are cancelled, which
    // ends their writes at once, and joined.
    {"close the trend window", closeTrendWindow},
    // Nothing tells the line of changes any more; its timer stops.
    {"stop the status line", StopBusStatusLine},
    // Every pool function has returned by now: the pool's threads are joined.
    {"end the run-time's threads", [] { CloseCVIRTE(); }},
    {"discard the panel", discardPanel},
};

}  // namespace

std::span<const ShutdownStep> viewerShutdownSteps() { return kSteps; }

void runShutdown(std::span<const ShutdownStep> steps) {
    for (const ShutdownStep& step : steps) step.run();
}

}  // namespace app
