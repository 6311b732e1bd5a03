// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/process_environment.h"

#include <cstdlib>

namespace app {
void prepareProcessEnvironment() {
    if (!std::getenv("TZ")) setenv("TZ", ":/etc/localtime", 0);
}
}  // namespace app
