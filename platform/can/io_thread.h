// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The layer's one I/O thread: a long-lived thread with its own event loop on
// which every bus device is created, used and destroyed. It starts on first
// use and runs until the QCoreApplication is destroyed or the process exits,
// whichever comes first (stopAtProcessExit); unloading the library does not
// stop it, and it is never started a second time in one process.

#include <deque>
#include <functional>
#include <mutex>

class QThread;

namespace kolvar::can {

class IoThread {
public:
    // The running I/O thread, started on first use; null when no
    // QCoreApplication exists. [any-thread]
    static IoThread* instance();

    // Queues fn to run on the I/O thread; never blocks. [any-thread]
    void post(std::function<void()> fn);
    // Runs fn on the I/O thread and waits for it up to timeoutMs. Returns
    // false on time-out (fn may still run later, so it must own what it
    // uses). Runs fn directly when called on the I/O thread. [any-thread]
    bool run(std::function<void()> fn, int timeoutMs);

    bool isCurrent() const;

    // Called when the QCoreApplication is being destroyed, before the thread
    // ends, so that the layer can close its devices on the thread. [main-thread]
    static void setShutdownHook(void (*hook)());
    // Makes sure the thread is stopped when the process exits, ahead of the
    // exit handlers registered so far; call once a device has been created.
    // [any-thread]
    static void stopAtProcessExit();

private:
    class Loop;

    IoThread(int wakeFd);
    ~IoThread();
    static void stopAtExit();
    // [io-thread] Runs every function posted so far, in order.
    void runPosted();

    QThread* thread_ = nullptr;
    // Posted functions cross to the I/O thread through this queue, under a
    // plain mutex, and an eventfd wakes the thread's event loop. Handing them
    // over in Qt's own event queue would work as well, but its locking is
    // invisible to ThreadSanitizer, which then flags every hand-over.
    int wakeFd_ = -1;
    std::mutex postedMutex_;
    std::deque<std::function<void()>> posted_;
};

}  // namespace kolvar::can
