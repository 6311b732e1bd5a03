// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/hardware.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "panel/panel_contract.h"
#include "can/bus.h"
#include "can/measurement_events.h"
#include "platform/canlib.h"
#include "platform/userint.h"
#include "platform/vxlapi.h"

int32_t can_hardware_index = 1;

namespace {
// One channel label at a time, "Ch <k>".
char channelName[8];

// The CAN library refuses to start only over its one input from outside, a
// virtual bus port that is not one. The list then stays empty; the line says
// why, instead of a silent fall-back to the shared bus.
void reportUnusableLibrary(int status) {
    if (status != canERR_PARAM) return;
    const char* port = std::getenv("KOLVAR_VIRTUALCAN_PORT");
    std::fprintf(stderr, "kolvar-can-viewer: KOLVAR_VIRTUALCAN_PORT '%s' is not a port from 1 to 65535\n",
                 port ? port : "");
}
}  // namespace

void CanChangeHardware() {
    int index = 0;
    if (GetCtrlIndex(panelHandle.load(), CAN_HARDWARE, &index) < 0) return;

    // A running connection is taken down before the driver it uses is
    // unloaded or initialised again. The button shows "OFF BUS" after every
    // change, also when it was switched on under Vector where nothing ran:
    // after a change no connection runs.
    CanBusDown();

    can_hardware_index = index;
    if (index == kVectorIndex) {
        canUnloadLibrary();
        xlOpenDriver();
    } else if (index == kKvaserIndex) {
        xlCloseDriver();
        reportUnusableLibrary(canInitializeLibrary());
        KVCanGetChannelNums();
    }
    notifyMeasurementChanged();  // another channel list: another "next" channel
}

void KVCanGetChannelNums() {
    std::memset(channelName, 0, sizeof channelName);

    // A failed query leaves the count at 0: the list is then empty.
    int channels = 0;
    if (canGetNumberOfChannels(&channels) < 0) channels = 0;
    const int listed = channels / 2;

    const int panel = panelHandle.load();
    DeleteListItem(panel, CAN_CHANNEL, 0, -1);
    // Inserting at the top from the last entry down leaves "Ch 1" first.
    for (int k = listed; k >= 1; --k) {
        Fmt(channelName, "%s<%s%i", "Ch ", k);
        InsertListItem(panel, CAN_CHANNEL, 0, channelName, k - 1);
    }
    if (listed == 0) return;  // nothing to select; an opening will fail
    if (can_channel < 0 || can_channel >= listed) can_channel = 0;
    SetCtrlIndex(panel, CAN_CHANNEL, can_channel);  // entry k - 1 has value k - 1
}

int canHardware(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) CanChangeHardware();
    return 0;
}
