// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/thread_list.h"

#include <dirent.h>

#include <fstream>

bool forEachThread(const std::function<void(const std::string& tid, const std::string& name)>& visit) {
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return false;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        const std::string tid = entry->d_name;
        std::ifstream comm("/proc/self/task/" + tid + "/comm");
        std::string name;
        std::getline(comm, name);
        visit(tid, name);
    }
    closedir(tasks);
    return true;
}
