// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/reliability/process_census.h"

#include <dirent.h>

#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/canlib.h"
#include "tests/support/thread_list.h"

namespace {
int entriesOf(const char* directory) {
    DIR* listing = opendir(directory);
    if (!listing) return -1;
    int count = 0;
    while (const dirent* entry = readdir(listing))
        if (entry->d_name[0] != '.') ++count;
    closedir(listing);
    return count;
}

}  // namespace

int threadCount() { return entriesOf("/proc/self/task"); }

int qtPoolThreadCount() {
    int count = 0;
    const bool listed = forEachThread([&](const std::string&, const std::string& name) {
        if (name == "Thread (pooled)") ++count;
    });
    return listed ? count : -1;
}

// The listing's own descriptor is counted too; it is there every time.
int openFdCount() { return entriesOf("/proc/self/fd"); }

int openCanHandles(int highestHandle) {
    int open = 0;
    for (int handle = 0; handle <= highestHandle; ++handle) {
        unsigned level = 0;
        if (canGetQueueLevel(handle, &level) != canERR_INVHANDLE) ++open;
    }
    return open;
}

std::string censusListing() {
    std::string text;
    forEachThread([&](const std::string& tid, const std::string& name) {
        text += "thread " + tid + " " + name + "\n";
    });
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(fds)) {
            if (entry->d_name[0] == '.') continue;
            char target[256] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) < 0) continue;
            text += "fd " + std::string(entry->d_name) + " " + target + "\n";
        }
        closedir(fds);
    }
    return text;
}
