// SPDX-License-Identifier: GPL-3.0-or-later
#include "can/line_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

bool LineFile::open(const std::string& path) {
    close();
    error_.clear();
    committed_ = 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        fail(errno);
        return false;
    }
    return true;
}

bool LineFile::append(std::string_view lines) {
    if (fd_ < 0 || failed()) return false;
    size_t written = 0;
    while (written < lines.size()) {
        const ssize_t n = ::write(fd_, lines.data() + written, lines.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int reason = n < 0 ? errno : ENOSPC;
            // Keep the whole lines of this block that reached the file and
            // cut off the broken one. Cutting back fails only on files that
            // cannot hold part of a line anyway (devices, pipes).
            const size_t whole = written == 0 ? 0 : lines.rfind('\n', written - 1) + 1;
            if (::ftruncate(fd_, committed_ + static_cast<long long>(whole)) == 0)
                committed_ += static_cast<long long>(whole);
            fail(reason);
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

void LineFile::fail(int errorNumber) {
    if (error_.empty()) error_ = std::strerror(errorNumber);
}
