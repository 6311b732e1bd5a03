// SPDX-License-Identifier: GPL-3.0-or-later
// Proves that ThreadSanitizer still sees races under Qt's event loop. A
// control callback of a real panel, dispatched by the event loop on the UI
// thread, writes a plain int that a thread of the run-time's pool reads
// without any synchronisation: a real data race, made on purpose. CTest
// passes this program only when ThreadSanitizer reports that race by the
// variable's name; a suppression or option that hides races whose stacks pass
// through Qt makes it fail.
#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

#include <atomic>
#include <cstdio>

#include "panel/panel_contract.h"
#include "platform/ui/qt_access.h"
#include "platform/userint.h"

int canaryUnguardedValue = 0;  // written and read without synchronisation, on purpose

namespace {
std::atomic<bool> readerRunning{false};
std::atomic<bool> stopReader{false};

int writeOnCommit(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) canaryUnguardedValue = canaryUnguardedValue + 1;
    return 0;
}
int ignorePanelEvent(int, int, void*, int, int) { return 0; }

int readUnguarded(void*) {
    readerRunning.store(true);
    int sum = 0;
    // A volatile read is made on every pass, after the start was published:
    // a plain one could be hoisted above the store and out of the loop, and
    // would then be ordered before the write.
    const volatile int* shared = &canaryUnguardedValue;
    while (!stopReader.load(std::memory_order_relaxed)) sum += *shared;
    return sum & 0;
}

const UiNameEntry kEntries[] = {
    {"panelCB", nullptr, ignorePanelEvent}, {"plotChannel", writeOnCommit, nullptr},
    {"canHardware", writeOnCommit, nullptr}, {"canChannel", writeOnCommit, nullptr},
    {"bus_on_off", writeOnCommit, nullptr},  {"canBitrate", writeOnCommit, nullptr},
    {"PRE_ID0", writeOnCommit, nullptr},     {"PRE_ID1", writeOnCommit, nullptr},
    {"PRE2", writeOnCommit, nullptr},        {"PRE1", writeOnCommit, nullptr},
    {"PRE0", writeOnCommit, nullptr},        {"trendWindow", writeOnCommit, nullptr},
};
const UiNameTable kNames{kEntries, int(std::size(kEntries))};
}  // namespace

int main(int, char**) {
    static char programName[] = "kolvar-tsan-canary";
    static char* argv[] = {programName, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (InitCVIRTE(nullptr, argv, &kNames) != 1) return 2;
    const int panel = LoadPanel(0, KOLVAR_PANEL_DEFINITION, PANEL);
    if (panel < 0 || DisplayPanel(panel) < 0) return 2;

    int functionId = 0;
    if (CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, readUnguarded, nullptr,
                                      &functionId) < 0)
        return 2;
    while (!readerRunning.load()) QApplication::processEvents();

    // The click runs from a timer inside RunUserInterface, so the callback's
    // stack passes through Qt's event loop as a user's click does.
    auto* button = qobject_cast<QAbstractButton*>(uiControlWidget(panel, RADIOBUTTON_PRE0));
    if (!button) return 2;
    QTimer::singleShot(0, button, [button] { button->click(); });
    QTimer::singleShot(50, [] { QuitUserInterface(0); });
    RunUserInterface();

    stopReader.store(true);
    CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, functionId);
    CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, functionId);
    DiscardPanel(panel);
    std::printf("callback ran %d time(s)\n", canaryUnguardedValue);
    return 0;
}
