// SPDX-License-Identifier: GPL-3.0-or-later
// Interface selection on the real panel: the channel list the CAN layer's
// count gives, the second vendor's driver, and what happens to a running
// connection or a stale button state when the interface changes.
#include <gtest/gtest.h>

#include <QTest>

#include "app/KolvarCanView.h"
#include "can/bus.h"
#include "can/hardware.h"
#include "platform/canlib.h"
#include "platform/userint.h"
#include "platform/vxlapi.h"
#include "tests/can/bus_peers.h"
#include "tests/can/measured_panel.h"
#include "tests/can/worker_probe.h"

namespace {


class InterfaceSelection : public MeasuredPanelTest {};

TEST_F(InterfaceSelection, VirtualBusOffersHalfItsTwoChannels) {
    int channels = 0;
    ASSERT_EQ(canGetNumberOfChannels(&channels), canOK);
    ASSERT_EQ(channels, 2);
    int entries = -1;
    ASSERT_GE(GetNumListItems(panel, CAN_CHANNEL, &entries), 0);
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(shownText(CAN_CHANNEL), "Ch 1");
    int value = -1;
    ASSERT_GE(GetValueFromIndex(panel, CAN_CHANNEL, 0, &value), 0);
    EXPECT_EQ(value, 0);
}

TEST_F(InterfaceSelection, VectorOpensItsDriverUnloadsCanlibAndKeepsTheList) {
    selectRingIndex(CAN_HARDWARE, kVectorIndex);
    EXPECT_EQ(can_hardware_index, kVectorIndex);
    EXPECT_TRUE(xlDriverIsOpen());
    int channels = 0;
    EXPECT_EQ(canGetNumberOfChannels(&channels), canERR_NOTINITIALIZED);
    int entries = -1;
    ASSERT_GE(GetNumListItems(panel, CAN_CHANNEL, &entries), 0);
    EXPECT_EQ(entries, 1);

    selectRingIndex(CAN_HARDWARE, kKvaserIndex);
    EXPECT_EQ(can_hardware_index, kKvaserIndex);
    EXPECT_FALSE(xlDriverIsOpen());
    EXPECT_EQ(canGetNumberOfChannels(&channels), canOK);
}

// The button shows ON BUS, and the status line says that it carries no
// connection in this build.
TEST_F(InterfaceSelection, BusButtonUnderVectorOpensNothing) {
    selectRingIndex(CAN_HARDWARE, kVectorIndex);
    EXPECT_TRUE(waitFor([] { return statusLine() == "Off bus · Vector: the bus button opens no channel in this build"; },
                        1000))
        << statusLine().toStdString();
    switchBus(true);
    EXPECT_EQ(onoff, 1);
    EXPECT_FALSE(CanConnectionRuns());
    EXPECT_EQ(threadrun.load(), 0);
    EXPECT_TRUE(waitFor([] {
        return statusLine() == "Vector: ON BUS opens no channel in this build; choose Kvaser to connect";
    }, 1000)) << statusLine().toStdString();
    switchBus(false);
    EXPECT_EQ(onoff, 0);
}

// Changing the interface while a connection runs takes the connection
// down first, and the bus button shows that it is off.
TEST_F(InterfaceSelection, SwitchingInterfaceWhileRunningStopsTheConnection) {
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    ASSERT_TRUE(waitFor([] { return meterUpdates() > 0; }, 3000)) << "worker never refreshed";

    selectRingIndex(CAN_HARDWARE, kVectorIndex);
    EXPECT_FALSE(CanConnectionRuns());
    EXPECT_EQ(threadrun.load(), 0);
    EXPECT_EQ(onoff, 0);
    EXPECT_EQ(intValue(BUS_BUTTON), 0);
    EXPECT_EQ(widget(BUS_BUTTON)->property("text").toString(), "OFF BUS");
    // A worker left running would refresh the meter on every pass.
    EXPECT_TRUE(meterStaysQuiet(400));

    // Back on Kvaser, the next connection starts cleanly on the same channel
    // and frames reach the meters again.
    selectRingIndex(CAN_HARDWARE, kKvaserIndex);
    composeIdentifier(0, 0, 1, 10, 5);
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    ASSERT_EQ(runDeviceSim({"--send", "1A5#3080000000000000"}), "");
    EXPECT_TRUE(waitFor([] { return intValue(NUMERIC_CH1_RAW) == 0x8030; }, 5000));
    switchBus(false);
    EXPECT_FALSE(CanConnectionRuns());
}

// A channel this test opens itself stands for "a channel that is not the
// viewer's": a stop with no connection running must leave it alone, even
// when handle1 still holds its number. The button switched on under Vector
// shows "OFF BUS" once Kvaser is chosen (it once said "ON BUS" with nothing
// connected), so the stops are reached directly.
class StopWithoutConnection : public MeasuredPanelTest {
protected:
    void armStaleHandle() {
        selectRingIndex(CAN_HARDWARE, kVectorIndex);
        switchBus(true);
        selectRingIndex(CAN_HARDWARE, kKvaserIndex);
        ASSERT_EQ(onoff, 0);
        ASSERT_EQ(widget(BUS_BUTTON)->property("text").toString(), "OFF BUS");
        ASSERT_FALSE(CanConnectionRuns());
        foreign = canOpenChannel(1, canOPEN_EXCLUSIVE);
        ASSERT_GE(foreign, 0);
        ASSERT_EQ(canBusOn(foreign), canOK);
        handle1 = foreign;
    }
    void expectForeignChannelUntouched() {
        // Off the bus or closed, the channel would answer at once with an
        // error; on the bus and silent, it waits and finds nothing.
        EXPECT_EQ(canReadSync(foreign, 50), canERR_NOMSG);
        EXPECT_EQ(threadrun.load(), 0);
        EXPECT_FALSE(CanConnectionRuns());
        canClose(foreign);
    }
    int foreign = -1;
};

TEST_F(StopWithoutConnection, StopUnderKvaserTouchesNothing) {
    armStaleHandle();
    CanReadBus(0);
    expectForeignChannelUntouched();
}

TEST_F(StopWithoutConnection, PanelCloseTimeStopTouchesNothing) {
    armStaleHandle();
    onoff = 1;  // as the button said before the mend
    CanCloseTimeStop();
    expectForeignChannelUntouched();
}

}  // namespace
