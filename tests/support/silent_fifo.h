// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A FIFO whose reader holds its end open and never reads: a writer to it
// waits once the pipe holds what it can (64 KB).

#include <string>

class SilentFifo {
public:
    // Makes the FIFO at `path` and opens its reading end.
    explicit SilentFifo(std::string path);
    ~SilentFifo();
    SilentFifo(const SilentFifo&) = delete;
    SilentFifo& operator=(const SilentFifo&) = delete;

    // False when the FIFO could not be made or opened.
    bool ready() const { return reader_ >= 0; }
    // The reading end, to see how much the pipe holds.
    int reader() const { return reader_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int reader_ = -1;
};
