// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeps the thread that reads a TCP socket asleep while the frames it would
// read are not wanted yet. A reader that takes frames once a screen refresh
// holds the socket for the quiet part of its wait: the socket's receive
// low-water mark is raised, so poll() does not report the batches that
// collect meanwhile, and the reading thread is not woken once a send window
// for frames nobody looks at. At the end of the quiet part the mark is set
// just above what is queued: the next batch - the freshest frames - wakes
// the reading thread, which takes everything queued at once and lowers the
// mark before handing the frames on. A hold that ends without that read (the
// stream stopped) lowers the mark itself, so what is queued is read at once
// and no frame stays in the socket unseen.
//
// A socket at its end or in error is reported readable whatever the mark.
// Without a socket (the bus hosted in this process) every call does nothing.

#include <mutex>

namespace kolvar::can {

class SocketReadHold {
public:
    // [io-thread] The socket the channel reads from now, and its going.
    void attach(int fd);
    void detach();
    // [io-thread] A read took everything queued; called before its frames
    // are handed on, so that the reader's next hold comes after it.
    void readDone();

    // [reader] Batches collect unreported from now; false when there is no
    // socket to hold, and then nothing is to be resumed or released.
    bool hold();
    // [reader] The next batch wakes the reading thread, which reads it with
    // everything held back.
    void resume();
    // [reader] The hold is over: whatever is queued is reported now.
    void release();

private:
    enum class State { Free, Held, Resumed };
    void setMark(int bytes);  // mutex_ held, fd_ open

    std::mutex mutex_;  // also keeps fd_ from being closed and reused under a call
    int fd_ = -1;
    State state_ = State::Free;  // Free whenever fd_ is closed: only hold() leaves Free
};

}  // namespace kolvar::can
