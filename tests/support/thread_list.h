// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The threads of this process, from /proc/self/task.

#include <functional>
#include <string>

// Calls visit(thread id, thread name) for every thread of the process, the
// main thread included; false when /proc/self/task cannot be read.
bool forEachThread(const std::function<void(const std::string& tid, const std::string& name)>& visit);
