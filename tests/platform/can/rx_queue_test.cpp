// SPDX-License-Identifier: GPL-3.0-or-later
// The receive queue's rules, in one process: matching, skipping, the bound,
// time-outs and wake-ups.
#include "platform/can/rx_queue.h"
#include "platform/canlib.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

using kolvar::can::Frame;
using kolvar::can::RxQueue;
using Clock = std::chrono::steady_clock;

namespace {

Frame dataFrame(int32_t id, uint8_t firstByte, unsigned flags = canMSG_STD) {
    Frame frame;
    frame.id = id;
    frame.flags = flags;
    frame.dlc = 8;
    frame.data[0] = firstByte;
    return frame;
}

void push(RxQueue& queue, std::vector<Frame> frames) { queue.pushBatch(frames.data(), frames.size()); }

}  // namespace

TEST(RxQueue, SpecificSkipTakesFirstMatchAndDiscardsWhatIsAhead) {
    RxQueue queue(16);
    queue.busOn();
    push(queue, {dataFrame(0x100, 1), dataFrame(0x1A5, 2), dataFrame(0x1A5, 3)});
    Frame out;
    ASSERT_EQ(queue.takeSpecificSkip(0x1A5, out), canOK);
    EXPECT_EQ(out.data[0], 2);
    EXPECT_EQ(queue.size(), 1u);
    ASSERT_EQ(queue.takeSpecificSkip(0x1A5, out), canOK);
    EXPECT_EQ(out.data[0], 3);

    push(queue, {dataFrame(0x100, 4), dataFrame(0x101, 5)});
    EXPECT_EQ(queue.takeSpecificSkip(0x1A5, out), canERR_NOMSG);
    EXPECT_EQ(queue.size(), 0u) << "frames of other identifiers are discarded";
}

TEST(RxQueue, OnlyStandardDataFramesMatchButAllAreReadInOrder) {
    RxQueue queue(16);
    queue.busOn();
    push(queue, {dataFrame(0x1A5, 1, canMSG_EXT), dataFrame(0x1A5, 2, canMSG_STD | canMSG_RTR),
                 dataFrame(0x1A5, 3, canMSG_STD)});
    Frame out;
    ASSERT_EQ(queue.takeWait(out, 0), canOK);
    EXPECT_EQ(out.flags, canMSG_EXT);
    ASSERT_EQ(queue.takeWait(out, 0), canOK);
    EXPECT_EQ(out.flags, canMSG_STD | canMSG_RTR);

    push(queue, {dataFrame(0x1A5, 1, canMSG_EXT), dataFrame(0x1A5, 2, canMSG_STD | canMSG_RTR)});
    ASSERT_EQ(queue.takeSpecificSkip(0x1A5, out), canOK);
    EXPECT_EQ(out.data[0], 3) << "the extended and remote frames never match";
    EXPECT_EQ(queue.size(), 2u);
    EXPECT_EQ(queue.takeSpecificSkip(0x1A5, out), canERR_NOMSG);
    EXPECT_EQ(queue.size(), 0u);
}

TEST(RxQueue, FullQueueDropsTheOldestAndCountsThem) {
    RxQueue queue(4);
    queue.busOn();
    std::vector<Frame> frames;
    for (uint8_t i = 0; i < 10; ++i) frames.push_back(dataFrame(0x100, i));
    queue.pushBatch(frames.data(), frames.size());
    EXPECT_EQ(queue.size(), 4u);
    EXPECT_EQ(queue.droppedCount(), 6u);
    Frame out;
    for (uint8_t expected = 6; expected < 10; ++expected) {
        ASSERT_EQ(queue.takeWait(out, 0), canOK);
        EXPECT_EQ(out.data[0], expected);
    }
    queue.busOff();
    queue.busOn();
    EXPECT_EQ(queue.droppedCount(), 0u) << "bus on starts a new count";
}

TEST(RxQueue, FramesOffTheBusAreNotKeptAndReadsDoNotWait) {
    RxQueue queue(4);
    push(queue, {dataFrame(0x100, 1)});
    Frame out;
    const auto start = Clock::now();
    EXPECT_EQ(queue.takeWait(out, 5000), canERR_OFFBUS);
    EXPECT_EQ(queue.waitAny(5000), canERR_OFFBUS);
    EXPECT_EQ(queue.takeSpecificSkip(0x100, out), canERR_OFFBUS);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    queue.busOn();
    EXPECT_EQ(queue.size(), 0u);
}

TEST(RxQueue, WaitsTimeOutWithoutFrames) {
    RxQueue queue(4);
    queue.busOn();
    Frame out;
    auto start = Clock::now();
    EXPECT_EQ(queue.takeWait(out, 150), canERR_NOMSG);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));
    start = Clock::now();
    EXPECT_EQ(queue.waitAny(150), canERR_NOMSG);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));
}

TEST(RxQueue, WaitingReadersWakeForFramesBusOffInterruptionAndClose) {
    RxQueue queue(4);
    queue.busOn();
    Frame out;
    auto reader = std::async(std::launch::async, [&] { return queue.takeWait(out, 10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    push(queue, {dataFrame(0x123, 7)});
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(reader.get(), canOK);
    EXPECT_EQ(out.id, 0x123);

    auto syncReader = std::async(std::launch::async, [&] { return queue.waitAny(10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.busOff();
    ASSERT_EQ(syncReader.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(syncReader.get(), canERR_OFFBUS);

    // An interruption ends a wait with nothing, leaving the channel on the bus.
    queue.busOn();
    auto interrupted = std::async(std::launch::async, [&] { return queue.waitAny(10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.interruptWaits();
    ASSERT_EQ(interrupted.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(interrupted.get(), canERR_NOMSG);
    EXPECT_TRUE(queue.onBus());

    // A quiet wait sleeps through arriving frames, so that they collect; an
    // interruption (a stop, a new identifier) still ends it, frames queued.
    auto quiet = std::async(std::launch::async, [&] { return queue.waitQuietlyForBatch(10'000'000, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    push(queue, {dataFrame(0x123, 7)});
    EXPECT_EQ(quiet.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    queue.interruptWaits();
    ASSERT_EQ(quiet.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(quiet.get(), canOK);
    ASSERT_EQ(queue.tryTake(out), canOK);

    // Waiting on for a batch: one that comes during the quiet part leaves it
    // asleep, the first after it ends it, long before its grace is over.
    auto batch = std::async(std::launch::async, [&] { return queue.waitQuietlyForBatch(200'000, 10'000'000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    push(queue, {dataFrame(0x123, 7)});
    EXPECT_EQ(batch.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    push(queue, {dataFrame(0x124, 7)});
    ASSERT_EQ(batch.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(batch.get(), canOK);
    ASSERT_EQ(queue.tryTake(out), canOK);
    ASSERT_EQ(queue.tryTake(out), canOK);
    EXPECT_EQ(out.id, 0x124);

    auto closedReader = std::async(std::launch::async, [&] { return queue.takeWait(out, 10000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.close();
    ASSERT_EQ(closedReader.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(closedReader.get(), canERR_INVHANDLE);
    queue.busOn();
    EXPECT_FALSE(queue.onBus()) << "a closed queue stays closed";
}

TEST(RxQueue, TakenFrameArrivalTimeIsRecorded) {
    RxQueue queue(4);
    queue.busOn();
    Frame frame = dataFrame(0x100, 1);
    frame.arrivalUs = 123456;
    queue.pushBatch(&frame, 1);
    EXPECT_EQ(queue.lastTakenArrivalUs(), 0);
    Frame out;
    ASSERT_EQ(queue.takeSpecificSkip(0x100, out), canOK);
    EXPECT_EQ(queue.lastTakenArrivalUs(), 123456);
    // A frame stamped earlier than one queued before it (another sender's
    // batch on the virtual bus) arrives no earlier than that one.
    frame.arrivalUs = 100000;
    queue.pushBatch(&frame, 1);
    ASSERT_EQ(queue.takeSpecificSkip(0x100, out), canOK);
    EXPECT_EQ(out.arrivalUs, 123456);
}
