// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One SocketCAN channel, read and written straight on its raw CAN socket by
// the calling thread. A waiting read sleeps in poll() on the socket itself
// and takes everything the kernel has queued with one recvmmsg(), so a batch
// of frames costs one wake-up and no hop through another thread.
//
// The socket's frames go into the channel's receive queue (RxQueue), which
// keeps the queue's semantics (bus on/off, capacity, filtered reads). Error
// frames are counted there; frames the kernel dropped because the socket
// buffer was full (SO_RXQ_OVFL) are added to its dropped count.
//
// Interface state: a downed interface reports ENETDOWN and stays bound, so
// frames flow again when it comes back up. A deleted interface (ENODEV)
// unbinds the socket; it is bound again by name, to the new index, as soon as
// an interface of that name exists again.
//
// A reader that wants frames in batches waits quietly (waitQuietly): it
// sleeps without the socket, so frames collect there, and then takes them
// all at once; a wake-up (bus off, close, interruption) still ends the wait
// at once. Each frame's arrival time is the kernel's receive timestamp, on
// the steady clock.
//
// Every method is [any-thread].

#include "platform/can/can_frame.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace kolvar::can {

class RxQueue;

class SocketCanChannel {
public:
    SocketCanChannel(std::string interfaceName, RxQueue& rx);
    ~SocketCanChannel();
    SocketCanChannel(const SocketCanChannel&) = delete;
    SocketCanChannel& operator=(const SocketCanChannel&) = delete;

    // Opens the socket and binds it to the interface; canOK, canERR_NOTFOUND
    // when no interface of that name exists, canERR_DEVICE otherwise.
    int open();

    // Moves every frame the socket holds into the receive queue, which keeps
    // them only while on the bus. Never waits.
    void pull();
    // The same, except right after a quiet wait: the wait ended with a look
    // at the socket, and a reader that has since taken what it queued would
    // find nothing new there but the odd frame of the last microseconds,
    // which the next wait takes. So the first call after a quiet wait, and
    // before any other look, skips the socket.
    void pullUnlessJustPulled();
    // The receive queue's takeWait and waitAny, waiting on the socket: they
    // return canERR_NOMSG early when the queue's waits are interrupted.
    int takeWait(Frame& out, unsigned long timeoutMs);
    int waitAny(unsigned long timeoutMs);
    // Sleeps `micros` without looking at the socket, ending early only for
    // a wake-up, then moves what the socket holds into the queue: canOK when
    // a frame is queued, canERR_NOMSG when none is, or why the channel cannot
    // deliver.
    int waitQuietly(int64_t micros);
    // Wakes every thread waiting in takeWait or waitAny so that it looks at
    // the queue's state again (bus off, close, interruption).
    void wakeWaiters();

    // Sends one frame without waiting: canOK, or canERR_TXFULL when the
    // interface's queue is full. A frame the socket refuses for any other
    // reason (the interface down or gone, ...) is lost, as on a bus nobody
    // listens to, and counted in sendErrors(); once an interface of the same
    // name exists again, the socket is bound to it.
    int write(const Frame& frame);

    // Frames refused by the socket other than for a full queue, and reads
    // that brought something other than one whole CAN frame, since open().
    uint64_t sendErrors() const { return sendErrors_.load(std::memory_order_relaxed); }
    uint64_t shortReads() const { return shortReads_.load(std::memory_order_relaxed); }

    // Whether the interface is bound and was not reported down since.
    bool linkUp() const { return linkUp_.load(std::memory_order_relaxed); }

private:
    class Waiter;
    template <typename Ready>
    int waitUntil(unsigned long timeoutMs, Ready ready);
    int bind();                   // binds by name; 0 or an errno
    int64_t toSteadyMicros(const timespec& stamp);  // [pull] kernel stamp to steadyMicros
    void onSocketError(int error);  // [pull] ENETDOWN, ENODEV, ...

    const std::string interface_;
    RxQueue& rx_;
    int fd_ = -1;
    std::atomic<bool> bound_{false};
    std::atomic<bool> linkUp_{false};
    std::atomic<bool> quietWaitPulled_{false};  // the last look was a quiet wait's

    std::mutex pullMutex_;     // one recvmmsg or rebind at a time, frames stay in order
    uint32_t kernelDrops_ = 0;  // [pull] the socket's SO_RXQ_OVFL count so far
    std::vector<Frame> batch_;  // [pull]
    int64_t offsetTakenAtUs_ = 0;  // [pull] wall clock when wallToSteadyUs_ was taken
    int64_t wallToSteadyUs_ = 0;   // [pull] steady clock minus wall clock
    int64_t lastStampUs_ = 0;      // [pull] the newest frame's receive stamp, wall clock
    std::atomic<uint64_t> sendErrors_{0};
    std::atomic<uint64_t> shortReads_{0};

    std::mutex waitersMutex_;
    std::vector<int> waiters_;  // wake-up eventfds of the threads waiting now
};

}  // namespace kolvar::can
