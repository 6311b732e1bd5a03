// SPDX-License-Identifier: GPL-3.0-or-later
// The status line's words where the in-process and user-mode Linux tests
// cannot reach: real controllers' states, a bit rate other than chosen, and
// the commands for what switching on was not permitted to do.
#include <gtest/gtest.h>

#include "app/status/bus_status.h"
#include "platform/canlib.h"

namespace {

struct Row {
    int busState;
    long bitRate;
    unsigned dlc;
    int64_t ageMs;
    const char* firstLine;
    const char* reason;
    bool stale1;
    bool stale2;
    int setupDenied;
    uint64_t lost;     // frames lost since switch-on
    const char* next;  // the channel chosen for the next switch-on, if another
    uint64_t sendErrors = 0;
    uint64_t shortReads = 0;
    // The third line up to the last frame's identifier.
    const char* counts = "error frames 0 · last";
};

TEST(BusStatusLine, SaysWhatTheControllerAndTheInterfaceReport) {
    const Row rows[] = {
        {canBUSSTATE_ERROR_ACTIVE, 500000, 8, 300, "can0 · 500 kbit/s", "live", false, false, 0, 0, ""},
        {canBUSSTATE_ERROR_ACTIVE, 500000, 8, 9949, "can0 · 500 kbit/s", "no frame of 0x1A5 for 9.9 s", true, true, 0, 0, ""},
        {canBUSSTATE_ERROR_ACTIVE, 500000, 8, 42999, "can0 · 500 kbit/s", "no frame of 0x1A5 for 42 s", true, true, 0, 0, ""},
        {canBUSSTATE_ERROR_ACTIVE, 250000, 8, 300, "can0 · 250 kbit/s (chosen 500 kbit/s not applied)", "live",
         false, false, 0, 0, ""},
        {canBUSSTATE_ERROR_ACTIVE, 250000, 8, 300,
         "can0 · 250 kbit/s (chosen 500 kbit/s not applied: only root may set it)",
         "to run at 500 kbit/s, as root: ip link set can0 down; ip link set can0 type can bitrate 500000; "
         "ip link set can0 up",
         false, false, canSETUP_BITRATE_DENIED, 0, ""},
        // Set meanwhile by someone else: no advice left.
        {canBUSSTATE_ERROR_ACTIVE, 500000, 8, 300, "can0 · 500 kbit/s", "live", false, false, canSETUP_BITRATE_DENIED, 0, ""},
        {canBUSSTATE_BUS_OFF, 500000, 8, 300, "can0 · 500 kbit/s", "bus off", true, true, 0, 0, ""},
        {canBUSSTATE_BUS_OFF, 500000, 8, 300, "can0 · 500 kbit/s",
         "to restart the controller, as root: ip link set can0 down; ip link set can0 up", true, true,
         canSETUP_RESTART_DENIED, 0, ""},
        // Recovered by itself (restart-ms): live again, no advice.
        {canBUSSTATE_ERROR_ACTIVE, 500000, 8, 300, "can0 · 500 kbit/s", "live", false, false, canSETUP_RESTART_DENIED, 0, ""},
        {canBUSSTATE_GONE, 0, 8, 300, "can0 · bit rate —", "can0 no longer exists", true, true, 0, 0, ""},
        {canBUSSTATE_CONNECTING, 0, 8, 300, "can0 · bit rate —", "connecting to can0", true, true, 0, 0, ""},
        {canBUSSTATE_ERROR_ACTIVE, 500000, 1, 300, "can0 · 500 kbit/s",
         "0x1A5 carries 1 data bytes: no channel word", true, true, 0, 0, ""},
        {canBUSSTATE_ERROR_ACTIVE, 500000, 8, 300, "can0 · 500 kbit/s · next: can1", "live", false, false, 0,
         19445, "can1", 0, 0, "error frames 0 · lost 19,445 · last"},
        // Frames the interface refused and reads of no whole frame, counted.
        {canBUSSTATE_ERROR_ACTIVE, 500000, 8, 300, "can0 · 500 kbit/s", "live", false, false, 0, 0, "", 1234, 3,
         "error frames 0 · send errors 1,234 · short reads 3 · last"},
        {canBUSSTATE_ERROR_ACTIVE, 500000, 8, 300, "can0 · 500 kbit/s", "live", false, false, 0, 0, "", 0, 1,
         "error frames 0 · short reads 1 · last"},
    };
    for (const Row& row : rows) {
        BusStatusInputs in;
        in.on = true;
        in.channelName = "can0";
        in.chosenBitRate = 500000;
        in.statusKnown = true;
        in.busState = row.busState;
        in.bitRate = row.bitRate;
        in.setupDenied = row.setupDenied;
        in.chosenId = 0x1A5;
        in.last = {true, 0x1A5, row.dlc, 10000};
        in.nowMs = 10000 + row.ageMs;
        in.lostFrames = row.lost;
        in.nextChannelName = row.next;
        in.sendErrors = row.sendErrors;
        in.shortReads = row.shortReads;
        const BusStatusView view = describeBusStatus(in);
        const std::string& text = view.text;
        EXPECT_NE(text.find("\n" + std::string(row.counts) + " 0x1A5 "), std::string::npos) << text;
        EXPECT_EQ(text.substr(0, text.find('\n')), row.firstLine) << text;
        EXPECT_EQ(text.substr(text.rfind('\n') + 1), row.reason) << text;
        EXPECT_EQ(view.channel1Stale, row.stale1) << text;
        EXPECT_EQ(view.channel2Stale, row.stale2) << text;
    }
}

}  // namespace
