// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/socketcan_channel.h"

#include "platform/can/rx_queue.h"
#include "platform/canlib.h"

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kolvar::can {

namespace {

constexpr unsigned kBatch = 64;            // frames taken per recvmmsg()
constexpr int kRebindRetryMs = 150;        // how often a deleted interface is looked for
constexpr int kReceiveBufferBytes = 8 << 20;  // asked for; the kernel caps it at rmem_max
constexpr unsigned long kLongestWaitMs = 24UL * 3600 * 1000;  // keeps deadlines in range
// How often the offset between the kernel's receive timestamps (wall clock)
// and the steady clock is taken again, in microseconds of wall clock.
constexpr int64_t kClockOffsetRefreshUs = 1'000'000;

int64_t clockMicros(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return int64_t(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

constexpr long long kNsPerSecond = 1'000'000'000;
constexpr long long kNsPerMs = 1'000'000;

timespec toTimespec(long long ns) {
    return {static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond)};
}
long long toNs(const timespec& t) { return static_cast<long long>(t.tv_sec) * kNsPerSecond + t.tv_nsec; }

// One eventfd per thread that waits on a SocketCAN channel: a wake-up writes
// to it, and the thread's poll() sees it next to the socket.
struct ThreadWakeFd {
    int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~ThreadWakeFd() {
        if (fd >= 0) ::close(fd);
    }
};

int threadWakeFd() {
    thread_local ThreadWakeFd wake;
    return wake.fd;
}

bool toFrame(const can_frame& in, int64_t arrivalUs, Frame& out) {
    if (in.can_id & CAN_ERR_FLAG) return false;
    const bool extended = (in.can_id & CAN_EFF_FLAG) != 0;
    out.id = static_cast<int32_t>(in.can_id & (extended ? CAN_EFF_MASK : CAN_SFF_MASK));
    out.flags = extended ? canMSG_EXT : canMSG_STD;
    out.dlc = std::min<uint8_t>(in.len, 8);
    out.arrivalUs = arrivalUs;
    if (in.can_id & CAN_RTR_FLAG) {
        out.flags |= canMSG_RTR;
        return true;
    }
    std::memcpy(out.data, in.data, out.dlc);
    return true;
}

}  // namespace

// A thread's registration as a waiter for the length of one wait, so that a
// wake-up sent between its look at the queue and its poll() is not lost.
class SocketCanChannel::Waiter {
public:
    explicit Waiter(SocketCanChannel& channel) : channel_(channel), wakeFd_(threadWakeFd()) {
        std::lock_guard lock(channel_.waitersMutex_);
        channel_.waiters_.push_back(wakeFd_);
    }
    ~Waiter() {
        std::lock_guard lock(channel_.waitersMutex_);
        auto& list = channel_.waiters_;
        list.erase(std::find(list.begin(), list.end(), wakeFd_));
    }

    // Sleeps until a wake-up arrives, the socket has something to read or
    // report (unless withSocket is false), or the time left in `left` passes.
    // Returns how long it slept, in nanoseconds: the ppoll system call (not
    // glibc's wrapper, which hides it) writes back the time it did not sleep,
    // so a wait keeps its deadline without reading the clock. A wake-up left
    // over from an earlier wait only costs one more look at the queue.
    long long sleep(long long leftNs, bool withSocket) {
        if (wakeFd_ < 0) leftNs = std::min(leftNs, kRebindRetryMs * kNsPerMs);  // no eventfd: look often
        timespec timeout = toTimespec(leftNs);
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {channel_.fd_, POLLIN, 0}};
        const long ready = ::syscall(SYS_ppoll, fds, withSocket ? 2 : 1, &timeout, nullptr, 0);
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
        }
        if (ready < 0 && errno != EINTR) return leftNs;  // cannot wait: count the time as spent
        return leftNs - std::min(toNs(timeout), leftNs);
    }

private:
    SocketCanChannel& channel_;
    const int wakeFd_;
};

SocketCanChannel::SocketCanChannel(std::string interfaceName, RxQueue& rx)
    : interface_(std::move(interfaceName)), rx_(rx) {
    batch_.reserve(kBatch);
}

SocketCanChannel::~SocketCanChannel() {
    if (fd_ >= 0) ::close(fd_);
}

int SocketCanChannel::open() {
    if (::if_nametoindex(interface_.c_str()) == 0) return canERR_NOTFOUND;
    fd_ = ::socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW);
    if (fd_ < 0) return canERR_DEVICE;
    const can_err_mask_t errorMask = CAN_ERR_MASK;  // every error class, counted by the queue
    const int on = 1;
    const int bufferBytes = kReceiveBufferBytes;
    // The kernel stamps each frame with its arrival (SO_TIMESTAMPNS), so no
    // clock is read per frame or per batch.
    if (::setsockopt(fd_, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &errorMask, sizeof errorMask) != 0 ||
        ::setsockopt(fd_, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) != 0 ||
        ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0)
        return canERR_DEVICE;
    // A larger buffer rides out a reader that is late for a moment; failing
    // to get it leaves the system's default, which still works.
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    const int error = bind();
    if (error == ENODEV) return canERR_NOTFOUND;
    return error == 0 ? canOK : canERR_DEVICE;
}

int SocketCanChannel::bind() {
    const unsigned index = ::if_nametoindex(interface_.c_str());
    if (index == 0) return ENODEV;
    // Every frame passes. Set anew each time: when its interface is deleted
    // the kernel drops the socket's filters along with the binding.
    const can_filter all = {0, 0};
    if (::setsockopt(fd_, SOL_CAN_RAW, CAN_RAW_FILTER, &all, sizeof all) != 0) return errno;
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = static_cast<int>(index);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return errno;
    bound_.store(true, std::memory_order_relaxed);
    linkUp_.store(true, std::memory_order_relaxed);
    return 0;
}

void SocketCanChannel::onSocketError(int error) {
    if (error == ENETDOWN) {
        linkUp_.store(false, std::memory_order_relaxed);  // still bound: frames flow again once up
    } else if (error == ENODEV) {
        // The kernel has unbound the socket from the deleted interface.
        bound_.store(false, std::memory_order_relaxed);
        linkUp_.store(false, std::memory_order_relaxed);
    }
}

int64_t SocketCanChannel::toSteadyMicros(const timespec& stamp) {
    const int64_t wallUs = int64_t(stamp.tv_sec) * 1'000'000 + stamp.tv_nsec / 1000;
    // Taken again once a second of stamps has passed, or when the wall clock
    // was set back (a stamp older than the one before it), so that a step of
    // the wall clock is followed within a second. A frame waits in the socket
    // until the worker's next pass, so its stamp is often older than the
    // moment the offset was taken: that alone is no step, and reading the
    // clock again for it would cost two system calls a frame.
    const int64_t sinceTaken = wallUs - offsetTakenAtUs_;
    if (offsetTakenAtUs_ == 0 || wallUs < lastStampUs_ || sinceTaken > kClockOffsetRefreshUs ||
        sinceTaken < -kClockOffsetRefreshUs) {
        const int64_t steady = steadyMicros();
        offsetTakenAtUs_ = clockMicros(CLOCK_REALTIME);
        wallToSteadyUs_ = steady - offsetTakenAtUs_;
    }
    lastStampUs_ = wallUs;
    return wallUs + wallToSteadyUs_;
}

void SocketCanChannel::pullUnlessJustPulled() {
    if (!quietWaitPulled_.exchange(false, std::memory_order_relaxed)) pull();
}

void SocketCanChannel::pull() {
    quietWaitPulled_.store(false, std::memory_order_relaxed);
    std::lock_guard lock(pullMutex_);
    if (fd_ < 0) return;
    if (!bound_.load(std::memory_order_relaxed) && bind() != 0) return;

    constexpr size_t kControlBytes = CMSG_SPACE(sizeof(uint32_t)) + CMSG_SPACE(sizeof(timespec));
    can_frame frames[kBatch];
    iovec vectors[kBatch];
    mmsghdr messages[kBatch];
    alignas(cmsghdr) char controls[kBatch][kControlBytes];
    for (;;) {
        for (unsigned i = 0; i < kBatch; ++i) {
            vectors[i] = {&frames[i], sizeof frames[i]};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_control = controls[i];
            messages[i].msg_hdr.msg_controllen = sizeof controls[i];
        }
        const int received = ::recvmmsg(fd_, messages, kBatch, MSG_DONTWAIT, nullptr);
        if (received < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) onSocketError(errno);
            return;
        }
        uint32_t kernelDrops = kernelDrops_;
        int64_t unstampedUs = 0;  // a frame without a stamp takes the time of reading, read once
        batch_.clear();
        Frame frame;
        for (int i = 0; i < received; ++i) {
            msghdr& header = messages[i].msg_hdr;
            int64_t arrivalUs = 0;
            for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
                if (c->cmsg_level != SOL_SOCKET) continue;
                if (c->cmsg_type == SO_RXQ_OVFL) {
                    std::memcpy(&kernelDrops, CMSG_DATA(c), sizeof kernelDrops);
                } else if (c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec stamp{};
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                    arrivalUs = toSteadyMicros(stamp);
                }
            }
            if (messages[i].msg_len != CAN_MTU) {
                shortReads_.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            if (arrivalUs == 0) arrivalUs = unstampedUs != 0 ? unstampedUs : (unstampedUs = steadyMicros());
            if (toFrame(frames[i], arrivalUs, frame)) batch_.push_back(frame);
            else rx_.countErrorFrame(frames[i].can_id & CAN_ERR_MASK, frames[i].data[1]);
        }
        linkUp_.store(true, std::memory_order_relaxed);  // frames arrive: the interface is up
        rx_.pushBatch(batch_.data(), batch_.size());
        // The option reports the socket's running total; what is new since
        // the last frame was lost ahead of the queue.
        if (kernelDrops != kernelDrops_) rx_.addDropped(kernelDrops - kernelDrops_);
        kernelDrops_ = kernelDrops;
        if (static_cast<unsigned>(received) < kBatch) return;
    }
}

template <typename Ready>
int SocketCanChannel::waitUntil(unsigned long timeoutMs, Ready ready) {
    Waiter waiter(*this);
    const uint64_t interruptions = rx_.interruptions();
    // What the queue holds comes first: no system call at all then.
    if (int status = ready(); status != canERR_NOMSG) return status;
    if (timeoutMs == 0) {
        pull();
        return ready();
    }
    // The socket is read once poll() says it has something: one wake-up and
    // one recvmmsg() per batch. The clock is never read: ppoll() says how
    // long it slept.
    long long leftNs = static_cast<long long>(std::min(timeoutMs, kLongestWaitMs)) * kNsPerMs;
    while (leftNs > 0) {
        if (rx_.interruptions() != interruptions) return canERR_NOMSG;
        long long sliceNs = leftNs;
        if (!bound_.load(std::memory_order_relaxed)) sliceNs = std::min(sliceNs, kRebindRetryMs * kNsPerMs);
        leftNs -= waiter.sleep(sliceNs, true);
        pull();
        if (int status = ready(); status != canERR_NOMSG) return status;
    }
    return canERR_NOMSG;
}

int SocketCanChannel::takeWait(Frame& out, unsigned long timeoutMs) {
    return waitUntil(timeoutMs, [&] { return rx_.tryTake(out); });
}

int SocketCanChannel::waitAny(unsigned long timeoutMs) {
    return waitUntil(timeoutMs, [&] { return rx_.readyStatus(); });
}

int SocketCanChannel::waitQuietly(int64_t micros) {
    Waiter waiter(*this);
    const uint64_t interruptions = rx_.interruptions();
    // A wake-up left over from an earlier wait ends a sleep early: sleep on
    // until the time is up or the wake-up was meant for this wait.
    long long leftNs = micros * 1000;
    while (leftNs > 0 && rx_.interruptions() == interruptions && rx_.onBus())
        leftNs -= waiter.sleep(leftNs, false);
    pull();
    quietWaitPulled_.store(true, std::memory_order_relaxed);
    return rx_.readyStatus();
}

void SocketCanChannel::wakeWaiters() {
    const uint64_t one = 1;
    std::lock_guard lock(waitersMutex_);
    for (int fd : waiters_) {
        if (fd < 0) continue;
        [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
    }
}

int SocketCanChannel::write(const Frame& frame) {
    can_frame out{};
    out.can_id = static_cast<canid_t>(frame.id);
    if (frame.flags & canMSG_EXT) out.can_id |= CAN_EFF_FLAG;
    if (frame.flags & canMSG_RTR) out.can_id |= CAN_RTR_FLAG;
    out.len = frame.dlc;
    if (!(frame.flags & canMSG_RTR)) std::memcpy(out.data, frame.data, frame.dlc);
    if (::send(fd_, &out, sizeof out, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof out)) return canOK;
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) return canERR_TXFULL;
    if (error == ENXIO || error == ENODEV) {
        // The interface was deleted, which unbinds the socket: bind it to an
        // interface of the same name created since, as a read would, so that
        // a sender that never reads goes on sending once it is back.
        std::lock_guard lock(pullMutex_);
        onSocketError(ENODEV);
        if (bind() == 0 && ::send(fd_, &out, sizeof out, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof out))
            return canOK;
    }
    // Interface down or gone, or another refusal: the frame is lost, as on a
    // bus nobody listens to, and counted so the loss can be shown.
    sendErrors_.fetch_add(1, std::memory_order_relaxed);
    return canOK;
}

}  // namespace kolvar::can
