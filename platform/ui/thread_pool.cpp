// The default thread pool: functions run once on a pool thread; callers may
// wait for one to return, or forget its id and let it run on.
#include <QThreadPool>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "platform/userint.h"

namespace {
struct ScheduledFunction {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
};

std::mutex tableMutex;
std::map<int, std::shared_ptr<ScheduledFunction>> scheduled;
int lastId = 0;

QThreadPool& defaultPool() {
    // Never deleted: a function still running when the process ends (one that
    // nobody stopped) must not make the exit wait for it.
    static QThreadPool* pool = [] {
        auto* created = new QThreadPool;
        created->setMaxThreadCount(16);
        return created;
    }();
    return *pool;
}

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
    if (functionId) *functionId = id;
    defaultPool().start([state, fn, data] {
        fn(data);
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->finished.notify_all();
    });
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
