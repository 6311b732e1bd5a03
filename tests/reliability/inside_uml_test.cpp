// SPDX-License-Identifier: GPL-3.0-or-later
// Faults and hostile traffic on real SocketCAN, inside user-mode Linux
// (tests/uml/uml-run.sh with vcan0): the interface is set down and deleted
// during a connection and comes back; and random frames of every kind from
// can-utils (cangen, cansend) pour onto the bus while the viewer listens.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <cstdlib>

#include "app/KolvarCanView.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "platform/canlib.h"
#include "tests/can/measured_panel.h"
#include "tests/can/worker_probe.h"
#include "tests/reliability/process_census.h"
#include "tests/reliability/read_audit.h"

namespace {

bool run(const QString& program, const QStringList& arguments, int timeoutMs = 20000) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

class InsideUml : public MeasuredPanelTest {
protected:
    void chooseChannels() override { setenv("KOLVAR_CAN_CHANNELS", "socketcan", 1); }
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(MeasuredPanelTest::SetUp());
        resetReadAudit(nullptr);
        composeIdentifier(0, 0, 1, 10, 5);
        ASSERT_EQ(can_id.load(), 0x1A5);
    }
    void TearDown() override {
        MeasuredPanelTest::TearDown();
        stopGenerator();
    }
    // Frames of 0x1A5 whose data counts up, every 2 ms.
    void startCountingGenerator() {
        stopGenerator();
        generator.start("cangen", {"vcan0", "-I", "1A5", "-L", "8", "-D", "i", "-g", "2"});
        ASSERT_TRUE(generator.waitForStarted(5000));
    }
    void stopGenerator() {
        if (generator.state() == QProcess::NotRunning) return;
        generator.kill();
        generator.waitForFinished(3000);
    }

    QProcess generator;
};

TEST_F(InsideUml, InterfaceDownAndDeletedDuringAConnectionThenBack) {
    ASSERT_NO_FATAL_FAILURE(startCountingGenerator());
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    ASSERT_TRUE(framesFlow()) << "no frames before the fault";

    // Down and up again: the same connection receives again.
    ASSERT_TRUE(run("ip", {"link", "set", "vcan0", "down"}));
    QTest::qWait(300);
    ASSERT_TRUE(run("ip", {"link", "set", "vcan0", "up"}));
    ASSERT_NO_FATAL_FAILURE(startCountingGenerator());
    EXPECT_TRUE(framesFlow()) << "frames do not flow after the interface came up again";

    // Deleted and created again under the same name: found again by name,
    // by the viewer and by the simulator sending on it, which says so.
    stopGenerator();
    QProcess simulator;
    simulator.start(KOLVAR_DEVICE_SIM_PATH, {"--channel", "vcan0", "--id", "0x1A5", "--rate", "500", "--ch1",
                                             "ramp:period=1"});
    ASSERT_TRUE(simulator.waitForStarted(5000));
    ASSERT_TRUE(framesFlow()) << "no frames from the simulator";
    ASSERT_TRUE(run("ip", {"link", "set", "vcan0", "down"}));
    ASSERT_TRUE(run("ip", {"link", "delete", "vcan0"}));
    QTest::qWait(700);
    EXPECT_TRUE(CanConnectionRuns());
    ASSERT_TRUE(run("ip", {"link", "add", "dev", "vcan0", "type", "vcan"}));
    ASSERT_TRUE(run("ip", {"link", "set", "vcan0", "up"}));
    EXPECT_TRUE(framesFlow()) << "the simulator's frames do not flow after the interface was recreated";
    // It looks at its bus a few times a second: the word may follow the frames.
    QString said;
    const QString back = "kolvar-device-sim: channel vcan0: back; sending again\n";
    simulator.setReadChannel(QProcess::StandardError);
    for (int wait = 0; wait < 50 && !said.contains(back); ++wait) {
        simulator.waitForReadyRead(100);
        said += QString::fromLocal8Bit(simulator.readAllStandardError());
    }
    simulator.terminate();
    ASSERT_TRUE(simulator.waitForFinished(5000));
    said += QString::fromLocal8Bit(simulator.readAllStandardError());
    EXPECT_TRUE(said.contains("kolvar-device-sim: channel vcan0: interface deleted; frames are lost until it is back\n"))
        << said.toStdString();
    EXPECT_TRUE(said.contains(back)) << said.toStdString();
    ASSERT_NO_FATAL_FAILURE(startCountingGenerator());

    // The user switches off and on again: frames flow.
    switchBus(false);
    EXPECT_FALSE(CanConnectionRuns());
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    EXPECT_TRUE(framesFlow()) << "frames do not flow after the interface came back";
    switchBus(false);
    EXPECT_EQ(readAuditCounts().invalidHandleReads, 0u) << describe(readAuditCounts());
    EXPECT_EQ(openCanHandles(handle1.load()), 0);
}

// The worker sleeps on a silent bus until something happens: a new
// identifier and a stop each wake it at once (the bound is loose; its wait
// without a wake-up lasts a second).
TEST_F(InsideUml, NewIdentifierAndStopWakeASleepingWorker) {
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    QTest::qWait(1500);  // past the first read: asleep on the silent bus
    QElapsedTimer clock;
    for (int round = 0; round < 3; ++round) {
        const std::uint64_t reads = readAuditCounts().reads;
        clock.start();
        click(RADIOBUTTON_PRE2);  // 0x1A5 <-> 0x5A5
        EXPECT_TRUE(waitFor([&] { return readAuditCounts().reads > reads; }, 2000));
        EXPECT_LT(clock.elapsed(), 250) << "the worker slept through a new identifier";
        QTest::qWait(300);
    }
    clock.start();
    switchBus(false);
    EXPECT_LT(clock.elapsed(), 250) << "the stop waited for the worker's sleep";
    EXPECT_FALSE(CanConnectionRuns());
}

// cangen's random identifiers, lengths and data, as standard, extended and
// remote frames at once, plus error frames from cansend. Whatever frame
// comes, the worker takes only standard data frames through its filter,
// shows meters computed from the words it shows, and never reads a closed
// handle.
TEST_F(InsideUml, RandomFramesOfEveryKindFromCanUtils) {
    const char* countText = std::getenv("KOLVAR_UML_HOSTILE_FRAMES");
    const QString perKind = QString::number(countText ? std::atoll(countText) / 3 : 20000);
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());
    QProcess standard, extended, remote;
    const QStringList common{"vcan0", "-I", "r", "-L", "r", "-D", "r", "-g", "0", "-p", "10",
                             "-n", perKind};
    standard.start("cangen", common);
    extended.start("cangen", common + QStringList{"-e"});
    remote.start("cangen", common + QStringList{"-R"});
    // Error frames: the error flag (0x20000000) in the identifier.
    for (const char* errorFrame : {"20000004#0000000000000000", "20000040#", "200001A5#F0FF1000"})
        for (int i = 0; i < 20; ++i) run("cansend", {"vcan0", errorFrame});
    for (QProcess* generatorProcess : {&standard, &extended, &remote})
        EXPECT_TRUE(generatorProcess->waitForFinished(600000)) << "cangen did not finish";
    QTest::qWait(500);
    ASSERT_TRUE(CanConnectionRuns());
    uint64_t errorFrames = 0;
    canGetErrorFrameCount(handle1.load(), &errorFrames);
    switchBus(false);

    const ReadAuditCounts audit = readAuditCounts();
    std::printf("[ FIGURE   ] %d random frames from cangen; worker took %llu, %llu passes, "
                "%llu error frames counted\n",
                perKind.toInt() * 3, static_cast<unsigned long long>(audit.specificTaken),
                static_cast<unsigned long long>(audit.passes),
                static_cast<unsigned long long>(errorFrames));
    EXPECT_EQ(audit.badPasses, 0u) << describe(audit);
    EXPECT_EQ(audit.specificNotStandard, 0u) << describe(audit);
    EXPECT_EQ(audit.invalidHandleReads, 0u) << describe(audit);
    EXPECT_GT(audit.passes, 0u);
}

}  // namespace
