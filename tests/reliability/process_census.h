// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Counts what a connection could leave behind in this process: threads,
// open file descriptors and channels still open in the CAN layer.

// Entries of /proc/self/task.
int threadCount();
// Threads of Qt's global pool ("Thread (pooled)"): Qt runs host-name
// look-ups of its sockets there; they retire after 30 s idle, and the pool
// never holds more than QThreadPool::globalInstance()->maxThreadCount().
int qtPoolThreadCount();
// Entries of /proc/self/fd.
int openFdCount();
// Handles 0..highestHandle that the CAN layer still knows (handles are never
// reused, so every handle a test opened lies in that range).
int openCanHandles(int highestHandle);
#include <string>
// Thread names and descriptor targets, one per line, for failure messages.
std::string censusListing();
