// SPDX-License-Identifier: GPL-3.0-or-later
// The default thread pool: functions run once on a pool thread; callers may
// wait for one to return, or forget its id and let it run on. An idle pool
// thread takes the next function; when none is idle a new thread joins.
// CloseCVIRTE ends the pool: it waits for the functions still running, which
// their schedulers have told to stop, and joins every pool thread.
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/userint.h"

namespace {
struct ScheduledFunction {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
};

class ThreadPool {
public:
    // False when no thread could be started for the task.
    bool start(std::function<void()> task) {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        if (unclaimedIdle_ > 0) {
            --unclaimedIdle_;
            wake_.notify_one();
            return true;
        }
        try {
            threads_.emplace_back([this] { run(); });
        } catch (const std::system_error&) {
            tasks_.pop_back();
            return false;
        }
        return true;
    }

    // Lets every thread finish its function and the queued ones, then joins
    // them all; the pool can start threads again afterwards. Returns how many
    // threads it joined. [main-thread]
    int joinAll() {
        std::vector<std::thread> ending;
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
            ending.swap(threads_);
        }
        wake_.notify_all();
        for (std::thread& thread : ending) thread.join();
        std::lock_guard lock(mutex_);
        closing_ = false;
        unclaimedIdle_ = 0;
        return static_cast<int>(ending.size());
    }

private:
    void run() {
        pthread_setname_np(pthread_self(), "kolvar-pool");
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return !tasks_.empty() || closing_; });
                if (tasks_.empty()) return;  // closing, nothing left to run
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
            std::lock_guard lock(mutex_);
            ++unclaimedIdle_;
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread> threads_;  // every thread started since the last joinAll
    int unclaimedIdle_ = 0;  // idle threads no queued task has been promised to
    bool closing_ = false;   // joinAll is ending the threads
};

ThreadPool& defaultPool() {
    // Never deleted: a process that ends without CloseCVIRTE (a test of one
    // part) leaves its pool threads parked on it, and they must find it
    // intact. CloseCVIRTE is what ends them.
    static ThreadPool* pool = new ThreadPool;
    return *pool;
}

std::mutex tableMutex;
std::map<int, std::shared_ptr<ScheduledFunction>> scheduled;
int lastId = 0;

std::shared_ptr<ScheduledFunction> findScheduled(int functionId) {
    std::lock_guard lock(tableMutex);
    const auto found = scheduled.find(functionId);
    return found == scheduled.end() ? nullptr : found->second;
}
}  // namespace

int CmtScheduleThreadPoolFunction(int pool, ThreadFunctionPtr fn, void* data, int* functionId) {
    if (pool != DEFAULT_THREAD_POOL_HANDLE || !fn) return UIE_BAD_THREAD_POOL;
    auto state = std::make_shared<ScheduledFunction>();
    int id = 0;
    {
        std::lock_guard lock(tableMutex);
        id = ++lastId;
        scheduled[id] = state;
    }
    const bool started = defaultPool().start([state, fn, data] {
        fn(data);
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->finished.notify_all();
    });
    if (!started) {
        std::lock_guard lock(tableMutex);
        scheduled.erase(id);
        return UIE_OUT_OF_MEMORY;
    }
    if (functionId) *functionId = id;
    return 0;
}

int CmtWaitForThreadPoolFunctionCompletion(int pool, int functionId) {
    if (pool != DEFAULT_THREAD_POOL_HANDLE) return UIE_BAD_THREAD_POOL;
    const std::shared_ptr<ScheduledFunction> state = findScheduled(functionId);
    if (!state) return UIE_BAD_THREAD_POOL;
    std::unique_lock lock(state->mutex);
    state->finished.wait(lock, [&] { return state->done; });
    return 0;
}

int CmtReleaseThreadPoolFunctionID(int pool, int functionId) {
    if (pool != DEFAULT_THREAD_POOL_HANDLE) return UIE_BAD_THREAD_POOL;
    std::lock_guard lock(tableMutex);
    return scheduled.erase(functionId) == 1 ? 0 : UIE_BAD_THREAD_POOL;
}

int CloseCVIRTE() { return defaultPool().joinAll(); }
