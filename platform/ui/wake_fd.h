// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main thread's wake-up from other threads: an eventfd they write a
// count to, watched by a socket notifier on the main thread. Writing it
// allocates nothing and never waits, and ThreadSanitizer sees the hand-over.

#include <functional>

class QObject;

// [main-thread] Creates the eventfd and its notifier (a child of `owner`,
// living as long as it; the descriptor stays open). `onWake` runs on the
// main thread when the count is non-zero and must read it back to zero.
// Returns the descriptor, or -1 with "cannot create <what>: <reason>" on
// standard error.
int watchedWakeFd(QObject* owner, const char* what, std::function<void()> onWake);
