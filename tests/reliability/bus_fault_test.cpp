// SPDX-License-Identifier: GPL-3.0-or-later
// Faults of the virtual bus during a connection: the process that hosts the
// bus exits mid-stream, and the device simulator is killed mid-stream while
// the viewer hosts it. The viewer must not crash; frames flow again once a
// sender is back, on the same connection and after switching off and on.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <memory>

#include "app/KolvarCanView.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "platform/canlib.h"
#include "tests/can/bus_peers.h"
#include "tests/can/measured_panel.h"
#include "tests/can/worker_probe.h"
#include "tests/reliability/process_census.h"
#include "tests/reliability/read_audit.h"

namespace {

class BusFaults : public MeasuredPanelTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(MeasuredPanelTest::SetUp());
        resetReadAudit(nullptr);
        // The simulator's identifier (0x200) on the panel.
        composeIdentifier(0, 1, 0, 0, 0);
        ASSERT_EQ(can_id.load(), 0x200);
    }
    void TearDown() override {
        MeasuredPanelTest::TearDown();
        for (auto& sim : sims) {
            sim->kill();
            sim->waitForFinished(3000);
        }
    }
    QProcess& startSim() {
        sims.push_back(std::make_unique<QProcess>());
        QProcess& sim = *sims.back();
        sim.setProcessEnvironment(peerEnvironment());
        sim.start(KOLVAR_DEVICE_SIM_PATH,
                  {"--channel", "virtual:0", "--rate", "200", "--duration", "120"});
        EXPECT_TRUE(sim.waitForStarted(5000));
        return sim;
    }
    static void killNow(QProcess& process) {
        process.kill();  // SIGKILL: no goodbye on the bus
        process.waitForFinished(3000);
    }
    // Kills `sender` mid-stream and waits settleMs: the viewer's connection
    // survives; frames from a new simulator flow on that same connection
    // and again after the user switches off and on.
    void killThenRecover(QProcess& sender, int settleMs) {
        killNow(sender);
        QTest::qWait(settleMs);
        EXPECT_TRUE(CanConnectionRuns());
        startSim();
        EXPECT_TRUE(framesFlow()) << "frames do not flow again on the same connection";
        switchBus(false);
        switchBus(true);
        EXPECT_TRUE(framesFlow()) << "frames do not flow after switching off and on";
    }

    std::vector<std::unique_ptr<QProcess>> sims;
};

TEST_F(BusFaults, HostOfTheVirtualBusExitsMidStream) {
    // Started first, the simulator hosts the bus; the viewer joins it.
    QProcess& host = startSim();
    QTest::qWait(500);
    switchBus(true);
    ASSERT_TRUE(framesFlow()) << "no frames before the fault";

    // The viewer survives the host, showing the last values, and its channel
    // reconnects on its own to the bus a new simulator hosts.
    killThenRecover(host, 800);
    switchBus(false);
    EXPECT_EQ(readAuditCounts().invalidHandleReads, 0u);
    EXPECT_EQ(openCanHandles(handle1.load()), 0);
}

TEST_F(BusFaults, DeviceSimulatorKilledMidStream) {
    // The viewer is on the bus first and hosts it.
    switchBus(true);
    ASSERT_TRUE(waitFor([] { return meterUpdates() > 0; }, 3000));
    QProcess& sim = startSim();
    ASSERT_TRUE(framesFlow()) << "no frames before the fault";

    killThenRecover(sim, 500);

    // Killed again, this time with the bus switched off while it is gone.
    killNow(*sims.back());
    switchBus(false);
    startSim();
    switchBus(true);
    EXPECT_TRUE(framesFlow());
    switchBus(false);
    EXPECT_EQ(readAuditCounts().invalidHandleReads, 0u);
}

}  // namespace
