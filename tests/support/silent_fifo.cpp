// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/silent_fifo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SilentFifo::SilentFifo(std::string path) : path_(std::move(path)) {
    if (::mkfifo(path_.c_str(), 0600) != 0) return;
    reader_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

SilentFifo::~SilentFifo() {
    if (reader_ >= 0) ::close(reader_);
}
