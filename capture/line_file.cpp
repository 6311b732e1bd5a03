// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/line_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace kolvar::capture {

bool LineFile::open(const std::string& path, int cancelFd) {
    close();
    error_.clear();
    committed_ = 0;
    cancelFd_ = cancelFd;
    // Non-blocking, so that neither the open nor a write ever waits for a
    // FIFO's reader without a way out; regular files ignore the flag.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd_ < 0) {
        if (errno == ENXIO) fail("no program reads this FIFO");
        else fail(errno);
        return false;
    }
    return true;
}

bool LineFile::append(std::string_view lines) {
    if (fd_ < 0 || failed()) return false;
    if (cancelled()) {
        fail("cancelled");
        return false;
    }
    size_t written = 0;
    while (written < lines.size()) {
        const ssize_t n = ::write(fd_, lines.data() + written, lines.size() - written);
        const int reason = n < 0 ? errno : ENOSPC;
        if (n < 0 && reason == EINTR) continue;
        if (n < 0 && reason == EAGAIN && waitWritable()) continue;
        if (n <= 0) {
            // Keep the whole lines of this block that reached the file and
            // cut off the broken one. Cutting back fails only on files that
            // cannot hold part of a line anyway (devices, pipes).
            const size_t whole = written == 0 ? 0 : lines.rfind('\n', written - 1) + 1;
            if (::ftruncate(fd_, committed_ + static_cast<long long>(whole)) == 0)
                committed_ += static_cast<long long>(whole);
            if (reason == EAGAIN) fail("cancelled while its reader took nothing");
            else fail(reason);
            return false;
        }
        written += static_cast<size_t>(n);
    }
    committed_ += static_cast<long long>(lines.size());
    return true;
}

bool LineFile::close() {
    if (fd_ < 0) return !failed();
    // A file system may report a deferred write failure only here.
    if (::close(fd_) != 0 && !failed()) fail(errno);
    fd_ = -1;
    return !failed();
}

bool LineFile::cancelled() const {
    if (cancelFd_ < 0) return false;
    pollfd cancel{cancelFd_, POLLIN, 0};
    return ::poll(&cancel, 1, 0) > 0;
}

bool LineFile::waitWritable() {
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {cancelFd_, POLLIN, 0}};
    const nfds_t count = cancelFd_ < 0 ? 1 : 2;
    for (;;) {
        const int ready = ::poll(fds, count, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (count == 2 && fds[1].revents) return false;
        // Writable, or an error the next write reports (EPIPE).
        return true;
    }
}

void LineFile::fail(int errorNumber) {
    if (error_.empty()) error_ = std::strerror(errorNumber);
}

void LineFile::fail(const char* reason) {
    if (error_.empty()) error_ = reason;
}

}  // namespace kolvar::capture
