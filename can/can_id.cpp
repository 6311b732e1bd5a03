// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/can_id.h"

#include "can/identifier.h"
#include "can/measurement_events.h"
#include "can/read_thread.h"
#include "panel/panel_contract.h"
#include "platform/userint.h"

std::atomic<int32_t> can_id{0};

namespace {
// The five identifier controls' last read values. [main-thread]
int32_t pre0 = 0;
int32_t pre1 = 0;
int32_t pre2 = 0;
int32_t pre_id0 = 0;
int32_t pre_id1 = 0;

// Reads one identifier control into `target`; on failure the variable keeps
// its last value, so a bad read never turns into a bogus identifier.
void readControl(int control, int32_t& target) {
    int value = 0;
    if (GetCtrlVal(panelHandle.load(), control, &value) >= 0) target = value;
}

int onCommitCalc(int event) {
    if (event == EVENT_COMMIT) calcCanID();
    return 0;
}
}  // namespace

void calcCanID() {
    readControl(RADIOBUTTON_PRE0, pre0);
    readControl(RADIOBUTTON_PRE1, pre1);
    readControl(RADIOBUTTON_PRE2, pre2);
    readControl(NUMERICKNOB_ID0, pre_id0);
    readControl(NUMERICKNOB_ID1, pre_id1);

    const int32_t composed = composeCanId(pre0, pre1, pre2, pre_id0, pre_id1);
    can_id.store(composed);
    KVCanWakeReadThread();  // a worker asleep on a silent bus takes it up at once
    notifyMeasurementChanged();  // values of the old identifier are stale from now on

    // Both displays show the same integer; the panel gives one a decimal and
    // the other a hexadecimal format. A failed display leaves the filter set.
    SetCtrlVal(panelHandle.load(), NUMERIC_DEC, static_cast<int>(composed));
    SetCtrlVal(panelHandle.load(), NUMERIC_DEC_2, static_cast<int>(composed));
}

int PRE0(int, int, int event, void*, int, int) { return onCommitCalc(event); }
int PRE1(int, int, int event, void*, int, int) { return onCommitCalc(event); }
int PRE2(int, int, int event, void*, int, int) { return onCommitCalc(event); }
int PRE_ID0(int, int, int event, void*, int, int) { return onCommitCalc(event); }
int PRE_ID1(int, int, int event, void*, int, int) { return onCommitCalc(event); }
