// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/can/socket_read_hold.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

namespace kolvar::can {

namespace {
// Far more than a refresh of frames at full load (a few kB), and small
// enough that the kernel need not enlarge the receive buffer for it. Should
// more collect, the reading thread is woken early: a wake-up more, no harm.
constexpr int kHeldMark = 32 * 1024;
}  // namespace

void SocketReadHold::setMark(int bytes) {
    // A failure leaves the mark as it was: at worst the reading thread wakes
    // as it did without a hold, or a held batch waits for the next one.
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes);
}

void SocketReadHold::attach(int fd) {
    std::lock_guard lock(mutex_);
    fd_ = fd;
    state_ = State::Free;
}

void SocketReadHold::detach() {
    std::lock_guard lock(mutex_);
    fd_ = -1;
    state_ = State::Free;
}

void SocketReadHold::readDone() {
    std::lock_guard lock(mutex_);
    if (state_ != State::Resumed) return;
    setMark(1);
    state_ = State::Free;
}

bool SocketReadHold::hold() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return false;
    setMark(kHeldMark);
    state_ = State::Held;
    return true;
}

void SocketReadHold::resume() {
    std::lock_guard lock(mutex_);
    if (state_ != State::Held) return;
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) < 0) queued = 0;
    setMark(queued + 1);
    state_ = State::Resumed;
}

void SocketReadHold::release() {
    std::lock_guard lock(mutex_);
    if (state_ == State::Free) return;
    setMark(1);
    state_ = State::Free;
}

}  // namespace kolvar::can
