// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/io_thread.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace kolvar::can {

namespace {

std::mutex g_instanceMutex;
IoThread* g_instance = nullptr;
std::atomic<void (*)()> g_shutdownHook{nullptr};

struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
};

}  // namespace

// The thread's event loop, with the notifier of posted functions created on
// the thread itself (a socket notifier belongs to the thread that made it).
class IoThread::Loop : public QThread {
public:
    explicit Loop(IoThread* owner) : owner_(owner) {}

protected:
    void run() override {
        QSocketNotifier posted(owner_->wakeFd_, QSocketNotifier::Read);
        QObject::connect(&posted, &QSocketNotifier::activated, &posted,
                         [owner = owner_] { owner->runPosted(); });
        exec();
        ranOut_.store(true, std::memory_order_release);
    }

public:
    // True once run() has returned. Read after wait(): QThread's own join is
    // invisible to ThreadSanitizer, this atomic makes the hand-back explicit
    // before the objects the thread used are deleted.
    bool ranOut() const { return ranOut_.load(std::memory_order_acquire); }

private:
    IoThread* owner_;
    std::atomic<bool> ranOut_{false};
};

IoThread::IoThread(int wakeFd) : wakeFd_(wakeFd) {
    thread_ = new Loop(this);
    thread_->setObjectName(QStringLiteral("kolvar-can-io"));
    thread_->start();
}

IoThread::~IoThread() { ::close(wakeFd_); }

void IoThread::runPosted() {
    // Resets the counter (a spurious wake-up finds it at zero and the read
    // fails with EAGAIN); the queue, not the count, says what to run.
    std::uint64_t wakeUps = 0;
    [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &wakeUps, sizeof wakeUps);
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(postedMutex_);
        batch.swap(posted_);
    }
    for (auto& fn : batch) fn();
}

IoThread* IoThread::instance() {
    std::lock_guard lock(g_instanceMutex);
    if (g_instance) return g_instance;
    if (!QCoreApplication::instance()) return nullptr;
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) return nullptr;
    g_instance = new IoThread(wakeFd);
    qAddPostRoutine(&IoThread::stopAtExit);
    return g_instance;
}

// Runs when the QCoreApplication is destroyed: the devices must be gone by
// then (the layer's own post routine closes them first), then the thread ends.
void IoThread::setShutdownHook(void (*hook)()) { g_shutdownHook.store(hook); }

void IoThread::stopAtExit() {
    if (auto hook = g_shutdownHook.load()) hook();
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) return;
    g_instance->thread_->quit();
    g_instance->thread_->wait();
    // wait() without a limit returns only once run() has ended; the acquire
    // read makes that hand-back visible to ThreadSanitizer before the
    // objects the thread used are freed.
    [[maybe_unused]] const bool ended = static_cast<Loop*>(g_instance->thread_)->ranOut();
    delete g_instance->thread_;
    delete g_instance;
    g_instance = nullptr;
}

// A program that never destroys its application object (the viewer's
// run-time keeps it for the whole process) runs no post routines, so the
// thread would still run the virtual bus's sockets while exit() destroys
// the statics registered before it: a close from the wrong thread, then a
// thread spinning on a dead socket while the process ends. Exit handlers
// run last-registered first, so registering once a channel is open (the
// statics its sockets use exist by then) stops the thread ahead of them.
// Does nothing when the post routine ran first.
void IoThread::stopAtProcessExit() {
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(&IoThread::stopAtExit); });
}

bool IoThread::isCurrent() const { return QThread::currentThread() == thread_; }

void IoThread::post(std::function<void()> fn) {
    {
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(fn));
    }
    // The eventfd counter keeps wake-ups made before the loop runs; a write
    // fails only when the counter is full, and then a wake-up is pending.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

bool IoThread::run(std::function<void()> fn, int timeoutMs) {
    if (isCurrent()) {
        fn();
        return true;
    }
    auto completion = std::make_shared<Completion>();
    post([completion, fn = std::move(fn)] {
        fn();
        {
            std::lock_guard lock(completion->mutex);
            completion->finished = true;
        }
        completion->done.notify_all();
    });
    std::unique_lock lock(completion->mutex);
    return completion->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return completion->finished; });
}

}  // namespace kolvar::can
