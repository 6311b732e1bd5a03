// SPDX-License-Identifier: GPL-3.0-or-later
// Process entry: the system's own main lives in app::main.
#include "app/KolvarCanView.h"
#include "app/process_environment.h"

int main(int argc, char* argv[]) {
    app::prepareProcessEnvironment();
    return app::main(argc, argv);
}
