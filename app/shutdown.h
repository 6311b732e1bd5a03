// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The order in which the viewer ends, written as a list: each step stops
// what the later ones would otherwise find running, so that every thread the
// viewer started has been told to stop and is joined before main returns.

#include <span>

namespace app {

struct ShutdownStep {
    const char* what;  // e.g. "stop the connection"
    void (*run)();
};

// The viewer's steps, in the order they run. [main-thread]
std::span<const ShutdownStep> viewerShutdownSteps();
// Runs `steps` in order; each is harmless when what it stops never started
// (start-up may have failed part-way). [main-thread]
void runShutdown(std::span<const ShutdownStep> steps);

}  // namespace app
