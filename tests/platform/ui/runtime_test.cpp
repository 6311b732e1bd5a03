// SPDX-License-Identifier: GPL-3.0-or-later
// Event loop, thread pool, formatting and status texts.
#include <QApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/KolvarCanView.h"
#include "panel_fixture.h"

namespace {

TEST_F(PanelTest, EventLoopRunsUntilQuitAndCanRunAgain) {
    for (int code : {0, 7}) {
        QTimer::singleShot(0, [code] { QuitUserInterface(code); });
        EXPECT_EQ(RunUserInterface(), code);
    }
}

// The worker's pattern: run until a shared flag drops, then return.
std::atomic<int> poolRunning{0};
std::atomic<int> poolFinished{0};
int poolFunction(void* data) {
    auto* stop = static_cast<std::atomic<bool>*>(data);
    poolRunning.store(1);
    while (!stop->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    poolFinished.fetch_add(1);
    return 0;
}

TEST(ThreadPool, RunsOnAnotherThreadAndCanBeWaitedFor) {
    std::atomic<bool> stop{false};
    int id = 0;
    poolRunning.store(0);
    const int finishedBefore = poolFinished.load();
    ASSERT_EQ(CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, poolFunction, &stop, &id), 0);
    EXPECT_GT(id, 0);
    while (!poolRunning.load()) std::this_thread::yield();
    EXPECT_EQ(poolFinished.load(), finishedBefore) << "the function runs on, the caller goes on";
    stop.store(true);
    EXPECT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, id), 0);
    EXPECT_EQ(poolFinished.load(), finishedBefore + 1);
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, id), 0);
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, id), UIE_BAD_THREAD_POOL);
    EXPECT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, id), UIE_BAD_THREAD_POOL);
}

TEST(ThreadPool, ReleasedFunctionKeepsRunning) {
    std::atomic<bool> stop{false};
    int first = 0, second = 0;
    poolRunning.store(0);
    const int finishedBefore = poolFinished.load();
    ASSERT_EQ(CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, poolFunction, &stop, &first), 0);
    ASSERT_EQ(CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, poolFunction, &stop, &second), 0);
    EXPECT_NE(first, second);
    ASSERT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, first), 0);
    stop.store(true);
    ASSERT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, second), 0);
    while (poolFinished.load() < finishedBefore + 2) std::this_thread::yield();
    EXPECT_EQ(CmtScheduleThreadPoolFunction(5, poolFunction, &stop, &first), UIE_BAD_THREAD_POOL);
}

TEST(Formatting, OnlyTheTextAndIntegerFormIsSupported) {
    char target[32] = "unchanged";
    EXPECT_EQ(Fmt(target, "%s<%s%i", "Ch ", 12), 2);
    EXPECT_STREQ(target, "Ch 12");
    EXPECT_EQ(Fmt(target, "%s<%s%i", "", -3), 2);
    EXPECT_STREQ(target, "-3");
    EXPECT_EQ(Fmt(target, "%s<%i", 5), UIE_BAD_FORMAT);
    EXPECT_STREQ(target, "-3");
}

TEST(Status, EveryCodeHasText) {
    for (int status = UIE_WRONG_THREAD; status <= UIE_NO_ERROR; ++status)
        EXPECT_STRNE(GetUILErrorString(status), "Unknown error") << status;
    EXPECT_STREQ(GetUILErrorString(-500), "Unknown error");
}

}  // namespace
