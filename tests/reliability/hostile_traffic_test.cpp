// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile bus traffic on the virtual bus: a million random frames from
// another process, among them the chosen identifier as extended, remote and
// short frames. The property: every value the worker shows comes from a
// standard data frame of the chosen identifier (it carries the mark of
// hostile_words.h), or the buffer as it stood before the connection.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "app/KolvarCanView.h"
#include "can/bus.h"
#include "can/can_id.h"
#include "platform/canlib.h"
#include "tests/can/bus_peers.h"
#include "tests/can/measured_panel.h"
#include "tests/can/worker_probe.h"
#include "tests/reliability/hostile_words.h"
#include "tests/reliability/read_audit.h"

namespace {

long long framesFromEnvironment() {
    const char* text = std::getenv("KOLVAR_HOSTILE_FRAMES");
    const long long value = text ? std::atoll(text) : 0;
    return value > 0 ? value : 1000000;
}

class HostileTraffic : public MeasuredPanelTest {};

TEST_F(HostileTraffic, OnlyFramesOfTheChosenIdentifierReachTheMeters) {
    const long long frames = framesFromEnvironment();
    composeIdentifier(0, 0, 1, 10, 5);
    ASSERT_EQ(can_id.load(), kHostileChosenId);
    resetReadAudit(&carriesMark);
    switchBus(true);
    ASSERT_TRUE(CanConnectionRuns());

    QProcess sender;
    sender.setProcessEnvironment(peerEnvironment());
    sender.start(KOLVAR_HOSTILE_SENDER_PATH, {"virtual 0", QString::number(frames), "424242"});
    ASSERT_TRUE(sender.waitForStarted(5000));
    QElapsedTimer elapsed;
    elapsed.start();
    // The panel keeps its event loop running while the traffic lasts.
    ASSERT_TRUE(waitFor([&] { return sender.state() == QProcess::NotRunning; }, 480000))
        << "the sender did not finish";
    const double seconds = elapsed.elapsed() / 1000.0;
    ASSERT_EQ(sender.exitCode(), 0) << sender.readAllStandardError().toStdString();
    const QList<QByteArray> report = sender.readAllStandardOutput().split('\n');
    ASSERT_GE(report.size(), 2);
    ASSERT_TRUE(report[1].startsWith("sent ")) << report[1].toStdString();
    const long long marked = report[1].split(' ').value(3).toLongLong();

    // The sender is done once its frames are on their way; the viewer may
    // still be taking them in. Wait until the worker takes no more.
    for (std::uint64_t taken = ~0ull; taken != readAuditCounts().specificTaken;) {
        taken = readAuditCounts().specificTaken;
        QTest::qWait(1000);
        if (elapsed.elapsed() > 540000) break;
    }
    const double drainedSeconds = elapsed.elapsed() / 1000.0 - 1.0;
    uint64_t dropped = 0;
    ASSERT_EQ(canGetDroppedCount(handle1.load(), &dropped), canOK);
    ASSERT_TRUE(CanConnectionRuns()) << "the connection did not survive the traffic";
    switchBus(false);

    const ReadAuditCounts audit = readAuditCounts();
    std::printf("[ FIGURE   ] %lld hostile frames (%lld of the chosen identifier) sent in %.1f s, "
                "taken in by %.1f s; worker took %llu, %llu display passes, %llu frames dropped "
                "by a full queue\n",
                frames, marked, seconds, drainedSeconds, static_cast<unsigned long long>(audit.specificTaken),
                static_cast<unsigned long long>(audit.passes),
                static_cast<unsigned long long>(dropped));
    RecordProperty("hostile_frames", std::to_string(frames));
    EXPECT_EQ(audit.badPasses, 0u) << describe(audit);
    EXPECT_EQ(audit.specificNotStandard, 0u) << describe(audit);
    EXPECT_EQ(audit.invalidHandleReads, 0u) << describe(audit);
    EXPECT_EQ(audit.firstReads, 1u) << describe(audit);
    // Not vacuous: every frame of the chosen identifier that the receive
    // queue kept reached the worker, and the meters showed them.
    EXPECT_GE(audit.specificTaken + dropped, static_cast<std::uint64_t>(marked)) << describe(audit);
    EXPECT_LE(audit.specificTaken, static_cast<std::uint64_t>(marked)) << describe(audit);
    // The worker shows the newest frame at most once a screen refresh, so a
    // run of several seconds gives dozens of checked passes, not one a frame.
    EXPECT_GT(audit.passesByPredicate, 20u) << describe(audit);
    // What the panel shows at the end passed the same check.
    EXPECT_EQ(doubleValue(NUMERICMETER1), expectedMeterValue(intValue(NUMERIC_CH1_RAW)));
    EXPECT_EQ(doubleValue(NUMERICMETER2), expectedMeterValue(intValue(NUMERIC_CH2_RAW)));
}

}  // namespace
